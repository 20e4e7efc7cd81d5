// Field layouts of the table dumps: each line of a dump is a fixed label
// column followed by the value of one field, described here once as data.
#pragma once
#include <stdint.h>

#include "discovery/acpi.h"
#include "discovery/dmar.h"

enum class field_format : uint8_t {
  hex,      // 0x and two digits per byte of width (1, 2, 4 or 8 bytes)
  chars,    // the bytes as characters
  bytes,    // hex dump of width bytes
  heading,  // the label alone on its line, no field read
};

struct dump_field_t {
  const char* label;  // label column, blanks included (ASCII, widened when printed)
  uint16_t offset;        // from the start of the table or structure
  uint8_t width;          // bytes
  field_format format;
};

// Common ACPI header of every table.
constexpr dump_field_t header_fields[] = {
    {"Signature                    ", 0, 4, field_format::chars},
    {"Length                       ", 4, 4, field_format::hex},
    {"Revision                     ", 8, 1, field_format::hex},
    {"Checksum                     ", 9, 1, field_format::hex},
    {"OEMID                        ", 10, 6, field_format::chars},
    {"OEMTableID                   ", 16, 8, field_format::chars},
    {"OEMRevision                  ", 24, 4, field_format::hex},
    {"CreatorID                    ", 28, 4, field_format::chars},
    {"CreatorRevision              ", 32, 4, field_format::hex},
};

constexpr dump_field_t dmar_fields[] = {
    {"HostAddressWidth             ", DMAR_OFF_HOST_ADDRESS_WIDTH, 1, field_format::hex},
    {"Flags                        ", DMAR_OFF_FLAGS, 1, field_format::hex},
    {"Reserved                     ", DMAR_OFF_RESERVED, 10, field_format::bytes},
};

// Type and Length open every remapping structure.
#define IOVET_REMAP_HEAD                                                   \
  {" Type                        ", REMAP_OFF_TYPE, 2, field_format::hex}, \
  {" Length                      ", REMAP_OFF_LENGTH, 2, field_format::hex}

constexpr dump_field_t drhd_fields[] = {
    IOVET_REMAP_HEAD,
    {" Flags                       ", DRHD_OFF_FLAGS, 1, field_format::hex},
    {" Reserved                    ", DRHD_OFF_RESERVED, 1, field_format::hex},
    {" SegmentNumber               ", DRHD_OFF_SEGMENT, 2, field_format::hex},
    {" RegisterBaseAddress         ", DRHD_OFF_BASE, 8, field_format::hex},
};
// Under the general rules byte 5 is the register set Size (2^Size pages).
constexpr dump_field_t drhd_general_fields[] = {
    IOVET_REMAP_HEAD,
    {" Flags                       ", DRHD_OFF_FLAGS, 1, field_format::hex},
    {" Size                        ", DRHD_OFF_RESERVED, 1, field_format::hex},
    {" SegmentNumber               ", DRHD_OFF_SEGMENT, 2, field_format::hex},
    {" RegisterBaseAddress         ", DRHD_OFF_BASE, 8, field_format::hex},
};

constexpr dump_field_t rmrr_fields[] = {
    IOVET_REMAP_HEAD,
    {" Reserved                    ", RMRR_OFF_RESERVED, 2, field_format::hex},
    {" SegmentNumber               ", RMRR_OFF_SEGMENT, 2, field_format::hex},
    {" RMR Base Address            ", RMRR_OFF_BASE, 8, field_format::hex},
    {" RMR Limit Address           ", RMRR_OFF_LIMIT, 8, field_format::hex},
};

constexpr dump_field_t atsr_fields[] = {
    IOVET_REMAP_HEAD,
    {" Flags                       ", ATSR_OFF_FLAGS, 1, field_format::hex},
    {" Reserved                    ", ATSR_OFF_RESERVED, 1, field_format::hex},
    {" SegmentNumber               ", ATSR_OFF_SEGMENT, 2, field_format::hex},
};

constexpr dump_field_t rhsa_fields[] = {
    IOVET_REMAP_HEAD,
    {" Reserved                    ", RHSA_OFF_RESERVED, 4, field_format::hex},
    {" Register Base Address       ", RHSA_OFF_BASE, 8, field_format::hex},
    {" Proximity Domain            ", RHSA_OFF_PROXIMITY_DOMAIN, 4, field_format::hex},
};

// The object name that follows is printed apart (it has no fixed width).
constexpr dump_field_t andd_fields[] = {
    IOVET_REMAP_HEAD,
    {" Reserved                    ", ANDD_OFF_RESERVED, 3, field_format::bytes},
    {" AcpiDevNum                  ", ANDD_OFF_DEVICE_NUMBER, 1, field_format::hex},
};

// A SATC has the ATSR's fields at the ATSR's offsets (Flags, Reserved,
// SegmentNumber), so it is printed with the ATSR's lines.
static_assert(SATC_OFF_FLAGS == ATSR_OFF_FLAGS && SATC_OFF_RESERVED == ATSR_OFF_RESERVED &&
                  SATC_OFF_SEGMENT == ATSR_OFF_SEGMENT && SATC_FIXED_SIZE == ATSR_FIXED_SIZE,
              "SATC and ATSR fixed parts differ");
constexpr const auto& satc_fields = atsr_fields;

constexpr dump_field_t sidp_fields[] = {
    IOVET_REMAP_HEAD,
    {" Reserved                    ", SIDP_OFF_RESERVED, 2, field_format::hex},
    {" SegmentNumber               ", SIDP_OFF_SEGMENT, 2, field_format::hex},
};

#undef IOVET_REMAP_HEAD

// Device scope entry; its path entries are printed apart. Bytes 2 and 3 are
// one Reserved field in DRHD, RMRR and ATSR scopes (scope_fields), and a
// Flags byte followed by a Reserved byte in SATC and SIDP scopes
// (flagged_scope_fields).
#define IOVET_SCOPE_HEAD                                                      \
  {"  --Device Scope\n", 0, 0, field_format::heading},                        \
  {"  Type                       ", SCOPE_OFF_TYPE, 1, field_format::hex},    \
  {"  Length                     ", SCOPE_OFF_LENGTH, 1, field_format::hex}
#define IOVET_SCOPE_TAIL                                                                \
  {"  Enumeration ID             ", SCOPE_OFF_ENUMERATION_ID, 1, field_format::hex}, \
  {"  Start Bus Number           ", SCOPE_OFF_START_BUS, 1, field_format::hex}

constexpr dump_field_t scope_fields[] = {
    IOVET_SCOPE_HEAD,
    {"  Reserved                   ", SCOPE_OFF_RESERVED, 2, field_format::hex},
    IOVET_SCOPE_TAIL,
};

constexpr dump_field_t flagged_scope_fields[] = {
    IOVET_SCOPE_HEAD,
    {"  Flags                      ", SCOPE_OFF_FLAGS, 1, field_format::hex},
    {"  Reserved                   ", SCOPE_OFF_FLAGS_RESERVED, 1, field_format::hex},
    IOVET_SCOPE_TAIL,
};

#undef IOVET_SCOPE_HEAD
#undef IOVET_SCOPE_TAIL

constexpr dump_field_t hpet_fields[] = {
    {"Event_Timer_Block_ID         ", 36, 4, field_format::hex},
    {"BASE_ADDRESS Lower 32-bit:\n", 0, 0, field_format::heading},
    {" Address_Space_ID            ", 40, 1, field_format::hex},
    {" Register_Bit_Width          ", 41, 1, field_format::hex},
    {" Register_Bit_Offset         ", 42, 1, field_format::hex},
    {" Reserved                    ", 43, 1, field_format::hex},
    {" 64-bit address              ", 44, 8, field_format::hex},
    {"HPET Number                  ", 52, 1, field_format::hex},
    {"Clock_tick                   ", 53, 2, field_format::hex},
    {"Page Protection              ", 55, 1, field_format::hex},
};

constexpr dump_field_t mcfg_fields[] = {
    {"Reserved                     ", 36, 8, field_format::bytes},
    {"-- Configuration Space Base Address Allocation Structure(s)\n", 0, 0, field_format::heading},
};

constexpr dump_field_t mcfg_allocation_fields[] = {
    {" Base Address                ", CSBAAS_OFF_BASE, 8, field_format::hex},
    {" PCI Segment Group Number    ", CSBAAS_OFF_SEGMENT, 2, field_format::hex},
    {" Start Bus Number            ", CSBAAS_OFF_START_BUS, 1, field_format::hex},
    {" End Bus Number              ", CSBAAS_OFF_END_BUS, 1, field_format::hex},
    {" Reserved                    ", CSBAAS_OFF_RESERVED, 4, field_format::hex},
};

// The MADT dump stops after this many interrupt controller structures.
constexpr uint32_t MADT_DUMP_MAX_STRUCTURES = 51;

constexpr dump_field_t madt_fields[] = {
    {"Local APIC Address           ", 36, 4, field_format::hex},
    {"Flags                        ", 40, 4, field_format::hex},
    {"-- Interrupt Controller Structure(s)\n", 0, 0, field_format::heading},
};

// Type and Length of an interrupt controller structure; its remaining
// Length - 2 bytes follow as a hex dump.
constexpr dump_field_t madt_structure_fields[] = {
    {" Type                        ", 0, 1, field_format::hex},
    {" Length                      ", 1, 1, field_format::hex},
};
constexpr const char* madt_binary_label = " Binary Data:                ";
