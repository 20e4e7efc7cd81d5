// One fault injected into a family's healthy reference platform per row,
// through the whole application: exactly the row's assertions fail among
// every assertion of the catalogue, and the row's assertion with its own
// message. Where checks overlap by design the row names them all.
#include <functional>
#include <map>
#include <set>

#include "catalogue/catalogue.h"
#include "discovery/table_walks.h"
#include "platform/sim/platform_dir.h"
#include "platform/sim/records.h"
#include "support/device_platform.h"
#include "support/harness.h"

using namespace testing_support;
using sim::bytes;
using sim::scope_spec;

namespace {

// The reference platform's DMAR, split into its structures so that a row
// can change one and the table is built again (lengths and checksum).
// rav: [0] graphics DRHD (B0:D2:F0), [1] INCLUDE_PCI_ALL DRHD (IOAPIC 2 at
// F0:1F.0, HPET at 00:1F.0), [2] USB RMRR (B0:D20:F0), [3] graphics RMRR.
struct fault_platform {
  sim::platform_description p;
  sim::dmar_builder dmar;
  std::vector<std::function<void(sim::machine&)>> machine_edits;

  void add_scope(size_t structure, const scope_spec& s) {
    bytes& st = dmar.structures.at(structure);
    bytes d = sim::device_scope(s);
    st.insert(st.end(), d.begin(), d.end());
    sim::put_le(st, REMAP_OFF_LENGTH, st.size(), 2);
  }
  // Byte of the scope k of a structure (fixed part given).
  uint8_t& scope_byte(size_t structure, uint32_t fixed, uint32_t k, uint32_t offset) {
    return dmar.structures.at(structure).at(fixed + SCOPE_STEP * k + offset);
  }
  void set_mmio(uint64_t address, uint64_t value) {
    for (auto& v : p.mmio)
      if (v.address == address) v.value = value;
  }
  std::vector<uint8_t>& config(uint8_t bus, uint8_t dev, uint8_t fn) { return p.pci.at(bus << 8 | dev << 3 | fn); }
  void set_config32(uint8_t bus, uint8_t dev, uint8_t fn, uint32_t off, uint32_t value) {
    for (int i = 0; i < 4; i++) config(bus, dev, fn).at(off + i) = (uint8_t)(value >> (8 * i));
  }
  // The capability word of the SMBIOS type-131 structure.
  void set_type131_capability(uint32_t capability) {
    bytes& t = p.smbios_table;
    size_t at = 0;
    while (at + 4 <= t.size()) {
      uint8_t type = t[at], len = t[at + 1];
      if (type == 131) {
        sim::put_le(t, at + 4, capability, 4);
        return;
      }
      size_t s = at + len;
      while (s + 1 < t.size() && !(t[s] == 0 && t[s + 1] == 0)) s++;
      at = s + 2;
    }
    ADD_FAILURE() << "no type 131 structure";
  }
};

fault_platform load(const std::string& family) {
  fault_platform f;
  std::string error;
  EXPECT_TRUE(sim::load_reference_description(family, f.p, &error)) << error;
  for (const auto& t : f.p.acpi) {
    if (t.signature() != "DMAR") continue;
    byte_view v(t.bytes.data(), t.bytes.size());
    f.dmar.host_address_width = v.u8(DMAR_OFF_HOST_ADDRESS_WIDTH);
    f.dmar.flags = v.u8(DMAR_OFF_FLAGS);
    f.dmar.revision = v.u8(8);
    for_each_remap_structure(v, 200, [&](byte_view s, uint32_t) {
      f.dmar.structures.emplace_back(s.data, s.data + s.size);
      return true;
    });
  }
  return f;
}

// Runs the whole application (-v) and returns every record's result.
std::map<uint64_t, std::pair<uint64_t, std::string>> run_all(fault_platform& f, std::string* text = nullptr) {
  for (auto& t : f.p.acpi)
    if (t.signature() == "DMAR") t.bytes = f.dmar.build();
  sim::machine m;
  sim::install_platform(f.p, m);
  if (!m.files.count(u"zyr-tests")) add_catalogue(m);
  for (auto& e : f.machine_edits) e(m);
  std::vector<test_case_t> kept;
  sim::keep_records(m, kept);
  auto r = run_iovet(m, {"-v"});
  std::map<uint64_t, std::pair<uint64_t, std::string>> results;
  for (const test_case_t& tc : kept) results[tc.id] = {tc.result, sim::to_utf8(tc.message)};
  if (text) *text = r.text;
  return results;
}

struct fault_row {
  uint64_t id;
  const char* fault;
  std::function<void(fault_platform&)> inject;
  std::set<uint64_t> failing;
  std::string message;
};

constexpr uint64_t GFX_ENGINE = 0xFED90000;
constexpr uint64_t DEFAULT_ENGINE = 0xFED91000;

const std::vector<fault_row>& rows() {
  static const std::vector<fault_row> r = {
      // The endpoint checks (27) and the graphics scope (48) see the same
      // missing function.
      {28, "graphics scope names B0:D2:F0 on bus 3",
       [](fault_platform& f) { f.scope_byte(0, DRHD_FIXED_SIZE, 0, SCOPE_OFF_START_BUS) = 3; }, {27, 48},
       "PCI Device from Device Scope not enumerable : B3:D2:F0\n"},
      {29, "graphics scope typed as a bridge",
       [](fault_platform& f) { f.scope_byte(0, DRHD_FIXED_SIZE, 0, SCOPE_OFF_TYPE) = SCOPE_PCI_SUBHIERARCHY; }, {},
       "PCI Device (DID = 0x1912) must have header value of 1.\n"},
      {39, "USB RMRR scope typed as a bridge",
       [](fault_platform& f) { f.scope_byte(2, RMRR_FIXED_SIZE, 0, SCOPE_OFF_TYPE) = SCOPE_PCI_SUBHIERARCHY; }, {},
       "RMMR Device Scopes must contain only PCI Endpoint types.\n"},
      {40, "USB RMRR one page beyond its reserved descriptor",
       [](fault_platform& f) { sim::put_le(f.dmar.structures[2], RMRR_OFF_LIMIT, 0x79E20FFF, 8); }, {},
       "RMRR Base Address(0x79E00000) Limit Adress(0x79E20FFF) is not marked as reserved or runtime in system memory "
       "map.\n"},
      {41, "USB RMRR path function 8 (aliases function 0)",
       [](fault_platform& f) { f.scope_byte(2, RMRR_FIXED_SIZE, 0, SCOPE_OFF_PATH + 1) = 8; }, {},
       "The RMRR has an invalid PCI path.\n"},
      {42, "USB RMRR names the communication controller",
       [](fault_platform& f) { f.scope_byte(2, RMRR_FIXED_SIZE, 0, SCOPE_OFF_PATH) = 22; }, {},
       " USB Device (B0:D20:F0) not listed in RMRR.\n"},
      {43, "INCLUDE_PCI_ALL DRHD names an endpoint",
       [](fault_platform& f) { f.add_scope(1, scope_spec{1, 0, 0, {{22, 0}}}); }, {},
       "DRHD with INCLUDE_PCI_ALL set must include only IOxAPIC and MSI Capable HPET in its device scope "
       "structures.\n"},
      // The graphics DRHD now holds an endpoint under INCLUDE_PCI_ALL (43).
      {44, "INCLUDE_PCI_ALL on both DRHDs", [](fault_platform& f) { f.dmar.structures[0][DRHD_OFF_FLAGS] = 1; }, {43},
       "There should only be 1 DRHD with INCLUDE_PCI_ALL flag set.\n"},
      {46, "host address width 48", [](fault_platform& f) { f.dmar.host_address_width = 47; }, {},
       "DMAR Host Address Width (48) must be less than or equal to the CPU Physical Address Size (39).\n"},
      // Request-ID uniqueness is also checked among the DMAR assertions (14).
      {47, "graphics function listed twice",
       [](fault_platform& f) { f.add_scope(0, scope_spec{1, 0, 0, {{2, 0}}}); }, {14},
       "All Device Scopes under DRHD's must be unique.\n"},
      {48, "graphics scope names function 1 of the graphics device",
       [](fault_platform& f) {
         f.scope_byte(0, DRHD_FIXED_SIZE, 0, SCOPE_OFF_PATH + 1) = 1;
         f.p.pci[0 << 8 | 2 << 3 | 1] = f.config(0, 2, 0);
       },
       {}, "iGFX DRHD Device Scope(s) incorrect.\n"},
      {49, "communication controller BAR on a 2 KiB boundary",
       [](fault_platform& f) { f.set_config32(0, 22, 0, 0x10, 0xDF24D804); }, {},
       "B00D22F00 Reg:0x10 MMIO Address(0xDF24D800) is not 4KB aligned.\n"},
      {51, "SMBIOS 131 reports VMX enabled in bit 0 only", [](fault_platform& f) { f.set_type131_capability(0x11); },
       {}, "Table 131: CPU Capability(0x04) Bit 5(VMX Enable) must be same as Capability(0x04) Bit 0.\n"},
      {52, "default engine without queued invalidation",
       [](fault_platform& f) { f.set_mmio(DEFAULT_ENGINE + 0x10, 0xF050DA & ~2ull); }, {},
       "DMAR.Flags[0] is set. Extended Capability (ECAP) must also have Bits 3 and 1 set.\n"},
      {55, "IA32_FEATURE_CONTROL not locked", [](fault_platform& f) { f.p.msrs[0x3A] = 0x4; }, {},
       "MSR 0x3A not programmed properly. Check VMX & lock bits.\n"},
      // A second IOAPIC scope either repeats the request ID (14, 47) or gives
      // one the PCH does not hold (18); this row repeats it.
      {53, "second IOAPIC scope with ID 2",
       [](fault_platform& f) { f.add_scope(1, scope_spec{3, 2, 0xF0, {{31, 0}}}); }, {14, 47},
       "Duplicate IO APIC id is found in DRHD device scope structures.\n"},
      // The HPET reporting checks (19, 20) see the second scope as well.
      {54, "second HPET scope",
       [](fault_platform& f) { f.add_scope(1, scope_spec{4, 1, 0, {{31, 1}}}); }, {19, 20},
       "There should be only 1 device scope of HPET type (0x04).\n"},
      {57, "default engine snoop control disabled",
       [](fault_platform& f) { f.set_mmio(DEFAULT_ENGINE + 0xFF0, 0xA0000000); }, {},
       "Snoop Control for default Zyrd engine is incorrectly disabled.\n"},
      {58, "graphics engine policy registers unlocked",
       [](fault_platform& f) { f.set_mmio(GFX_ENGINE + 0xFF0, 0x00000000); }, {},
       "Remapping Engine 0xFED90000 policy registers are not locked.\n"},
      {59, "ANDD without a namespace scope", [](fault_platform& f) { f.dmar.andd(1, "\\_SB.PCI0.I2C1"); }, {},
       "ANDD Structure does not have corresponding Device Scope.\n"},
      {60, "namespace scope without any ANDD",
       [](fault_platform& f) { f.add_scope(1, scope_spec{5, 1, 0, {{21, 1}}}); }, {61},  // 61: by definition
       "There should not be any device scope with Type 0x5 ACPI_NameSpace_Device if there is no ANDD structure.\n"},
      {61, "namespace scope 2 without its ANDD",
       [](fault_platform& f) {
         f.add_scope(1, scope_spec{5, 1, 0, {{21, 1}}});
         f.add_scope(1, scope_spec{5, 2, 0, {{21, 2}}});
         f.dmar.andd(1, "\\_SB.PCI0.I2C1");
       },
       {}, "Device Scope does not have corresponding ANND structure.\n"},
      {63, "graphics engine without PASID",
       [](fault_platform& f) { f.set_mmio(GFX_ENGINE + 0x10, 0x7E3FF0505Eull & ~(1ull << 28)); }, {},
       "ECAP (PASID) should be set on GFX Zyrd engine.\n"},
      {64, "graphics engine without page requests",
       [](fault_platform& f) { f.set_mmio(GFX_ENGINE + 0x10, 0x7E3FF0505Eull & ~(1ull << 29)); }, {},
       " ECAP[29] (PRS) = 0. Should be 1 on GFX Zyrd engine.\n"},
      {65, "graphics function without ATS", [](fault_platform& f) { f.config(0, 2, 0).at(0x200) = 0x0E; }, {},
       "PASID and(or) ATS Extended Capability Header(s) not located.\n"},
  };
  return r;
}

std::set<uint64_t> failing(const std::map<uint64_t, std::pair<uint64_t, std::string>>& all) {
  std::set<uint64_t> f;
  for (const auto& [id, o] : all)
    if (o.first == TEST_FAIL) f.insert(id);
  return f;
}

}  // namespace

TEST(DeviceFaultInjection, HealthyReferencePlatformFailsNothing) {
  fault_platform f = load("rav");
  std::string text;
  auto all = run_all(f, &text);
  EXPECT_EQ(failing(all), std::set<uint64_t>{});
  EXPECT_TRUE(contains(text, "Zyr Test Status: PASS")) << text;
  for (const auto& [id, fn] : device_platform::device_assertions()) EXPECT_EQ(all[id].first, TEST_PASS) << id;
}

TEST(DeviceFaultInjection, EachFaultFailsExactlyItsAssertions) {
  for (const fault_row& row : rows()) {
    fault_platform f = load("rav");
    row.inject(f);
    auto all = run_all(f);
    std::set<uint64_t> expected = row.failing;
    expected.insert(row.id);
    EXPECT_EQ(failing(all), expected) << "assertion " << row.id << " (" << row.fault << ")";
    EXPECT_EQ(all[row.id].first, TEST_FAIL) << row.id;
    EXPECT_EQ(all[row.id].second, row.message) << row.id << " (" << row.fault << ")";
  }
}

TEST(DeviceFaultInjection, EveryAssertionOfTheGroupHasARow) {
  std::set<uint64_t> covered;
  for (const fault_row& row : rows()) covered.insert(row.id);
  for (const auto& [id, fn] : device_platform::device_assertions()) EXPECT_TRUE(covered.count(id)) << id;
}
