// Per-type lists of remapping structures, each node owning its own copy.
#pragma once
#include <stdint.h>

#include "discovery/acpi.h"
#include "discovery/dmar.h"
#include "platform/list.h"

struct remap_node_t {
  list_entry link;
  uint8_t* remap;   // the node's own copy of the structure, Length bytes
  uint32_t length;  // size of the copy (the structure's Length)
  byte_view view() const { return byte_view(remap, length); }
  // Fields of the copy by the DMAR's names, each for the types that have it.
  uint8_t Flags() const { return view().u8(DRHD_OFF_FLAGS); }  // DRHD, ATSR, SATC
  // SegmentNumber lies at DRHD_OFF_SEGMENT, RMRR_OFF_SEGMENT,
  // ATSR_OFF_SEGMENT, SATC_OFF_SEGMENT or SIDP_OFF_SEGMENT, by the
  // structure's type.
  uint16_t SegmentNumber(uint32_t at = DRHD_OFF_SEGMENT) const { return view().u16(at); }
  uint64_t RegisterBaseAddress() const { return view().u64(DRHD_OFF_BASE); }  // DRHD
  bool include_pci_all() const { return (Flags() & DRHD_INCLUDE_PCI_ALL) != 0; }
  // RegisterBaseAddress bits 39:12, as a DRHD is held against an engine.
  uint64_t register_base_bits() const { return RegisterBaseAddress() & ZYRD_BARONLY_MASK; }
};

struct rhsa_node_t {
  list_entry link;
  uint8_t rhsa[RHSA_SIZE];
  byte_view view() const { return byte_view(rhsa, RHSA_SIZE); }
};

extern list_entry drhd_list;
extern list_entry rmrr_list;
extern list_entry atsr_list;
extern list_entry rhsa_list;
extern list_entry andd_list;
extern list_entry satc_list;
extern list_entry sidp_list;

// Most structures a DMAR may hold.
constexpr uint32_t DMAR_MAX_STRUCTURES = 101;

// Splits the DMAR copy into the seven lists (types 0-6); a type above 6
// fails the walk. Stores the added-up length.
uint64_t parse_remap_structures(byte_view dmar, uint64_t* calc_len);
// Frees the table copies and empties every program list.
void free_test_data(acpi_tables_t* tables);
// True when a device-scope path entry of some RMRR gives rid.
bool rmrr_scope_has_rid(uint16_t rid);
