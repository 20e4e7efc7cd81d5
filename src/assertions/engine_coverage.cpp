// Engine coverage by the DRHDs, placement of the INCLUDE_PCI_ALL DRHD, and
// the device-scope types of DRHDs, RMRRs and ATSRs.
#include "assertions/assertions.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/print.h"

// Every platform engine is named by some DRHD, in any order: counts the
// DRHDs that name some engine (each at most once).
uint64_t assert_engines_reported(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(15, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 15)) return 0;
  if (list_empty(drhd_list)) {
    Print("ERROR -- No DRHD found in DMAR table.\n");
    return 1;
  }
  uint32_t bars = platform_bar_count(tinfo);
  uint32_t match = 0;
  for (remap_node_t* node : each<remap_node_t>(drhd_list)) {
    byte_view d = node->view();
    uint64_t reported = node->register_base_bits();
    for (uint32_t i = 0; i < bars; i++) {
      debug_print(debug_mask, "DEBUG -- #%d : pnode->remap->Type = 0x%X\n", 15, remap_type(d));
      debug_print(debug_mask, "DEBUG -- #%d : pnode->remap->Length = 0x%X\n", 15, remap_length(d));
      debug_print(debug_mask, "DEBUG -- #%d : pnode->remap->Flags = 0x%X\n", 15, node->Flags());
      debug_print(debug_mask, "DEBUG -- #%d : pnode->remap->Reserved = 0x%X\n", 15, d.u8(DRHD_OFF_RESERVED));
      debug_print(debug_mask, "DEBUG -- #%d : pnode->remap->SegmentNumber = 0x%X\n", 15, node->SegmentNumber());
      debug_print(debug_mask, "DEBUG -- #%d : pnode->remap->RegisterBaseAddress & ZYRD_BARONLY_MASK = 0x%X\n", 15,
                  reported);
      debug_print(debug_mask, "DEBUG -- #%d : tinfo->bars[i].address & (~BIT0) = 0x%X\n", 15,
                  platform_bar_base(tinfo, i));
      if (reported == platform_bar_base(tinfo, i)) {
        match++;
        break;
      }
    }
  }
  if (match == tinfo->remap_bar_count) {
    set_result(tc, TEST_PASS);
  } else {
    debug_print(debug_mask, "DEBUG: match = %d, remap_bar_count = %d\n", match, tinfo->remap_bar_count);
    set_result(tc, TEST_FAIL, "All Zyr-d Remapping engines are not reported via DRHDs in DMAR structure.\n");
  }
  return 0;
}

// The last DRHD carries INCLUDE_PCI_ALL for the segment of every allocation.
uint64_t assert_include_pci_all_last(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(23, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 23)) return 0;
  if (missing_mcfg(tables)) return 1;
  // The last DRHD of the table, or under the general rules the last one of
  // the allocation's own segment.
  bool by_segment = general_rules();
  remap_node_t* last = list_last<remap_node_t>(drhd_list);
  uint32_t allocations = 0, covered = 0;
  bool looked_up = false;
  uint16_t last_segment = 0;
  for_each_mcfg_allocation(mcfg_view(*tables), [&](const csbaas_t& a) {
    if (by_segment && (!looked_up || a.pci_segment() != last_segment)) {
      looked_up = true;
      last_segment = a.pci_segment();
      last = nullptr;
      for (remap_node_t* node : each<remap_node_t>(drhd_list))
        if (node->SegmentNumber() == last_segment) last = node;
    }
    allocations++;
    if (last && last->include_pci_all() && last->SegmentNumber() == a.pci_segment()) covered++;
    return true;
  });
  if (covered != allocations)
    set_result(tc, TEST_FAIL,
               "No DRHD with INCLUDE_PCI_ALL flag set or if set, is not last DRHD enumerated in DRHD.\n");
  else
    set_result(tc, TEST_PASS);
  note_general_rule(tc, "in every PCI segment of the MCFG, the last DRHD of that segment carries INCLUDE_PCI_ALL.");
  return 0;
}

namespace {
const char* const structure_names[] = {"DRHD", "RMRR", "ATSR", "RHSA", "ANDD", "SATC", "SIDP"};

// Under the general rules: the first malformed device scope of the table's
// structures, in table order, fails the record with its place.
bool recorded_malformed_scope(test_case_t* tc) {
  const malformed_scope& m = first_malformed_scope;
  if (m.form == SCOPE_WELL_FORMED) return false;
  const char* why = m.form == SCOPE_TOO_SHORT  ? "below 8"
                    : m.form == SCOPE_ODD_PATH ? "odd path length"
                                               : "past its structure";
  set_result_fmt(tc, TEST_FAIL, "%s at DMAR offset 0x%X: device scope at offset 0x%X, Length %d: %s.\n",
                 structure_names[m.type], m.structure, m.scope, m.length, why);
  return true;
}

// True when some scope of the list has a type above 5.
bool list_has_undefined_scope_type(list_entry& list, uint32_t fixed) {
  return any_list_scope(list, fixed,
                        [](remap_node_t*, const device_scope_entry_t& s) { return s.Type() > SCOPE_ACPI_NAMESPACE; });
}
}  // namespace

uint64_t assert_scope_types(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(24, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 24)) return 0;
  if (general_rules() && recorded_malformed_scope(tc))
    ;
  else if (list_has_undefined_scope_type(drhd_list, DRHD_FIXED_SIZE))
    set_result(tc, TEST_FAIL, "DRHD contains invalid Device Scope Type.\n");
  else if (list_has_undefined_scope_type(rmrr_list, RMRR_FIXED_SIZE))
    set_result(tc, TEST_FAIL, "RMRR contains invalid Device Scope Type.\n");
  else if (list_has_undefined_scope_type(atsr_list, ATSR_FIXED_SIZE))
    set_result(tc, TEST_FAIL, "ATSR contains invalid Device Scope Type.\n");
  else
    set_result(tc, TEST_PASS);
  note_general_rule(tc, scopes_by_length_rule);
  return 0;
}
