// Fuzz target: a whole run of the image entry on a machine whose ACPI
// tables, SMBIOS, memory map, catalogue file, configuration spaces,
// registers and processor come from the input, and which may not know some
// of its sources (a partial recording, a run on tables alone).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "discovery/dmar.h"
#include "fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::description d = fuzz::decode(data, size);
  sim::machine m;
  fuzz::install(d, m);
  fuzz::p2sb_state before = fuzz::p2sb_before(m);
  scope_reads_outside = 0;
  sim::run_result r = sim::run(m, fuzz::run_args(d));

  std::string problems = fuzz::check_pool_and_files(m, r);
  problems += fuzz::check_platform_writes(m, before);
  problems += fuzz::check_unknown_sources(m);
  if (scope_reads_outside) problems += "read a device scope past its own Length; ";
  if (!r.watchdog) problems += fuzz::check_lists_empty();
  if (r.exited && r.status != 1) problems += "left through Exit with a status other than 1; ";
  if (!r.exited && !r.watchdog && r.status != 0) problems += "the image returned a status other than 0; ";
  if (!problems.empty()) fuzz::finding(problems, &r);
  // IOVET_FUZZ_SHOW=1: print each run's console, to see how far seeds get.
  if (getenv("IOVET_FUZZ_SHOW")) fprintf(stderr, "%s\n", r.text.c_str());
  return 0;
}
