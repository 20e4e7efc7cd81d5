// Configuration registers and class codes the assertions read, beside the
// header registers named in walks.h.
#pragma once
#include <stdint.h>

constexpr uint32_t PCI_OFF_BAR0 = 0x10;
constexpr uint32_t PCI_OFF_BAR1 = 0x14;  // the upper half of a 64-bit BAR0
constexpr uint32_t PCI_OFF_SECONDARY_BUS = 0x19;  // bridges (header layout 1)

constexpr uint8_t PCI_HEADER_LAYOUT_MASK = 0x7F;  // Header Type without the multi-function bit
constexpr uint8_t PCI_HEADER_BRIDGE = 1;

constexpr uint8_t PCI_CLASS_DISPLAY = 0x03;
constexpr uint8_t PCI_CLASS_SERIAL_BUS = 0x0C;
constexpr uint8_t PCI_SUBCLASS_USB = 0x03;
constexpr uint8_t PCI_PROG_IF_EHCI = 0x20;
constexpr uint8_t PCI_PROG_IF_XHCI = 0x30;
