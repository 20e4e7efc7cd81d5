// The test information record lives below discovery (facts/test_info.h).
#pragma once
#include "facts/test_info.h"
