// The test driver: processor dispatch, the family's setup routine, then every
// assertion of the catalogue in one fixed order. Seven small assertions are
// evaluated here.
#include "engine/driver.h"

#include "assertions/assertions.h"
#include "catalogue/catalogue.h"
#include "discovery/dmar.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/platform.h"
#include "platform/print.h"

namespace {

// Test 6 looks at no more than this many remapping structures.
constexpr uint32_t TYPE_WALK_LIMIT = 52;

}  // namespace

// ---------------------------------------------------------------------------
// Inline assertions.

// DMAR checksum: every byte of the table, 8-bit sum.
uint64_t assert_dmar_checksum(acpi_tables_t* tables, test_info_t*) {
  test_case_t* tc = assertion_record(2, false);
  if (!tc) return 1;
  byte_view dmar = dmar_view(*tables);
  uint64_t length = dmar.u32(DMAR_OFF_LENGTH);
  if (length > dmar.size) length = dmar.size;  // only the bytes of the copy
  uint8_t sum = 0;
  for (uint64_t i = 0; i < length; i++) sum = (uint8_t)(sum + dmar.u8((size_t)i));
  if (sum == 0)
    set_result(tc, TEST_PASS);
  else
    set_result_fmt(tc, TEST_FAIL, "Entire table must sum to zero. Expected: 0 - Actual %d.\n", sum);
  return 0;
}

// Every remapping structure has a defined type.
uint64_t assert_structure_types(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(6, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 6)) return 0;
  // The general rules know SATC and SIDP too.
  uint16_t last_defined = general_rules() ? DMAR_TYPE_SIDP : DMAR_TYPE_ANDD;
  bool invalid = false;
  for_each_remap_structure(dmar_view(*tables), TYPE_WALK_LIMIT, [&](byte_view s, uint32_t) {
    invalid = remap_type(s) > last_defined;
    return !invalid;
  });
  if (invalid)
    set_result(tc, TEST_FAIL, "Invalid remapping structure type in DMAR table.\n");
  else
    set_result(tc, TEST_PASS);
  note_general_rule(tc, "remapping structure types 0 to 6 are defined (SATC, SIDP).");
  return 0;
}

// At least one DRHD.
uint64_t assert_has_drhd(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(7, false);
  if (!tc) return 1;
  if (is_not_applicable(tinfo, 7))
    set_result(tc, TEST_NA);
  else if (list_empty(drhd_list))
    set_result(tc, TEST_FAIL, "DMAR Table does not list any DRHD structure(s).\n");
  else
    set_result(tc, TEST_PASS);
  return 0;
}

// Some DRHD carries INCLUDE_PCI_ALL.
uint64_t assert_has_include_pci_all(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(16, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 16)) return 0;
  bool found = false;
  if (general_rules()) {
    // Every segment has its own.
    found = !list_empty(drhd_list) && for_each_drhd_segment([](uint16_t s) { return include_pci_all_drhds(s) > 0; });
  } else {
    for (remap_node_t* n : each<remap_node_t>(drhd_list)) found = found || n->include_pci_all();
  }
  if (found)
    set_result(tc, TEST_PASS);
  else
    set_result(tc, TEST_FAIL, "DMAR does not report a DRHD with INCLUDE_PCI_ALL flag set.\n");
  note_general_rule(tc, "every PCI segment of the DRHDs has a DRHD with INCLUDE_PCI_ALL.");
  return 0;
}

// Every RMRR lists a device scope. The count is signed: a structure shorter
// than its fixed part counts negative, not zero.
uint64_t assert_rmrr_has_scope(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(38, true);
  if (!tc) return 1;
  // Under the general rules the scopes are counted by their walk.
  for (remap_node_t* n : each<remap_node_t>(rmrr_list)) {
    bool none = general_rules() ? for_each_scope(n->view(), RMRR_FIXED_SIZE, [](const device_scope_entry_t&) {
      return false;
    }) : scope_count(n->view(), RMRR_FIXED_SIZE) == 0;
    if (none) {
      set_result(tc, TEST_FAIL, "RMMR structures must contain at least 1 device scope.\n");
      note_general_rule(tc, scopes_by_length_rule);
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}

// Placeholders: nothing to examine yet.
uint64_t assert_placeholder_45(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(45, true);
  if (!tc) return 1;
  set_result(tc, is_not_applicable(tinfo, 45) ? TEST_NA : TEST_PASS);
  return 0;
}

uint64_t assert_placeholder_62(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(62, true);
  if (!tc) return 1;
  if (is_not_applicable(tinfo, 62))
    set_result(tc, TEST_NA);
  else
    set_result(tc, TEST_NA, "This test is still under investigation.\n");
  return 0;
}

namespace {

// ---------------------------------------------------------------------------
// The fixed order: the rows of assertion_sources (engine/sources.cpp).

// The checks beyond the families' rules run where the general rules judge,
// and on a family when asked for: elsewhere their records leave the
// catalogue (drop_os_check_records), so that the report is the families'
// own. A check runs where its record is: a catalogue without its line does
// not ask for it.
bool os_check_runs(uint32_t test) { return test < FIRST_OS_CHECK || find_test_case(test); }

void drop_os_check_records() {
  for (list_entry* e = test_case_list.next; e != &test_case_list;) {
    list_entry* next = e->next;
    if (reinterpret_cast<test_case_node_t*>(e)->tc.id >= FIRST_OS_CHECK) {
      list_unlink(e);
      FreePool(e);
    }
    e = next;
  }
}

// The processor's chipset profile, or null when CPUID is not known or the
// processor has none. Without -a an unlisted processor ends the run.
bool dispatch(bool any_processor, const chipset_profile_t** profile) {
  *profile = nullptr;
  uint32_t eax = 0;
  if (!processor_signature(&eax)) return true;
  *profile = processor_profile(eax);
  if (*profile) return true;
  if (!any_processor) {
    Print("CPU not supported 0x%X\n", eax & SIG_MASK);
    Print("Run Iovet.efi -a to check what needs no chipset view of this processor.\n");
    return false;
  }
  set_unlisted_processor(eax & SIG_MASK);
  return true;
}

// An assertion whose sources are not all known is not run: its record says
// which one and why. Returns its status as the assertion would.
uint64_t run_one(const assertion_sources_t& e, acpi_tables_t* tables, test_info_t* tinfo, bool* not_run) {
  *not_run = !sources_known(e.needs);
  if (!*not_run) return e.run(tables, tinfo);
  test_case_t* tc = assertion_record(e.test, e.test >= 20);
  if (!tc) return 1;
  recorded_unknown_sources(tc, e.needs);
  return 0;
}

}  // namespace

uint64_t run_assertions(acpi_tables_t* tables, test_info_t* tinfo, bool any_processor, bool os_checks) {
  const chipset_profile_t* profile;
  if (!dispatch(any_processor, &profile)) return 1;
  if (!os_checks && !general_rules()) drop_os_check_records();
  // A disabled MCHBAR has been reported by the routine; the assertions still
  // run on what the record holds. The routine reads the chipset only where
  // its view is known.
  if (profile && source_known(SOURCE_CHIPSET)) run_chipset_setup(*profile, tinfo);

  for (uint32_t i = 0; i < assertion_source_count; i++) {
    const assertion_sources_t& e = assertion_sources[i];
    if (!os_check_runs(e.test)) continue;
    bool not_run = false;
    uint64_t status = run_one(e, tables, tinfo, &not_run);
    if (e.rule == STOP_ON_ERROR && status != 0) return 1;
    if (e.rule == STOP_UNLESS_PASS) {
      // Without a record for the test there is no result to go on from. A
      // test not run for an unknown source stops the run only where the
      // known facts do: no DMAR to check.
      test_case_t* tc = find_test_case(e.test);
      if (!tc) return 0;
      bool nothing_to_check = source_known(SOURCE_DMAR) && !tables->dmar;
      if (tc->result != TEST_PASS && (!not_run || nothing_to_check)) return 0;
      if (tc->result != TEST_PASS) set_went_on_after_test_one();
    }
  }
  return 0;
}
