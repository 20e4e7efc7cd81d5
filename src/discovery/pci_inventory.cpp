#include "discovery/pci_inventory.h"

#include "discovery/config_space.h"
#include "discovery/table_walks.h"
#include "facts/known.h"
#include "platform/platform.h"
#include "platform/print.h"

list_entry pci_dev_list = LIST_HEAD_INIT(pci_dev_list);
uint64_t pcie_base = 0;
uint32_t pci_inventory_unscanned = 0;
uint32_t pci_inventory_allocations = 0;
uint32_t pci_inventory_other_segments = 0;

namespace {

// Lists the functions present on buses 0 to the allocation's end bus (the
// scan always starts at bus 0) with the allocation's segment. 1 when a node
// cannot be allocated.
uint64_t scan_allocation(const csbaas_t& a) {
  uint16_t segment = a.pci_segment();
  uint32_t end_bus = a.end_bus();
  for (uint32_t bus = 0; bus <= end_bus; bus++) {
    for (uint32_t dev = 0; dev < 32; dev++) {
      uint32_t header = PciRead32(PCI_LIB_ADDRESS(bus, dev, 0, PCI_OFF_CACHE_LINE_DWORD));
      if (header == 0xFFFFFFFF) continue;
      uint32_t functions = (header & PCI_MULTI_FUNCTION_DWORD_BIT) ? 8 : 1;
      for (uint32_t fn = 0; fn < functions; fn++) {
        if (PciRead32(PCI_LIB_ADDRESS(bus, dev, fn, PCI_OFF_VENDOR_ID)) == 0xFFFFFFFF) continue;
        pci_dev_t* node = static_cast<pci_dev_t*>(AllocateZeroPool(sizeof(pci_dev_t)));
        if (!node) {
          Print("ERROR -- Out of memory while building the PCI function inventory.\n");
          return 1;
        }
        node->segment = segment;
        node->bus = (uint16_t)bus;
        node->dev = (uint16_t)dev;
        node->func = (uint16_t)fn;
        list_append(pci_dev_list, &node->link);
      }
    }
  }
  return 0;
}

}  // namespace

uint64_t build_pci_inventory(byte_view mcfg) {
  pcie_base = mcfg.u64(MCFG_OFF_ALLOCATIONS + CSBAAS_OFF_BASE);
  // The allocations counted from offset 36 (the header's end): the last one
  // counted may start less than 16 bytes before the table's Length, its
  // missing bytes read as zero.
  uint64_t length = acpi_table_extent(mcfg);
  uint32_t allocations =
      length >= ACPI_HEADER_SIZE ? (uint32_t)((length - ACPI_HEADER_SIZE) / MCFG_ALLOCATION_SIZE) : 0;
  pci_inventory_allocations = allocations;
  pci_inventory_unscanned = 0;
  // Each allocation costs a scan of up to 256 buses: a corrupt Length
  // (millions of allocations) would keep the scan going for hours.
  if (allocations > MCFG_SCAN_MAX_ALLOCATIONS) {
    Print("WARNING -- MCFG Length gives %d allocation structures; only the first %d are scanned.\n", allocations,
          MCFG_SCAN_MAX_ALLOCATIONS);
    pci_inventory_unscanned = allocations - MCFG_SCAN_MAX_ALLOCATIONS;
    allocations = MCFG_SCAN_MAX_ALLOCATIONS;
  }
  // Every counted allocation starts before the Length, so the walk reaches
  // each of them.
  // The configuration ports reach segment 0 only: under the general rules
  // another segment's allocation is not scanned (its functions would be
  // segment 0's listed again under its number).
  uint64_t failed = 0;
  pci_inventory_other_segments = 0;
  bool segment_0_only = general_rules();
  for_each_mcfg_allocation(mcfg, [&](const csbaas_t& a) {
    if (a.index >= allocations) return false;
    if (segment_0_only && a.pci_segment() != 0) {
      pci_inventory_other_segments++;
      return true;
    }
    failed = scan_allocation(a);
    return failed == 0;
  });
  return failed;
}
