// Not evaluated yet: each assertion leaves its record as loaded.
#include "assertions/assertions.h"

uint64_t assert_memory_bars(acpi_tables_t*, test_info_t*) { return 0; }
