// INCLUDE_PCI_ALL engine assertions: tests 43 and 44.
#include "assertions/assertions.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"

uint64_t assert_include_pci_all_scopes(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(43, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 43)) return 0;
  for (remap_node_t* drhd : each<remap_node_t>(drhd_list)) {
    uint8_t flags = drhd->Flags();
    debug_print(debug_mask, "DEBUG -- #%d: DRHD Flags = 0x%X\n", 43, flags);
    if (!(flags & DRHD_INCLUDE_PCI_ALL)) continue;
    debug_print(debug_mask, "DEBUG -- #%d:    DRHD is INCLUDE_PCI_ALL\n", 43);
    // Only the devices that are not PCI functions may be named: types 0, 1
    // and 2 are refused.
    bool ok = for_each_scope(drhd->view(), DRHD_FIXED_SIZE,
                             [](const device_scope_entry_t& scope) { return scope.Type() >= SCOPE_IOAPIC; });
    if (!ok) {
      set_result(tc, TEST_FAIL,
                 "DRHD with INCLUDE_PCI_ALL set must include only IOxAPIC and MSI Capable HPET in its device scope "
                 "structures.\n");
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_one_include_pci_all(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(44, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 44)) return 0;
  uint32_t flagged = 0;
  for (remap_node_t* drhd : each<remap_node_t>(drhd_list)) {
    uint8_t flags = drhd->Flags();
    debug_print(debug_mask, "DEBUG -- #%d: DRHD Flags = 0x%X\n", 44, flags);
    if (flags & DRHD_INCLUDE_PCI_ALL) flagged++;
  }
  // Under the general rules, one in every segment (and still some DRHD).
  bool one = flagged == 1;
  if (general_rules())
    one = flagged > 0 && for_each_drhd_segment([](uint16_t s) { return include_pci_all_drhds(s) == 1; });
  if (!one)
    set_result(tc, TEST_FAIL, "There should only be 1 DRHD with INCLUDE_PCI_ALL flag set.\n");
  else
    set_result(tc, TEST_PASS);
  note_general_rule(tc, "every PCI segment of the DRHDs has exactly one DRHD with INCLUDE_PCI_ALL.");
  return 0;
}
