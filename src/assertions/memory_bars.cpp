// PCI memory BAR alignment and conflicts: test 49.
#include "assertions/assertions.h"
#include "discovery/config_space.h"
#include "discovery/pci_inventory.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

struct bar_entry_t {
  uint64_t address;
  uint16_t device_id;
};

// The collected memory BARs, in inventory order and, within a function, in
// register order. It grows as needed, so every BAR takes part in the
// comparison.
struct bar_table_t {
  bar_entry_t* entries = nullptr;
  uint64_t count = 0;
  uint64_t capacity = 0;
  ~bar_table_t() {
    if (entries) FreePool(entries);
  }
  bool append(uint64_t address, uint16_t device_id) {
    if (count == capacity) {
      uint64_t grown = capacity ? capacity * 2 : 100;
      bar_entry_t* bigger = static_cast<bar_entry_t*>(AllocateZeroPool(grown * sizeof(bar_entry_t)));
      if (!bigger) return false;
      if (entries) {
        mem_copy(bigger, entries, count * sizeof(bar_entry_t));
        FreePool(entries);
      }
      entries = bigger;
      capacity = grown;
    }
    entries[count++] = {address, device_id};
    return true;
  }
};

// Two BARs lie within 4 KiB of each other (compared without overflow).
bool within_4k(uint64_t a, uint64_t b) { return (a > b ? a - b : b - a) < 0x1000; }

}  // namespace

uint64_t assert_memory_bars(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(49, true);
  if (!tc) return 1;
  bar_table_t table;
  // The BAR registers are read through the memory-mapped configuration
  // window; without one there is nothing sound to read.
  if (pcie_base == 0 && !list_empty(pci_dev_list)) {
    set_result(tc, TEST_MISSING);
    return 0;
  }

  for (pci_dev_t* d : each<pci_dev_t>(pci_dev_list)) {
    uint8_t bus = d->bus, dev = d->dev, func = d->func;
    debug_print(debug_mask, "DEBUG -- #%d: PCI -- B %d -- D %d -- F %d \n", 49, bus, dev, func);
    uint16_t command = PciRead16(PCI_LIB_ADDRESS(bus, dev, func, PCI_OFF_COMMAND));
    debug_print(debug_mask, "DEBUG -- #%d: PCI -- B %d -- D %d -- F %d -- R 0x%X = 0x%X \n", 49, bus, dev, func, 4,
                command);
    if (!(command & 0x2)) continue;
    uint8_t header = PciRead8(PCI_LIB_ADDRESS(bus, dev, func, PCI_OFF_HEADER_TYPE)) & PCI_HEADER_LAYOUT_MASK;
    debug_print(debug_mask, "DEBUG -- #%d: PCI -- B %d -- D %d -- F %d -- R 0x%X = 0x%X \n", 49, bus, dev, func, 0xE,
                header);
    uint32_t end;
    if (header == 0)
      end = 0x28;
    else if (header == 1)
      end = 0x18;
    else
      continue;
    uint16_t device_id = PciRead16(PCI_LIB_ADDRESS(bus, dev, func, PCI_OFF_DEVICE_ID));

    for (uint32_t reg = PCI_OFF_BAR0; reg < end; reg += 4) {
      uint32_t value = MmioRead32(pcie_address(pcie_base, bus, dev, func, reg));
      if (value == 0 || (value & 1)) continue;
      debug_print(debug_mask, "DEBUG -- #%d: B%02dD%02dF%02d Reg:0x%X MMIO Address(0x%X).\n", 49, bus, dev, func, reg,
                  value & 0xFFFFFFF0);
      if (value & 0xFF0) {
        set_result_fmt(tc, TEST_FAIL, "B%02dD%02dF%02d Reg:0x%X MMIO Address(0x%X) is not 4KB aligned.\n", bus, dev,
                       func, reg, value & 0xFFFFFFF0);
        return 0;
      }
      uint64_t address = value & 0xFFFFFFF0;
      if ((value & 0x6) == 0x4) {
        if (reg + 4 >= end) {
          set_result_fmt(tc, TEST_FAIL, "BAR(0x%X) from DID 0x%X Reg 0x%X have an invalid Base Address Type\n", value,
                         device_id, reg);
          return 0;
        }
        reg += 4;
        address |= (uint64_t)MmioRead32(pcie_address(pcie_base, bus, dev, func, reg)) << 32;
        debug_print(debug_mask, "DEBUG -- #%d: B%02dD%02dF%02d Reg:0x%X MMIO Address 64bits(0x%LX).\n", 49, bus, dev,
                    func, reg, address);
      }
      if (!table.append(address, device_id)) {
        Print("Memory Allocation error in assertion #49\n");
        set_result(tc, TEST_MISSING);
        return 1;
      }
    }
  }

  for (uint64_t i = 0; i < table.count; i++) {
    for (uint64_t j = 0; j < table.count; j++) {
      const bar_entry_t& a = table.entries[i];
      const bar_entry_t& b = table.entries[j];
      if (i == j || a.device_id == b.device_id || !within_4k(a.address, b.address)) continue;
      set_result_fmt(tc, TEST_FAIL, "BAR(0x%LX) from DID 0x%X conflicts with BAR(0x%LX) from DID 0x%X\n", a.address,
                     a.device_id, b.address, b.device_id);
      return 0;
    }
  }
  record_pass_unless_inventory_incomplete(tc);
  return 0;
}
