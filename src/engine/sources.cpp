#include "engine/sources.h"

#include "assertions/assertions.h"
#include "engine/driver.h"


// The assertions in the driver's order, each with its stop rule and what it
// reads. needs: the sources its verdict rests on (of the
// chipset's view, the facts it reads), asked for before it runs; later: the
// sources it reads only after the steps that the tables alone decide (19,
// 20, 27, 40, 47, 52, 54, 101, 108, 109, 110).
const assertion_sources_t assertion_sources[] = {
    {1, assert_dmar_presence, STOP_UNLESS_PASS, FROM_DMAR | FROM_REMAP_ALLOWED, 0},
    {2, assert_dmar_checksum, GO_ON, FROM_DMAR, 0},
    {3, assert_drhd_bars, STOP_ON_ERROR, FROM_DMAR | FROM_ENGINE_BASES, 0},
    {4, assert_dmar_size, GO_ON, FROM_DMAR, 0},
    {5, assert_reserved_fields, GO_ON, FROM_DMAR, 0},
    {6, assert_structure_types, GO_ON, FROM_DMAR, 0},
    {7, assert_has_drhd, GO_ON, FROM_DMAR, 0},
    {8, assert_ir_matches_flag, GO_ON, FROM_DMAR | FROM_ENGINES | ENGINE_LIST, 0},
    {9, assert_ir_consistent, GO_ON, FROM_DMAR | FROM_ENGINES | ENGINE_LIST, 0},
    {10, assert_ir_all_when_flag, GO_ON, FROM_DMAR | FROM_ENGINES | ENGINE_LIST, 0},
    {11, assert_segments_reported, GO_ON, FROM_DMAR | FROM_MCFG, 0},
    {12, assert_segments_valid, GO_ON, FROM_DMAR | FROM_MCFG, 0},
    {13, assert_scope_buses_valid, STOP_ON_ERROR, FROM_DMAR | FROM_MCFG, 0},
    {14, assert_request_ids_unique, GO_ON, FROM_DMAR, 0},
    {15, assert_engines_reported, STOP_ON_ERROR, FROM_DMAR | FROM_ENGINE_BASES, 0},
    {16, assert_has_include_pci_all, GO_ON, FROM_DMAR, 0},
    {17, assert_scope_ioxapics_in_madt, GO_ON, FROM_DMAR | FROM_MADT, 0},
    {18, assert_ioxapic_request_id, GO_ON, FROM_DMAR | FROM_IOXAPIC_RID, 0},
    {19, assert_hpet_scopes, GO_ON, FROM_DMAR | FROM_HPET, FROM_HPET_RIDS | FROM_DEVICE_REGISTERS},
    {20, assert_hpet_request_id, GO_ON, FROM_DMAR, FROM_HPET_RIDS},
    {21, assert_madt_ioxapics_in_scopes, GO_ON, FROM_DMAR | FROM_MADT, 0},
    {22, assert_hpet_reported, GO_ON, FROM_DMAR | FROM_HPET, 0},
    {23, assert_include_pci_all_last, GO_ON, FROM_DMAR | FROM_MCFG, 0},
    {24, assert_scope_types, GO_ON, FROM_DMAR, 0},
    {25, assert_ioxapic_class_code, GO_ON, FROM_IOXAPIC_RID | FROM_PCI, 0},
    {26, assert_ioxapic_rciep, GO_ON, FROM_DMAR | FROM_IOXAPIC_RID | FROM_PCI, 0},
    {27, assert_endpoint_rciep, GO_ON, FROM_DMAR, FROM_PCI},
    {28, assert_scope_functions_exist, GO_ON, FROM_DMAR | FROM_PCI, 0},
    {29, assert_bridge_scopes, GO_ON, FROM_DMAR | FROM_PCI, 0},
    {38, assert_rmrr_has_scope, GO_ON, FROM_DMAR, 0},
    {39, assert_rmrr_scope_endpoints, GO_ON, FROM_DMAR, 0},
    {40, assert_rmrr_memory_map, GO_ON, FROM_DMAR, FROM_PCI | FROM_MEMORY_MAP},
    {41, assert_rmrr_paths, GO_ON, FROM_DMAR | FROM_PCI, 0},
    {42, assert_usb_rmrr, GO_ON, FROM_DMAR | FROM_INVENTORY | FROM_DEVICE_REGISTERS, 0},
    {43, assert_include_pci_all_scopes, GO_ON, FROM_DMAR, 0},
    {44, assert_one_include_pci_all, GO_ON, FROM_DMAR, 0},
    {45, assert_placeholder_45, GO_ON, FROM_PROFILE, 0},
    {46, assert_address_widths, GO_ON, FROM_DMAR | FROM_ADDRESS_WIDTHS | FROM_CPUID | FROM_ENGINES, 0},
    {47, assert_scopes_unique, GO_ON, FROM_DMAR, FROM_INVENTORY},
    {48, assert_igfx_scopes, GO_ON, FROM_DMAR | FROM_ENGINE_BASES, 0},
    {49, assert_memory_bars, GO_ON, FROM_INVENTORY, 0},
    {51, assert_smbios_vmx, GO_ON, FROM_SMBIOS | FROM_CPUID | FROM_MSR, 0},
    {52, assert_ir_ecap, GO_ON, FROM_DMAR, FROM_ENGINES},
    {53, assert_ioapic_ids_unique, GO_ON, FROM_DMAR, 0},
    {54, assert_hpet_scope_reqid, GO_ON, FROM_DMAR, FROM_HPET_RIDS},
    {55, assert_vmx_locked, GO_ON, FROM_CPUID | FROM_MSR, 0},
    {57, assert_default_snoop, GO_ON, FROM_DEFAULT_ENGINE | FROM_ENGINES, 0},
    {58, assert_policy_locked, GO_ON, FROM_ENGINE_BASES | FROM_ENGINES, 0},
    {59, assert_andd_has_scope, GO_ON, FROM_DMAR, 0},
    {60, assert_namespace_needs_andd, GO_ON, FROM_DMAR, 0},
    {61, assert_scope_has_andd, GO_ON, FROM_DMAR, 0},
    {62, assert_placeholder_62, GO_ON, FROM_PROFILE, 0},
    {63, assert_gfx_pasid, GO_ON, FROM_ENGINE_BASES | FROM_GRAPHICS_CAPS | FROM_ENGINES, 0},
    {64, assert_gfx_prs, GO_ON, FROM_ENGINE_BASES | FROM_GRAPHICS_CAPS | FROM_ENGINES, 0},
    {65, assert_gfx_ext_caps, GO_ON, FROM_GRAPHICS_CAPS | FROM_INVENTORY, 0},
    {101, assert_x2apic_mode, GO_ON, FROM_DMAR, FROM_ENGINES | ENGINE_LIST},
    {102, assert_dma_opt_in, GO_ON, FROM_DMAR, 0},
    {103, assert_handoff_state, GO_ON, FROM_DMAR | FROM_ENGINES | ENGINE_LIST, 0},
    {104, assert_rmrr_assignable, GO_ON, FROM_DMAR | FROM_PCI, 0},
    {105, assert_rmrr_overlap, GO_ON, FROM_DMAR, 0},
    {106, assert_rhsa_drhd, GO_ON, FROM_DMAR, 0},
    {107, assert_andd_names, GO_ON, FROM_DMAR, 0},
    {108, assert_drhd_bases, GO_ON, FROM_DMAR, FROM_ENGINES},
    {109, assert_host_address_width, GO_ON, FROM_DMAR, FROM_CPUID | FROM_ENGINES | ENGINE_LIST},
    {110, assert_satc_sidp, GO_ON, FROM_DMAR, FROM_MCFG | FROM_PCI},
};
const uint32_t assertion_source_count = sizeof(assertion_sources) / sizeof(assertion_sources[0]);

const assertion_sources_t* sources_of(uint64_t test) {
  for (const assertion_sources_t& a : assertion_sources)
    if (a.test == test) return &a;
  return nullptr;
}

bool recorded_unknown_later(test_case_t* tc) {
  const assertion_sources_t* a = sources_of(tc->id);
  return a && recorded_unknown_sources(tc, a->later);
}

bool later_sources_known(uint64_t test) {
  const assertion_sources_t* a = sources_of(test);
  return !a || sources_known(a->later);
}
