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
constexpr uint32_t ACPI_OFF_LENGTH = 4;  // u32 Length of the common header

// A table's Length clipped to its copy: where every walk over it ends.
inline uint64_t acpi_table_extent(byte_view table) {
  uint64_t len = table.u32(ACPI_OFF_LENGTH);
  return len < table.size ? len : table.size;
}

// MCFG: configuration space base address allocation structures (csbaas_t),
// 16 bytes each from offset 44.
constexpr uint32_t MCFG_OFF_ALLOCATIONS = 44;
constexpr uint32_t MCFG_ALLOCATION_SIZE = 16;
constexpr uint32_t CSBAAS_OFF_BASE = 0;
constexpr uint32_t CSBAAS_OFF_SEGMENT = 8;
constexpr uint32_t CSBAAS_OFF_START_BUS = 10;
constexpr uint32_t CSBAAS_OFF_END_BUS = 11;
constexpr uint32_t CSBAAS_OFF_RESERVED = 12;

// One MCFG allocation: a view of its 16 bytes, clipped to the table.
struct csbaas_t {
  byte_view bytes;
  uint32_t index;
  uint64_t base_address() const { return bytes.u64(CSBAAS_OFF_BASE); }
  uint16_t pci_segment() const { return bytes.u16(CSBAAS_OFF_SEGMENT); }
  uint8_t start_bus() const { return bytes.u8(CSBAAS_OFF_START_BUS); }
  uint8_t end_bus() const { return bytes.u8(CSBAAS_OFF_END_BUS); }
};

// MADT: interrupt controller structures from offset 44, each with its Type
// and Length in its first two bytes.
constexpr uint32_t MADT_OFF_STRUCTURES = 44;
constexpr uint32_t MADT_STRUCT_OFF_TYPE = 0;
constexpr uint32_t MADT_STRUCT_OFF_LENGTH = 1;
constexpr uint8_t MADT_TYPE_IOAPIC = 1;
constexpr uint32_t MADT_IOAPIC_OFF_ID = 2;

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

// The run has said that the MCFG is absent (cleared by the teardown).
extern bool mcfg_absence_told;

// Copies DMAR, MCFG, MADT and HPET, walks the DMAR into the structure lists,
// builds the PCI inventory and loads the catalogue. 0 when all succeeded.
uint64_t collect_test_data(acpi_tables_t* tables, test_info_t* tinfo);
