// One fault injected into the healthy platform per row: exactly the row's
// assertions fail, and the row's assertion with its own message. Where the
// checks overlap by design (8/9/10, 11/12/23, 3/15) the row names them all.
#include <functional>
#include <set>

#include "discovery/dmar.h"
#include "support/dmar_platform.h"
#include "support/harness.h"

using namespace dmar_platform;

namespace {

struct fault_row {
  uint64_t id;
  const char* fault;
  std::function<void(platform&)> inject;
  std::set<uint64_t> failing;
  std::string message;
};

void custom(platform& p, const std::function<void(sim::dmar_builder&)>& change) {
  p.dmar = p.healthy_dmar();
  p.custom_dmar = true;
  change(p.dmar);
}

const std::vector<fault_row>& rows() {
  static const std::vector<fault_row> r = {
      {1, "chipset reports DMA remapping disabled", [](platform& p) { p.tinfo.zyrd_supported = 0; }, {1},
       "This processor does not support Zyr-d, DMAR Table should not exist in ACPI space.\n"},
      {3, "engines recorded default first", [](platform& p) { std::swap(p.tinfo.bars[0], p.tinfo.bars[1]); }, {3},
       "DRHD BAR reported is not valid for this platform.\n"},
      {4, "last structure claims 8 bytes past the table",
       [](platform& p) {
         custom(p, [](sim::dmar_builder& d) {
           auto& s = d.structures.back();
           sim::put_le(s, 2, s.size() + 8, 2);
         });
       },
       {4}, "DMAR reported size does not match calculated: Reported: 0xA7 - Calculated 0xAF.\n"},
      {5, "DRHD reserved byte", [](platform& p) { custom(p, [](sim::dmar_builder& d) { d.structures[1][5] = 0x80; }); },
       {5}, "DRHD structure reserved field must be zero.\n"},
      {8, "interrupt-remapping flag clear", [](platform& p) { custom(p, [](sim::dmar_builder& d) { d.flags = 0; }); },
       {8}, "ECAP[3] of remapping engine(s) must match DMAR.Flags[0].\n"},
      {9, "default engine without interrupt remapping",
       [](platform& p) { p.set_ecap(DEFAULT_ENGINE, HEALTHY_ECAP & ~ECAP_IR); }, {8, 9, 10},
       "ECAP[3] must be consistent across all remapping engines.\n"},
      {10, "default engine without interrupt remapping",
       [](platform& p) { p.set_ecap(DEFAULT_ENGINE, HEALTHY_ECAP & ~ECAP_IR); }, {8, 9, 10},
       "ECAP[3] across all remapping engines not consistent with DMAR.Flags[0].\n"},
      {11, "MCFG segment 1 without a DRHD", [](platform& p) { p.mcfg[0].segment = 1; }, {11, 12, 23},
       "All PCI segments in platform are not reported in the DMAR table.\n"},
      {12, "RMRR of segment 1",
       [](platform& p) {
         custom(p, [](sim::dmar_builder& d) { sim::put_le(d.structures[2], RMRR_OFF_SEGMENT, 1, 2); });
       },
       {12}, "PCI segment reported in RMRR is not valid.\n"},
      {13, "MCFG starts at bus 1", [](platform& p) { p.mcfg[0].start_bus = 1; }, {13},
       "PCI device(s) reported in DRHD Device Scope Structure(s) is (are) not valid.\n"},
      {14, "namespace device scope on the HPET's request ID",
       [](platform& p) { p.default_scopes[2].path = {{31, 0}}; }, {14}, "All Request ID for DRHD must be unique.\n"},
      {15, "iGFX DRHD at an address no engine has",
       [](platform& p) {
         custom(p, [](sim::dmar_builder& d) { sim::put_le(d.structures[0], DRHD_OFF_BASE, 0xFED80000, 8); });
       },
       {3, 15}, "All Zyr-d Remapping engines are not reported via DRHDs in DMAR structure.\n"},
      {17, "MADT without I/O APIC", [](platform& p) { p.madt = {sim::madt_local_apic(0, 0)}; }, {17},
       "Not all IOxAPIC enumerated in Device Scopes are reported in MADT Table.\n"},
      {18, "PCH programmed with another IOxAPIC request ID", [](platform& p) { p.tinfo.ioxapic_reqid = 0xF0F7; }, {18},
       "Reported Request ID (0xF0F8) not equal to PCH programmed value (0xF0F7).\n"},
      {19, "timer 3 level-triggered", [](platform& p) { p.m.write64(HPET_TIMER0 + 3 * 32, 0x8002); }, {19},
       "HPET must be MSI capable.\n"},
      {20, "PCH HPET request IDs elsewhere",
       [](platform& p) {
         for (auto& r : p.tinfo.pch_hpet_reqid) r = 0x00F0;
       },
       {20}, "PCH Request ID not found in HPET Device Scope(s).\n"},
      {21, "second MADT I/O APIC not in a scope",
       [](platform& p) { p.madt.push_back(sim::madt_ioapic(8, 0xFEC01000, 120)); }, {21},
       "Not all IOxAPIC reported in MADT Table are enumerated in Device Scope.\n"},
      {22, "no HPET scope", [](platform& p) { p.default_scopes.erase(p.default_scopes.begin() + 1); }, {22},
       "HPET number (0) reported in ACPI HPET table is not reported in Device Scope for corresponding DRHD.\n"},
      {23, "INCLUDE_PCI_ALL on the first DRHD",
       [](platform& p) {
         custom(p, [](sim::dmar_builder& d) {
           d.structures[0][DRHD_OFF_FLAGS] = 1;
           d.structures[1][DRHD_OFF_FLAGS] = 0;
         });
       },
       {23}, "No DRHD with INCLUDE_PCI_ALL flag set or if set, is not last DRHD enumerated in DRHD.\n"},
      {24, "ATSR scope of type 6",
       [](platform& p) { custom(p, [](sim::dmar_builder& d) { d.atsr(0, 0, {{6, 0, 0, {{28, 0}}}}); }); }, {24},
       "ATSR contains invalid Device Scope Type.\n"},
      {25, "IOxAPIC programming interface 0x10", [](platform& p) { p.m.pci(IOAPIC_BUS, 31, 0).set8(0x09, 0x10); },
       {25}, "IOxAPIC PCI Device has invalid Base Class Code, Sub Class Code or Programming Interface value.\n"},
      {26, "IOxAPIC a PCI Express endpoint", [](platform& p) { p.m.pci(IOAPIC_BUS, 31, 0).set16(0x42, 0x0002); },
       {26}, "IOxAPIC Device (DID = 0xD57) is not a Root Complex Integrated Endpoint.\n"},
      {27, "iGFX with a bridge header", [](platform& p) { p.m.pci(0, 2, 0).set8(0x0E, 0x01); }, {27},
       "PCI Device (DID = 0x9A49) must have header value of zero.\n"},
  };
  return r;
}

std::set<uint64_t> failing(const std::map<uint64_t, outcome>& all) {
  std::set<uint64_t> f;
  for (const auto& [id, o] : all)
    if (o.result == TEST_FAIL) f.insert(id);
  return f;
}

}  // namespace

TEST(DmarFaultInjection, HealthyPlatformPassesEveryAssertion) {
  platform p;
  make_healthy(p);
  auto all = run_all(p);
  for (const auto& [id, o] : all) {
    EXPECT_EQ(o.status, 0u) << id;
    EXPECT_EQ(o.result, TEST_PASS) << "assertion " << id << ": " << o.message;
    EXPECT_EQ(o.console, "") << id;
  }
}

TEST(DmarFaultInjection, EachFaultFailsExactlyItsAssertions) {
  for (const fault_row& row : rows()) {
    platform p;
    make_healthy(p);
    row.inject(p);
    auto all = run_all(p);
    EXPECT_EQ(failing(all), row.failing) << "assertion " << row.id << " (" << row.fault << ")";
    EXPECT_EQ(all[row.id].result, TEST_FAIL) << row.id;
    EXPECT_EQ(all[row.id].message, row.message) << row.id << " (" << row.fault << ")";
  }
}

TEST(DmarFaultInjection, EveryAssertionOfTheFamilyHasARow) {
  std::set<uint64_t> covered;
  for (const fault_row& row : rows()) covered.insert(row.id);
  for (const auto& e : dmar_assertions) EXPECT_TRUE(covered.count(e.id)) << e.id;
}
