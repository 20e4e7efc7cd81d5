// PCI configuration space: the names of the registers the program reads,
// and the bounded walks over its capability lists (the PCI capability list
// of the 256-byte header, EHCI extended capabilities, xHCI extended
// capabilities in the controller's registers, PCI Express extended
// capabilities). Every list walk stops at a pointer it has already visited
// or after more entries than its space can hold, and at a header of all
// ones, so a list that loops or reads as an absent function always ends.
#pragma once
#include <stdint.h>

#include "discovery/pci_inventory.h"
#include "platform/platform.h"

// ---------------------------------------------------------------------------
// Registers of the configuration header (ports reach these, segment 0).

constexpr uint32_t PCI_OFF_VENDOR_ID = 0x00;
constexpr uint32_t PCI_OFF_DEVICE_ID = 0x02;
constexpr uint32_t PCI_OFF_COMMAND = 0x04;
constexpr uint32_t PCI_OFF_PROG_IF = 0x09;
constexpr uint32_t PCI_OFF_SUB_CLASS = 0x0A;
constexpr uint32_t PCI_OFF_BASE_CLASS = 0x0B;
constexpr uint32_t PCI_OFF_CACHE_LINE_DWORD = 0x0C;  // the dword that holds the Header Type in bits 23:16
constexpr uint32_t PCI_OFF_HEADER_TYPE = 0x0E;
constexpr uint32_t PCI_OFF_BAR0 = 0x10;
constexpr uint32_t PCI_OFF_BAR1 = 0x14;           // the upper half of a 64-bit BAR0
constexpr uint32_t PCI_OFF_SECONDARY_BUS = 0x19;  // bridges (header layout 1)
constexpr uint32_t PCI_OFF_CAP_POINTER = 0x34;

constexpr uint32_t PCI_MULTI_FUNCTION_DWORD_BIT = 1u << 23;  // Header Type bit 7, read in the 0x0C dword
constexpr uint8_t PCI_HEADER_LAYOUT_MASK = 0x7F;               // Header Type without the multi-function bit
constexpr uint8_t PCI_HEADER_BRIDGE = 1;

constexpr uint8_t PCI_CLASS_DISPLAY = 0x03;
constexpr uint8_t PCI_CLASS_SERIAL_BUS = 0x0C;
constexpr uint8_t PCI_SUBCLASS_USB = 0x03;
constexpr uint8_t PCI_PROG_IF_EHCI = 0x20;
constexpr uint8_t PCI_PROG_IF_XHCI = 0x30;

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
// True when the function's first dword reads all ones (nothing answers);
// ioxapic_silent (pci_config.cpp) says why it reads only the vendor word.
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

// ---------------------------------------------------------------------------
// Extended capability lists.

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
