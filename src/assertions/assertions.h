// Every assertion takes the run's tables and the filled tinfo and returns 0
// when it evaluated (the outcome is in its record), non-zero otherwise.
#pragma once
#include <stdint.h>

#include "catalogue/catalogue.h"
#include "discovery/acpi.h"
#include "engine/test_info.h"

// Remapping-engine registers, at an engine's register base.
constexpr uint64_t ZYRD_ECAP_REG = 0x10;
constexpr uint64_t ECAP_QI = 1ULL << 1;  // queued invalidation
constexpr uint64_t ECAP_IR = 1ULL << 3;  // interrupt remapping

// True, with the console line saying so, when the run has no MCFG copy.
bool missing_mcfg(const acpi_tables_t* tables);

// Under the general rules: two DRHD scopes of one PCI segment name the same
// device. A scope's device is its request ID where that is known (a
// one-entry path, or a longer one followed through its bridges in
// configuration space where that is known); two paths whose request IDs are
// not known are one device only when their bus and path bytes are equal.
bool drhd_scopes_name_a_device_twice();

typedef uint64_t (*assertion_fn)(acpi_tables_t* tables, test_info_t* tinfo);

// DMAR presence, engine BARs, size and reserved fields.
uint64_t assert_dmar_presence(acpi_tables_t* tables, test_info_t* tinfo);    // 1
uint64_t assert_drhd_bars(acpi_tables_t* tables, test_info_t* tinfo);        // 3
uint64_t assert_dmar_size(acpi_tables_t* tables, test_info_t* tinfo);        // 4
uint64_t assert_reserved_fields(acpi_tables_t* tables, test_info_t* tinfo);  // 5
// Interrupt-remapping capability.
uint64_t assert_ir_matches_flag(acpi_tables_t* tables, test_info_t* tinfo);    // 8
uint64_t assert_ir_consistent(acpi_tables_t* tables, test_info_t* tinfo);      // 9
uint64_t assert_ir_all_when_flag(acpi_tables_t* tables, test_info_t* tinfo);   // 10
// PCI segments, scope buses, request IDs.
uint64_t assert_segments_reported(acpi_tables_t* tables, test_info_t* tinfo);   // 11
uint64_t assert_segments_valid(acpi_tables_t* tables, test_info_t* tinfo);      // 12
uint64_t assert_scope_buses_valid(acpi_tables_t* tables, test_info_t* tinfo);   // 13
uint64_t assert_request_ids_unique(acpi_tables_t* tables, test_info_t* tinfo);  // 14
// Engine coverage, INCLUDE_PCI_ALL placement, scope types.
uint64_t assert_engines_reported(acpi_tables_t* tables, test_info_t* tinfo);      // 15
uint64_t assert_include_pci_all_last(acpi_tables_t* tables, test_info_t* tinfo);  // 23
uint64_t assert_scope_types(acpi_tables_t* tables, test_info_t* tinfo);           // 24
// IOxAPIC reporting.
uint64_t assert_scope_ioxapics_in_madt(acpi_tables_t* tables, test_info_t* tinfo);   // 17
uint64_t assert_ioxapic_request_id(acpi_tables_t* tables, test_info_t* tinfo);       // 18
uint64_t assert_madt_ioxapics_in_scopes(acpi_tables_t* tables, test_info_t* tinfo);  // 21
// HPET reporting.
uint64_t assert_hpet_scopes(acpi_tables_t* tables, test_info_t* tinfo);      // 19
uint64_t assert_hpet_request_id(acpi_tables_t* tables, test_info_t* tinfo);  // 20
uint64_t assert_hpet_reported(acpi_tables_t* tables, test_info_t* tinfo);    // 22
// PCI configuration of the IOxAPIC and scope endpoints.
uint64_t assert_ioxapic_class_code(acpi_tables_t* tables, test_info_t* tinfo);  // 25
uint64_t assert_ioxapic_rciep(acpi_tables_t* tables, test_info_t* tinfo);       // 26
uint64_t assert_endpoint_rciep(acpi_tables_t* tables, test_info_t* tinfo);      // 27
// DRHD scope functions and bridges.
uint64_t assert_scope_functions_exist(acpi_tables_t* tables, test_info_t* tinfo);  // 28
uint64_t assert_bridge_scopes(acpi_tables_t* tables, test_info_t* tinfo);          // 29
// Reserved memory regions.
uint64_t assert_rmrr_scope_endpoints(acpi_tables_t* tables, test_info_t* tinfo);  // 39
uint64_t assert_rmrr_memory_map(acpi_tables_t* tables, test_info_t* tinfo);       // 40
uint64_t assert_rmrr_paths(acpi_tables_t* tables, test_info_t* tinfo);            // 41
// USB controllers and RMRRs.
uint64_t assert_usb_rmrr(acpi_tables_t* tables, test_info_t* tinfo);  // 42
// INCLUDE_PCI_ALL engine.
uint64_t assert_include_pci_all_scopes(acpi_tables_t* tables, test_info_t* tinfo);  // 43
uint64_t assert_one_include_pci_all(acpi_tables_t* tables, test_info_t* tinfo);     // 44
// Address widths.
uint64_t assert_address_widths(acpi_tables_t* tables, test_info_t* tinfo);  // 46
// Scope uniqueness, graphics scope.
uint64_t assert_scopes_unique(acpi_tables_t* tables, test_info_t* tinfo);  // 47
uint64_t assert_igfx_scopes(acpi_tables_t* tables, test_info_t* tinfo);    // 48
// PCI memory BARs.
uint64_t assert_memory_bars(acpi_tables_t* tables, test_info_t* tinfo);  // 49
// Processor virtualization.
uint64_t assert_smbios_vmx(acpi_tables_t* tables, test_info_t* tinfo);    // 51
uint64_t assert_vmx_locked(acpi_tables_t* tables, test_info_t* tinfo);    // 55
// Remapping-engine registers.
uint64_t assert_ir_ecap(acpi_tables_t* tables, test_info_t* tinfo);            // 52
uint64_t assert_default_snoop(acpi_tables_t* tables, test_info_t* tinfo);      // 57
uint64_t assert_policy_locked(acpi_tables_t* tables, test_info_t* tinfo);      // 58
uint64_t assert_gfx_pasid(acpi_tables_t* tables, test_info_t* tinfo);          // 63
uint64_t assert_gfx_prs(acpi_tables_t* tables, test_info_t* tinfo);            // 64
uint64_t assert_gfx_ext_caps(acpi_tables_t* tables, test_info_t* tinfo);       // 65
// IOxAPIC and HPET scopes.
uint64_t assert_ioapic_ids_unique(acpi_tables_t* tables, test_info_t* tinfo);  // 53
uint64_t assert_hpet_scope_reqid(acpi_tables_t* tables, test_info_t* tinfo);   // 54
// ACPI namespace devices.
uint64_t assert_andd_has_scope(acpi_tables_t* tables, test_info_t* tinfo);      // 59
uint64_t assert_namespace_needs_andd(acpi_tables_t* tables, test_info_t* tinfo);  // 60
uint64_t assert_scope_has_andd(acpi_tables_t* tables, test_info_t* tinfo);      // 61
// What an operating system checks when it boots (numbered from 101; on the
// seven families only with -x).
uint64_t assert_x2apic_mode(acpi_tables_t* tables, test_info_t* tinfo);         // 101
uint64_t assert_dma_opt_in(acpi_tables_t* tables, test_info_t* tinfo);          // 102
uint64_t assert_handoff_state(acpi_tables_t* tables, test_info_t* tinfo);       // 103
uint64_t assert_rmrr_assignable(acpi_tables_t* tables, test_info_t* tinfo);     // 104
uint64_t assert_rmrr_overlap(acpi_tables_t* tables, test_info_t* tinfo);        // 105
uint64_t assert_rhsa_drhd(acpi_tables_t* tables, test_info_t* tinfo);           // 106
uint64_t assert_andd_names(acpi_tables_t* tables, test_info_t* tinfo);          // 107
uint64_t assert_drhd_bases(acpi_tables_t* tables, test_info_t* tinfo);          // 108
uint64_t assert_host_address_width(acpi_tables_t* tables, test_info_t* tinfo);  // 109
uint64_t assert_satc_sidp(acpi_tables_t* tables, test_info_t* tinfo);           // 110

// The record of an assertion, or null after printing the lookup-failure
// line ("...ID = 20.\n" when full_stop is set, "...ID = 8\n" otherwise).
test_case_t* assertion_record(uint64_t id, bool full_stop);

// Assertion frame: after the record lookup, an assertion whose N/A flag is
// set records na_result (TEST_NA, or TEST_MISSING for those whose flag means
// the platform's registers were out of reach), keeps its message and stops.
inline bool recorded_not_applicable(test_case_t* tc, const test_info_t* tinfo, uint32_t id,
                                    uint64_t na_result = TEST_NA) {
  if (!is_not_applicable(tinfo, id)) return false;
  tc->result = na_result;
  return true;
}

// Records a WARNING saying that the PCI inventory is incomplete, for an
// assertion whose answer would otherwise rest on functions never scanned.
void record_inventory_incomplete(test_case_t* tc);
// PASS for an assertion that found nothing wrong, or that WARNING when its
// walk over the inventory missed functions.
void record_pass_unless_inventory_incomplete(test_case_t* tc);

// The DMAR's Flags byte, and Flags[0]: the platform reports interrupt
// remapping.
uint8_t dmar_flags(const acpi_tables_t* tables);
bool dmar_ir_flag(const acpi_tables_t* tables);
// The step of the assertions that need interrupt remapping: with the flag
// clear, records not applicable with its message and returns true.
bool recorded_ir_flag_clear(test_case_t* tc, const acpi_tables_t* tables);
