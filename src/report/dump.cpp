#include "report/report.h"

void dump_header(byte_view) {}
void dump_bytes(const uint8_t*, uint64_t) {}
void dump_dmar(byte_view) {}
void dump_hpet(byte_view) {}
void dump_mcfg(byte_view) {}
void dump_madt(byte_view) {}
