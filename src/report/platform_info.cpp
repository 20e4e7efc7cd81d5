#include "report/report.h"

uint64_t find_smbios_structure(uint8_t, uint64_t, uint16_t, uint8_t) { return 0; }
bool get_smbios_string(uint64_t, uint8_t, char16_t* out) {
  out[0] = 0;
  return false;
}
void display_bios_info() {}
void display_fw_ver_info() {}
void display_platform_info() {}
