// Inventory of present PCI functions, built from the MCFG.
#pragma once
#include <stdint.h>

#include "platform/bytes.h"
#include "platform/list.h"

constexpr uint32_t MCFG_OFF_ALLOCATIONS = 44;
constexpr uint32_t MCFG_ALLOCATION_SIZE = 16;
// csbaas_t fields.
constexpr uint32_t CSBAAS_OFF_BASE = 0;
constexpr uint32_t CSBAAS_OFF_SEGMENT = 8;
constexpr uint32_t CSBAAS_OFF_START_BUS = 10;
constexpr uint32_t CSBAAS_OFF_END_BUS = 11;
constexpr uint32_t CSBAAS_OFF_RESERVED = 12;
// More allocation structures than any platform has segment bus ranges; the
// scan and the dump stop there, so a corrupt Length cannot run for hours.
constexpr uint32_t MCFG_MAX_ALLOCATIONS = 64;

struct pci_dev_t {
  list_entry link;
  uint16_t segment;
  uint16_t rid;  // func 2:0, dev 7:3, bus 15:8
  uint8_t bus() const { return (uint8_t)(rid >> 8); }
  uint8_t dev() const { return (uint8_t)((rid >> 3) & 0x1F); }
  uint8_t func() const { return (uint8_t)(rid & 7); }
};

extern list_entry pci_dev_list;
// Memory-mapped configuration base of the MCFG's first allocation.
extern uint64_t pcie_base;

// Memory-mapped configuration address of a register of a function.
constexpr uint64_t pcie_address(uint64_t base, uint64_t bus, uint64_t dev, uint64_t func, uint64_t reg) {
  return base + (bus << 20) + (dev << 15) + (func << 12) + reg;
}

uint64_t build_pci_inventory(byte_view mcfg);
