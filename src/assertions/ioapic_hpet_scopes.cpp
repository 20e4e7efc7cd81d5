// IOxAPIC and HPET device-scope assertions: tests 53 and 54.
#include "assertions/assertions.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"

namespace {

// True when two IOAPIC scopes of the DRHD carry the same enumeration ID.
// The scopes themselves are compared, so a DRHD may list any number of
// IOAPICs.
bool has_duplicate_ioapic(byte_view drhd) {
  bool duplicate = false;
  for_each_scope(drhd, DRHD_FIXED_SIZE, [&](const device_scope_entry_t& a) {
    if (a.Type() != SCOPE_IOAPIC) return true;
    for_each_scope(drhd, DRHD_FIXED_SIZE, [&](const device_scope_entry_t& b) {
      if (b.index != a.index && b.Type() == SCOPE_IOAPIC && b.Enumeration_ID() == a.Enumeration_ID())
        duplicate = true;
      return !duplicate;
    });
    return !duplicate;
  });
  return duplicate;
}

}  // namespace

uint64_t assert_ioapic_ids_unique(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(53, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 53)) return 0;
  for (remap_node_t* drhd : each<remap_node_t>(drhd_list)) {
    for_each_scope(drhd->view(), DRHD_FIXED_SIZE, [](const device_scope_entry_t& scope) {
      if (scope.Type() == SCOPE_IOAPIC)
        debug_print(debug_mask, "DEBUG -- #%d: IO APIC DS: Enum ID = %d.\n", 53, scope.Enumeration_ID());
      return true;
    });
    if (has_duplicate_ioapic(drhd->view())) {
      set_result(tc, TEST_FAIL, "Duplicate IO APIC id is found in DRHD device scope structures.\n");
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_hpet_scope_reqid(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(54, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 54, TEST_MISSING)) return 0;
  // hpet_count 0 means no PCH request ID was read: there is nothing to
  // compare the scopes' request IDs with.
  // Without the chipset's view the PCH's request IDs are not known: only
  // the number of HPET scopes is checked.
  bool chipset = later_sources_known(54);
  uint32_t count = !chipset ? 0 : tinfo->hpet_count < PCH_HPET_REQIDS ? tinfo->hpet_count : PCH_HPET_REQIDS;
  for (uint32_t i = 0; i + 1 < count; i++) {
    debug_print(debug_mask, "DEBUG -- #%d: HPET pch_hpet_reqid[%d] = 0x%X : pch_hpet_reqid[%d] = 0x%X\n", 54, i,
                tinfo->pch_hpet_reqid[i], i + 1, tinfo->pch_hpet_reqid[i + 1]);
    if (tinfo->pch_hpet_reqid[i] != tinfo->pch_hpet_reqid[i + 1]) {
      set_result(tc, TEST_FAIL, "All Request IDs for HPET must be identical.\n");
      return 0;
    }
  }
  uint32_t hpet_scopes = 0;
  const char* failure = nullptr;
  for_each_drhd_scope_of_type(SCOPE_HPET, [&](remap_node_t*, const device_scope_entry_t& scope) {
    if (++hpet_scopes > 1) {
      failure = "There should be only 1 device scope of HPET type (0x04).\n";
      return false;
    }
    debug_print(debug_mask, "DEBUG -- #%d: HPET DS Count = %d.\n", 54, hpet_scopes);
    for_each_path_entry(scope, [&](int32_t, uint8_t, uint8_t, uint16_t rid) {
      debug_print(debug_mask, "DEBUG -- #%d: HPET DS ReqID = 0x%X.\n", 54, rid);
      if (count > 0 && rid != tinfo->pch_hpet_reqid[0])
        failure = "HPET Device Scope request ID must match PCH HPET request ID\n";
      return !failure;
    });
    return !failure;
  });
  if (failure) {
    set_result(tc, TEST_FAIL, failure);
    return 0;
  }
  if (!chipset && recorded_unknown_later(tc)) return 0;
  set_result(tc, TEST_PASS);
  return 0;
}
