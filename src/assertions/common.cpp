#include "assertions/assertions.h"
#include "assertions/engines.h"
#include "discovery/dmar.h"
#include "discovery/pci_inventory.h"
#include "platform/print.h"

test_case_t* assertion_record(uint64_t id, bool full_stop) {
  test_case_t* tc = find_test_case(id);
  if (!tc) {
    test_record_missing = true;
    if (full_stop)
      Print("Application failure when retrieving test case information: ID = %d.\n", id);
    else
      Print("Application failure when retrieving test case information: ID = %d\n", id);
  }
  return tc;
}

uint8_t dmar_flags(const acpi_tables_t* tables) { return dmar_view(*tables).u8(DMAR_OFF_FLAGS); }

bool dmar_ir_flag(const acpi_tables_t* tables) { return (dmar_flags(tables) & DMAR_FLAG_INTR_REMAP) != 0; }

uint64_t engine_base(const test_info_t* tinfo, uint32_t i) {
  if (!engines_from_drhd()) return platform_bar_base(tinfo, i);
  for (remap_node_t* drhd : each<remap_node_t>(drhd_list))
    if (i-- == 0) return drhd->RegisterBaseAddress() & ~0xFFFULL;
  return 0;
}

bool recorded_no_engines(test_case_t* tc, const test_info_t* tinfo) {
  if (engine_count(tinfo)) return false;
  set_result(tc, TEST_MISSING, "No remapping engine is known.\n");
  return true;
}

bool recorded_ir_flag_clear(test_case_t* tc, const acpi_tables_t* tables) {
  if (dmar_ir_flag(tables)) return false;
  set_result(tc, TEST_NA, "DMAR.Flags[0] : Interrupt remapping bit not set, assertion not evaluated.\n");
  return true;
}

void record_inventory_incomplete(test_case_t* tc) {
  if (pci_inventory_unscanned)
    set_result_fmt(tc, TEST_WARNING,
                   "Only the first %d of the %d MCFG allocation structures were scanned for PCI functions.\n",
                   pci_inventory_allocations - pci_inventory_unscanned, pci_inventory_allocations);
  else
    set_result_fmt(tc, TEST_WARNING,
                   "%d MCFG allocation structure(s) of PCI segments other than 0 were not scanned for PCI functions "
                   "(the configuration ports reach segment 0 only).\n",
                   pci_inventory_other_segments);
}

void record_pass_unless_inventory_incomplete(test_case_t* tc) {
  if (pci_inventory_unscanned || pci_inventory_other_segments)
    record_inventory_incomplete(tc);
  else
    set_result(tc, TEST_PASS);
}
