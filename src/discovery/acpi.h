// The program's own copies of the ACPI tables it works on.
#pragma once
#include <stdint.h>

#include "platform/bytes.h"

struct test_info_t;

struct acpi_tables_t {
  uint32_t dmar_len;
  uint32_t mcfg_len;
  uint32_t madt_len;
  uint32_t hpet_len;
  uint8_t* dmar;
  uint8_t* mcfg;
  uint8_t* madt;
  uint8_t* hpet;
};

constexpr uint32_t ACPI_SIG_DMAR = 0x52414D44;  // "DMAR"
constexpr uint32_t ACPI_SIG_MCFG = 0x4746434D;  // "MCFG"
constexpr uint32_t ACPI_SIG_APIC = 0x43495041;  // "APIC" (MADT)
constexpr uint32_t ACPI_SIG_HPET = 0x54455048;  // "HPET"
constexpr uint32_t ACPI_HEADER_SIZE = 36;

// Bounded views of the copies; empty when the table is absent.
inline byte_view dmar_view(const acpi_tables_t& t) { return byte_view(t.dmar, t.dmar_len); }
inline byte_view mcfg_view(const acpi_tables_t& t) { return byte_view(t.mcfg, t.mcfg_len); }
inline byte_view madt_view(const acpi_tables_t& t) { return byte_view(t.madt, t.madt_len); }
inline byte_view hpet_view(const acpi_tables_t& t) { return byte_view(t.hpet, t.hpet_len); }

// Finds the table by signature through the RSDP and RSDT and copies it into
// pool memory. 0 when found and copied; 1 when the RSDT does not list it (or
// the arguments are unusable); ACPI_TABLE_NOT_COPIED when it is listed but
// its Length is above the 16 MiB cap or the pool cannot hold it (the error
// line is printed). Nothing is stored unless it returns 0.
constexpr uint64_t ACPI_TABLE_NOT_COPIED = 2;
uint64_t find_acpi_table(uint32_t signature, uint32_t* length, uint8_t** table);

// Copies DMAR, MCFG, MADT and HPET, walks the DMAR into the structure lists,
// builds the PCI inventory and loads the catalogue. 0 when all succeeded.
uint64_t collect_test_data(acpi_tables_t* tables, test_info_t* tinfo);
