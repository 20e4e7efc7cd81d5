// Not evaluated yet: each assertion leaves its record as loaded.
#include "assertions/assertions.h"

uint64_t assert_ir_ecap(acpi_tables_t*, test_info_t*) { return 0; }
uint64_t assert_default_snoop(acpi_tables_t*, test_info_t*) { return 0; }
uint64_t assert_policy_locked(acpi_tables_t*, test_info_t*) { return 0; }
uint64_t assert_gfx_pasid(acpi_tables_t*, test_info_t*) { return 0; }
uint64_t assert_gfx_prs(acpi_tables_t*, test_info_t*) { return 0; }
uint64_t assert_gfx_ext_caps(acpi_tables_t*, test_info_t*) { return 0; }
