// What each assertion reads: its sources, declared in one table that the
// driver and the host runner read. The run's known and unknown sources are
// kept below discovery (facts/known.h).
#pragma once
#include <stdint.h>

#include "assertions/assertions.h"
#include "discovery/acpi.h"
#include "engine/test_info.h"
#include "facts/known.h"

// What the driver does with an assertion's return value.
enum stop_rule : uint8_t {
  GO_ON,            // the assertion's return value is not examined
  STOP_UNLESS_PASS, // stop (and report) unless the record passed
  STOP_ON_ERROR,    // a non-zero return ends the run without a report
};

// One assertion as the driver runs it, and its sources: what it needs before
// it runs, and what it needs only beyond its path decided by the tables
// alone (the assertion asks for those itself, at the step that reads them).
#pragma pack(push, 1)  // 18 bytes a row rather than 24
struct assertion_sources_t {
  constexpr assertion_sources_t(uint32_t t, assertion_fn f, stop_rule r, source_set n, source_set l)
      : run(f), test((uint8_t)t), rule(r), needs(n), later(l) {}
  assertion_fn run;
  uint8_t test;
  stop_rule rule;
  source_set needs;
  source_set later;
};
#pragma pack(pop)

// Every assertion the driver runs, the inline ones included, in its order.
extern const assertion_sources_t assertion_sources[];
extern const uint32_t assertion_source_count;
const assertion_sources_t* sources_of(uint64_t test);

// With a source the assertion needs beyond its table-decided path unknown,
// records Missing Data as recorded_unknown_sources does.
bool recorded_unknown_later(test_case_t* tc);
// True when every source the test needs beyond that path is known.
bool later_sources_known(uint64_t test);
