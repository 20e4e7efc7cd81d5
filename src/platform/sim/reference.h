// Generator of the seven healthy reference platforms kept in platforms/.
// The directories in the repository are this generator's output (written by
// `iovet-sim --generate FAMILY --save DIR`); a test checks that they agree.
#pragma once
#include <string>

#include "platform/sim/platform_dir.h"

namespace sim {

// Builds the healthy platform of one family; false for an unknown family.
bool make_reference_platform(const std::string& family, platform_description& p);

}  // namespace sim
