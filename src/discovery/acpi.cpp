#include "discovery/acpi.h"

uint64_t find_acpi_table(uint32_t, uint32_t*, uint8_t**) { return 1; }
uint64_t collect_test_data(acpi_tables_t*, test_info_t*) { return 0; }
