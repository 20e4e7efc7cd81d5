// Device-scope uniqueness and the graphics engine scope: tests 47 and 48.
#include "assertions/assertions.h"
#include "discovery/config_space.h"
#include "discovery/pci_inventory.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/platform.h"
#include "platform/print.h"

namespace {

const char* const general_rule_47 =
    "as 14, and a PCI segment without INCLUDE_PCI_ALL (or without a DRHD) lists every PCI function of it.";

// The request ID of the device a scope names, where it is known: a
// one-entry path, or a longer one followed bridge by bridge through
// configuration space, where that is known and reaches the scope's segment
// (the ports reach segment 0 only) and the path names a function there.
bool scope_device(const device_scope_entry_t& s, uint16_t segment, uint16_t* rid) {
  if (s.path_count_inside() == 1) {
    *rid = s.path_request_id(0);
    return true;
  }
  pci_location at;
  if (segment != 0 || !source_known(SOURCE_PCI) || !scope_path_function(s, &at)) return false;
  *rid = request_id(at.bus, at.device, at.function);
  return true;
}

// The same starting bus and path bytes.
bool same_path(const device_scope_entry_t& a, const device_scope_entry_t& b) {
  if (a.Length() != b.Length()) return false;
  for (size_t i = SCOPE_OFF_START_BUS; i < a.Length(); i++)
    if (a.bytes.u8(i) != b.bytes.u8(i)) return false;
  return true;
}

bool segment_has_drhd(uint16_t segment) {
  for (remap_node_t* node : each<remap_node_t>(drhd_list))
    if (node->SegmentNumber() == segment) return true;
  return false;
}

// Under the general rules, the segments whose scopes must list every
// function: a DRHD segment without INCLUDE_PCI_ALL, an MCFG segment without
// a DRHD. *needed when there is one. False when such a segment names fewer
// or more scopes than the inventory holds functions of it (each function
// once, however many allocations listed it); a segment other than 0 was not
// scanned: *unscanned says so.
bool segments_enumerated(byte_view mcfg, bool* needed, bool* unscanned) {
  request_id_set seen;
  auto enumerated = [&](uint16_t segment, bool named) {
    *needed = true;
    if (segment != 0) {
      *unscanned = true;
      return true;
    }
    uint64_t scopes = 0, functions = 0;
    if (named)
      for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t* node, const device_scope_entry_t&) {
        if (node->SegmentNumber() == segment) scopes++;
        return true;
      });
    seen.clear();
    for (pci_dev_t* d : each<pci_dev_t>(pci_dev_list))
      if (d->segment == segment && seen.add(d->rid())) functions++;
    return scopes == functions;
  };
  return for_each_drhd_segment([&](uint16_t s) { return include_pci_all_drhds(s) || enumerated(s, true); }) &&
         for_each_mcfg_allocation(mcfg, [&](const csbaas_t& a) {
           return segment_has_drhd(a.pci_segment()) || enumerated(a.pci_segment(), false);
         });
}

// The families' rule: every path entry's request ID, one pool for all DRHDs.
// False when the table of IDs cannot be had.
bool request_ids_repeat(bool* repeat) {
  uint64_t entries = 0;
  for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t*, const device_scope_entry_t& scope) {
    entries += (uint64_t)scope.path_count_inside();
    return true;
  });
  *repeat = false;
  if (!entries) return true;
  uint16_t* ids = static_cast<uint16_t*>(AllocateZeroPool(entries * sizeof(uint16_t)));
  if (!ids) return false;
  // Second walk over the same scopes: it visits exactly the entries counted.
  uint64_t stored = 0;
  for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t*, const device_scope_entry_t& scope) {
    return for_each_path_entry(scope, [&](int32_t, uint8_t, uint8_t, uint16_t rid) {
      ids[stored++] = rid;
      return true;
    });
  });
  for (uint64_t i = 0; i < stored && !*repeat; i++) {
    debug_print(debug_mask, "DEBUG -- #%d: device_scopes[%d] Request ID = 0x%X:\n", 47, i, ids[i]);
    for (uint64_t j = 0; j < stored && !*repeat; j++) *repeat = i != j && ids[i] == ids[j];
  }
  FreePool(ids);
  return true;
}

}  // namespace

bool drhd_scopes_name_a_device_twice() {
  // Each pair of scopes of one segment: known request IDs with known ones,
  // paths whose request ID is not known by their bytes.
  return any_list_scope(drhd_list, DRHD_FIXED_SIZE, [](remap_node_t* a, const device_scope_entry_t& sa) {
    uint16_t rid_a = 0, rid_b = 0;
    bool known_a = scope_device(sa, a->SegmentNumber(), &rid_a);
    return any_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t* b, const device_scope_entry_t& sb) {
      if ((b == a && sb.index == sa.index) || b->SegmentNumber() != a->SegmentNumber()) return false;
      bool known_b = scope_device(sb, b->SegmentNumber(), &rid_b);
      return known_a ? known_b && rid_a == rid_b : !known_b && same_path(sa, sb);
    });
  });
}

uint64_t assert_scopes_unique(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(47, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 47)) return 0;
  set_result(tc, TEST_PASS);

  // Under the general rules every segment is judged on its own: a device is
  // compared with those of its own segment, and every segment of the DRHDs
  // and of the MCFG needs INCLUDE_PCI_ALL or a full list.
  bool by_segment = general_rules();
  bool include_pci_all = false, repeat = false;
  uint64_t scopes = 0;
  for (remap_node_t* drhd : each<remap_node_t>(drhd_list))
    if (drhd->include_pci_all()) include_pci_all = true;
  for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t*, const device_scope_entry_t&) {
    scopes++;
    return true;
  });
  if (by_segment) {
    repeat = drhd_scopes_name_a_device_twice();
  } else if (!request_ids_repeat(&repeat)) {
    Print("Memory Allocation error in assertion #47\n");
    set_result(tc, TEST_MISSING);
    return 1;
  }
  if (repeat) {
    set_result(tc, TEST_FAIL, "All Device Scopes under DRHD's must be unique.\n");
    note_general_rule(tc, general_rule_47);
    return 0;
  }
  // Without INCLUDE_PCI_ALL the scopes are counted against the inventory.
  // Under the general rules the MCFG says which segments the platform has
  // (without it, that is not known).
  bool needed = false, unscanned = false;
  bool counted = !by_segment || segments_enumerated(mcfg_view(*tables), &needed, &unscanned);
  if (by_segment) include_pci_all = source_known(SOURCE_MCFG) && !needed;
  if (include_pci_all || recorded_unknown_later(tc))
    ;
  else if (pci_inventory_unscanned)
    record_inventory_incomplete(tc);
  else if (by_segment ? !counted : list_count(pci_dev_list) != scopes)
    set_result(tc, TEST_FAIL,
               "No DRHD found with INCLUDE_PCI_ALL flag bit set, thus all PCI device must be enumerated in Device "
               "Scopes.\n");
  else if (unscanned)
    record_inventory_incomplete(tc);
  note_general_rule(tc, general_rule_47);
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
