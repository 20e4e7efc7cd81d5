#include "platform/sim/reference.h"

#include <cstring>

#include "platform/sim/tables.h"

namespace sim {

namespace {

constexpr uint64_t mchbar = 0xFED10000;
constexpr uint64_t ecam = 0xE0000000;
constexpr uint64_t hpet_base = 0xFED00000;
constexpr uint64_t usb_rmrr_base = 0x79E00000, usb_rmrr_limit = 0x79E1FFFF;
constexpr uint64_t gfx_rmrr_base = 0x8B800000, gfx_rmrr_limit = 0x8FFFFFFF;
constexpr uint64_t cap_39bit = 0x01C0000C40660462;  // MGAW 39, SAGAW 39/48
constexpr uint64_t ecap_default = 0x0000000000F050DA;
constexpr uint64_t policy_locked = 0x80000000;

enum class pch_kind { lpc, p2sb, p2sb_d13 };

struct engine_spec {
  uint32_t mch_offset;
  uint8_t type;       // 0 graphics, 1 default, 2 B0:D5:F0, 3 B0:D7:Fn
  uint8_t dev, fn;    // the function the engine serves (not used for the default engine)
  uint64_t base;
  uint64_t ecap;
  const char* what;
};

struct family_spec {
  const char* name;
  const char* title;
  uint32_t cpuid_eax;
  const char* brand;
  uint16_t host_did, gfx_did, lpc_did, p2sb_did, xhci_did;
  pch_kind pch;
  uint8_t ioapic_bus, ioapic_dev;
  uint8_t hpet_bus, hpet_dev;
  uint8_t xhci_dev;
  bool ehci;          // an EHCI controller at B0:D29:F0 besides the xHCI one
  bool gfx_ext_caps;  // PASID and ATS on the graphics function
  bool ipu;           // a further engine for B0:D5:F0
  int tbt_ports;      // further engines for B0:D7:Fn
  bool andd;          // an I2C controller reported as an ACPI namespace device
  std::vector<engine_spec> engines;
};

// Graphics engines report PASID (bit 28 and/or 40) and page requests (29)
// as their family expects.
constexpr uint64_t ecap_gfx_pasid_noprs = 0x0000007E1FF0505E;  // bit 28, not 29
constexpr uint64_t ecap_gfx_pasid_prs = 0x0000007E3FF0505E;    // bits 28 and 29
constexpr uint64_t ecap_gfx_gen11 = 0x0000019E2FF0505E;        // bit 40, bit 29
constexpr uint64_t ecap_other = 0x0000019E2FF0505E;

const std::vector<family_spec>& families() {
  static const std::vector<family_spec> f = {
      {"qen", "qen reference platform: Broadwell client, Wildcat Point PCH (LPC, RCBA)", 0x306D4,
       "Intel(R) Core(TM) i7-5600U CPU @ 2.60GHz", 0x1604, 0x1616, 0x9CC3, 0, 0x9CB1, pch_kind::lpc, 0xF0, 0x1F, 0x00,
       0x0F, 0x14, true, true, false, 0, false,
       {{0x5400, 0, 2, 0, 0xFED90000, ecap_gfx_pasid_noprs, "graphics engine"},
        {0x5410, 1, 0, 0, 0xFED91000, ecap_default, "default engine"}}},
      {"rav", "rav reference platform: Skylake client, Sunrise Point PCH (P2SB restored)", 0x506E3,
       "Intel(R) Core(TM) i7-6700 CPU @ 3.40GHz", 0x191F, 0x1912, 0xA145, 0xA120, 0xA12F, pch_kind::p2sb, 0xF0, 0x1F,
       0x00, 0x1F, 0x14, false, true, false, 0, false,
       {{0x5400, 0, 2, 0, 0xFED90000, ecap_gfx_pasid_prs, "graphics engine"},
        {0x5410, 1, 0, 0, 0xFED91000, ecap_default, "default engine"}}},
      {"mof", "mof reference platform: Coffee Lake client, Cannon Point PCH (P2SB hidden)", 0x906EA,
       "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz", 0x3EC2, 0x3E92, 0xA305, 0xA320, 0xA36D, pch_kind::p2sb, 0xF0, 0x1F,
       0x00, 0x1F, 0x14, false, true, false, 0, false,
       {{0x5400, 0, 2, 0, 0xFED90000, ecap_gfx_pasid_prs, "graphics engine"},
        {0x5410, 1, 0, 0, 0xFED91000, ecap_default, "default engine"}}},
      {"jix", "jix reference platform: Tiger Lake client with IPU and Thunderbolt root ports", 0x806C1,
       "11th Gen Intel(R) Core(TM) i7-1185G7 @ 3.00GHz", 0x9A14, 0x9A49, 0xA082, 0xA0A0, 0xA0ED, pch_kind::p2sb,
       0xF0, 0x1F, 0x00, 0x1F, 0x14, false, false, true, 2, true,
       {{0x5400, 0, 2, 0, 0xFED90000, ecap_gfx_gen11, "graphics engine"},
        {0x7880, 2, 5, 0, 0xFED92000, ecap_other, "IPU engine (B0:D5:F0)"},
        {0x7888, 3, 7, 0, 0xFED84000, ecap_other, "Thunderbolt engine (B0:D7:F0)"},
        {0x7890, 3, 7, 1, 0xFED85000, ecap_other, "Thunderbolt engine (B0:D7:F1)"},
        {0x5410, 1, 0, 0, 0xFED91000, ecap_default, "default engine"}}},
      {"yod", "yod reference platform: Lakefield hybrid client with IPU", 0x806A1,
       "Intel(R) Core(TM) i5-L16G7 CPU @ 1.40GHz", 0x9A04, 0x8A56, 0x9882, 0x98A0, 0x98ED, pch_kind::p2sb, 0xF0, 0x1F,
       0x00, 0x1F, 0x14, false, false, true, 0, false,
       {{0x5400, 0, 2, 0, 0xFED90000, ecap_gfx_gen11, "graphics engine"},
        {0x7880, 2, 5, 0, 0xFED92000, ecap_other, "IPU engine (B0:D5:F0)"},
        {0x5410, 1, 0, 0, 0xFED91000, ecap_default, "default engine"}}},
      {"gux", "gux reference platform: Gemini Lake SoC (P2SB at B0:D13:F0)", 0x706A1,
       "Intel(R) Pentium(R) Silver J5005 CPU @ 1.50GHz", 0x31F0, 0x3184, 0x31E8, 0x31D4, 0x31A8, pch_kind::p2sb_d13,
       0xFA, 0x1F, 0xFA, 0x0F, 0x15, false, false, false, 0, false,
       {{0x6C88, 0, 2, 0, 0xFED64000, ecap_gfx_gen11, "graphics engine"},
        {0x6C80, 1, 0, 0, 0xFED65000, ecap_default, "default engine"}}},
      {"wez", "wez reference platform: Cannon Lake client with IPU", 0x60663,
       "Intel(R) Core(TM) i3-8121U CPU @ 2.20GHz", 0x5A04, 0x5A51, 0x9D84, 0x9DA0, 0x9DED, pch_kind::p2sb, 0xF0, 0x1F,
       0x00, 0x1F, 0x14, false, false, true, 0, false,
       {{0x5400, 0, 2, 0, 0xFED90000, ecap_gfx_gen11, "graphics engine"},
        {0x7884, 2, 5, 0, 0xFED92000, ecap_other, "IPU engine (B0:D5:F0)"},
        {0x5410, 1, 0, 0, 0xFED91000, ecap_default, "default engine"}}},
  };
  return f;
}

struct cfg {
  std::vector<uint8_t> b = std::vector<uint8_t>(4096, 0);
  cfg& set8(uint32_t o, uint8_t v) {
    b[o] = v;
    return *this;
  }
  cfg& set16(uint32_t o, uint16_t v) { return set8(o, (uint8_t)v).set8(o + 1, (uint8_t)(v >> 8)); }
  cfg& set32(uint32_t o, uint32_t v) { return set16(o, (uint16_t)v).set16(o + 2, (uint16_t)(v >> 16)); }
  cfg& bar64(uint32_t o, uint64_t a, bool prefetch = false) {
    return set32(o, (uint32_t)a | 0x4 | (prefetch ? 0x8 : 0)).set32(o + 4, (uint32_t)(a >> 32));
  }
  // Capability list: id at offset, next pointer, and for PCI Express the
  // device/port type in the capabilities register.
  cfg& cap(uint8_t at, uint8_t id, uint8_t next) {
    if (!b[0x34]) b[0x34] = at;
    set16(0x06, (uint16_t)(b[0x06] | b[0x07] << 8 | 0x10));
    return set8(at, id).set8(at + 1, next);
  }
  cfg& pcie(uint8_t at, uint8_t next, uint8_t port_type) { return cap(at, 0x10, next).set16(at + 2, (uint16_t)(0x2 | port_type << 4)); }
  cfg& ext_cap(uint16_t at, uint16_t id, uint16_t next) { return set32(at, (uint32_t)id | 1u << 16 | (uint32_t)next << 20); }
};

cfg function(uint16_t vendor, uint16_t device, uint8_t base, uint8_t sub, uint8_t pi, uint8_t header = 0,
             uint8_t rev = 0x00, uint16_t command = 0x0006) {
  cfg c;
  c.set16(0, vendor).set16(2, device).set16(4, command).set8(8, rev).set8(9, pi).set8(0x0A, sub).set8(0x0B, base);
  c.set8(0x0E, header);
  return c;
}

uint16_t key(uint8_t bus, uint8_t dev, uint8_t fn) { return (uint16_t)(bus << 8 | dev << 3 | fn); }

void mmio(platform_description& p, uint64_t a, unsigned width, uint64_t v, const std::string& comment) {
  p.mmio.push_back({a, width, v, comment});
}

bytes smbios_for(const family_spec& f) {
  bytes t;
  auto add = [&](const bytes& s) { t.insert(t.end(), s.begin(), s.end()); };
  // Type 0: vendor, version, start segment, release date, ROM size,
  // characteristics, extensions, BIOS and EC release.
  bytes bios{1, 2, 0x00, 0xF0, 3, 0xFF, 0x80, 0x98, 0x8B, 0x3F, 0, 0, 0, 0, 0x03, 0x0D, 5, 6, 0xFF, 0xFF};
  add(smbios_structure(0, 0x0000, bios, {"Iovet", std::string("REF.") + f.name + ".0107", "06/15/2026"}));
  bytes sys{1, 2, 3, 4};
  for (int i = 0; i < 16; i++) sys.push_back((uint8_t)(0x10 + i));
  sys.push_back(6);  // wake-up type: power switch
  sys.push_back(5);
  sys.push_back(6);
  add(smbios_structure(1, 0x0001, sys,
                       {"Iovet", std::string(f.name) + " reference platform", "1.0", "REF0001", "SKU-REF",
                        std::string(f.name)}));
  // Firmware version group (type 14) naming a record structure of the
  // firmware's own type 221: reference code components and microcode.
  bytes group{1, 221, 0xDD, 0x00};
  add(smbios_structure(14, 0x000E, group, {"Firmware Version Info"}));
  bytes versions{3};
  for (const bytes& r : {bytes{1, 0, 7, 0, 0x3A, 0x40, 0x00}, bytes{2, 3, 0, 0, 0, 0, 0},
                         bytes{4, 0, 3, 2, 1, 0x20, 0x00}})
    versions.insert(versions.end(), r.begin(), r.end());
  add(smbios_structure(221, 0x00DD, versions,
                       {"Reference Code - CPU", "uCode Version", "000000C6", "Reference Code - PCH"}));
  // Type 131: capability word (VMX capable and enabled) and its signature.
  bytes t131(0x3C, 0);
  t131[0] = 0x31;
  memcpy(t131.data() + 0x34, "wKam", 4);
  add(smbios_structure(131, 0x0083, t131, {}));
  add(smbios_end(0xFEFF));
  return t;
}

bytes madt_for(const family_spec&) {
  std::vector<bytes> s;
  for (uint8_t i = 0; i < 4; i++) s.push_back(madt_local_apic(i, (uint8_t)(i * 2)));
  s.push_back(madt_ioapic(2, 0xFEC00000, 0));
  s.push_back(bytes{2, 10, 0, 0, 2, 0, 0, 0, 0, 0});      // IRQ0 -> GSI 2
  s.push_back(bytes{2, 10, 0, 9, 9, 0, 0, 0, 0x0D, 0});   // SCI, level, active high
  s.push_back(bytes{4, 6, 0xFF, 0x05, 0x00, 0x01});       // local APIC NMI, LINT1
  return build_madt(s);
}

}  // namespace

bool make_reference_platform(const std::string& family, platform_description& p) {
  const family_spec* fp = nullptr;
  for (const auto& f : families())
    if (family == f.name) fp = &f;
  if (!fp) return false;
  const family_spec& f = *fp;
  p = platform_description{};
  p.title = f.title;

  // ---- ACPI tables -------------------------------------------------------
  dmar_builder d;
  d.host_address_width = 38;
  d.flags = 0x01;
  for (const auto& e : f.engines) {
    if (e.type == 1) {
      std::vector<scope_spec> s{{3, 2, f.ioapic_bus, {{f.ioapic_dev, 0}}}, {4, 0, f.hpet_bus, {{f.hpet_dev, 0}}}};
      if (f.andd) s.push_back({5, 1, 0x00, {{0x15, 0}}});
      d.drhd(0x01, 0, e.base, s);
    } else {
      d.drhd(0x00, 0, e.base, {{(uint8_t)(e.type == 3 ? 2 : 1), 0, 0, {{e.dev, e.fn}}}});
    }
  }
  std::vector<scope_spec> usb{{1, 0, 0, {{f.xhci_dev, 0}}}};
  if (f.ehci) usb.push_back({1, 0, 0, {{0x1D, 0}}});
  d.rmrr(0, usb_rmrr_base, usb_rmrr_limit, usb);
  d.rmrr(0, gfx_rmrr_base, gfx_rmrr_limit, {{1, 0, 0, {{2, 0}}}});
  if (f.andd) d.andd(1, "\\_SB.PC00.I2C0");
  p.acpi.push_back({"APIC", madt_for(f)});
  p.acpi.push_back({"DMAR", d.build()});
  p.acpi.push_back({"HPET", build_hpet(0, hpet_base, 0x8086A701)});
  p.acpi.push_back({"MCFG", build_mcfg({{ecam, 0, 0x00, 0xFF}})});

  // ---- PCI configuration space -------------------------------------------
  cfg host = function(0x8086, f.host_did, 0x06, 0x00, 0x00, 0x00, 0x07);
  host.set32(0x48, (uint32_t)mchbar | 1).set32(0x4C, 0);  // MCHBAR, enabled
  host.set32(0xE4, 0x00000000);                           // capabilities: DMA remapping not disabled
  p.pci[key(0, 0, 0)] = host.b;

  cfg gfx = function(0x8086, f.gfx_did, 0x03, 0x00, 0x00, 0x00, 0x07, 0x0007);
  gfx.bar64(0x10, 0xDE000000).bar64(0x18, 0xC0000000, true).set32(0x20, 0xF001);
  gfx.cap(0x40, 0x09, 0x70).pcie(0x70, 0xAC, 9).cap(0xAC, 0x05, 0xD0).cap(0xD0, 0x01, 0x00);
  if (f.gfx_ext_caps) gfx.ext_cap(0x100, 0x001B, 0x200).ext_cap(0x200, 0x000F, 0x300).ext_cap(0x300, 0x0013, 0);
  p.pci[key(0, 2, 0)] = gfx.b;

  if (f.ipu) {
    cfg ipu = function(0x8086, (uint16_t)(f.gfx_did + 0x10), 0x04, 0x80, 0x00);
    ipu.bar64(0x10, 0xDD000000).pcie(0x70, 0x00, 9);
    p.pci[key(0, 5, 0)] = ipu.b;
  }
  for (int n = 0; n < f.tbt_ports; n++) {
    cfg rp = function(0x8086, (uint16_t)(0x9A23 + 2 * n), 0x06, 0x04, 0x00, n == 0 ? 0x81 : 0x01);
    rp.set8(0x18, 0).set8(0x19, (uint8_t)(2 + n * 0x20)).set8(0x1A, (uint8_t)(0x1F + n * 0x20));
    rp.pcie(0x40, 0x00, 4);
    p.pci[key(0, 7, (uint8_t)n)] = rp.b;
  }

  uint64_t xhci_bar = 0xDF220000;
  cfg xhci = function(0x8086, f.xhci_did, 0x0C, 0x03, 0x30);
  xhci.bar64(0x10, xhci_bar).cap(0x70, 0x01, 0x80).cap(0x80, 0x05, 0x00);
  p.pci[key(0, f.xhci_dev, 0)] = xhci.b;

  if (f.ehci) {
    cfg ehci = function(0x8086, 0x9CA6, 0x0C, 0x03, 0x20);
    ehci.set32(0x10, 0xDF23A000).cap(0x50, 0x01, 0x58).cap(0x58, 0x0A, 0x00);
    ehci.set32(0x68, 0x00000001);  // USB legacy support, last capability
    p.pci[key(0, 0x1D, 0)] = ehci.b;
  }

  if (f.andd) {
    cfg i2c = function(0x8086, 0xA0E8, 0x0C, 0x80, 0x00);
    i2c.bar64(0x10, 0xDF250000);
    p.pci[key(0, 0x15, 0)] = i2c.b;
  }

  cfg mei = function(0x8086, (uint16_t)(f.lpc_did + 0x40), 0x07, 0x80, 0x00, 0x80);
  mei.bar64(0x10, 0xDF24D000);
  p.pci[key(0, 0x16, 0)] = mei.b;

  cfg rp = function(0x8086, (uint16_t)(f.lpc_did + 0x30), 0x06, 0x04, 0x00, 0x81);
  rp.set8(0x18, 0).set8(0x19, 0x01).set8(0x1A, 0x01).pcie(0x40, 0x00, 4);
  p.pci[key(0, 0x1C, 0)] = rp.b;
  cfg nic = function(0x8086, 0x15B8, 0x02, 0x00, 0x00);
  nic.set32(0x10, 0xDF000000).pcie(0x70, 0x00, 0);
  p.pci[key(1, 0, 0)] = nic.b;

  cfg lpc = function(0x8086, f.lpc_did, 0x06, 0x01, 0x00, 0x80, 0x21, 0x0007);
  if (f.pch == pch_kind::lpc) {
    // The PCH programs its request IDs in the LPC bridge; HPTC sits in the
    // root complex register block.
    lpc.set32(0xF0, 0xFED1C001);
    lpc.set16(0x6C, (uint16_t)(f.ioapic_bus << 8 | f.ioapic_dev << 3));
    for (int i = 0; i < 8; i++) lpc.set16(0x70 + 2 * i, (uint16_t)(f.hpet_bus << 8 | f.hpet_dev << 3));
    mmio(p, 0xFED1C000 + 0x3404, 4, 0x00000080, "RCBA + 0x3404: HPTC, address enable, HPET at 0xFED00000");
  }
  p.pci[key(0, 0x1F, 0)] = lpc.b;

  if (f.pch == pch_kind::p2sb || f.pch == pch_kind::p2sb_d13) {
    cfg p2sb = function(0x8086, f.p2sb_did, 0x05, 0x80, 0x00, 0x00, 0x21);
    p2sb.bar64(0x10, 0xFD000000);
    p2sb.set8(0x60, 0x80);  // HPTC: address enable, HPET at 0xFED00000
    p2sb.set16(0x6C, (uint16_t)(f.ioapic_bus << 8 | f.ioapic_dev << 3));
    p2sb.set16(0x70, (uint16_t)(f.hpet_bus << 8 | f.hpet_dev << 3));
    if (f.pch == pch_kind::p2sb) {
      p2sb.set8(0xE1, 0x01);  // hidden, as firmware leaves it
      p.pci[key(0, 0x1F, 1)] = p2sb.b;
    } else {
      p2sb.set32(0xE0, 0x00000100);
      p.pci[key(0, 0x0D, 0)] = p2sb.b;
    }
  }
  cfg smbus = function(0x8086, (uint16_t)(f.lpc_did + 0x1E), 0x0C, 0x05, 0x00, 0x00, 0x21, 0x0003);
  smbus.bar64(0x10, 0xDF24C000).set32(0x20, 0xEFA1);
  p.pci[key(0, 0x1F, 4)] = smbus.b;
  cfg hda = function(0x8086, (uint16_t)(f.lpc_did + 0x2B), 0x04, 0x03, 0x00);
  hda.bar64(0x10, 0xDF240000).bar64(0x20, 0xDF100000).pcie(0x60, 0x00, 9);
  p.pci[key(0, 0x1F, 3)] = hda.b;

  // The PCH's IOxAPIC as a function on its own bus.
  cfg ioapic = function(0x8086, (uint16_t)(f.lpc_did + 0x60), 0x08, 0x00, 0x20, 0x00, 0x00, 0x0000);
  p.pci[key(f.ioapic_bus, f.ioapic_dev, 0)] = ioapic.b;

  // ---- Memory-mapped registers -------------------------------------------
  for (const auto& e : f.engines) {
    char c[96];
    snprintf(c, sizeof c, "MCHBAR + 0x%X: %s base, enabled", e.mch_offset, e.what);
    mmio(p, mchbar + e.mch_offset, 8, e.base | 1, c);
  }
  for (const auto& e : f.engines) {
    std::string w = e.what;
    mmio(p, e.base + 0x00, 4, 0x00000010, w + ": VER_REG");
    mmio(p, e.base + 0x08, 8, cap_39bit, w + ": CAP_REG (MGAW 39)");
    mmio(p, e.base + 0x10, 8, e.ecap, w + ": ECAP_REG");
    mmio(p, e.base + 0x1C, 4, 0x00000000, w + ": GSTS_REG");
    mmio(p, e.base + 0x34, 4, 0x00000000, w + ": FSTS_REG: no fault");
    mmio(p, e.base + 0x64, 4, 0x00000000, w + ": PMEN_REG");
    mmio(p, e.base + 0xFF0, 4, policy_locked, w + ": policy register, locked, snoop control enabled");
  }
  mmio(p, hpet_base + 0x000, 8, 0x0429B17F8086A701, "HPET GCAP_ID: 8 timers, 64-bit counter");
  mmio(p, hpet_base + 0x010, 8, 0x0000000000000001, "HPET GEN_CONF: enabled");
  for (int n = 0; n < 8; n++) {
    char c[96];
    snprintf(c, sizeof c, "HPET timer %d TMR_CNF_CAP: FSB capable, edge triggered", n);
    mmio(p, hpet_base + 0x100 + 0x20 * n, 8, n == 0 ? 0x00F0000000008030 : 0x00F0000000008000, c);
  }
  mmio(p, xhci_bar + 0x00, 4, 0x01100080, "xHCI CAPLENGTH/HCIVERSION");
  mmio(p, xhci_bar + 0x04, 4, 0x12000840, "xHCI HCSPARAMS1");
  mmio(p, xhci_bar + 0x10, 4, 0x200077C1, "xHCI HCCPARAMS1: extended capabilities at 0x8000");
  mmio(p, xhci_bar + 0x8000, 4, 0x00000401, "xHCI USB legacy support capability, next +0x10");
  mmio(p, xhci_bar + 0x8004, 4, 0x00000000, "xHCI USBLEGCTLSTS");
  mmio(p, xhci_bar + 0x8010, 4, 0x02000002, "xHCI supported protocol capability (USB 2), last");
  if (f.ehci) {
    mmio(p, 0xDF23A000, 4, 0x01000020, "EHCI CAPLENGTH/HCIVERSION");
    mmio(p, 0xDF23A004, 4, 0x00200008, "EHCI HCSPARAMS");
    mmio(p, 0xDF23A008, 4, 0x00006881, "EHCI HCCPARAMS: EECP 0x68");
  }

  // ---- Processor -------------------------------------------------------------
  p.cpuid[0] = {0x16, 0x756E6547, 0x6C65746E, 0x49656E69};  // "GenuineIntel"
  p.cpuid[1] = {f.cpuid_eax, 0x00100800, 0x7FFAFBBF, 0xBFEBFBFF};
  p.cpuid[0x80000000] = {0x80000008, 0, 0, 0};
  char brand[48] = {0};
  strncpy(brand, f.brand, 47);
  for (uint32_t l = 0; l < 3; l++) {
    std::array<uint32_t, 4> r{};
    for (int k = 0; k < 4; k++) memcpy(&r[k], brand + l * 16 + k * 4, 4);
    p.cpuid[0x80000002 + l] = r;
  }
  p.cpuid[0x80000008] = {0x00003027, 0, 0, 0};  // 39 physical, 48 linear address bits
  p.msrs[0x3A] = 0x5;                           // IA32_FEATURE_CONTROL: locked, VMX outside SMX

  // ---- Memory map ----------------------------------------------------------
  auto mem = [&](uint32_t type, uint64_t start, uint64_t end_exclusive, uint64_t attr) {
    p.memory_map.push_back({type, start, (end_exclusive - start) >> 12, attr});
  };
  const uint64_t wb = 0xF;  // UC | WC | WT | WB
  mem(7, 0x00000000, 0x0009F000, wb);
  mem(0, 0x0009F000, 0x00100000, wb);
  mem(7, 0x00100000, usb_rmrr_base, wb);
  mem(0, usb_rmrr_base, usb_rmrr_limit + 1, wb);  // USB controller's firmware buffers
  mem(4, usb_rmrr_limit + 1, 0x7A000000, wb);
  mem(7, 0x7A000000, 0x7EF00000, wb);
  mem(6, 0x7EF00000, 0x7F000000, 0x800000000000000F);  // SMBIOS and the ACPI root pointer
  mem(9, 0x7F000000, 0x7F100000, wb);                   // ACPI tables
  mem(10, 0x7F100000, 0x7F200000, wb);
  mem(7, 0x7F200000, 0x8B800000, wb);
  mem(0, gfx_rmrr_base, gfx_rmrr_limit + 1, wb);  // graphics stolen memory
  mem(11, ecam, ecam + 0x10000000, 0x8000000000000001);
  mem(11, 0xFED00000, 0xFED01000, 0x8000000000000001);
  mem(11, 0xFED10000, 0xFED18000, 0x8000000000000001);
  mem(7, 0x100000000, 0x470000000, wb);

  p.smbios_table = smbios_for(f);
  return true;
}

}  // namespace sim
