#include "discovery/config_space.h"

#include "platform/platform.h"

uint64_t pci_config_address(pci_location at, uint32_t reg) {
  return PCI_LIB_ADDRESS(at.bus, at.device, at.function, reg & 0xFFF);
}

uint16_t pci_device_id(pci_location at) { return PciRead16(pci_config_address(at, PCI_OFF_DEVICE_ID)); }

bool pci_function_silent(pci_location at) { return PciRead32(pci_config_address(at, PCI_OFF_VENDOR_ID)) == 0xFFFFFFFF; }

bool find_pci_capability(pci_location at, uint8_t cap_id, uint32_t* offset) {
  // A capability takes at least 4 bytes of the 256-byte header after its
  // first 64 bytes, so a sound list has at most 48 entries.
  constexpr uint32_t max_entries = 48;
  uint8_t visited[256 / 8] = {};
  uint8_t p = PciRead8(pci_config_address(at, PCI_OFF_CAP_POINTER));
  for (uint32_t step = 0; p != 0 && step < max_entries; step++) {
    if (visited[p / 8] & (1u << (p % 8))) return false;
    visited[p / 8] |= (uint8_t)(1u << (p % 8));
    uint16_t word = PciRead16(pci_config_address(at, p));
    if ((uint8_t)word == cap_id) {
      *offset = p;
      return true;
    }
    p = (uint8_t)(word >> 8);
  }
  return false;
}

bool pcie_device_port_type(pci_location at, uint8_t* type) {
  uint32_t cap = 0;
  if (!find_pci_capability(at, PCI_CAP_ID_PCIE, &cap)) return false;
  uint16_t caps = PciRead16(pci_config_address(at, cap + PCIE_OFF_CAPABILITIES));
  *type = (uint8_t)((caps >> 4) & 0xF);
  return true;
}
