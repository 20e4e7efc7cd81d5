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

// Most structures a DMAR may hold.
constexpr uint32_t DMAR_MAX_STRUCTURES = 101;

// Splits the DMAR copy into the five lists; stores the added-up length.
uint64_t parse_remap_structures(byte_view dmar, uint64_t* calc_len);
// Frees the table copies and empties every program list.
void free_test_data(acpi_tables_t* tables);
// True when a device-scope path entry of some RMRR gives rid.
bool rmrr_scope_has_rid(uint16_t rid);
