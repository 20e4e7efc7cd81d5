// The engines whose registers an assertion reads: the chipset's list when
// its view is known, else the DRHD structures' base addresses.
#pragma once
#include <stdint.h>

#include "catalogue/catalogue.h"
#include "discovery/remap_lists.h"
#include "engine/sources.h"
#include "engine/test_info.h"

// Registers of a remapping engine, from its register base.
constexpr uint64_t ZYRD_CAP_REG = 0x08;
constexpr uint64_t ZYRD_GSTS_REG = 0x1C;
constexpr uint64_t ZYRD_FSTS_REG = 0x34;
constexpr uint64_t ZYRD_PMEN_REG = 0x64;
constexpr uint64_t ZYRD_REGISTER_PAGE = 0x1000;
constexpr uint64_t ECAP_EIM = 1ULL << 4;  // extended interrupt mode (x2APIC)
constexpr uint64_t ALL_ONES = ~0ULL;       // what a register set reads where nothing answers

inline uint32_t engine_count(const test_info_t* tinfo) {
  return engines_from_drhd() ? (uint32_t)list_count(drhd_list) : platform_bar_count(tinfo);
}

// The base of engine i (below engine_count).
uint64_t engine_base(const test_info_t* tinfo, uint32_t i);

// Calls f(base) for each engine; f returns false to stop.
template <class F>
void for_each_engine(const test_info_t* tinfo, F f) {
  for (uint32_t i = 0, n = engine_count(tinfo); i < n; i++)
    if (!f(engine_base(tinfo, i))) return;
}

// The step of an assertion that reads the engines when there is none to
// read (the setup routine found none): no verdict rests on nothing.
// Records Missing Data and returns true.
bool recorded_no_engines(test_case_t* tc, const test_info_t* tinfo);
