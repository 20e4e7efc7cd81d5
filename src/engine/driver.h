// The test driver and the per-family platform setup routines.
#pragma once
#include <stdint.h>

#include "discovery/acpi.h"
#include "engine/test_info.h"

uint64_t run_assertions(acpi_tables_t* tables, test_info_t* tinfo);

uint64_t testsetup_qen(test_info_t* tinfo);
uint64_t testsetup_rav(test_info_t* tinfo);
uint64_t testsetup_mof(test_info_t* tinfo);
uint64_t testsetup_jix(test_info_t* tinfo);
uint64_t testsetup_yod(test_info_t* tinfo);
uint64_t testsetup_gux(test_info_t* tinfo);
uint64_t testsetup_wez(test_info_t* tinfo);
