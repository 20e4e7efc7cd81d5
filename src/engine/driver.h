// The test driver and the per-family platform setup routines.
#pragma once
#include <stdint.h>

#include "discovery/acpi.h"
#include "engine/test_info.h"
#include "facts/profiles.h"

// any_processor (-a): a processor without a setup routine does not end the
// run; the chipset's view is then unknown. os_checks (-x): the checks of
// what an operating system checks at boot (from 101) run on a family too;
// they always run where the general rules judge.
uint64_t run_assertions(acpi_tables_t* tables, test_info_t* tinfo, bool any_processor = false,
                        bool os_checks = false);

// The setup routine: reads the chipset's view that the profile's row
// describes into tinfo; 1 when MCHBAR is not enabled.
uint64_t run_chipset_setup(const chipset_profile_t& profile, test_info_t* tinfo);
// The seven families' rows, by the names the debug lines give.
uint64_t testsetup_qen(test_info_t* tinfo);
uint64_t testsetup_rav(test_info_t* tinfo);
uint64_t testsetup_mof(test_info_t* tinfo);
uint64_t testsetup_jix(test_info_t* tinfo);
uint64_t testsetup_yod(test_info_t* tinfo);
uint64_t testsetup_gux(test_info_t* tinfo);
uint64_t testsetup_wez(test_info_t* tinfo);

// The driver's own assertions (tests 2, 6, 7, 16, 38, 45 and 62), same
// signature as every assertion.
uint64_t assert_dmar_checksum(acpi_tables_t* tables, test_info_t* tinfo);        // 2
uint64_t assert_structure_types(acpi_tables_t* tables, test_info_t* tinfo);      // 6
uint64_t assert_has_drhd(acpi_tables_t* tables, test_info_t* tinfo);             // 7
uint64_t assert_has_include_pci_all(acpi_tables_t* tables, test_info_t* tinfo);  // 16
uint64_t assert_rmrr_has_scope(acpi_tables_t* tables, test_info_t* tinfo);       // 38
uint64_t assert_placeholder_45(acpi_tables_t* tables, test_info_t* tinfo);       // 45
uint64_t assert_placeholder_62(acpi_tables_t* tables, test_info_t* tinfo);       // 62
