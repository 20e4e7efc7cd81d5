// The results report: the verbose sections and listing, the coloured
// status line, the counts, and the lists of errors and warnings.
#include "catalogue/catalogue.h"
#include "facts/known.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "report/report.h"

namespace {

enum : uint64_t { ATTR_WHITE = 15, ATTR_LIGHT_GRAY = 7, ATTR_RED = 4, ATTR_GREEN = 2, ATTR_YELLOW = 14 };
constexpr uint64_t RESULT_CODES = 5;

const char* result_name(uint64_t result) { return result < RESULT_CODES ? test_result_names[result] : ""; }

// A record left with Missing Data because a source it needs is unknown.
bool unevaluated(const test_case_t& tc) { return tc.result == TEST_MISSING && not_evaluated(tc.id); }

// A list of the summary: its heading, then each selected record's number
// and description (or result name) and its message.
template <class F>
void print_records(const char* heading, F selected, bool by_result_name = false) {
  Print(heading);
  for (test_case_node_t* n : each<test_case_node_t>(test_case_list)) {
    if (!selected(n->tc)) continue;
    if (by_result_name)
      Print("%02d) %s\n", n->tc.id, result_name(n->tc.result));
    else
      Print("%02d) %s\n", n->tc.id, n->tc.description);
    Print("-- %s\n", n->tc.message);
  }
}

}  // namespace

void display_test_list() {
  // Where the checks beyond the families' own run, the listing says where
  // every assertion is explained.
  for (test_case_node_t* n : each<test_case_node_t>(test_case_list))
    if (n->tc.id >= FIRST_OS_CHECK) {
      Print("Each assertion is explained in docs/assertions.md.\n");
      break;
    }
  Print("---------------\n");
  Print("Test Assertions\n");
  Print("---------------\n");
  for (test_case_node_t* n : each<test_case_node_t>(test_case_list)) {
    const test_case_t& tc = n->tc;
    Print("%02d) %s\n", tc.id, tc.description);
    Print("Result : %s\n", result_name(tc.result));
    // A passing record shows its message only where it says how it was
    // judged (engines taken from the DRHDs).
    if (tc.result != TEST_PASS || noted(tc.id)) Print("       : %s\n", tc.message);
    Print("---------------\n");
    // The driver evaluated nothing after a test 1 that did not pass (unless
    // it could not be run and the run went on).
    if (tc.id == 1 && tc.result != TEST_PASS && !went_on_after_test_one()) break;
  }
}

void display_test_report(uint8_t verbose) {
  if (verbose == 1) {
    display_bios_info();
    display_fw_ver_info();
    display_platform_info();
    display_test_list();
  }

  bool any_fail = false, any_warning = false;
  uint64_t unevaluated_count = 0;
  for (test_case_node_t* n : each<test_case_node_t>(test_case_list)) {
    if (n->tc.result == TEST_FAIL) any_fail = true;
    if (n->tc.result == TEST_WARNING) any_warning = true;
    if (unevaluated(n->tc)) unevaluated_count++;
  }

  set_text_attribute(ATTR_WHITE);
  Print("--------------------\n");
  set_text_attribute(ATTR_LIGHT_GRAY);
  Print("Zyr Test Status: ");
  // An assertion without its record checked nothing: no PASS rests on it.
  bool status_fail = any_fail || test_record_missing;
  set_text_attribute(status_fail ? ATTR_RED : ATTR_GREEN);
  // A run that could not evaluate every record says how many it left.
  if (unevaluated_count == 0) {
    Print("%s\n", status_fail ? "FAIL" : "PASS");
  } else {
    Print("%s", status_fail ? "FAIL" : "PASS");
    set_text_attribute(ATTR_YELLOW);
    Print(" (%d not evaluated)\n", unevaluated_count);
  }
  set_text_attribute(ATTR_WHITE);
  Print("--------------------\n");
  set_text_attribute(ATTR_LIGHT_GRAY);

  uint64_t counts[RESULT_CODES] = {0, 0, 0, 0, 0};
  for (test_case_node_t* n : each<test_case_node_t>(test_case_list))
    if (n->tc.result < RESULT_CODES) counts[n->tc.result]++;
  uint64_t total = counts[TEST_PASS] + counts[TEST_FAIL] + counts[TEST_WARNING] + counts[TEST_NA] + counts[TEST_MISSING];

  Print("--------------------\n");
  Print("Pass    | %02d\n", counts[TEST_PASS]);
  Print("Fail    | %02d\n", counts[TEST_FAIL]);
  Print("Warn    | %02d\n", counts[TEST_WARNING]);
  Print("NA      | %02d\n", counts[TEST_NA]);
  Print("Missing | %02d\n", counts[TEST_MISSING]);
  Print("Total | %02d\n", total);
  Print("--------------------\n");

  if (any_fail) print_records("Errors:\n", [](const test_case_t& tc) { return tc.result == TEST_FAIL; });
  // Warnings are listed by the result name, not the description.
  if (any_warning)
    print_records("Warnings:\n", [](const test_case_t& tc) { return tc.result == TEST_WARNING; }, true);
  if (unevaluated_count) print_records("Not evaluated:\n", unevaluated);
}
