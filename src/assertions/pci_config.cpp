// PCI configuration of the PCH's IOxAPIC and of the devices that the DRHD
// IOAPIC and PCI-endpoint scopes name.
#include "assertions/assertions.h"
#include "discovery/config_space.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/print.h"

namespace {

constexpr uint8_t IOAPIC_BASE_CLASS = 0x08;
constexpr uint8_t IOAPIC_SUB_CLASS = 0x00;
constexpr uint8_t IOAPIC_PROG_IF = 0x20;
// The IOxAPIC is absent when its Vendor ID alone reads all ones: no vendor
// has ID 0xFFFF, the rule of PCI enumeration. pci_function_silent (config_space.cpp)
// asks the whole first dword to read all ones, the rule the scope and path
// walks keep for the functions they name. On a board both agree: a function
// that does not answer reads all ones in every byte.
bool ioxapic_silent(test_info_t* tinfo) {
  return PciRead16(pci_config_address(pci_location_of(tinfo->ioxapic_reqid), PCI_OFF_VENDOR_ID)) == 0xFFFF;
}

// The function a single-entry scope names.
pci_location scope_device(const device_scope_entry_t& s) {
  return pci_location{s.StartingBusNumber(), (uint8_t)(s.path_device(0) & 0x1F), (uint8_t)(s.path_function(0) & 0x7)};
}

// A finding of the PCI Express type walk: the device has a PCI Express
// capability whose device/port type is not a root complex integrated
// endpoint. A device without one has no finding.
bool not_rciep(pci_location at) {
  uint8_t type = 0;
  return pcie_device_port_type(at, &type) && type != PCIE_TYPE_RCIEP;
}

}  // namespace

uint64_t assert_ioxapic_class_code(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(25, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 25, TEST_MISSING)) return 0;
  pci_location at = pci_location_of(tinfo->ioxapic_reqid);
  debug_print(debug_mask, "DEBUG -- #%d : IOAPIC b:0x%X d:0x%X f:0x%X\n", 25, at.bus, at.device, at.function);
  if (ioxapic_silent(tinfo)) {
    set_result(tc, TEST_NA, "\n");
    return 0;
  }
  if (PciRead8(pci_config_address(at, PCI_OFF_BASE_CLASS)) == IOAPIC_BASE_CLASS &&
      PciRead8(pci_config_address(at, PCI_OFF_SUB_CLASS)) == IOAPIC_SUB_CLASS &&
      PciRead8(pci_config_address(at, PCI_OFF_PROG_IF)) == IOAPIC_PROG_IF)
    set_result(tc, TEST_PASS);
  else
    set_result(tc, TEST_FAIL,
               "IOxAPIC PCI Device has invalid Base Class Code, Sub Class Code or Programming Interface value.\n");
  return 0;
}

// The devices that IOAPIC scopes name are root complex integrated endpoints.
uint64_t assert_ioxapic_rciep(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(26, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 26, TEST_MISSING)) return 0;
  if (ioxapic_silent(tinfo)) {
    set_result(tc, TEST_NA, "\n");
    return 0;
  }
  bool sound = for_each_drhd_scope_of_type(SCOPE_IOAPIC, [&](remap_node_t*, const device_scope_entry_t& s) {
    if (s.path_count() != 1) {
      set_result(tc, TEST_FAIL, "Path length for IOxAPIC Device Scope must be 2.\n");
      return false;
    }
    pci_location at = scope_device(s);
    // A device that does not answer has no capability list to walk.
    if (pci_function_silent(at)) {
      set_result_fmt(tc, TEST_FAIL, "IOxAPIC Device (DID = 0x%X) is not enumerable.\n", pci_device_id(at));
      return false;
    }
    if (not_rciep(at)) {
      set_result_fmt(tc, TEST_FAIL, "IOxAPIC Device (DID = 0x%X) is not a Root Complex Integrated Endpoint.\n",
                     pci_device_id(at));
      return false;
    }
    return true;
  });
  if (sound) set_result(tc, TEST_PASS);
  return 0;
}

// The devices that DRHD PCI-endpoint scopes name answer, have a type-0
// header layout and are root complex integrated endpoints.
uint64_t assert_endpoint_rciep(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(27, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 27)) return 0;
  // Without configuration space only the path lengths are checked; a scope
  // with a sound path then leaves the verdict open.
  bool pci = later_sources_known(27), unread = false;
  bool sound = for_each_drhd_scope_of_type(SCOPE_PCI_ENDPOINT, [&](remap_node_t*, const device_scope_entry_t& s) {
    if (s.path_count() != 1) {
      set_result(tc, TEST_FAIL, "Path length for DRHD Device Scope Type 1, must be 2.\n");
      return false;
    }
    unread |= !pci;
    if (!pci) return true;
    pci_location at = scope_device(s);
    if (pci_function_silent(at)) {
      set_result_fmt(tc, TEST_FAIL, "PCI Device (DID = 0x%X) is not enumerable.\n", pci_device_id(at));
      return false;
    }
    if ((PciRead8(pci_config_address(at, PCI_OFF_HEADER_TYPE)) & PCI_HEADER_LAYOUT_MASK) != 0) {
      set_result_fmt(tc, TEST_FAIL, "PCI Device (DID = 0x%X) must have header value of zero.\n", pci_device_id(at));
      return false;
    }
    if (not_rciep(at)) {
      set_result_fmt(tc, TEST_FAIL, "PCI Device (DID = 0x%X) is not a Root Complex Integrated Endpoint.\n",
                     pci_device_id(at));
      return false;
    }
    return true;
  });
  if (sound && !(unread && recorded_unknown_later(tc))) set_result(tc, TEST_PASS);
  return 0;
}
