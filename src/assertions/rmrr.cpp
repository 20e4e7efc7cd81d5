// Reserved memory region assertions: tests 39, 40 and 41.
#include "assertions/assertions.h"
#include "discovery/config_space.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t EFI_RESERVED_MEMORY_TYPE = 0;
constexpr uint32_t EFI_RUNTIME_SERVICES_CODE = 5;
constexpr uint32_t EFI_RUNTIME_SERVICES_DATA = 6;
constexpr uint64_t EFI_PAGE_SIZE = 4096;
// EFI_MEMORY_DESCRIPTOR: Type, PhysicalStart, VirtualStart, NumberOfPages,
// Attribute.
constexpr uint32_t MEMDESC_OFF_TYPE = 0;
constexpr uint32_t MEMDESC_OFF_PHYSICAL_START = 8;
constexpr uint32_t MEMDESC_OFF_NUMBER_OF_PAGES = 24;
constexpr uint64_t MEMDESC_SIZE = 40;
// Room for the descriptors that the allocation itself may add.
constexpr uint64_t MEMORY_MAP_SPARE_DESCRIPTORS = 256;

// A descriptor size that cannot hold a descriptor would make the walk read
// past each entry (or divide by zero); a larger one than 64 KiB is no map's.
bool descriptor_size_usable(uint64_t size) { return size >= MEMDESC_SIZE && size <= 0x10000; }

// The memory map of test 40, owned by the assertion and freed on every exit.
struct memory_map_t {
  uint8_t* buffer = nullptr;
  uint64_t buffer_size = 0;
  uint64_t map_size = 0;
  uint64_t descriptor_size = 0;
  byte_view view() const { return byte_view(buffer, map_size < buffer_size ? map_size : buffer_size); }
  ~memory_map_t() {
    if (buffer) FreePool(buffer);
  }
};

// True when the region [base, limit] lies inside the descriptor's range,
// compared without overflow: a descriptor that would end beyond 2^64 still
// ends after every address.
bool region_inside(uint64_t base, uint64_t limit, uint64_t start, uint64_t pages) {
  if (base < start) return false;
  uint64_t size = pages > (~0ULL / EFI_PAGE_SIZE) ? ~0ULL : pages * EFI_PAGE_SIZE;
  return base - start < size && limit - start < size;
}

// The faults the RMRR's own fields show: a base or size that is not whole
// pages, a limit below the base. Records the failure and returns true.
bool recorded_region_fault(test_case_t* tc, byte_view s) {
  uint64_t base = s.u64(RMRR_OFF_BASE);
  uint64_t limit = s.u64(RMRR_OFF_LIMIT);
  if (base & 0xFFF)
    set_result(tc, TEST_FAIL, "RMMR base address must be 4KB aligned.\n");
  else if ((limit - base + 1) & 0xFFF)
    set_result(tc, TEST_FAIL, "RMMR size must be multiple of 4KB.\n");
  // A limit below the base describes no region at all.
  else if (limit < base)
    set_result_fmt(tc, TEST_FAIL, "RMRR Base Address(0x%X) Limit Adress(0x%X) does not describe a region.\n", base,
                   limit);
  else
    return false;
  return true;
}

// Without the memory map or configuration space, the tables decide only an
// RMRR whose fields are at fault, or that there is no RMRR.
void check_regions_alone(test_case_t* tc) {
  for (remap_node_t* rmrr : each<remap_node_t>(rmrr_list))
    if (recorded_region_fault(tc, rmrr->view())) return;
  if (list_empty(rmrr_list))
    set_result(tc, TEST_PASS);
  else
    recorded_unknown_later(tc);
}

}  // namespace

uint64_t assert_rmrr_scope_endpoints(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(39, true);
  if (!tc) return 1;
  bool ok = for_each_list_scope(rmrr_list, RMRR_FIXED_SIZE, [](remap_node_t*, const device_scope_entry_t& scope) {
    return scope.Type() == SCOPE_PCI_ENDPOINT;
  });
  if (!ok)
    set_result(tc, TEST_FAIL, "RMMR Device Scopes must contain only PCI Endpoint types.\n");
  else
    set_result(tc, TEST_PASS);
  note_general_rule(tc, scopes_by_length_rule);
  return 0;
}

uint64_t assert_rmrr_memory_map(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(40, true);
  if (!tc) return 1;
  if (!later_sources_known(40)) {
    check_regions_alone(tc);
    return 0;
  }

  memory_map_t mm;
  uint64_t map_key = 0;
  uint32_t version = 0;
  efi_status_t status = GetMemoryMap(&mm.map_size, nullptr, &map_key, &mm.descriptor_size, &version);
  if (status != EFI_BUFFER_TOO_SMALL) {
    set_result_fmt(tc, TEST_WARNING, "Cannot verify RMMR regions. GetMemoryMap() return with status = %d.\n", status);
    return 0;
  }
  // Both calls report the descriptor size; each answer is checked.
  auto descriptor_size_refused = [&] {
    if (descriptor_size_usable(mm.descriptor_size)) return false;
    set_result_fmt(tc, TEST_WARNING, "Cannot verify RMMR regions. GetMemoryMap() returned DescriptorSize = %d.\n",
                   mm.descriptor_size);
    return true;
  };
  if (descriptor_size_refused()) return 0;
  mm.buffer_size = mm.map_size + mm.descriptor_size * MEMORY_MAP_SPARE_DESCRIPTORS;
  if (mm.buffer_size > 0xFFFFFFFFULL || !(mm.buffer = static_cast<uint8_t*>(AllocateZeroPool(mm.buffer_size)))) {
    set_result(tc, TEST_WARNING,
               "Cannot verify RMMR regions. Failed to allocated memory for memory descriptors.\n");
    return 0;
  }
  mm.map_size = mm.buffer_size;
  status = GetMemoryMap(&mm.map_size, mm.buffer, &map_key, &mm.descriptor_size, &version);
  if (status != EFI_SUCCESS) {
    set_result_fmt(tc, TEST_WARNING,
                   "Cannot verify RMMR regions. Second call to GetMemoryMap() return with status = %d.\n", status);
    return 0;
  }
  debug_print(debug_mask, "DEBUG -- #%d : mem_desc_version = 0x%X\n", 40, version);
  if (version != EFI_MEMORY_DESCRIPTOR_VERSION) {
    set_result_fmt(tc, TEST_WARNING,
                   "Cannot verify RMMR regions. DescriptorVersion (%d) !=  EFI_MEMORY_DESCRIPTOR_VERSION (%d).\n",
                   version, EFI_MEMORY_DESCRIPTOR_VERSION);
    return 0;
  }
  if (descriptor_size_refused()) return 0;

  byte_view map = mm.view();
  uint64_t descriptors = map.size / mm.descriptor_size;
  for (remap_node_t* rmrr : each<remap_node_t>(rmrr_list)) {
    byte_view s = rmrr->view();
    uint64_t base = s.u64(RMRR_OFF_BASE);
    uint64_t limit = s.u64(RMRR_OFF_LIMIT);
    bool display = false, usb = false;
    if (recorded_region_fault(tc, s)) return 0;

    for_each_scope(s, RMRR_FIXED_SIZE, [&](const device_scope_entry_t& scope) {
      for_each_path_entry(scope, [&](int32_t, uint8_t dev, uint8_t func, uint16_t) {
        pci_location at{scope.StartingBusNumber(), (uint8_t)(dev & 0x1F), (uint8_t)(func & 0x7)};
        uint8_t base_class = PciRead8(pci_config_address(at, PCI_OFF_BASE_CLASS));
        debug_print(debug_mask, "DEBUG -- #%d : PciRead8(PCI_LIB_ADDRESS(b, d, f, 0x0B)) = 0x%X\n", 40, base_class);
        if (base_class == PCI_CLASS_DISPLAY) display = true;
        if (base_class == PCI_CLASS_SERIAL_BUS) usb = true;
        return base_class != PCI_CLASS_DISPLAY && base_class != PCI_CLASS_SERIAL_BUS;
      });
      return true;
    });
    if (display) continue;

    debug_print(debug_mask, "DEBUG -- #%d : mem_map_size = 0x%X : mem_desc_size = 0x%X \n", 40, mm.map_size,
                mm.descriptor_size);
    // One candidate descriptor must hold the region; under the general
    // rules adjacent candidates may hold it together: from the first address
    // not yet held, each pass looks for the candidate that holds it.
    bool found = false, spans = general_rules();
    uint64_t at = base;
    for (uint64_t pass = 0; pass <= descriptors && !found; pass++) {
      bool advanced = false;
      for (uint64_t i = 0; i < descriptors && !found && !advanced; i++) {
        byte_view d = map.sub(i * mm.descriptor_size, MEMDESC_SIZE);
        uint32_t type = d.u32(MEMDESC_OFF_TYPE);
        bool candidate = type == EFI_RESERVED_MEMORY_TYPE ||
                         (usb && (type == EFI_RUNTIME_SERVICES_CODE || type == EFI_RUNTIME_SERVICES_DATA));
        if (!candidate) continue;
        uint64_t start = d.u64(MEMDESC_OFF_PHYSICAL_START);
        uint64_t pages = d.u64(MEMDESC_OFF_NUMBER_OF_PAGES);
        uint64_t size = pages * EFI_PAGE_SIZE;
        debug_print(debug_mask, "DEBUG -- #%d : rmrr_base_addr   = 0x%016LX : rmrr_limit_addr = 0x%016LX\n", 40, at,
                    limit);
        debug_print(debug_mask, "               m_base           = 0x%016LX : m_limit         = 0x%016LX\n", start,
                    size);
        debug_print(debug_mask, "               m_base + m_limit = 0x%016LX\n", start + size);
        if (region_inside(at, limit, start, pages)) {
          debug_print(debug_mask, "DEBUG -- #%d : RMRR found in Reserved Memory Map area.\n", 40);
          found = true;
        } else if (spans && region_inside(at, at, start, pages)) {
          at = start + size;
          advanced = true;
        }
      }
      if (!advanced) break;
    }
    if (found) continue;

    if (usb) {
      debug_print(debug_mask, "DEBUG -- #%d : RMRR Not found in Reserved or Runtime Memory Map area.\n", 40);
      set_result_fmt(tc, TEST_FAIL,
                     "RMRR Base Address(0x%X) Limit Adress(0x%X) is not marked as reserved or runtime in system "
                     "memory map.\n",
                     base, limit);
    } else {
      debug_print(debug_mask, "DEBUG -- #%d : RMRR Not found in Reserved Memory Map area.\n", 40);
      set_result_fmt(tc, TEST_FAIL,
                     "RMRR Base Address(0x%X) Limit Adress(0x%X) is not marked as reserved in system memory map.\n",
                     base, limit);
    }
    note_general_rule(tc, "an RMRR lies in memory that every descriptor covering it marks reserved (or runtime, "
                          "for USB controllers), adjacent descriptors included.");
    return 0;
  }
  set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_rmrr_paths(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(41, true);
  if (!tc) return 1;
  // Each path is followed as the DMAR standard defines it (scope_path_function):
  // a path is invalid when it names no function.
  bool ok = for_each_list_scope(rmrr_list, RMRR_FIXED_SIZE, [&](remap_node_t*, const device_scope_entry_t& scope) {
    pci_location at{};
    return scope_path_function(scope, &at);
  });
  if (!ok) {
    set_result(tc, TEST_FAIL, "The RMRR has an invalid PCI path.\n");
    return 0;
  }
  set_result(tc, TEST_PASS);
  return 0;
}
