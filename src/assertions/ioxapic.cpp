// IOAPIC device scopes of the DRHDs against the MADT's I/O APICs and the
// IOxAPIC request ID programmed in the PCH.
#include "assertions/assertions.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/print.h"

namespace {

// True when the MADT lists an I/O APIC with this ID.
bool any_madt_ioapic_with_id(byte_view madt, uint8_t id) {
  bool found = false;
  for_each_madt_ioapic(madt, [&](uint8_t ioapic_id) {
    found = ioapic_id == id;
    return !found;
  });
  return found;
}

// The step of the assertions that read the MADT: without one, records the
// failure and returns true.
bool recorded_missing_madt(test_case_t* tc, const acpi_tables_t* tables) {
  if (tables->madt) return false;
  set_result(tc, TEST_FAIL, "MADT table not located, assertion can not be evaluated.\n");
  return true;
}

}  // namespace

// Every IOAPIC scope's I/O APIC is in the MADT.
uint64_t assert_scope_ioxapics_in_madt(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(17, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 17)) return 0;
  if (recorded_missing_madt(tc, tables)) return 0;
  byte_view madt = madt_view(*tables);
  bool all_found = for_each_drhd_scope_of_type(SCOPE_IOAPIC, [&](remap_node_t*, const device_scope_entry_t& s) {
    return any_madt_ioapic_with_id(madt, s.Enumeration_ID());
  });
  if (all_found)
    set_result(tc, TEST_PASS);
  else
    set_result(tc, TEST_FAIL, "Not all IOxAPIC enumerated in Device Scopes are reported in MADT Table.\n");
  return 0;
}

// Every path entry of every IOAPIC scope names the PCH's IOxAPIC.
uint64_t assert_ioxapic_request_id(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(18, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 18, TEST_MISSING)) return 0;
  bool same = for_each_drhd_scope_of_type(SCOPE_IOAPIC, [&](remap_node_t*, const device_scope_entry_t& s) {
    return for_each_path_entry(s, [&](int32_t, uint8_t, uint8_t, uint16_t rid) {
      if (rid == tinfo->ioxapic_reqid) return true;
      set_result_fmt(tc, TEST_FAIL, "Reported Request ID (0x%X) not equal to PCH programmed value (0x%X).\n", rid,
                     tinfo->ioxapic_reqid);
      return false;
    });
  });
  if (same) set_result(tc, TEST_PASS);
  return 0;
}

// With interrupt remapping on, every MADT I/O APIC carries the ID of every
// IOAPIC scope (so all describe one IOxAPIC).
uint64_t assert_madt_ioxapics_in_scopes(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(21, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 21)) return 0;
  if (recorded_missing_madt(tc, tables)) return 0;
  if (recorded_ir_flag_clear(tc, tables)) return 0;
  byte_view madt = madt_view(*tables);
  bool same;
  if (general_rules()) {
    // A platform may have several I/O APICs: the two sets of IDs agree.
    same = for_each_madt_ioapic(madt, [](uint8_t id) { return any_drhd_scope_with_id(SCOPE_IOAPIC, id); });
    same = same && for_each_drhd_scope_of_type(SCOPE_IOAPIC, [&](remap_node_t*, const device_scope_entry_t& s) {
             return any_madt_ioapic_with_id(madt, s.Enumeration_ID());
           });
  } else {
    same = for_each_drhd_scope_of_type(SCOPE_IOAPIC, [&](remap_node_t*, const device_scope_entry_t& s) {
      return for_each_madt_ioapic(madt, [&](uint8_t ioapic_id) {
        debug_print(debug_mask, "DEBUG -- #%d : IoApicId = 0x%X, Enumeration_ID = 0x%X\n", 21, ioapic_id,
                    s.Enumeration_ID());
        return ioapic_id == s.Enumeration_ID();
      });
    });
  }
  if (same)
    set_result(tc, TEST_PASS);
  else
    set_result(tc, TEST_FAIL, "Not all IOxAPIC reported in MADT Table are enumerated in Device Scope.\n");
  note_general_rule(tc, "every MADT I/O APIC's ID is in an IOAPIC scope, and every IOAPIC scope's ID in the MADT.");
  return 0;
}
