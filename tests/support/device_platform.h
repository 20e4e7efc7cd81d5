// A small healthy platform for the device, memory and engine assertions,
// and a bench that collects it with the real discovery code and calls
// assertions directly, keeping each one's result and message.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "assertions/assertions.h"
#include "engine/test_info.h"
#include "platform/sim/sim.h"
#include "platform/sim/tables.h"

namespace device_platform {

// Addresses of the healthy platform.
constexpr uint64_t ECAM = 0xE0000000;
constexpr uint64_t GFX_ENGINE = 0xFED90000;
constexpr uint64_t DEFAULT_ENGINE = 0xFED91000;
constexpr uint64_t XHCI_MMIO = 0xA0000000;   // 64-bit BAR of B0:D20:F0
constexpr uint64_t GFX_MMIO = 0xB0000000;    // BAR of B0:D2:F0
constexpr uint64_t NIC_MMIO = 0xA1200000;    // BAR of B1:D0:F0 behind the root port
constexpr uint64_t USB_RMRR_BASE = 0x7C000000;
constexpr uint64_t USB_RMRR_LIMIT = 0x7C0FFFFF;
constexpr uint64_t GFX_RMRR_BASE = 0x7D000000;
constexpr uint64_t GFX_RMRR_LIMIT = 0x7EFFFFFF;
constexpr uint16_t HPET_RID = 0x00F8;    // HPET scope B0:D31:F0
constexpr uint8_t IOAPIC_BUS = 0xF0;     // IOAPIC scope B240:D31:F0
constexpr uint64_t GFX_PASID_BIT = 1ULL << 40;

struct outcome {
  uint64_t status = 0;  // the assertion's return value
  uint64_t result = ~0ULL;
  std::string message;
};

// The assertions of this group, by number.
const std::map<uint64_t, assertion_fn>& device_assertions();

struct bench {
  sim::machine m;
  sim::dmar_builder dmar;
  test_info_t tinfo{};
  std::vector<sim::bytes> extra_tables;  // after DMAR and MCFG
  bool with_mcfg = true;
  std::vector<sim::mcfg_allocation> mcfg = {{ECAM, 0, 0, 255}};

  // An empty machine: processor, ECAM and one DRHD-less DMAR.
  bench();

  sim::pci_function& pci(uint8_t b, uint8_t d, uint8_t f, uint16_t vendor, uint16_t device) {
    return m.pci(b, d, f, vendor, device);
  }
  // A function with class code, header type and command register set.
  sim::pci_function& device(uint8_t b, uint8_t d, uint8_t f, uint16_t device_id, uint8_t base_class,
                            uint8_t sub_class = 0, uint8_t prog_if = 0, uint8_t header_type = 0);

  // Collects the platform with the real discovery code, calls the
  // assertions (in the order given) and frees everything again; checks that
  // no pool block is left. Console output of the calls is in console.
  std::map<uint64_t, outcome> evaluate(const std::vector<uint64_t>& ids);
  outcome evaluate(uint64_t id) { return evaluate(std::vector<uint64_t>{id})[id]; }
  std::string console;
};

// The healthy platform: every assertion of the group passes on it.
//   B0:D0:F0 host bridge, B0:D2:F0 graphics (PASID and ATS), B0:D20:F0 xHCI
//   with legacy support (in an RMRR), B0:D28:F0 root port to bus 1,
//   B1:D0:F0 network endpoint, B0:D31:F0 LPC bridge.
//   DRHD 0 (graphics engine): scope B0:D2:F0. DRHD 1 (INCLUDE_PCI_ALL):
//   IOAPIC 2, HPET 0, ACPI namespace device 1. RMRRs for the xHCI and the
//   graphics function; ANDD 1.
void make_healthy(bench& b);

// Writes a remapping engine's CAP, ECAP and policy registers.
void set_engine(sim::machine& m, uint64_t base, uint64_t cap, uint64_t ecap, uint32_t policy);

// Formatted area of an SMBIOS type-131 structure with the capability word.
sim::bytes type131(uint32_t capability);

}  // namespace device_platform
