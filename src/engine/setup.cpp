#include "engine/driver.h"

uint64_t testsetup_qen(test_info_t*) { return 0; }
uint64_t testsetup_rav(test_info_t*) { return 0; }
uint64_t testsetup_mof(test_info_t*) { return 0; }
uint64_t testsetup_jix(test_info_t*) { return 0; }
uint64_t testsetup_yod(test_info_t*) { return 0; }
uint64_t testsetup_gux(test_info_t*) { return 0; }
uint64_t testsetup_wez(test_info_t*) { return 0; }
