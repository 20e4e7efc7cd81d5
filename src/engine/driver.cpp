#include "engine/driver.h"

uint64_t run_assertions(acpi_tables_t*, test_info_t*) { return 1; }
