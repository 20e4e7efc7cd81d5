// The bounded walks over firmware data: the DMAR's remapping structures,
// their device scopes and path entries, the remapping-structure lists, the
// MCFG allocations and the MADT interrupt controller structures. Any code
// that walks one of these (assertions, dumps, the PCI inventory) takes the
// walk from here rather than writing its own loop over firmware bytes.
// Every walk stays inside the copy it is given and ends on its own: the
// DMAR walks by the structures' lengths and a step bound, the MCFG walk at
// the table's Length, the MADT walk also at a structure whose Length is 0.
#pragma once
#include <stdint.h>

#include "discovery/acpi.h"
#include "discovery/dmar.h"
#include "discovery/remap_lists.h"
#include "platform/list.h"

// ---------------------------------------------------------------------------
// DMAR: remapping structures, device scopes, path entries.

// The DMAR is read by the current standard's rules in this run (a
// processor without a chipset profile) rather than the seven families'.
// For the walks: the families' rule takes device scopes as consecutive
// 8-byte entries after the fixed part, the general rule by their Length, as
// the standard and operating systems do; for the dump, DRHD byte 5 is the
// Size field. Set when the run reads its processor, cleared by the teardown.
extern bool dmar_general_rules;

// Where a walk over a structure's device scopes stands, and the scope at
// it: to the structure's end, or under the general rules (well formed scopes
// only) to its own Length. The steps are out of line: every walk shares
// them, and a call site keeps only its loop.
struct scope_cursor {
  byte_view structure;
  size_t offset;
  int32_t index;
  int32_t count;  // the families' rule: the scopes the Length gives room for
  bool every;     // the general rules: malformed scopes too (not only well formed ones)
  bool at;        // at a scope of the structure
  device_scope_entry_t scope;
};
void first_scope(scope_cursor& c, const byte_view& structure, uint32_t fixed, bool every = false);
void next_scope(scope_cursor& c);

// Calls f(scope) for each device scope of a DRHD, RMRR, ATSR, SATC or SIDP;
// f returns false to stop. Returns false when f stopped the walk. By their
// Length, the scopes are taken while they start inside the structure's
// Length; a scope shorter than its own header ends the walk after it
// (nothing after it can be found), and only well formed scopes are given.
template <class F>
bool for_each_scope(byte_view structure, uint32_t fixed, F f) {
  scope_cursor c;
  for (first_scope(c, structure, fixed); c.at; next_scope(c))
    if (!f(c.scope)) return false;
  return true;
}

// The same with every scope as the walk finds it, malformed ones included
// (the structural check, the dump): f(scope, offset in the structure), the
// scope viewed to the structure's end.
template <class F>
bool for_each_scope_found(byte_view structure, uint32_t fixed, F f) {
  scope_cursor c;
  for (first_scope(c, structure, fixed, true); c.at; next_scope(c))
    if (!f(c.scope, c.offset)) return false;
  return true;
}

// The first device scope of the DMAR's structures, in table order, that is
// not well formed (scope_form_at), as the structure walk found it under the
// general rules; form SCOPE_WELL_FORMED when there is none. Offsets are the
// DMAR's.
struct malformed_scope {
  uint16_t type;       // of its structure
  uint32_t structure;  // offset of the structure
  uint32_t scope;      // offset of the scope
  uint8_t length;
  scope_form form;
};
extern malformed_scope first_malformed_scope;

// The path entry j of a scope, read out of line for every walk.
struct path_entry {
  uint8_t device;
  uint8_t function;
  uint16_t request_id;
};
path_entry path_entry_at(const device_scope_entry_t& scope, int32_t j);

// Calls f(j, device, function, request_id) for each path entry of the scope
// that lies inside its structure; f returns false to stop.
template <class F>
bool for_each_path_entry(const device_scope_entry_t& scope, F f) {
  int32_t n = scope.path_count_inside();
  for (int32_t j = 0; j < n; j++) {
    path_entry e = path_entry_at(scope, j);
    if (!f(j, e.device, e.function, e.request_id)) return false;
  }
  return true;
}

// True when the scope has a path entry (inside its structure) whose request
// ID is rid.
inline bool scope_names_rid(const device_scope_entry_t& scope, uint16_t rid) {
  return !for_each_path_entry(scope, [&](int32_t, uint8_t, uint8_t, uint16_t entry_rid) { return entry_rid != rid; });
}

// Walks the remapping structures of a DMAR copy from offset 48 while the
// start lies below the table's Length (and inside the copy). f receives the
// structure's view (clipped to the table) and its offset; f returns false to
// stop. At most max_steps structures are visited (the walk cannot loop on
// a zero Length). Returns the number visited.
template <class F>
uint32_t for_each_remap_structure(byte_view dmar, uint32_t max_steps, F f) {
  uint64_t end = acpi_table_extent(dmar);
  byte_view table = dmar.sub(0, (size_t)end);
  uint64_t off = DMAR_HEADER_SIZE;
  uint32_t steps = 0;
  while (off < end && steps < max_steps) {
    byte_view s = table.sub((size_t)off);
    uint16_t len = remap_length(s);
    steps++;
    if (!f(s.sub(0, len), (uint32_t)off)) break;
    off += len;
  }
  return steps;
}

// ---------------------------------------------------------------------------
// Remapping-structure lists.

// Where a walk over the device scopes of a whole list stands: the node (null
// past the last scope) and the scope in it. The steps are out of line.
struct list_scope_cursor {
  list_entry* list;
  uint32_t fixed;
  remap_node_t* node;
  scope_cursor scope;
};
void first_list_scope(list_scope_cursor& c, list_entry& list, uint32_t fixed);
void next_list_scope(list_scope_cursor& c);

// Calls f(node, scope) for each device scope of each structure of a list
// (drhd_list, rmrr_list, atsr_list, satc_list or sidp_list), in list order
// then scope order; the fixed part of the structures is given
// (DRHD_FIXED_SIZE, RMRR_FIXED_SIZE, ATSR_FIXED_SIZE, SATC_FIXED_SIZE,
// SIDP_FIXED_SIZE). f returns false to stop; returns false when f stopped.
template <class F>
bool for_each_list_scope(list_entry& list, uint32_t fixed, F f) {
  list_scope_cursor c;
  for (first_list_scope(c, list, fixed); c.node; next_list_scope(c))
    if (!f(c.node, c.scope.scope)) return false;
  return true;
}

// True when found(node, scope) holds for some device scope of the list.
template <class F>
bool any_list_scope(list_entry& list, uint32_t fixed, F found) {
  return !for_each_list_scope(list, fixed, [&](remap_node_t* node, const device_scope_entry_t& s) {
    return !found(node, s);
  });
}

// Same over the DRHD list, for scopes of one type only.
template <class F>
bool for_each_drhd_scope_of_type(uint8_t type, F f) {
  return for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t* node, const device_scope_entry_t& s) {
    return s.Type() != type || f(node, s);
  });
}

// True when some DRHD scope of the type carries this Enumeration ID.
inline bool any_drhd_scope_with_id(uint8_t type, uint8_t id) {
  return any_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t*, const device_scope_entry_t& s) {
    return s.Type() == type && s.Enumeration_ID() == id;
  });
}

// Calls f(segment) once for each PCI segment that the DRHDs name, in the
// order of the first DRHD naming it; f returns false to stop.
template <class F>
bool for_each_drhd_segment(F f) {
  for (remap_node_t* node : each<remap_node_t>(drhd_list)) {
    uint16_t segment = node->SegmentNumber();
    bool named_before = false;
    for (remap_node_t* earlier : each<remap_node_t>(drhd_list)) {
      if (earlier == node || named_before) break;
      named_before = earlier->SegmentNumber() == segment;
    }
    if (!named_before && !f(segment)) return false;
  }
  return true;
}

// True when same(earlier) holds for some node before node in its list (a
// value reported twice).
template <class F>
bool any_earlier(list_entry& list, remap_node_t* node, F same) {
  for (remap_node_t* earlier : each<remap_node_t>(list)) {
    if (earlier == node) return false;
    if (same(earlier)) return true;
  }
  return false;
}

// Number of the segment's DRHDs that carry INCLUDE_PCI_ALL.
inline uint32_t include_pci_all_drhds(uint16_t segment) {
  uint32_t n = 0;
  for (remap_node_t* node : each<remap_node_t>(drhd_list))
    if (node->SegmentNumber() == segment && node->include_pci_all()) n++;
  return n;
}

// ---------------------------------------------------------------------------
// MCFG allocations: visited while an allocation's first byte lies before
// the table's Length (clipped to the copy).

// Calls f(allocation) for each allocation that starts inside the table; f
// returns false to stop. Returns false when f stopped.
template <class F>
bool for_each_mcfg_allocation(byte_view mcfg, F f) {
  uint64_t end = acpi_table_extent(mcfg);
  byte_view table = mcfg.sub(0, (size_t)end);
  uint32_t index = 0;
  for (uint64_t off = MCFG_OFF_ALLOCATIONS; off < end; off += MCFG_ALLOCATION_SIZE, index++)
    if (!f(csbaas_t{table.sub((size_t)off, MCFG_ALLOCATION_SIZE), index})) return false;
  return true;
}

// ---------------------------------------------------------------------------
// MADT interrupt controller structures, from offset 44, each next one at the
// current offset plus its Length, while a structure's first byte lies before
// the table's Length (clipped to the copy).

// Calls f(rest) with the view from each structure's start to the table's
// end, then steps by the structure's Length; a Length of 0 ends the walk. f
// returns false to stop (the dump stops at a Length below 2, after printing
// what it found).
template <class F>
void walk_madt(byte_view madt, F f) {
  uint64_t end = acpi_table_extent(madt);
  byte_view table = madt.sub(0, (size_t)end);
  uint64_t off = MADT_OFF_STRUCTURES;
  while (off < end) {
    byte_view rest = table.sub((size_t)off);
    if (!f(rest)) return;
    uint8_t len = rest.u8(MADT_STRUCT_OFF_LENGTH);
    if (len == 0) return;
    off += len;
  }
}

// Calls f(structure) with each structure clipped to its Length; a Length of
// 0 ends the walk. f returns false to stop; returns false when f stopped.
template <class F>
bool for_each_madt_structure(byte_view madt, F f) {
  bool stopped = false;
  walk_madt(madt, [&](byte_view rest) {
    uint8_t len = rest.u8(MADT_STRUCT_OFF_LENGTH);
    if (len == 0) return false;
    stopped = !f(rest.sub(0, len));
    return !stopped;
  });
  return !stopped;
}

// Calls f(ioapic_id) for each I/O APIC structure (Type 1) that is long
// enough to hold its ID; f returns false to stop.
template <class F>
bool for_each_madt_ioapic(byte_view madt, F f) {
  return for_each_madt_structure(madt, [&](byte_view s) {
    if (s.u8(MADT_STRUCT_OFF_TYPE) != MADT_TYPE_IOAPIC || !s.has(MADT_IOAPIC_OFF_ID, 1)) return true;
    return f(s.u8(MADT_IOAPIC_OFF_ID));
  });
}
