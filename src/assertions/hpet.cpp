// HPET device scopes of the DRHDs against the ACPI HPET table and the HPET
// configuration programmed in the PCH.
#include "assertions/assertions.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/print.h"

namespace {

constexpr uint32_t HPET_OFF_NUMBER = 52;
// The HPET Number is the last field that these assertions read, so a table
// must reach past it.
constexpr uint32_t HPET_MIN_LENGTH = HPET_OFF_NUMBER + 1;
// An HPET block has at most 32 timers.
constexpr uint32_t HPET_MAX_TIMERS = 32;
constexpr uint32_t HPTC_ADDRESS_ENABLE = 1u << 7;
constexpr uint64_t TMR_LEVEL_TRIGGERED = 0x2;

const char* const no_hpet_scope = "No HPET Device Scopes in DMAR DRHD structures.\n";

// Reads the HPET Number into *number; returns null, or why it cannot be read
// (the table is absent or too short to hold it), the caller's failure message.
const char* read_hpet_number(const acpi_tables_t* tables, uint8_t* number) {
  if (!tables->hpet) return "HPET table not located, assertion can not be evaluated.\n";
  byte_view hpet = hpet_view(*tables);
  if (acpi_table_extent(hpet) < HPET_MIN_LENGTH) return "HPET table size not valid.\n";
  *number = hpet.u8(HPET_OFF_NUMBER);
  return nullptr;
}

// True when some path entry of the scope names one of the request IDs the
// PCH has programmed.
bool any_path_entry_programmed(const device_scope_entry_t& s, const test_info_t* tinfo, uint32_t programmed) {
  bool found = false;
  for_each_path_entry(s, [&](int32_t, uint8_t, uint8_t, uint16_t rid) {
    for (uint32_t i = 0; i < programmed && !found; i++) found = tinfo->pch_hpet_reqid[i] == rid;
    return !found;
  });
  return found;
}

}  // namespace

// The HPET scopes carry the table's HPET Number, and the chipset's timers
// are set up for message-signalled (edge) delivery.
uint64_t assert_hpet_scopes(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(19, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 19, TEST_MISSING)) return 0;
  uint8_t number = 0;
  if (const char* unreadable = read_hpet_number(tables, &number)) {
    set_result(tc, TEST_FAIL, unreadable);
    return 0;
  }
  bool any_scope = false;
  bool all_equal = for_each_drhd_scope_of_type(SCOPE_HPET, [&](remap_node_t*, const device_scope_entry_t& s) {
    any_scope = true;
    debug_print(debug_mask, "DEBUG -- #%d : HPET Num = %0d, Enum ID = %0d\n", 19, number, s.Enumeration_ID());
    if (number == s.Enumeration_ID()) return true;
    set_result_fmt(tc, TEST_FAIL,
                   "HPET number (%0d) reported in ACPI HPET table is not equalto Enumeration ID (%0d) of HPET Device "
                   "Scope.\n",
                   number, s.Enumeration_ID());
    return false;
  });
  if (!all_equal) return 0;
  if (!any_scope) {
    set_result(tc, TEST_WARNING, no_hpet_scope);
    return 0;
  }
  // The tables have said all they can: the rest is the chipset's HPET
  // configuration and the timers.
  if (recorded_unknown_later(tc)) return 0;
  debug_print(debug_mask, "DEBUG -- #%d : hptc_reg = 0x%X, hpet_addr = 0x%X count = 0x%X\n", 19, tinfo->hptc_reg,
              tinfo->hpet_addr, tinfo->hpet_count);
  if ((tinfo->hptc_reg & HPTC_ADDRESS_ENABLE) == 0) {
    set_result(tc, TEST_FAIL,
               "HPTC-High Precision Timer Configuration Register: Address Enable Bit[7] = 0. Tool cannot verify HPET "
               "Timer Configuration.\n");
    return 0;
  }
  uint32_t timers = tinfo->hpet_count < HPET_MAX_TIMERS ? tinfo->hpet_count : HPET_MAX_TIMERS;
  for (uint32_t n = 0; n < timers; n++) {
    uint32_t address = tinfo->hpet_addr + 32 * n;
    uint64_t cnf_cap = MmioRead64(address);
    debug_print(debug_mask, "DEBUG -- #%d : TMRn_CNF_CAP = 0x%X\n", 19, cnf_cap);
    if (cnf_cap & TMR_LEVEL_TRIGGERED) {
      set_result(tc, TEST_FAIL, "HPET must be MSI capable.\n");
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}

// Every HPET scope names a request ID programmed in the PCH; a scope without
// a path is accepted once an earlier scope has matched.
uint64_t assert_hpet_request_id(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(20, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 20, TEST_MISSING)) return 0;
  uint32_t programmed = tinfo->hpet_count < PCH_HPET_REQIDS ? tinfo->hpet_count : PCH_HPET_REQIDS;
  bool any_scope = false, matched = false, needs_chipset = false;
  bool all_found = for_each_drhd_scope_of_type(SCOPE_HPET, [&](remap_node_t*, const device_scope_entry_t& s) {
    any_scope = true;
    if (s.path_count_inside() == 0) return matched;
    // A scope with a path is held against the PCH's request IDs.
    needs_chipset = !later_sources_known(20);
    if (needs_chipset) return false;
    bool found = any_path_entry_programmed(s, tinfo, programmed);
    if (found) matched = true;
    return found;
  });
  if (needs_chipset)
    recorded_unknown_later(tc);
  else if (!all_found)
    set_result(tc, TEST_FAIL, "PCH Request ID not found in HPET Device Scope(s).\n");
  else if (!any_scope)
    set_result(tc, TEST_WARNING, no_hpet_scope);
  else
    set_result(tc, TEST_PASS);
  return 0;
}

// With interrupt remapping on, some HPET scope reports the table's HPET.
uint64_t assert_hpet_reported(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(22, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 22)) return 0;
  if (recorded_ir_flag_clear(tc, tables)) return 0;
  uint8_t number = 0;
  if (const char* unreadable = read_hpet_number(tables, &number)) {
    set_result(tc, TEST_FAIL, unreadable);
    return 0;
  }
  if (any_drhd_scope_with_id(SCOPE_HPET, number))
    set_result(tc, TEST_PASS);
  else
    set_result_fmt(tc, TEST_FAIL,
                   "HPET number (%0d) reported in ACPI HPET table is not reported in Device Scope for corresponding "
                   "DRHD.\n",
                   number);
  return 0;
}
