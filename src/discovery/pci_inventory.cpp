#include "discovery/pci_inventory.h"

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "platform/print.h"

list_entry pci_dev_list = LIST_HEAD_INIT(pci_dev_list);
uint64_t pcie_base = 0;
uint32_t pci_inventory_unscanned = 0;
static uint32_t inventory_allocations = 0;

void record_inventory_incomplete(test_case_t* tc) {
  set_result_fmt(tc, TEST_WARNING,
                 u"Only the first %d of the %d MCFG allocation structures were scanned for PCI functions.\n",
                 inventory_allocations - pci_inventory_unscanned, inventory_allocations);
}

uint64_t build_pci_inventory(byte_view mcfg) {
  pcie_base = mcfg.u64(MCFG_OFF_ALLOCATIONS + CSBAAS_OFF_BASE);
  uint32_t length = mcfg.u32(4);
  if (length > mcfg.size) length = (uint32_t)mcfg.size;
  uint32_t allocations = length >= 36 ? (length - 36) / MCFG_ALLOCATION_SIZE : 0;
  inventory_allocations = allocations;
  pci_inventory_unscanned = 0;
  // Each allocation costs a scan of up to 256 buses: a corrupt Length
  // (millions of allocations) would keep the scan going for hours.
  if (allocations > MCFG_SCAN_MAX_ALLOCATIONS) {
    Print(u"WARNING -- MCFG Length gives %d allocation structures; only the first %d are scanned.\n", allocations,
          MCFG_SCAN_MAX_ALLOCATIONS);
    pci_inventory_unscanned = allocations - MCFG_SCAN_MAX_ALLOCATIONS;
    allocations = MCFG_SCAN_MAX_ALLOCATIONS;
  }
  for (uint32_t a = 0; a < allocations; a++) {
    // A counted allocation may run past the copy (the count starts at
    // offset 36, the structures at 44): its missing bytes read as zero.
    byte_view s = mcfg.sub(MCFG_OFF_ALLOCATIONS + (size_t)a * MCFG_ALLOCATION_SIZE);
    uint16_t segment = s.u16(CSBAAS_OFF_SEGMENT);
    uint32_t end_bus = s.u8(CSBAAS_OFF_END_BUS);
    for (uint32_t bus = 0; bus <= end_bus; bus++) {
      for (uint32_t dev = 0; dev < 32; dev++) {
        uint32_t header = PciRead32(PCI_LIB_ADDRESS(bus, dev, 0, 0x0C));
        if (header == 0xFFFFFFFF) continue;
        uint32_t functions = (header & (1u << 23)) ? 8 : 1;
        for (uint32_t fn = 0; fn < functions; fn++) {
          if (PciRead32(PCI_LIB_ADDRESS(bus, dev, fn, 0x00)) == 0xFFFFFFFF) continue;
          pci_dev_t* node = static_cast<pci_dev_t*>(AllocateZeroPool(sizeof(pci_dev_t)));
          if (!node) {
            Print(u"ERROR -- Out of memory while building the PCI function inventory.\n");
            return 1;
          }
          node->segment = segment;
          node->rid = (uint16_t)(bus << 8 | dev << 3 | fn);
          list_append(pci_dev_list, &node->link);
        }
      }
    }
  }
  return 0;
}
