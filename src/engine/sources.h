// What each assertion reads: its sources, declared in one table that the
// driver and the host runner read. The run's known and unknown sources are
// kept below discovery (facts/known.h).
#pragma once
#include <stdint.h>

#include "facts/known.h"

// The sources of one assertion: what it needs before it runs, and what it
// needs only beyond its path decided by the tables alone (the assertion
// asks for those itself, at the step that reads them).
#pragma pack(push, 1)  // 9 bytes a row rather than 12
struct assertion_sources_t {
  uint8_t test;
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
