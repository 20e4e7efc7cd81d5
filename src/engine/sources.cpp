#include "engine/sources.h"


// What each assertion reads. needs: the sources its verdict rests on (of the
// chipset's view, the facts it reads), asked for before it runs; later: the
// sources it reads only after the steps that the tables alone decide (19,
// 20, 27, 40, 47, 52, 54, 101, 108, 109, 110).
const assertion_sources_t assertion_sources[] = {
    {1, FROM_DMAR | FROM_REMAP_ALLOWED, 0},
    {2, FROM_DMAR, 0},
    {3, FROM_DMAR | FROM_ENGINE_BASES, 0},
    {4, FROM_DMAR, 0},
    {5, FROM_DMAR, 0},
    {6, FROM_DMAR, 0},
    {7, FROM_DMAR, 0},
    {8, FROM_DMAR | FROM_ENGINES | ENGINE_LIST, 0},
    {9, FROM_DMAR | FROM_ENGINES | ENGINE_LIST, 0},
    {10, FROM_DMAR | FROM_ENGINES | ENGINE_LIST, 0},
    {11, FROM_DMAR | FROM_MCFG, 0},
    {12, FROM_DMAR | FROM_MCFG, 0},
    {13, FROM_DMAR | FROM_MCFG, 0},
    {14, FROM_DMAR, 0},
    {15, FROM_DMAR | FROM_ENGINE_BASES, 0},
    {16, FROM_DMAR, 0},
    {17, FROM_DMAR | FROM_MADT, 0},
    {18, FROM_DMAR | FROM_IOXAPIC_RID, 0},
    {19, FROM_DMAR | FROM_HPET, FROM_HPET_RIDS | FROM_DEVICE_REGISTERS},
    {20, FROM_DMAR, FROM_HPET_RIDS},
    {21, FROM_DMAR | FROM_MADT, 0},
    {22, FROM_DMAR | FROM_HPET, 0},
    {23, FROM_DMAR | FROM_MCFG, 0},
    {24, FROM_DMAR, 0},
    {25, FROM_IOXAPIC_RID | FROM_PCI, 0},
    {26, FROM_DMAR | FROM_IOXAPIC_RID | FROM_PCI, 0},
    {27, FROM_DMAR, FROM_PCI},
    {28, FROM_DMAR | FROM_PCI, 0},
    {29, FROM_DMAR | FROM_PCI, 0},
    {38, FROM_DMAR, 0},
    {39, FROM_DMAR, 0},
    {40, FROM_DMAR, FROM_PCI | FROM_MEMORY_MAP},
    {41, FROM_DMAR | FROM_PCI, 0},
    {42, FROM_DMAR | FROM_INVENTORY | FROM_DEVICE_REGISTERS, 0},
    {43, FROM_DMAR, 0},
    {44, FROM_DMAR, 0},
    {45, FROM_PROFILE, 0},
    {46, FROM_DMAR | FROM_ADDRESS_WIDTHS | FROM_CPUID | FROM_ENGINES, 0},
    {47, FROM_DMAR, FROM_INVENTORY},
    {48, FROM_DMAR | FROM_ENGINE_BASES, 0},
    {49, FROM_INVENTORY, 0},
    {51, FROM_SMBIOS | FROM_CPUID | FROM_MSR, 0},
    {52, FROM_DMAR, FROM_ENGINES},
    {53, FROM_DMAR, 0},
    {54, FROM_DMAR, FROM_HPET_RIDS},
    {55, FROM_CPUID | FROM_MSR, 0},
    {57, FROM_DEFAULT_ENGINE | FROM_ENGINES, 0},
    {58, FROM_ENGINE_BASES | FROM_ENGINES, 0},
    {59, FROM_DMAR, 0},
    {60, FROM_DMAR, 0},
    {61, FROM_DMAR, 0},
    {62, FROM_PROFILE, 0},
    {63, FROM_ENGINE_BASES | FROM_GRAPHICS_CAPS | FROM_ENGINES, 0},
    {64, FROM_ENGINE_BASES | FROM_GRAPHICS_CAPS | FROM_ENGINES, 0},
    {65, FROM_GRAPHICS_CAPS | FROM_INVENTORY, 0},
    {101, FROM_DMAR, FROM_ENGINES | ENGINE_LIST},
    {102, FROM_DMAR, 0},
    {103, FROM_DMAR | FROM_ENGINES | ENGINE_LIST, 0},
    {104, FROM_DMAR | FROM_PCI, 0},
    {105, FROM_DMAR, 0},
    {106, FROM_DMAR, 0},
    {107, FROM_DMAR, 0},
    {108, FROM_DMAR, FROM_ENGINES},
    {109, FROM_DMAR, FROM_CPUID | FROM_ENGINES | ENGINE_LIST},
    {110, FROM_DMAR, FROM_MCFG | FROM_PCI},
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
