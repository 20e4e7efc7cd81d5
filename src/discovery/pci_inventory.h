// Inventory of present PCI functions, built from the MCFG.
#pragma once
#include <stdint.h>

#include "discovery/acpi.h"
#include "platform/bytes.h"
#include "platform/list.h"
// Each allocation costs the inventory scan up to 256 buses of 32 reads, so
// the scan stops after this many: far more than any platform has (one
// allocation per PCI segment, rarely more than a few), and still only
// seconds of reads on a board. Everything else examines every allocation in
// the table copy.
constexpr uint32_t MCFG_SCAN_MAX_ALLOCATIONS = 256;

// One present function: packed like a request ID, func in bits 2:0, dev in
// 7:3, bus in 15:8.
struct pci_dev_t {
  list_entry link;
  uint16_t segment;
  uint16_t func : 3;
  uint16_t dev : 5;
  uint16_t bus : 8;
  uint16_t rid() const { return (uint16_t)(bus << 8 | dev << 3 | func); }
};

extern list_entry pci_dev_list;
// Allocations the MCFG Length counts, and those of them left unscanned by
// the last inventory (0: it holds every allocation's functions).
extern uint32_t pci_inventory_allocations;
extern uint32_t pci_inventory_unscanned;
// Allocations of PCI segments other than 0 that the inventory left out
// under the general rules: the configuration ports reach segment 0 only.
extern uint32_t pci_inventory_other_segments;
// Memory-mapped configuration base of the MCFG's first allocation.
extern uint64_t pcie_base;

// Memory-mapped configuration address of a register of a function.
constexpr uint64_t pcie_address(uint64_t base, uint64_t bus, uint64_t dev, uint64_t func, uint64_t reg) {
  return base + (bus << 20) + (dev << 15) + (func << 12) + reg;
}

uint64_t build_pci_inventory(byte_view mcfg);
