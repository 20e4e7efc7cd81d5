// DRHD device-scope functions and bridges: tests 28 and 29.
#include "assertions/assertions.h"
#include "discovery/config_space.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "platform/platform.h"

namespace {

// The function that a scope names: its starting bus and its first path
// entry, masked to a device and function.
pci_location scope_function(const device_scope_entry_t& scope) {
  return pci_location{scope.StartingBusNumber(), (uint8_t)(scope.path_device(0) & 0x1F),
                      (uint8_t)(scope.path_function(0) & 0x7)};
}

}  // namespace

uint64_t assert_scope_functions_exist(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(28, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 28)) return 0;
  bool ok = for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t*, const device_scope_entry_t& scope) {
    uint8_t type = scope.Type();
    if (type > SCOPE_PCI_SUBHIERARCHY || scope.path_count_inside() < 1) return true;
    if (!pci_function_silent(scope_function(scope))) return true;
    set_result_fmt(tc, TEST_FAIL, "PCI Device from Device Scope not enumerable : B%d:D%d:F%d\n",
                   scope.StartingBusNumber(), scope.path_device(0), scope.path_function(0));
    return false;
  });
  if (!ok) return 0;
  set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_bridge_scopes(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(29, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 29)) return 0;
  bool ok = for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t*, const device_scope_entry_t& scope) {
    // A bridge scope without a path entry names no function to examine.
    if (scope.Type() != SCOPE_PCI_SUBHIERARCHY || scope.path_count_inside() < 1) return true;
    pci_location at = scope_function(scope);
    if (pci_function_silent(at)) {
      set_result_fmt(tc, TEST_FAIL, "PCI Device (DID = 0x%X) is not enumerable.\n", pci_device_id(at));
      return false;
    }
    uint8_t layout = PciRead8(pci_config_address(at, PCI_OFF_HEADER_TYPE)) & PCI_HEADER_LAYOUT_MASK;
    if (layout != PCI_HEADER_BRIDGE && scope.path_count() == 1) {
      set_result_fmt(tc, TEST_FAIL, "PCI Device (DID = 0x%X) must have header value of 1.\n", pci_device_id(at));
      return false;
    }
    return true;
  });
  if (!ok) return 0;
  set_result(tc, TEST_PASS);
  return 0;
}
