// Fuzz target: the catalogue loader alone, then the lookups and the results
// report over whatever it loaded, then the teardown.
#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue/catalogue.h"
#include "discovery/acpi.h"
#include "discovery/remap_lists.h"
#include "fuzz/fuzz_machine.h"
#include "report/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::machine m;
  m.operation_limit = 20000000;
  m.add_file(u"zyr-tests", std::string(reinterpret_cast<const char*>(data), size));
  uint64_t loaded = 1;
  sim::run_result r = sim::call(m, [&] {
    loaded = load_test_cases();
    for (uint64_t id : {0ULL, 1ULL, 7ULL, 65ULL, 999ULL})
      if (test_case_t* tc = find_test_case(id)) set_result(tc, TEST_FAIL, "fuzzed record");
    if (loaded == 0) display_test_report(1);
    acpi_tables_t none{};
    free_test_data(&none);
  });
  std::string problems = fuzz::check_pool_and_files(m, r);
  if (!r.watchdog) problems += fuzz::check_lists_empty();
  if (r.exited) problems += "the loader ended the application; ";
  if (!problems.empty()) fuzz::finding(problems, &r);
  return 0;
}
