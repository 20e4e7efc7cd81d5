// Remapping-engine register assertions: tests 52, 57, 58, 63, 64 and 65.
#include "assertions/assertions.h"
#include "discovery/config_space.h"
#include "discovery/pci_inventory.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/platform.h"

namespace {

constexpr uint64_t ZYRD_POLICY_REG = 0xFF0;
constexpr uint32_t POLICY_SNOOP_DISABLED = 1u << 29;
constexpr uint32_t POLICY_LOCKED = 1u << 31;
constexpr uint16_t PCIE_EXT_CAP_ATS = 0x000F;
constexpr uint16_t PCIE_EXT_CAP_PASID = 0x001B;

}  // namespace

uint64_t assert_ir_ecap(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(52, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 52)) return 0;
  // With the flag clear the tables decide; with it set the engines (always
  // the DRHDs' here) are read.
  bool flag = dmar_ir_flag(tables);
  if (flag && recorded_unknown_later(tc)) return 0;
  const char* failure = nullptr;
  for (remap_node_t* drhd : each<remap_node_t>(drhd_list)) {
    if (!flag) break;
    uint64_t ecap = MmioRead64(drhd->RegisterBaseAddress() + ZYRD_ECAP_REG);
    debug_print(debug_mask, "DEBUG -- #%d: ECAP Reg = 0x%X\n", 52, ecap);
    if ((ecap & (ECAP_IR | ECAP_QI)) != (ECAP_IR | ECAP_QI)) {
      failure = "DMAR.Flags[0] is set. Extended Capability (ECAP) must also have Bits 3 and 1 set.\n";
      break;
    }
  }
  set_result(tc, failure ? TEST_FAIL : TEST_PASS, failure);
  if (flag) note_drhd_engines(tc);
  return 0;
}

uint64_t assert_default_snoop(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(57, true);
  if (!tc) return 1;
  // No default engine recorded (the setup stopped before the engines were
  // known, or a later profile read it disabled): there is no register to read.
  uint32_t count = platform_bar_count(tinfo);
  if (count == 0 || tinfo->bars[count - 1].type != BAR_TYPE_DEFAULT) {
    set_result(tc, TEST_MISSING);
    return 0;
  }
  uint64_t base = platform_bar_base(tinfo, count - 1);
  debug_print(debug_mask, "DEBUG -- #%d: Default Engine BAR = 0x%LX.\n", 57, base);
  uint32_t policy = MmioRead32(base + ZYRD_POLICY_REG);
  debug_print(debug_mask, "DEBUG -- #%d: offset 0xFF0 = 0x%X.\n", 57, policy);
  if (policy & POLICY_SNOOP_DISABLED)
    set_result(tc, TEST_FAIL, "Snoop Control for default Zyrd engine is incorrectly disabled.\n");
  else
    set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_policy_locked(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(58, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 58)) return 0;
  for (uint32_t i = 0; i < platform_bar_count(tinfo); i++) {
    uint64_t base = platform_bar_base(tinfo, i);
    debug_print(debug_mask, "DEBUG -- #%d: Engine BAR = 0x%LX.\n", 58, base);
    uint32_t policy = MmioRead32(base + ZYRD_POLICY_REG);
    debug_print(debug_mask, "DEBUG -- #%d: offset 0xFF0 = 0x%X.\n", 58, policy);
    if (!(policy & POLICY_LOCKED)) {
      set_result_fmt(tc, TEST_FAIL, "Remapping Engine 0x%LX policy registers are not locked.\n", base);
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}

namespace {

// Reads the ECAP of each graphics engine recorded in tinfo, with its debug
// line, and calls ok(ecap); stops at the first engine for which ok is false.
// True when every graphics engine was ok (also when there is none).
template <class F>
bool for_each_gfx_ecap(const test_info_t* tinfo, uint32_t test, F ok) {
  for (uint32_t i = 0; i < platform_bar_count(tinfo); i++) {
    if (tinfo->bars[i].type != BAR_TYPE_IGFX) continue;
    uint64_t base = platform_bar_base(tinfo, i);
    uint64_t ecap = MmioRead64(base + ZYRD_ECAP_REG);
    debug_print(debug_mask, "DEBUG -- #%d: GFX BAR = 0x%LX : ECAP = 0x%LX\n", test, base, ecap);
    if (!ok(ecap)) return false;
  }
  return true;
}

// The not-applicable step of the graphics-engine assertions: their flag, or
// a platform without graphics.
bool recorded_gfx_not_applicable(test_case_t* tc, const test_info_t* tinfo, uint32_t id) {
  if (recorded_not_applicable(tc, tinfo, id)) return true;
  if (tinfo->igfx_present) return false;
  tc->result = TEST_NA;
  return true;
}

}  // namespace

uint64_t assert_gfx_pasid(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(63, true);
  if (!tc) return 1;
  if (recorded_gfx_not_applicable(tc, tinfo, 63)) return 0;
  bool all = for_each_gfx_ecap(tinfo, 63, [&](uint64_t ecap) { return (ecap & tinfo->gfx_pasid_mask) != 0; });
  if (!all)
    set_result(tc, TEST_FAIL, "ECAP (PASID) should be set on GFX Zyrd engine.\n");
  else
    set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_gfx_prs(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(64, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 64)) return 0;
  uint8_t prs = 0;
  bool all = for_each_gfx_ecap(tinfo, 64, [&](uint64_t ecap) {
    prs = (uint8_t)((ecap >> 29) & 1);
    return prs == tinfo->gfx_prs;
  });
  if (!all)
    set_result_fmt(tc, TEST_FAIL, " ECAP[29] (PRS) = %d. Should be %d on GFX Zyrd engine.\n", prs, tinfo->gfx_prs);
  else
    set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_gfx_ext_caps(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(65, true);
  if (!tc) return 1;
  if (recorded_gfx_not_applicable(tc, tinfo, 65)) return 0;
  debug_print(debug_mask, "DEBUG -- #%d: pcie base using MCFG =  0x%016LX\n", 65, pcie_base);
  // Without a memory-mapped configuration window there is no extended
  // configuration space to read.
  if (pcie_base == 0) {
    set_result(tc, TEST_MISSING);
    return 0;
  }
  bool pasid = false, ats = false;
  walk_pcie_ext_capabilities(pcie_address(pcie_base, 0, 2, 0, 0), [&](uint32_t, uint32_t header) {
    uint16_t id = (uint16_t)(header & 0xFFFF);
    debug_print(debug_mask, "DEBUG -- #%d: capid = 0x%X :  v = 0x%X : nco = 0x%X\n", 65, id, (header >> 16) & 0xF,
                header >> 20);
    if (id == PCIE_EXT_CAP_PASID) pasid = true;
    if (id == PCIE_EXT_CAP_ATS) ats = true;
    return !(pasid && ats);
  });
  if (pasid && ats)
    set_result(tc, TEST_PASS);
  else
    set_result(tc, TEST_FAIL, "PASID and(or) ATS Extended Capability Header(s) not located.\n");
  return 0;
}
