// Fuzz target: the DMAR dump alone over the input as a table copy (and the
// MADT, MCFG and HPET dumps over the same bytes, which cost little more).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_machine.h"
#include "report/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The copy lives in its own heap block of exactly the input's size, so a
  // read past its end is caught.
  std::vector<uint8_t> copy(data, data + size);
  byte_view table(copy.empty() ? nullptr : copy.data(), copy.size());
  sim::machine m;
  m.operation_limit = 20000000;
  sim::run_result r = sim::call(m, [&] {
    dump_madt(table);
    dump_mcfg(table);
    dump_hpet(table);
    dump_dmar(table);
  });
  std::string problems = fuzz::check_pool_and_files(m, r);
  if (r.exited && r.status != 1) problems += "the dump left through Exit with a status other than 1; ";
  if (!problems.empty()) fuzz::finding(problems, &r);
  return 0;
}
