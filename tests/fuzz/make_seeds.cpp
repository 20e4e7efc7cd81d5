// Writes the seed inputs of the fuzz targets.
//
//   iovet_fuzz_seeds <corpus directory> <list> <output directory>
//
// Each line of the list names, relative to the corpus directory, a directory of raw ACPI tables (DMAR.dat,
// MCFG.dat, APIC.dat, HPET.dat, as the firmware published them), or one
// DMAR file in such a directory whose other tables go with it. Every entry
// gives a whole-run seed (the tables on a simulated platform built to match
// them, the processor family chosen in turn) and a dump seed (the DMAR);
// hand-made platforms and catalogue files complete the set. Seeds are named
// by content, so writing them again adds no duplicate.
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "platform/sim/platform_dir.h"
#include "platform/sim/tables.h"

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;

namespace {

bytes read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint64_t le(const bytes& b, size_t off, unsigned width) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width && off + i < b.size(); i++) v |= (uint64_t)b[off + i] << (8 * i);
  return v;
}

std::string name_of(const bytes& b) {
  // FNV-1a, 64 bits: stable names, so a rewrite overwrites rather than adds.
  uint64_t h = 1469598103934665603ULL;
  for (uint8_t c : b) h = (h ^ c) * 1099511628211ULL;
  char s[17];
  snprintf(s, sizeof s, "%016llx", (unsigned long long)h);
  return s;
}

void write_seed(const fs::path& dir, const std::string& label, const bytes& b) {
  fs::create_directories(dir);
  std::ofstream(dir / (label + "-" + name_of(b).substr(0, 8)), std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), (std::streamsize)b.size());
}

void put(bytes& cfg, size_t off, uint64_t v, unsigned width) {
  if (cfg.size() < off + width) cfg.resize(off + width, 0);
  for (unsigned i = 0; i < width; i++) cfg[off + i] = (uint8_t)(v >> (8 * i));
}

struct family {
  const char* name;
  uint32_t eax;
};
// One processor of each setup routine (CPUID leaf 1 EAX).
const family families[] = {{"qen", 0x306C3}, {"rav", 0x50654}, {"mof", 0x906EA}, {"jix", 0x706E6},
                           {"yod", 0x806A1}, {"gux", 0x506C9}, {"wez", 0x60661}, {"mof8", 0x406E8}};

constexpr uint64_t MCHBAR = 0xFED10000;

struct platform {
  fuzz::description d;
  std::map<uint16_t, bytes> pci;  // bus << 8 | dev << 3 | fn
  bytes& fn(uint8_t bus, uint8_t dev, uint8_t f, uint16_t device = 0x1234, uint32_t class_code = 0x088000) {
    bytes& c = pci[(uint16_t)(bus << 8 | dev << 3 | f)];
    if (c.empty()) {
      c.assign(256, 0);
      put(c, 0, 0x8086, 2);
      put(c, 2, device, 2);
      put(c, 9, class_code, 3);
    }
    if (f != 0) {
      bytes& f0 = fn(bus, dev, 0, device, class_code);
      f0[0x0E] |= 0x80;  // multi-function
    }
    return c;
  }
  void mmio64(uint64_t a, uint64_t v) {
    bytes b;
    put(b, 0, v, 8);
    d.memory_bytes.push_back({a, b});
  }
  void mmio32(uint64_t a, uint32_t v) {
    bytes b;
    put(b, 0, v, 4);
    d.memory_bytes.push_back({a, b});
  }
  bytes finish() {
    for (auto& [key, cfg] : pci) d.pci.push_back({(uint8_t)(key >> 8), (uint8_t)(key >> 3 & 0x1F), (uint8_t)(key & 7), cfg});
    return fuzz::encode(d);
  }
};

// A chipset of the given family around whatever tables are installed: host
// bridge with MCHBAR, graphics, LPC, P2SB (hidden) and its twin at D13, the
// engine base registers, engine and HPET registers, processor, memory map
// and SMBIOS.
void base_platform(platform& p, uint32_t eax, uint64_t gfx_engine, uint64_t default_engine, uint16_t ioapic_rid,
                   uint16_t hpet_rid, bool p2sb_hidden = true) {
  bytes& host = p.fn(0, 0, 0, 0x3E30, 0x060000);
  put(host, 0x48, MCHBAR | 1, 4);
  put(host, 0xE4, 0, 4);
  put(host, 0x08, 0x07, 1);
  p.fn(0, 2, 0, 0x3E92, 0x030000);
  bytes& lpc = p.fn(0, 31, 0, 0xA305, 0x060100);
  put(lpc, 0xF0, 0xFED1C001, 4);
  put(lpc, 0x6C, ioapic_rid, 2);
  for (int i = 0; i < 8; i++) put(lpc, 0x70 + 2 * i, hpet_rid, 2);
  bytes& p2sb = p.fn(0, 31, 1, 0xA320, 0x058000);
  put(p2sb, 0x6C, ioapic_rid, 2);
  put(p2sb, 0x60, 0x80, 1);
  put(p2sb, 0x70, hpet_rid, 2);
  put(p2sb, 0xE1, p2sb_hidden ? 1 : 0, 1);
  bytes& d13 = p.fn(0, 13, 0, 0x5A92, 0x058000);
  put(d13, 0x6C, ioapic_rid, 2);
  put(d13, 0x60, 0x80, 1);
  put(d13, 0x70, hpet_rid, 2);
  p.fn(0, 20, 0, 0xA36D, 0x0C0330);  // xHCI
  put(p.fn(0, 20, 0), 0x10, 0xA1200004, 4);

  for (uint64_t off : {0x5400ULL, 0x6C88ULL}) p.mmio64(MCHBAR + off, gfx_engine | 1);
  for (uint64_t off : {0x5410ULL, 0x6C80ULL}) p.mmio64(MCHBAR + off, default_engine | 1);
  p.mmio32(0xFED1C000 + 0x3404, 0x80);
  for (uint64_t e : {gfx_engine, default_engine}) {
    if (!e) continue;
    p.mmio32(e + 0x00, 0x10);
    p.mmio64(e + 0x08, e == gfx_engine ? 0x1C0000C40660462ULL : 0xD2008C40660462ULL);
    p.mmio64(e + 0x10, e == gfx_engine ? 0x19E2FF0505EULL : 0xF050DAULL);
  }
  p.mmio64(0xFED00000, 0x8086A701ULL | (uint64_t)0x0429B17F << 32);

  p.d.cpuid.push_back({1, eax, 0x00100800, 0x7FFAFBFF, 0xBFEBFBFF});
  p.d.cpuid.push_back({0x80000008, 0x3027, 0, 0, 0});
  p.d.msrs.push_back({0x3A, 5});
  p.d.memory.push_back({7, 0, 0x9F, 0xF});
  p.d.memory.push_back({0, 0x9F000, 0x61, 0xF});
  p.d.memory.push_back({7, 0x100000, 0x7E000, 0xF});
  p.d.memory.push_back({6, 0x7EE00000, 0x100, 0x800000000000000FULL});
  p.d.memory.push_back({11, 0xE0000000, 0x10000, 1});

  bytes smbios;
  for (const auto& s : {sim::smbios_structure(0, 0, {1, 2, 0x00, 0xF0, 3, 0xFF, 0x80, 0x98, 0x8B, 0x3F, 0, 0, 0, 0, 0x0D, 0x0F, 5, 10, 0xFF, 0xFF},
                                              {"Simulated Firmware Inc.", "SIM.1.2.3", "06/01/2024"}),
                        sim::smbios_structure(1, 1, {1, 2, 3, 4}, {"Iovet", "Simulated Board", "1.0", "0001"}),
                        sim::smbios_end(0xFEFF)})
    smbios.insert(smbios.end(), s.begin(), s.end());
  p.d.has_smbios = true;
  p.d.smbios = smbios;
}

// Makes the functions named by the DMAR's device scopes present (bridges
// along multi-entry paths) and finds the engines and the IOxAPIC and HPET
// request IDs, so that more of the run gets past its early checks.
void scope_devices(platform& p, const bytes& dmar, uint64_t* gfx_engine, uint64_t* default_engine, uint16_t* ioapic,
                   uint16_t* hpet) {
  uint8_t next_bus = 0x40;
  size_t off = 48;
  int guard = 0;
  while (off + 4 <= dmar.size() && guard++ < 200) {
    uint16_t type = (uint16_t)le(dmar, off, 2), length = (uint16_t)le(dmar, off + 2, 2);
    if (length < 4 || off + length > dmar.size()) break;
    size_t fixed = type == 0 ? 16 : type == 1 ? 24 : type == 2 ? 8 : 0;
    if (type == 0) {
      uint64_t base = le(dmar, off + 8, 8);
      if (dmar[off + 4] & 1)
        *default_engine = base;
      else if (!*gfx_engine)
        *gfx_engine = base;
    }
    for (size_t s = off + fixed; fixed && s + 6 <= off + length;) {
      uint8_t stype = dmar[s], slen = dmar[s + 1];
      if (slen < 6 || s + slen > off + length) break;
      uint8_t bus = dmar[s + 5];
      for (size_t e = s + 6; e + 2 <= s + slen; e += 2) {
        uint8_t dev = dmar[e] & 0x1F, f = dmar[e + 1] & 7;
        bool last = e + 4 > s + slen;
        if (stype == 3 && last) *ioapic = (uint16_t)(bus << 8 | dev << 3 | f);
        if (stype == 4 && last) *hpet = (uint16_t)(bus << 8 | dev << 3 | f);
        if (stype == 3 || stype == 4 || stype == 5) break;  // not PCI functions
        bytes& c = p.fn(bus, dev, f, 0x1000 + dev, last && stype == 1 ? 0x020000 : 0x060400);
        if (!last || stype == 2) {
          c[0x0E] = (uint8_t)((c[0x0E] & 0x80) | 1);
          c[0x18] = bus;
          c[0x19] = next_bus;
          c[0x1A] = next_bus;
          bus = next_bus++;
        }
      }
      s += slen;
    }
    off += length;
  }
}

void rmrr_memory(platform& p, const bytes& dmar) {
  size_t off = 48;
  int guard = 0;
  while (off + 4 <= dmar.size() && guard++ < 200) {
    uint16_t type = (uint16_t)le(dmar, off, 2), length = (uint16_t)le(dmar, off + 2, 2);
    if (length < 4 || off + length > dmar.size()) break;
    if (type == 1 && length >= 24) {
      uint64_t base = le(dmar, off + 8, 8), limit = le(dmar, off + 16, 8);
      if (limit >= base) p.d.memory.push_back({0, base & ~0xFFFULL, ((limit - base) >> 12) + 1, 0xF});
    }
    off += length;
  }
}

bytes whole_run_seed(const std::map<std::string, bytes>& tables, unsigned index) {
  platform p;
  const family& f = families[index % (sizeof families / sizeof families[0])];
  static const uint8_t modes[] = {0, 2, 1, 3, 4};
  p.d.settings = (uint8_t)(modes[index % 5] | fuzz::SET_ECAM_FROM_MCFG | (index % 2 ? fuzz::SET_FIX_LENGTHS : 0));
  for (const char* sig : {"DMAR", "APIC", "MCFG", "HPET"}) {
    auto it = tables.find(sig);
    if (it != tables.end()) p.d.acpi.push_back(it->second);
  }
  uint64_t gfx = 0, def = 0;
  uint16_t ioapic = 0xF0F8, hpet = 0x00F8;
  auto dmar = tables.find("DMAR");
  if (dmar != tables.end()) {
    scope_devices(p, dmar->second, &gfx, &def, &ioapic, &hpet);
    rmrr_memory(p, dmar->second);
  }
  base_platform(p, f.eax, gfx, def, ioapic, hpet, index % 3 != 2);
  return p.finish();
}

// Hand-made platforms for the paths the corpus does not take.
void hand_made(const fs::path& out) {
  bytes dmar = sim::dmar_builder()
                   .drhd(0, 0, 0xFED90000, {{1, 0, 0, {{2, 0}}}})
                   .drhd(1, 0, 0xFED91000, {{3, 2, 0xF0, {{31, 0}}}, {4, 0, 0, {{31, 0}}}})
                   .rmrr(0, 0x7C000000, 0x7C7FFFFF, {{1, 0, 0, {{20, 0}}}})
                   .atsr(0, 0, {{2, 0, 0, {{28, 0}}}})
                   .rhsa(0xFED91000, 0)
                   .andd(1, "\\_SB.PCI0.I2C0")
                   .build();
  bytes mcfg = sim::build_mcfg({{0xE0000000, 0, 0, 0x3F}});
  bytes madt = sim::build_madt({sim::madt_local_apic(0, 0), sim::madt_ioapic(2, 0xFEC00000, 0)});
  bytes hpet = sim::build_hpet(0);
  struct variant {
    const char* label;
    uint32_t eax;
    uint8_t settings;
    bool hidden;
    bool host_bridge;
    bool p2sb;
  };
  const variant variants[] = {
      {"hand-rav-hidden", 0x50654, 0, true, true, true},
      {"hand-rav-visible", 0x50657, 0, false, true, true},
      {"hand-mof-visible", 0x806EA, 0, false, true, true},
      {"hand-jix-no-p2sb", 0x706E6, 0, true, true, false},
      {"hand-unsupported-cpu", 0x00A50F00, 0, true, true, true},
      {"hand-no-mchbar", 0x906EA, 0, true, false, true},
      {"hand-legacy-rsdp", 0x806A1, 1 << fuzz::SET_RSDP_SHIFT, true, true, true},
      {"hand-ebda-rsdp-dump", 0x60661, 1 | 2 << fuzz::SET_RSDP_SHIFT, true, true, true},
      {"hand-no-catalogue", 0x906EA, fuzz::SET_NO_CATALOGUE, true, true, true},
  };
  for (const auto& v : variants) {
    platform p;
    p.d.settings = (uint8_t)(v.settings | fuzz::SET_FIX_LENGTHS | fuzz::SET_ECAM_FROM_MCFG);
    p.d.acpi = {dmar, madt, mcfg, hpet};
    base_platform(p, v.eax, 0xFED90000, 0xFED91000, 0xF0F8, 0x00F8, v.hidden);
    p.fn(0, 28, 0, 0xA338, 0x060400);
    if (!v.host_bridge) p.pci.erase(0);
    if (!v.p2sb) p.pci.erase((uint16_t)(31 << 3 | 1));
    write_seed(out / "run", v.label, p.finish());
  }
  // No ACPI at all; a DMAR alone; a DMAR walk that fails.
  platform none;
  base_platform(none, 0x906EA, 0, 0, 0, 0);
  write_seed(out / "run", "hand-no-acpi", none.finish());
  platform alone;
  alone.d.acpi = {dmar};
  base_platform(alone, 0x906EA, 0xFED90000, 0xFED91000, 0xF0F8, 0x00F8);
  write_seed(out / "run", "hand-dmar-only", alone.finish());
  platform bad;
  bad.d.settings = fuzz::SET_FIX_LENGTHS;
  bytes bad_dmar = sim::dmar_builder().drhd(1, 0, 0xFED91000).raw({5, 0, 8, 0, 0, 0, 0, 0}).build();
  bad.d.acpi = {bad_dmar, mcfg};
  base_platform(bad, 0x906EA, 0, 0xFED91000, 0, 0);
  write_seed(out / "run", "hand-bad-structure-type", bad.finish());
  // What an operating system refuses: overlapping RMRRs, an RHSA without its
  // DRHD, an ANDD name without NUL, DRHD bases of 0 and twice the same, an
  // SATC scope that is no endpoint.
  platform refused;
  refused.d.settings = fuzz::SET_FIX_LENGTHS | fuzz::SET_ECAM_FROM_MCFG;
  refused.d.acpi = {sim::dmar_builder()
                        .drhd(1, 0, 0xFED91000, {{3, 2, 0xF0, {{31, 0}}}})
                        .drhd(0, 0, 0)
                        .drhd(0, 0, 0xFED91000)
                        .rmrr(0, 0x7C000000, 0x7C7FFFFF, {{1, 0, 0, {{20, 0}}}})
                        .rmrr(0, 0x7C700000, 0x7CFFFFFF, {{1, 0, 0, {{23, 0}}}})
                        .rhsa(0xFED95000, 1)
                        .raw({4, 0, 12, 0, 0, 0, 0, 1, 'A', 'B', 'C', 'D'})
                        .satc(0, 0, {{2, 0, 0, {{2, 0}}}})
                        .build(),
                    madt, mcfg, hpet};
  base_platform(refused, 0x90672, 0, 0xFED91000, 0xF0F8, 0x00F8);
  refused.d.has_run_mode = true;
  refused.d.run_mode = 13;
  write_seed(out / "run", "hand-os-refused", refused.finish());

  // Partial recordings, runs on the tables alone and -a runs (modes from 8
  // through a run-mode record).
  auto bit = [](platform_source src) { return (uint16_t)(1u << src); };
  const uint16_t no_mmio = bit(SOURCE_ENGINES) | bit(SOURCE_DEVICE_REGISTERS) | bit(SOURCE_CHIPSET);
  struct partial {
    const char* label;
    uint32_t eax;
    uint16_t unknown;
    uint8_t flags;
    uint8_t mode;
  };
  const partial partials[] = {
      {"hand-tables-only", 0x50654, 0, fuzz::SOURCES_TABLES_ONLY, 3},
      {"hand-tables-only-a-verbose", 0x50654, 0, fuzz::SOURCES_TABLES_ONLY, 9},
      {"hand-tables-only-dump", 0x50654, 0, fuzz::SOURCES_TABLES_ONLY, 2},
      {"hand-unlisted", 0xB06D1, 0, 0, 0},
      {"hand-unlisted-a", 0xB06D1, 0, 0, 8},
      {"hand-unlisted-a-verbose", 0xB06F2, 0, 0, 9},
      {"hand-unlisted-a-dump", 0xB0652, 0, 0, 10},
      {"hand-profile-pek", 0x90672, 0, 0, 9},
      {"hand-profile-lum", 0xA06A4, 0, 0, 9},
      {"hand-profile-tov", 0xC06C1, 0, 0, 9},
      {"hand-listed-a", 0x50654, 0, 0, 11},
      {"hand-no-mmio", 0x50654, no_mmio, 0, 0},
      {"hand-no-mmio-unlisted-a", 0xB06D1, no_mmio, 0, 9},
      {"hand-no-pci", 0x906EA, (uint16_t)(bit(SOURCE_PCI) | bit(SOURCE_CHIPSET)), 0, 0},
      {"hand-no-cpuid-msr", 0x906EA, (uint16_t)(bit(SOURCE_CPUID) | bit(SOURCE_MSR)), 0, 0},
      {"hand-no-memmap-smbios", 0x806A1, (uint16_t)(bit(SOURCE_MEMORY_MAP) | bit(SOURCE_SMBIOS)), 0, 4},
      {"hand-no-madt-hpet", 0x50654, (uint16_t)(bit(SOURCE_MADT) | bit(SOURCE_HPET)), 0, 0},
      {"hand-no-dmar", 0x50654, bit(SOURCE_DMAR), 0, 9},
      {"hand-listed-x-verbose", 0x50654, 0, 0, 12},
      {"hand-unlisted-a-x", 0x90672, 0, 0, 13},
  };
  for (const auto& v : partials) {
    platform p;
    p.d.settings = (uint8_t)((v.mode & fuzz::SET_MODE_MASK) | fuzz::SET_FIX_LENGTHS | fuzz::SET_ECAM_FROM_MCFG);
    p.d.acpi = {dmar, madt, mcfg, hpet};
    base_platform(p, v.eax, 0xFED90000, 0xFED91000, 0xF0F8, 0x00F8);
    p.d.has_sources = v.unknown || v.flags;
    p.d.unknown_sources = v.unknown;
    p.d.source_flags = v.flags;
    p.d.has_run_mode = v.mode > fuzz::SET_MODE_MASK;
    p.d.run_mode = v.mode;
    write_seed(out / "run", v.label, p.finish());
  }

  // On the tables alone (the general rules), device scopes of every Length
  // from 0 to 255: a DRHD for each of 0 to 5 (the walk cannot step over
  // them), one with 6 to 255 back to back, one whose scope runs past it.
  auto scope_of_length = [](unsigned length, size_t size) {
    bytes b(size, 0);
    b[0] = (uint8_t)(1 + length % 5);
    b[1] = (uint8_t)length;
    for (size_t i = 6; i + 1 < size; i += 2) b[i] = 0x1F;
    return b;
  };
  auto drhd_of = [](const std::vector<bytes>& scopes) {
    bytes d = {0, 0, 0, 0, 1, 0, 0, 0};
    sim::append_le(d, 0xFED91000, 8);
    for (const bytes& sc : scopes) d.insert(d.end(), sc.begin(), sc.end());
    sim::put_le(d, 2, d.size(), 2);
    return d;
  };
  sim::dmar_builder lengths;
  std::vector<bytes> chained;
  for (unsigned l = 0; l < 256; l++) {
    if (l < 6) lengths.raw(drhd_of({scope_of_length(l, 8)}));
    else chained.push_back(scope_of_length(l, l));
  }
  lengths.raw(drhd_of(chained)).raw(drhd_of({scope_of_length(200, 8)}));
  for (uint8_t mode : {3, 2}) {
    platform p;
    p.d.settings = (uint8_t)(mode | fuzz::SET_FIX_LENGTHS | fuzz::SET_ECAM_FROM_MCFG);
    p.d.acpi = {lengths.build(), madt, mcfg, hpet};
    base_platform(p, 0x50654, 0xFED90000, 0xFED91000, 0xF0F8, 0x00F8);
    p.d.has_sources = true;
    p.d.source_flags = fuzz::SOURCES_TABLES_ONLY;
    write_seed(out / "run", mode == 3 ? "hand-tables-only-scope-lengths" : "hand-tables-only-scope-lengths-dump",
               p.finish());
  }

  write_seed(out / "dump", "hand-all-types", dmar);
  write_seed(out / "dump", "hand-madt", madt);
  write_seed(out / "dump", "hand-mcfg", mcfg);
  write_seed(out / "dump", "hand-hpet", hpet);
  bytes long_path = sim::dmar_builder().drhd(1, 0, 0xFED91000, {{1, 0, 0, {{1, 0}, {0, 0}, {0, 0}}}}).build();
  write_seed(out / "dump", "hand-long-path", long_path);
}

// The reference platforms of the repository, as the machine they install.
void reference_seeds(const fs::path& out) {
  unsigned index = 0;
  for (const std::string& family : sim::reference_families()) {
    sim::platform_description pd;
    std::string error;
    if (!sim::load_reference_description(family, pd, &error)) {
      fprintf(stderr, "reference platform %s: %s\n", family.c_str(), error.c_str());
      continue;
    }
    sim::machine m;
    sim::install_platform(pd, m);
    fuzz::description d;
    for (const auto& t : pd.acpi)
      if (t.signature() != "DSDT" && t.signature() != "FACS") d.acpi.push_back(t.bytes);
    for (const auto& [key, f] : m.functions) d.pci.push_back({(uint8_t)(key >> 8), (uint8_t)(key >> 3 & 0x1F), (uint8_t)(key & 7), f.config});
    for (const auto& [address, b] : m.regions) {
      if (address >= 0x7EF00000 && address < 0x80000000) continue;  // tables the decoder lays out itself
      for (size_t at = 0; at < b.size(); at += 60000)
        d.memory_bytes.push_back({address + at, bytes(b.begin() + (long)at, b.begin() + (long)std::min(b.size(), at + 60000))});
    }
    for (const auto& [leaf, r] : m.cpuid_leaves) d.cpuid.push_back({leaf, r[0], r[1], r[2], r[3]});
    for (const auto& msr : m.msrs) d.msrs.push_back(msr);
    d.memory = m.memory_map;
    if (!pd.smbios_table.empty()) {
      d.has_smbios = true;
      d.smbios = pd.smbios_table;
    }
    if (pd.has_catalogue) {
      d.has_catalogue = true;
      d.catalogue = pd.catalogue;
    }
    for (uint8_t mode : {0, 2}) {
      d.settings = (uint8_t)(mode | fuzz::SET_ECAM_FROM_MCFG | (index++ % 2 ? fuzz::SET_FIX_LENGTHS : 0));
      write_seed(out / "run", "reference-" + family, fuzz::encode(d));
    }
    // The same platform without its mmio.txt, and its tables alone.
    d.settings = fuzz::SET_ECAM_FROM_MCFG;
    d.has_sources = true;
    d.unknown_sources = (uint16_t)(1u << SOURCE_ENGINES | 1u << SOURCE_DEVICE_REGISTERS | 1u << SOURCE_CHIPSET);
    write_seed(out / "run", "reference-" + family + "-no-mmio", fuzz::encode(d));
    d.unknown_sources = 0;
    d.source_flags = fuzz::SOURCES_TABLES_ONLY;
    write_seed(out / "run", "reference-" + family + "-tables-only", fuzz::encode(d));
    d.has_sources = false;
    d.source_flags = 0;
  }
}

void catalogue_seeds(const fs::path& out) {
  const std::string& text = fuzz::repository_catalogue();
  auto as_bytes = [](const std::string& s) { return bytes(s.begin(), s.end()); };
  write_seed(out / "catalogue", "repository", as_bytes(text));
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  write_seed(out / "catalogue", "crlf", as_bytes(crlf));
  bytes ucs2{0xFF, 0xFE};
  for (char c : text.substr(0, 600)) {
    ucs2.push_back((uint8_t)c);
    ucs2.push_back(0);
  }
  write_seed(out / "catalogue", "ucs2", ucs2);
  write_seed(out / "catalogue", "edge-lines",
             as_bytes("  12@twelve\n07@seven @ with a second at\n\n no number line\n1234@long number\n@\n7@again\n"
                      "1@no line feed at the end"));
  write_seed(out / "catalogue", "empty", bytes());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s <corpus directory> <list> <output directory>\n", argv[0]);
    return 2;
  }
  fs::path corpus(argv[1]), list(argv[2]), out(argv[3]);
  std::ifstream in(list);
  std::string line;
  unsigned index = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    fs::path entry = corpus / line;
    fs::path dir = fs::is_directory(entry) ? entry : entry.parent_path();
    std::map<std::string, bytes> tables;
    for (const char* sig : {"DMAR", "MCFG", "APIC", "HPET"}) {
      fs::path f = dir / (std::string(sig) + ".dat");
      if (fs::exists(f)) tables[sig] = read_bytes(f);
    }
    if (!fs::is_directory(entry)) tables["DMAR"] = read_bytes(entry);
    if (!tables.count("DMAR")) {
      fprintf(stderr, "%s: no DMAR\n", entry.string().c_str());
      continue;
    }
    std::string label = dir.filename().string().substr(0, 40);
    write_seed(out / "run", label, whole_run_seed(tables, index++));
    write_seed(out / "dump", label, tables["DMAR"]);
    if (index % 4 == 0) {
      for (const char* sig : {"APIC", "MCFG", "HPET"})
        if (tables.count(sig)) write_seed(out / "dump", label + "-" + sig, tables[sig]);
    }
  }
  hand_made(out);
  reference_seeds(out);
  catalogue_seeds(out);
  printf("seeds written under %s\n", out.string().c_str());
  return 0;
}
