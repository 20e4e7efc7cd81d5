// The results report: the verbose sections and listing, the coloured
// status line, the counts, and the lists of errors and warnings.
#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "report/report.h"

namespace {

enum : uint64_t { ATTR_WHITE = 15, ATTR_LIGHT_GRAY = 7, ATTR_RED = 4, ATTR_GREEN = 2 };
constexpr uint64_t RESULT_CODES = 5;

const char* result_name(uint64_t result) { return result < RESULT_CODES ? test_result_names[result] : ""; }

}  // namespace

void display_test_list() {
  Print("---------------\n");
  Print("Test Assertions\n");
  Print("---------------\n");
  for (test_case_node_t* n : each<test_case_node_t>(test_case_list)) {
    const test_case_t& tc = n->tc;
    Print("%02d) %s\n", tc.id, tc.description);
    Print("Result : %s\n", result_name(tc.result));
    if (tc.result != TEST_PASS) Print("       : %s\n", tc.message);
    Print("---------------\n");
    // The driver evaluated nothing after a test 1 that did not pass.
    if (tc.id == 1 && tc.result != TEST_PASS) break;
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
  for (test_case_node_t* n : each<test_case_node_t>(test_case_list)) {
    if (n->tc.result == TEST_FAIL) any_fail = true;
    if (n->tc.result == TEST_WARNING) any_warning = true;
  }

  set_text_attribute(ATTR_WHITE);
  Print("--------------------\n");
  set_text_attribute(ATTR_LIGHT_GRAY);
  Print("Zyr Test Status: ");
  // An assertion without its record checked nothing: no PASS rests on it.
  bool status_fail = any_fail || test_record_missing;
  set_text_attribute(status_fail ? ATTR_RED : ATTR_GREEN);
  Print("%s\n", status_fail ? "FAIL" : "PASS");
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

  if (any_fail) {
    Print("Errors:\n");
    for (test_case_node_t* n : each<test_case_node_t>(test_case_list)) {
      if (n->tc.result != TEST_FAIL) continue;
      Print("%02d) %s\n", n->tc.id, n->tc.description);
      Print("-- %s\n", n->tc.message);
    }
  }
  if (any_warning) {
    Print("Warnings:\n");
    for (test_case_node_t* n : each<test_case_node_t>(test_case_list)) {
      if (n->tc.result != TEST_WARNING) continue;
      Print("%02d) %s\n", n->tc.id, result_name(TEST_WARNING));
      Print("-- %s\n", n->tc.message);
    }
  }
}
