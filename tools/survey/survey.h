// The survey: every machine of a corpus of ACPI tables (one directory per
// machine, its tables as binary files, as ../shared/corpus holds them)
// checked on its own tables alone, and per assertion how many machines
// ended in each result, with a few names for every FAIL and WARNING.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace survey {

struct machine_result {
  std::string name;
  bool collected = false;  // false: the collection failed, no record was evaluated
  std::vector<std::pair<uint64_t, uint64_t>> results;  // record number, result code
  uint64_t unknown_reads = 0;                          // reads of a source the run did not know
  bool clean = true;                                   // no watchdog stop, no pool block left
};

// The machines of a corpus directory: its subdirectories holding DMAR.dat,
// by name.
std::vector<std::string> corpus_machines(const std::string& corpus);

// One machine on its own tables: the tables its directory holds are known
// (the four the checks read that it lacks were not recorded, never absent),
// everything else is unknown to a run on tables alone.
machine_result check_machine(const std::string& corpus, const std::string& name, const std::string& catalogue);

// The tables of the survey: Markdown (survey.md) and tab-separated
// (survey.tsv).
struct tables {
  std::string markdown;
  std::string tsv;
};
tables summarize(const std::vector<machine_result>& machines);

}  // namespace survey
