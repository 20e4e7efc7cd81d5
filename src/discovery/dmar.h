// DMAR table layout and the bounded views of its pieces. All access goes
// through byte_view, so no read leaves the buffer that the structure, scope
// or path belongs to; the walks over them are in table_walks.h.
#pragma once
#include <stdint.h>

#include "platform/bytes.h"

// DMAR header.
constexpr uint32_t DMAR_HEADER_SIZE = 48;
constexpr uint32_t DMAR_OFF_LENGTH = 4;
constexpr uint32_t DMAR_OFF_HOST_ADDRESS_WIDTH = 36;
constexpr uint32_t DMAR_OFF_FLAGS = 37;
constexpr uint32_t DMAR_OFF_RESERVED = 38;  // 10 bytes
constexpr uint8_t DMAR_FLAG_INTR_REMAP = 0x01;
constexpr uint8_t DMAR_FLAG_X2APIC_OPT_OUT = 0x02;
constexpr uint8_t DMAR_FLAG_DMA_CTRL_PLATFORM_OPT_IN = 0x04;

// Remapping structure types.
enum : uint16_t {
  DMAR_TYPE_DRHD = 0,
  DMAR_TYPE_RMRR = 1,
  DMAR_TYPE_ATSR = 2,
  DMAR_TYPE_RHSA = 3,
  DMAR_TYPE_ANDD = 4,
  DMAR_TYPE_SATC = 5,  // SoC integrated address translation cache
  DMAR_TYPE_SIDP = 6,  // SoC integrated device property
};

// Common header of every remapping structure.
constexpr uint32_t REMAP_OFF_TYPE = 0;
constexpr uint32_t REMAP_OFF_LENGTH = 2;

// DRHD.
constexpr uint32_t DRHD_OFF_FLAGS = 4;
constexpr uint32_t DRHD_OFF_RESERVED = 5;
constexpr uint32_t DRHD_OFF_SIZE = 5;  // the current standard: the register set spans 2^Size pages
constexpr uint32_t DRHD_OFF_SEGMENT = 6;
constexpr uint32_t DRHD_OFF_BASE = 8;
constexpr uint32_t DRHD_FIXED_SIZE = 16;
constexpr uint8_t DRHD_INCLUDE_PCI_ALL = 0x01;
constexpr uint8_t DRHD_SIZE_RESERVED_BITS = 0xF0;  // byte 5 as Size: bits 3:0 defined
// RMRR.
constexpr uint32_t RMRR_OFF_RESERVED = 4;
constexpr uint32_t RMRR_OFF_SEGMENT = 6;
constexpr uint32_t RMRR_OFF_BASE = 8;
constexpr uint32_t RMRR_OFF_LIMIT = 16;
constexpr uint32_t RMRR_FIXED_SIZE = 24;
// ATSR.
constexpr uint32_t ATSR_OFF_FLAGS = 4;
constexpr uint32_t ATSR_OFF_RESERVED = 5;
constexpr uint32_t ATSR_OFF_SEGMENT = 6;
constexpr uint32_t ATSR_FIXED_SIZE = 8;
// RHSA.
constexpr uint32_t RHSA_OFF_RESERVED = 4;
constexpr uint32_t RHSA_OFF_BASE = 8;
constexpr uint32_t RHSA_OFF_PROXIMITY_DOMAIN = 16;
constexpr uint32_t RHSA_SIZE = 20;
// ANDD.
constexpr uint32_t ANDD_OFF_RESERVED = 4;  // 3 bytes
constexpr uint32_t ANDD_OFF_DEVICE_NUMBER = 7;
constexpr uint32_t ANDD_OFF_OBJECT_NAME = 8;
// SATC.
constexpr uint32_t SATC_OFF_FLAGS = 4;
constexpr uint32_t SATC_OFF_RESERVED = 5;
constexpr uint32_t SATC_OFF_SEGMENT = 6;
constexpr uint32_t SATC_FIXED_SIZE = 8;
constexpr uint8_t SATC_ATC_REQUIRED = 0x01;
// SIDP.
constexpr uint32_t SIDP_OFF_RESERVED = 4;  // 2 bytes
constexpr uint32_t SIDP_OFF_SEGMENT = 6;
constexpr uint32_t SIDP_FIXED_SIZE = 8;

// Device scope entry (device_scope_entry_t).
constexpr uint32_t SCOPE_OFF_TYPE = 0;
constexpr uint32_t SCOPE_OFF_LENGTH = 1;
constexpr uint32_t SCOPE_OFF_RESERVED = 2;  // 2 bytes in DRHD, RMRR and ATSR scopes
// In SATC and SIDP scopes byte 2 is a Flags byte and byte 3 stays reserved.
constexpr uint32_t SCOPE_OFF_FLAGS = 2;
constexpr uint32_t SCOPE_OFF_FLAGS_RESERVED = 3;
constexpr uint32_t SCOPE_OFF_ENUMERATION_ID = 4;
constexpr uint32_t SCOPE_OFF_START_BUS = 5;
constexpr uint32_t SCOPE_OFF_PATH = 6;
constexpr uint32_t SCOPE_STEP = 8;
enum : uint8_t {
  SCOPE_PCI_ENDPOINT = 1,
  SCOPE_PCI_SUBHIERARCHY = 2,
  SCOPE_IOAPIC = 3,
  SCOPE_HPET = 4,
  SCOPE_ACPI_NAMESPACE = 5
};

// Bits 39:12 of a register base address.
constexpr uint64_t ZYRD_BARONLY_MASK = 0xFFFFFFF000ULL;

// Request ID: bus in 15:8, device in 7:3, function in 2:0.
constexpr uint16_t request_id(uint8_t bus, uint8_t device, uint8_t function) {
  return (uint16_t)((bus << 8) | ((device & 0x1F) << 3) | (function & 0x7));
}

// A set of request IDs, one bit per possible ID, so that it holds every
// entry however many the scopes name.
struct request_id_set {
  uint8_t bits[65536 / 8];
  void clear() {
    for (uint8_t& b : bits) b = 0;
  }
  // Adds the ID; false when the set held it already.
  bool add(uint16_t rid) {
    uint8_t bit = (uint8_t)(1u << (rid % 8));
    bool held = (bits[rid / 8] & bit) != 0;
    bits[rid / 8] |= bit;
    return !held;
  }
};

inline uint16_t remap_type(byte_view s) { return s.u16(REMAP_OFF_TYPE); }
inline uint16_t remap_length(byte_view s) { return s.u16(REMAP_OFF_LENGTH); }

// Size of the fixed part that precedes the device scopes of a structure
// type (DRHD 16, RMRR 24, ATSR, SATC and SIDP 8); 0 for types without
// scopes.
constexpr uint32_t scope_fixed_size(uint16_t type) {
  return type == DMAR_TYPE_DRHD ? DRHD_FIXED_SIZE
         : type == DMAR_TYPE_RMRR ? RMRR_FIXED_SIZE
         : type == DMAR_TYPE_ATSR ? ATSR_FIXED_SIZE
         : type == DMAR_TYPE_SATC ? SATC_FIXED_SIZE
         : type == DMAR_TYPE_SIDP ? SIDP_FIXED_SIZE
                                  : 0;
}

// Number of device scopes: (Length - fixed part) / 8, signed, truncated
// toward zero; 0 or less means none.
inline int32_t scope_count(byte_view s, uint32_t fixed) {
  return ((int32_t)remap_length(s) - (int32_t)fixed) / (int32_t)SCOPE_STEP;
}

// Under the general rules a device scope is well formed when its Length
// holds its 6-byte header and at least one 2-byte path entry, its path is
// whole entries, and it ends inside its structure (the structure's Length,
// and the bytes given).
constexpr uint32_t SCOPE_MIN_LENGTH = 8;
enum scope_form : uint8_t { SCOPE_WELL_FORMED, SCOPE_TOO_SHORT, SCOPE_ODD_PATH, SCOPE_PAST_STRUCTURE };
scope_form scope_form_at(byte_view structure, size_t offset);

// Reads of a scope viewed to its own Length that fell past it (none may:
// the fuzz run checks).
extern uint32_t scope_reads_outside;

// One device scope entry: its view runs from the scope's start to the end
// of the structure, so a path may be read as far as the structure goes, no
// further; under the general rules the assertions' walks give only well
// formed scopes, each viewed to its own Length.
struct device_scope_entry_t {
  byte_view bytes;
  int32_t index;
  bool own_length;  // viewed to its own Length (the general rules)
  // The byte at offset of the view; past it 0, counting the read when the
  // scope is viewed to its own Length.
  uint8_t at(size_t offset) const;
  uint8_t Type() const { return at(SCOPE_OFF_TYPE); }
  uint8_t Length() const { return at(SCOPE_OFF_LENGTH); }
  uint16_t Reserved() const { return (uint16_t)(at(SCOPE_OFF_RESERVED) | at(SCOPE_OFF_RESERVED + 1) << 8); }
  uint8_t Enumeration_ID() const { return at(SCOPE_OFF_ENUMERATION_ID); }
  uint8_t StartingBusNumber() const { return at(SCOPE_OFF_START_BUS); }
  // (Length - 6) / 2 path entries, signed; never negative here.
  int32_t path_count() const {
    int32_t n = ((int32_t)Length() - 6) / 2;
    return n > 0 ? n : 0;
  }
  // Path entries that lie inside the structure (a subset of path_count()).
  int32_t path_count_inside() const {
    int32_t n = path_count();
    int32_t inside = bytes.size >= SCOPE_OFF_PATH ? (int32_t)((bytes.size - SCOPE_OFF_PATH) / 2) : 0;
    return n < inside ? n : inside;
  }
  uint8_t path_device(int32_t j) const { return at(SCOPE_OFF_PATH + 2 * (size_t)j); }
  uint8_t path_function(int32_t j) const { return at(SCOPE_OFF_PATH + 2 * (size_t)j + 1); }
  uint16_t path_request_id(int32_t j) const {
    return request_id(StartingBusNumber(), path_device(j), path_function(j));
  }
};
