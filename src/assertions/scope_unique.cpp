// Device-scope uniqueness and the graphics engine scope: tests 47 and 48.
#include "assertions/assertions.h"
#include "discovery/pci_inventory.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/platform.h"

namespace {

const char* const general_rule_47 =
    "device scopes are unique within each PCI segment, and a segment without INCLUDE_PCI_ALL lists every PCI "
    "function of that segment.";

// Under the general rules: every DRHD segment without INCLUDE_PCI_ALL names
// as many scopes as the inventory holds functions of that segment (each
// function once, however many of the segment's allocations listed it). A
// segment other than 0 was not scanned: *unscanned says so.
bool segments_enumerated(bool* unscanned) {
  request_id_set seen;
  return for_each_drhd_segment([&](uint16_t segment) {
    if (include_pci_all_drhds(segment)) return true;
    if (segment != 0) {
      *unscanned = true;
      return true;
    }
    uint64_t scopes = 0, functions = 0;
    for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t* node, const device_scope_entry_t&) {
      if (node->SegmentNumber() == segment) scopes++;
      return true;
    });
    seen.clear();
    for (pci_dev_t* d : each<pci_dev_t>(pci_dev_list))
      if (d->segment == segment && seen.add(d->rid())) functions++;
    return scopes == functions;
  });
}

}  // namespace

uint64_t assert_scopes_unique(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(47, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 47)) return 0;
  set_result(tc, TEST_PASS);

  // First walk: the INCLUDE_PCI_ALL flag, the number of device scopes (for
  // the enumeration count) and the number of path entries to be stored (a
  // scope may carry more than one, or none).
  bool include_pci_all = false;
  uint64_t scopes = 0, entries = 0;
  for (remap_node_t* drhd : each<remap_node_t>(drhd_list))
    if (drhd->include_pci_all()) include_pci_all = true;
  for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t*, const device_scope_entry_t& scope) {
    scopes++;
    entries += (uint64_t)scope.path_count_inside();
    return true;
  });
  // Under the general rules every segment is judged on its own: a request
  // ID is compared with those of its own segment, and every segment needs
  // INCLUDE_PCI_ALL or a full list.
  bool by_segment = general_rules();
  if (by_segment)
    include_pci_all = for_each_drhd_segment([](uint16_t s) { return include_pci_all_drhds(s) > 0; });

  uint32_t* ids = nullptr;  // request IDs, under the general rules with their segment above them
  if (entries) {
    ids = static_cast<uint32_t*>(AllocateZeroPool(entries * sizeof(uint32_t)));
    if (!ids) {
      Print("Memory Allocation error in assertion #47\n");
      set_result(tc, TEST_MISSING);
      return 1;
    }
  }
  // Second walk over the same scopes: it visits exactly the entries counted.
  uint64_t stored = 0;
  for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t* node, const device_scope_entry_t& scope) {
    uint32_t segment = by_segment ? (uint32_t)node->SegmentNumber() << 16 : 0;
    return for_each_path_entry(scope, [&](int32_t, uint8_t, uint8_t, uint16_t rid) {
      ids[stored++] = segment | rid;
      return true;
    });
  });

  for (uint64_t i = 0; i < stored; i++) {
    debug_print(debug_mask, "DEBUG -- #%d: device_scopes[%d] Request ID = 0x%X:\n", 47, i, ids[i] & 0xFFFF);
    for (uint64_t j = 0; j < stored; j++) {
      if (i != j && ids[i] == ids[j]) {
        set_result(tc, TEST_FAIL, "All Device Scopes under DRHD's must be unique.\n");
        note_general_rule(tc, general_rule_47);
        FreePool(ids);
        return 0;
      }
    }
  }
  // Without INCLUDE_PCI_ALL the scopes are counted against the inventory.
  bool unscanned = false;
  if (include_pci_all || recorded_unknown_later(tc))
    ;
  else if (pci_inventory_unscanned)
    record_inventory_incomplete(tc);
  else if (by_segment ? !segments_enumerated(&unscanned) : list_count(pci_dev_list) != scopes)
    set_result(tc, TEST_FAIL,
               "No DRHD found with INCLUDE_PCI_ALL flag bit set, thus all PCI device must be enumerated in Device "
               "Scopes.\n");
  else if (unscanned)
    record_inventory_incomplete(tc);
  note_general_rule(tc, general_rule_47);
  if (ids) FreePool(ids);
  return 0;
}

uint64_t assert_igfx_scopes(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(48, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 48)) return 0;
  for (uint32_t i = 0; i < platform_bar_count(tinfo); i++) {
    if (tinfo->bars[i].type != BAR_TYPE_IGFX) continue;
    uint64_t gfx_base = platform_bar_base(tinfo, i);
    for (remap_node_t* drhd : each<remap_node_t>(drhd_list)) {
      uint64_t base = drhd->register_base_bits();
      debug_print(debug_mask, "DEBUG -- #%d : drnode->remap->RegisterBaseAddress = 0x%016LX\n", 48, base);
      debug_print(debug_mask, "               (bars[i].address & (~BIT0))        = 0x%016LX\n", gfx_base);
      if (base != gfx_base) continue;
      debug_print(debug_mask, "DEBUG -- #%d : Should be the iGFX DRHD\n", 48);
      bool ok = for_each_scope(drhd->view(), DRHD_FIXED_SIZE, [&](const device_scope_entry_t& scope) {
        return for_each_path_entry(scope, [&](int32_t k, uint8_t dev, uint8_t func, uint16_t) {
          debug_print(debug_mask, "DEBUG -- #%d : DS- B%02d:D%02d:F%02d\n", 48, scope.StartingBusNumber(), dev, func);
          return scope.StartingBusNumber() == 0 && dev == 2 && func == k;
        });
      });
      if (!ok) {
        set_result(tc, TEST_FAIL, "iGFX DRHD Device Scope(s) incorrect.\n");
        return 0;
      }
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}
