// Dumps, platform information and the results report.
#pragma once
#include <stdint.h>

#include "platform/bytes.h"

// ACPI table dumps.
void dump_header(byte_view table);
void dump_bytes(const uint8_t* bytes, uint64_t count);
void dump_dmar(byte_view dmar);
void dump_hpet(byte_view hpet);
void dump_mcfg(byte_view mcfg);
void dump_madt(byte_view madt);

// SMBIOS and the platform information sections.
uint64_t find_smbios_structure(uint8_t type, uint64_t instance, uint16_t handle, uint8_t match_handle);
// Copies count bytes at address when all of them lie inside the SMBIOS
// structure table; reads nothing and returns false otherwise.
bool read_smbios_bytes(uint64_t address, uint8_t* out, uint32_t count);
bool get_smbios_string(uint64_t structure, uint8_t number, char16_t* out);  // out: 512 characters
void display_bios_info();
void display_fw_ver_info();
void display_platform_info();

// Results report.
void display_test_report(uint8_t verbose);
void display_test_list();
