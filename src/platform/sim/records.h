// The run's test records as the host sees them. The core frees its records
// in the run's teardown; the host keeps a copy instead, taken each time the
// run writes to the console. Every way a run ends writes after its last
// record change (the report, or the error line that stops the run), so the
// copy holds the records as the teardown found them.
#pragma once
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/sim/sim.h"

namespace sim {

// Chains the copy onto m.console_echo (set any echo of your own first).
// `into` must outlive the run.
void keep_records(machine& m, std::vector<test_case_t>& into);

}  // namespace sim
