#include "report/report.h"

void display_test_report(uint8_t) {}
void display_test_list() {}
