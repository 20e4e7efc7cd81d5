// ACPI namespace device assertions: tests 59, 60 and 61.
#include "assertions/assertions.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"

namespace {

uint8_t andd_device_number(const remap_node_t* andd) { return andd->view().u8(ANDD_OFF_DEVICE_NUMBER); }

// f(scope) for every ACPI namespace device scope of every DRHD, in order;
// f returns false to stop. Returns false when f stopped.
template <class F>
bool for_each_namespace_scope(F f) {
  return for_each_drhd_scope_of_type(SCOPE_ACPI_NAMESPACE,
                                     [&](remap_node_t*, const device_scope_entry_t& s) { return f(s); });
}

}  // namespace

uint64_t assert_andd_has_scope(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(59, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 59)) return 0;
  for (remap_node_t* andd : each<remap_node_t>(andd_list)) {
    uint8_t number = andd_device_number(andd);
    debug_print(debug_mask, "DEBUG -- #%d: acpi_num = 0x%X\n", 59, number);
    bool found = false;
    for_each_namespace_scope([&](const device_scope_entry_t& scope) {
      if (scope.Enumeration_ID() == number) {
        debug_print(debug_mask, "DEBUG -- #%d: ANDD.AcpiDevNum = 0x%X -- DS.Type = %d -- DS.EnumId = 0x%X \n", 59,
                    number, SCOPE_ACPI_NAMESPACE, scope.Enumeration_ID());
        found = true;
      }
      return true;
    });
    debug_print(debug_mask, "DEBUG -- #%d: Found = %d\n", 59, found ? 1 : 0);
    if (!found) {
      set_result(tc, TEST_FAIL, "ANDD Structure does not have corresponding Device Scope.\n");
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_namespace_needs_andd(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(60, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 60)) return 0;
  uint64_t scopes = 0;
  for_each_namespace_scope([&](const device_scope_entry_t&) {
    scopes++;
    return true;
  });
  uint64_t andds = list_count(andd_list);
  debug_print(debug_mask, "DEBUG -- #%d: DS ANDD Type count = %d, ANDD Count = %d\n", 60, scopes, andds);
  if (scopes > 0 && andds == 0)
    set_result(tc, TEST_FAIL,
               "There should not be any device scope with Type 0x5 ACPI_NameSpace_Device if there is no ANDD "
               "structure.\n");
  else
    set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_scope_has_andd(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(61, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 61)) return 0;
  bool all_matched = for_each_namespace_scope([&](const device_scope_entry_t& scope) {
    debug_print(debug_mask, "DEBUG -- #%d: DS Type == ANDD, DS-Enumeration_ID = 0x%X\n", 61, scope.Enumeration_ID());
    for (remap_node_t* andd : each<remap_node_t>(andd_list))
      if (andd_device_number(andd) == scope.Enumeration_ID()) return true;
    return false;
  });
  if (all_matched)
    set_result(tc, TEST_PASS);
  else
    set_result(tc, TEST_FAIL, "Device Scope does not have corresponding ANND structure.\n");
  return 0;
}
