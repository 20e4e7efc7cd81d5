// Bounded walks over firmware data that several assertions share: the
// remapping-structure lists with their device scopes, the MCFG allocations,
// the MADT interrupt controller structures, and the PCI capability list.
// They are general on purpose: any assertion that needs one of these walks
// takes it from here rather than writing its own loop over firmware bytes.
// Every walk stays inside the copy it is given and ends on its own: the list
// walks by the structures' lengths, the MCFG walk at the table's Length, the
// MADT walk also at a structure whose Length is 0, and the capability walk
// at a pointer it has already visited (or after the most entries that the
// 256-byte configuration header can hold).
#pragma once
#include <stdint.h>

#include "catalogue/catalogue.h"
#include "discovery/acpi.h"
#include "discovery/dmar.h"
#include "discovery/pci_inventory.h"
#include "discovery/remap_lists.h"
#include "engine/test_info.h"
#include "platform/list.h"

// ---------------------------------------------------------------------------
// Remapping-structure lists.

// Calls f(node, scope) for each device scope of each structure of a list
// (drhd_list, rmrr_list or atsr_list), in list order then scope order; the
// fixed part of the structures is given (DRHD_FIXED_SIZE, RMRR_FIXED_SIZE,
// ATSR_FIXED_SIZE). f returns false to stop; returns false when f stopped.
template <class F>
bool for_each_list_scope(list_entry& list, uint32_t fixed, F f) {
  for (remap_node_t* node : each<remap_node_t>(list)) {
    bool go_on = for_each_scope(node->view(), fixed, [&](const device_scope& s) { return f(node, s); });
    if (!go_on) return false;
  }
  return true;
}

// Same over the DRHD list, for scopes of one type only.
template <class F>
bool for_each_drhd_scope_of_type(uint8_t type, F f) {
  return for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t* node, const device_scope& s) {
    return s.type() != type || f(node, s);
  });
}

// Number of valid engine entries of tinfo's bars (never more than it holds).
inline uint32_t platform_bar_count(const test_info_t* tinfo) {
  return tinfo->remap_bar_count < MAX_REMAP_BARS ? (uint32_t)tinfo->remap_bar_count : MAX_REMAP_BARS;
}

// Register base of an engine entry: its address with the enabled bit cleared.
inline uint64_t platform_bar_base(const test_info_t* tinfo, uint32_t i) { return tinfo->bars[i].address & ~1ULL; }

// ---------------------------------------------------------------------------
// MCFG allocations (csbaas_t): 16-byte entries from offset 44, visited while
// an entry's first byte lies before the table's Length (and inside the copy).
struct mcfg_allocation_t {
  byte_view bytes;
  uint32_t index;
  uint64_t base() const { return bytes.u64(CSBAAS_OFF_BASE); }
  uint16_t pci_segment() const { return bytes.u16(CSBAAS_OFF_SEGMENT); }
  uint8_t start_bus() const { return bytes.u8(CSBAAS_OFF_START_BUS); }
  uint8_t end_bus() const { return bytes.u8(CSBAAS_OFF_END_BUS); }
};

// Table Length clipped to the copy.
inline uint64_t acpi_table_extent(byte_view table) {
  uint64_t len = table.u32(DMAR_OFF_LENGTH);
  return len < table.size ? len : table.size;
}

// Calls f(allocation) for each allocation that starts inside the table (its
// Length clipped to the copy); f returns false to stop. Returns false when f
// stopped.
template <class F>
bool for_each_mcfg_allocation(byte_view mcfg, F f) {
  uint64_t end = acpi_table_extent(mcfg);
  byte_view table = mcfg.sub(0, (size_t)end);
  uint32_t index = 0;
  for (uint64_t off = MCFG_OFF_ALLOCATIONS; off < end;
       off += MCFG_ALLOCATION_SIZE, index++)
    if (!f(mcfg_allocation_t{table.sub((size_t)off, MCFG_ALLOCATION_SIZE), index})) return false;
  return true;
}

inline uint32_t mcfg_allocation_count(byte_view mcfg) {
  uint32_t n = 0;
  for_each_mcfg_allocation(mcfg, [&](const mcfg_allocation_t&) {
    n++;
    return true;
  });
  return n;
}

// ---------------------------------------------------------------------------
// MADT interrupt controller structures, from offset 44, each next one at the
// current offset plus its Length, while a structure's first byte lies before
// the table's Length (and inside the copy). A structure whose Length is 0
// ends the walk. f(structure) receives the structure clipped to its Length
// and returns false to stop.
constexpr uint32_t MADT_OFF_STRUCTURES = 44;
constexpr uint8_t MADT_TYPE_IOAPIC = 1;
constexpr uint32_t MADT_IOAPIC_OFF_ID = 2;

template <class F>
bool for_each_madt_structure(byte_view madt, F f) {
  uint64_t end = acpi_table_extent(madt);
  byte_view table = madt.sub(0, (size_t)end);
  uint64_t off = MADT_OFF_STRUCTURES;
  while (off < end) {
    byte_view s = table.sub((size_t)off);
    uint8_t len = s.u8(1);
    if (len == 0) break;
    if (!f(s.sub(0, len))) return false;
    off += len;
  }
  return true;
}

// Calls f(ioapic_id) for each I/O APIC structure (Type 1) that is long
// enough to hold its ID; f returns false to stop.
template <class F>
bool for_each_madt_ioapic(byte_view madt, F f) {
  return for_each_madt_structure(madt, [&](byte_view s) {
    if (s.u8(0) != MADT_TYPE_IOAPIC || !s.has(MADT_IOAPIC_OFF_ID, 1)) return true;
    return f(s.u8(MADT_IOAPIC_OFF_ID));
  });
}

// ---------------------------------------------------------------------------
// PCI configuration space (ports, segment 0).

constexpr uint32_t PCI_OFF_VENDOR_ID = 0x00;
constexpr uint32_t PCI_OFF_DEVICE_ID = 0x02;
constexpr uint32_t PCI_OFF_PROG_IF = 0x09;
constexpr uint32_t PCI_OFF_SUB_CLASS = 0x0A;
constexpr uint32_t PCI_OFF_BASE_CLASS = 0x0B;
constexpr uint32_t PCI_OFF_HEADER_TYPE = 0x0E;
constexpr uint32_t PCI_OFF_CAP_POINTER = 0x34;
constexpr uint8_t PCI_CAP_ID_PCIE = 0x10;
constexpr uint32_t PCIE_OFF_CAPABILITIES = 2;  // from the capability's offset
constexpr uint8_t PCIE_TYPE_RCIEP = 9;

struct pci_location {
  uint8_t bus;
  uint8_t device;
  uint8_t function;
};

// The function that a request ID names.
constexpr pci_location pci_location_of(uint16_t rid) {
  return pci_location{(uint8_t)(rid >> 8), (uint8_t)((rid >> 3) & 0x1F), (uint8_t)(rid & 7)};
}

uint64_t pci_config_address(pci_location at, uint32_t reg);
uint16_t pci_device_id(pci_location at);
// True when the function's first dword reads all ones (nothing answers).
bool pci_function_silent(pci_location at);

// Walks the capability list from the Capabilities Pointer and stores the
// offset of the first capability with the ID. False when the list ends, a
// pointer repeats (a cycle, or a silent function whose reads are all ones),
// or the walk has gone over more entries than the configuration header can
// hold, without finding it.
bool find_pci_capability(pci_location at, uint8_t cap_id, uint32_t* offset);

// Device/port type (bits 7:4 of the PCI Express Capabilities Register) of a
// function. False when the function has no PCI Express capability.
bool pcie_device_port_type(pci_location at, uint8_t* type);
