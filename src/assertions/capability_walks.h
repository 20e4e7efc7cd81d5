// Bounded walks over the capability lists that the device assertions follow:
// EHCI extended capabilities (PCI configuration space), xHCI extended
// capabilities (controller registers) and PCI Express extended capabilities.
// Every walk stops at a header of all ones, at a next pointer that leaves
// the space it belongs to, and after a fixed number of steps (more than the
// space can hold), so a list that loops or reads as an absent function
// always ends.
#pragma once
#include <stdint.h>

#include "discovery/pci_inventory.h"
#include "platform/platform.h"

// EHCI capabilities lie in the PCI-compatible configuration space, after the
// standard header: dword offsets 0x40 to 0xFC.
constexpr uint32_t EHCI_EECP_MIN = 0x40;
constexpr uint32_t EHCI_CAP_STEPS = (0x100 - EHCI_EECP_MIN) / 4;
// xHCI: the next pointer is a dword count of at most 255 from the current
// capability; no controller lists more than a few dozen capabilities.
constexpr uint32_t XHCI_CAP_STEPS = 256;
// PCI Express extended capabilities: 0x100 to 0xFFC.
constexpr uint32_t PCIE_EXT_CAP_START = 0x100;
constexpr uint32_t PCIE_EXT_CAP_STEPS = (0x1000 - PCIE_EXT_CAP_START) / 4;

// f(header dword) for each EHCI capability from eecp, read through the
// memory-mapped configuration space of the function; f returns false to stop.
template <class F>
void walk_ehci_capabilities(uint8_t bus, uint8_t dev, uint8_t func, uint32_t eecp, F f) {
  uint32_t offset = eecp;
  for (uint32_t step = 0; step < EHCI_CAP_STEPS; step++) {
    if (offset < EHCI_EECP_MIN || offset > 0xFC) return;
    uint32_t header = MmioRead32(pcie_address(pcie_base, bus, dev, func, offset & ~3u));
    if (header == 0xFFFFFFFF) return;
    if (!f(header)) return;
    uint32_t next = (header >> 8) & 0xFF;
    if (next == 0) return;
    offset = next;
  }
}

// f(address, header) for each xHCI extended capability from first (a
// register address); f returns false to stop. A header of 0 or all ones
// ends the walk.
template <class F>
void walk_xhci_capabilities(uint64_t first, F f) {
  uint64_t at = first;
  for (uint32_t step = 0; step < XHCI_CAP_STEPS; step++) {
    uint32_t header = MmioRead32(at);
    if (!f(at, header)) return;
    if (header == 0 || header == 0xFFFFFFFF) return;
    uint32_t next = (header >> 8) & 0xFF;
    if (next == 0) return;
    at += (uint64_t)next * 4;
  }
}

// f(offset, header) for each PCI Express extended capability of a function
// whose configuration space starts at config (memory-mapped); f returns
// false to stop. A next pointer of 0, or one below 0x100, ends the walk.
template <class F>
void walk_pcie_ext_capabilities(uint64_t config, F f) {
  uint32_t offset = PCIE_EXT_CAP_START;
  for (uint32_t step = 0; step < PCIE_EXT_CAP_STEPS; step++) {
    uint32_t header = MmioRead32(config + offset);
    if (header == 0xFFFFFFFF) return;
    if (!f(offset, header)) return;
    uint32_t next = (header >> 20) & 0xFFC;
    if (next < PCIE_EXT_CAP_START) return;
    offset = next;
  }
}
