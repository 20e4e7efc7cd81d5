// Field layouts of the table dumps: each line of a dump is a fixed label
// column followed by the value of one field, described here once as data.
#pragma once
#include <stdint.h>

#include "discovery/dmar.h"
#include "discovery/pci_inventory.h"

enum class field_format : uint8_t {
  hex,      // 0x and two digits per byte of width (1, 2, 4 or 8 bytes)
  chars,    // the bytes as characters
  bytes,    // hex dump of width bytes
  heading,  // the label alone on its line, no field read
};

struct dump_field_t {
  const char16_t* label;  // label column, blanks included
  uint16_t offset;        // from the start of the table or structure
  uint8_t width;          // bytes
  field_format format;
};

// Common ACPI header of every table.
constexpr dump_field_t header_fields[] = {
    {u"Signature                    ", 0, 4, field_format::chars},
    {u"Length                       ", 4, 4, field_format::hex},
    {u"Revision                     ", 8, 1, field_format::hex},
    {u"Checksum                     ", 9, 1, field_format::hex},
    {u"OEMID                        ", 10, 6, field_format::chars},
    {u"OEMTableID                   ", 16, 8, field_format::chars},
    {u"OEMRevision                  ", 24, 4, field_format::hex},
    {u"CreatorID                    ", 28, 4, field_format::chars},
    {u"CreatorRevision              ", 32, 4, field_format::hex},
};

constexpr dump_field_t dmar_fields[] = {
    {u"HostAddressWidth             ", DMAR_OFF_HOST_ADDRESS_WIDTH, 1, field_format::hex},
    {u"Flags                        ", DMAR_OFF_FLAGS, 1, field_format::hex},
    {u"Reserved                     ", DMAR_OFF_RESERVED, 10, field_format::bytes},
};

// Type and Length open every remapping structure.
#define IOVET_REMAP_HEAD                                                   \
  {u" Type                        ", REMAP_OFF_TYPE, 2, field_format::hex}, \
  {u" Length                      ", REMAP_OFF_LENGTH, 2, field_format::hex}

constexpr dump_field_t drhd_fields[] = {
    IOVET_REMAP_HEAD,
    {u" Flags                       ", DRHD_OFF_FLAGS, 1, field_format::hex},
    {u" Reserved                    ", DRHD_OFF_RESERVED, 1, field_format::hex},
    {u" SegmentNumber               ", DRHD_OFF_SEGMENT, 2, field_format::hex},
    {u" RegisterBaseAddress         ", DRHD_OFF_BASE, 8, field_format::hex},
};

constexpr dump_field_t rmrr_fields[] = {
    IOVET_REMAP_HEAD,
    {u" Reserved                    ", RMRR_OFF_RESERVED, 2, field_format::hex},
    {u" SegmentNumber               ", RMRR_OFF_SEGMENT, 2, field_format::hex},
    {u" RMR Base Address            ", RMRR_OFF_BASE, 8, field_format::hex},
    {u" RMR Limit Address           ", RMRR_OFF_LIMIT, 8, field_format::hex},
};

constexpr dump_field_t atsr_fields[] = {
    IOVET_REMAP_HEAD,
    {u" Flags                       ", ATSR_OFF_FLAGS, 1, field_format::hex},
    {u" Reserved                    ", ATSR_OFF_RESERVED, 1, field_format::hex},
    {u" SegmentNumber               ", ATSR_OFF_SEGMENT, 2, field_format::hex},
};

constexpr dump_field_t rhsa_fields[] = {
    IOVET_REMAP_HEAD,
    {u" Reserved                    ", RHSA_OFF_RESERVED, 4, field_format::hex},
    {u" Register Base Address       ", RHSA_OFF_BASE, 8, field_format::hex},
    {u" Proximity Domain            ", RHSA_OFF_PROXIMITY_DOMAIN, 4, field_format::hex},
};

// The object name that follows is printed apart (it has no fixed width).
constexpr dump_field_t andd_fields[] = {
    IOVET_REMAP_HEAD,
    {u" Reserved                    ", ANDD_OFF_RESERVED, 3, field_format::bytes},
    {u" AcpiDevNum                  ", ANDD_OFF_DEVICE_NUMBER, 1, field_format::hex},
};

#undef IOVET_REMAP_HEAD

// Device scope entry; its path entries are printed apart.
constexpr dump_field_t scope_fields[] = {
    {u"  --Device Scope\n", 0, 0, field_format::heading},
    {u"  Type                       ", SCOPE_OFF_TYPE, 1, field_format::hex},
    {u"  Length                     ", SCOPE_OFF_LENGTH, 1, field_format::hex},
    {u"  Reserved                   ", SCOPE_OFF_RESERVED, 2, field_format::hex},
    {u"  Enumeration ID             ", SCOPE_OFF_ENUMERATION_ID, 1, field_format::hex},
    {u"  Start Bus Number           ", SCOPE_OFF_START_BUS, 1, field_format::hex},
};

constexpr dump_field_t hpet_fields[] = {
    {u"Event_Timer_Block_ID         ", 36, 4, field_format::hex},
    {u"BASE_ADDRESS Lower 32-bit:\n", 0, 0, field_format::heading},
    {u" Address_Space_ID            ", 40, 1, field_format::hex},
    {u" Register_Bit_Width          ", 41, 1, field_format::hex},
    {u" Register_Bit_Offset         ", 42, 1, field_format::hex},
    {u" Reserved                    ", 43, 1, field_format::hex},
    {u" 64-bit address              ", 44, 8, field_format::hex},
    {u"HPET Number                  ", 52, 1, field_format::hex},
    {u"Clock_tick                   ", 53, 2, field_format::hex},
    {u"Page Protection              ", 55, 1, field_format::hex},
};

constexpr dump_field_t mcfg_fields[] = {
    {u"Reserved                     ", 36, 8, field_format::bytes},
    {u"-- Configuration Space Base Address Allocation Structure(s)\n", 0, 0, field_format::heading},
};

constexpr dump_field_t mcfg_allocation_fields[] = {
    {u" Base Address                ", CSBAAS_OFF_BASE, 8, field_format::hex},
    {u" PCI Segment Group Number    ", CSBAAS_OFF_SEGMENT, 2, field_format::hex},
    {u" Start Bus Number            ", CSBAAS_OFF_START_BUS, 1, field_format::hex},
    {u" End Bus Number              ", CSBAAS_OFF_END_BUS, 1, field_format::hex},
    {u" Reserved                    ", CSBAAS_OFF_RESERVED, 4, field_format::hex},
};

constexpr uint32_t MADT_OFF_STRUCTURES = 44;
// The MADT dump stops after this many interrupt controller structures.
constexpr uint32_t MADT_DUMP_MAX_STRUCTURES = 51;

constexpr dump_field_t madt_fields[] = {
    {u"Local APIC Address           ", 36, 4, field_format::hex},
    {u"Flags                        ", 40, 4, field_format::hex},
    {u"-- Interrupt Controller Structure(s)\n", 0, 0, field_format::heading},
};

// Type and Length of an interrupt controller structure; its remaining
// Length - 2 bytes follow as a hex dump.
constexpr dump_field_t madt_structure_fields[] = {
    {u" Type                        ", 0, 1, field_format::hex},
    {u" Length                      ", 1, 1, field_format::hex},
};
constexpr const char16_t* madt_binary_label = u" Binary Data:                ";
