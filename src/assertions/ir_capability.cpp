// Interrupt-remapping capability of the engines (ECAP bit 3) against the
// DMAR's interrupt-remapping flag and against each other.
#include "assertions/assertions.h"
#include "assertions/engines.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/print.h"

namespace {

// Reads the engine's ECAP and prints its debug line.
bool engine_has_ir(uint32_t id, uint64_t base) {
  uint64_t ecap = MmioRead64(base + ZYRD_ECAP_REG);
  debug_print(debug_mask, "DEBUG -- #%d: REMAP BAR = 0x%LX : ECAP = 0x%LX\n", id, base, ecap);
  return (ecap & ECAP_IR) != 0;
}

// Number of engines with interrupt remapping, reading every engine.
uint32_t engines_with_ir(uint32_t id, const test_info_t* tinfo) {
  uint32_t n = 0;
  for_each_engine(tinfo, [&](uint64_t base) {
    if (engine_has_ir(id, base)) n++;
    return true;
  });
  return n;
}

// The result, with the note that the engines are the DRHDs' when they are.
void set_engine_result(test_case_t* tc, uint64_t result, const char* failure = nullptr) {
  set_result(tc, result, failure);
  note_drhd_engines(tc);
}

}  // namespace

// Every engine's capability equals the flag; stops at the first that differs.
uint64_t assert_ir_matches_flag(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(8, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 8)) return 0;
  bool flag = dmar_ir_flag(tables);
  bool all_match = true;
  for_each_engine(tinfo, [&](uint64_t base) {
    all_match = engine_has_ir(8, base) == flag;
    return all_match;
  });
  if (all_match)
    set_engine_result(tc, TEST_PASS);
  else
    set_engine_result(tc, TEST_FAIL, "ECAP[3] of remapping engine(s) must match DMAR.Flags[0].\n");
  return 0;
}

// All engines have the capability, or none has.
uint64_t assert_ir_consistent(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(9, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 9)) return 0;
  uint32_t n = engines_with_ir(9, tinfo);
  if (n != 0 && n != engine_count(tinfo))
    set_engine_result(tc, TEST_FAIL, "ECAP[3] must be consistent across all remapping engines.\n");
  else
    set_engine_result(tc, TEST_PASS);
  return 0;
}

// With the flag set, every engine has the capability.
uint64_t assert_ir_all_when_flag(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(10, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 10)) return 0;
  uint32_t n = engines_with_ir(10, tinfo);
  if (dmar_ir_flag(tables) && n != engine_count(tinfo))
    set_engine_result(tc, TEST_FAIL, "ECAP[3] across all remapping engines not consistent with DMAR.Flags[0].\n");
  else
    set_engine_result(tc, TEST_PASS);
  return 0;
}
