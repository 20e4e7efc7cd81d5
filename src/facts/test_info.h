// The test information record: the platform's own facts, filled by the
// family's setup routine, and one not-applicable flag per assertion.
#pragma once
#include <stdint.h>

constexpr uint32_t MAX_REMAP_BARS = 9;
constexpr uint32_t PCH_HPET_REQIDS = 8;
constexpr uint32_t NA_FLAG_COUNT = 45;

enum : uint32_t { BAR_TYPE_IGFX = 0, BAR_TYPE_DEFAULT = 1, BAR_TYPE_D5 = 2, BAR_TYPE_D7 = 3 };

struct remap_bar_t {
  uint64_t address;  // bit 0: engine enabled
  uint32_t type;
};

struct test_info_t {
  uint64_t dmar_calc_len;
  uint64_t cs_hpa;
  uint64_t cs_gpa;
  uint64_t remap_bar_count;
  uint64_t zyrd_supported;
  uint16_t ioxapic_reqid;
  uint32_t hptc_reg;
  uint32_t hpet_addr;
  uint32_t hpet_count;
  remap_bar_t bars[MAX_REMAP_BARS];
  uint16_t pch_hpet_reqid[PCH_HPET_REQIDS];
  uint8_t igfx_present;
  uint8_t gfx_prs;
  uint64_t gfx_pasid_mask;
  uint8_t not_applicable[NA_FLAG_COUNT];
  // Under a later profile: the engines listed but read with their enable bit
  // clear (not in bars), and how many engines the profile gives no base of.
  uint64_t disabled_bars[MAX_REMAP_BARS];
  uint32_t disabled_bar_count;
  uint32_t unlisted_engines;
};

// Test number of each not-applicable flag position.
constexpr uint8_t na_flag_tests[NA_FLAG_COUNT] = {3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                                                  18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 42, 43, 44,
                                                  45, 46, 47, 48, 52, 53, 54, 58, 59, 60, 61, 62, 63, 64, 65};

// Flag position of a test, or -1 when the test has no flag.
constexpr int na_flag_position(uint32_t test) {
  for (uint32_t i = 0; i < NA_FLAG_COUNT; i++)
    if (na_flag_tests[i] == test) return (int)i;
  return -1;
}

inline bool is_not_applicable(const test_info_t* tinfo, uint32_t test) {
  int pos = na_flag_position(test);
  return pos >= 0 && tinfo->not_applicable[pos] != 0;
}

inline void set_not_applicable(test_info_t* tinfo, uint32_t test) {
  int pos = na_flag_position(test);
  if (pos >= 0) tinfo->not_applicable[pos] = 1;
}

// Number of valid engine entries of tinfo's bars (never more than it holds).
inline uint32_t platform_bar_count(const test_info_t* tinfo) {
  return tinfo->remap_bar_count < MAX_REMAP_BARS ? (uint32_t)tinfo->remap_bar_count : MAX_REMAP_BARS;
}

// Register base of an engine entry: its address with the enabled bit cleared.
inline uint64_t platform_bar_base(const test_info_t* tinfo, uint32_t i) { return tinfo->bars[i].address & ~1ULL; }
