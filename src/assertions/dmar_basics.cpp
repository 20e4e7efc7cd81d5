// DMAR presence, the DRHDs against the platform's engine BARs, the table's
// size and its reserved fields.
#include "assertions/assertions.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/print.h"

uint64_t assert_dmar_presence(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(1, false);
  if (!tc) return 1;
  bool present = tables->dmar != nullptr;
  bool supported = tinfo->zyrd_supported != 0;
  if (!present && supported)
    set_result(tc, TEST_FAIL, "DMAR Table not present.");
  else if (present && !supported)
    set_result(tc, TEST_FAIL, "This processor does not support Zyr-d, DMAR Table should not exist in ACPI space.\n");
  else if (present)
    set_result(tc, TEST_PASS);
  else
    set_result(tc, TEST_NA, "This processor does not support Zyr-d.\n");
  return 0;
}

namespace {

constexpr const char* NOT_VALID = "DRHD BAR reported is not valid for this platform.\n";
constexpr const char* NOT_ENABLED = "Remapping engine BAR is not enabled for this Platform.\n";
constexpr const char* COUNT_DIFFERS = "DRHD count in DMAR differs from remapping BARs on platform.\n";

// Under a later chipset profile: each enabled engine the profile lists is
// named by one DRHD, in any order; a DRHD naming a listed engine whose
// enable bit is clear fails; as many DRHDs as the profile has engines whose
// base it does not give may name other addresses.
void judge_drhd_bars_by_profile(test_case_t* tc, const test_info_t* tinfo) {
  uint32_t bars = platform_bar_count(tinfo), others = 0;
  bool named[MAX_REMAP_BARS] = {};
  const char* fault = nullptr;
  for (remap_node_t* node : each<remap_node_t>(drhd_list)) {
    uint64_t reported = node->register_base_bits();
    uint32_t i = 0;
    while (i < bars && platform_bar_base(tinfo, i) != reported) i++;
    bool disabled = false;
    for (uint32_t d = 0; d < tinfo->disabled_bar_count && d < MAX_REMAP_BARS; d++)
      disabled = disabled || (tinfo->disabled_bars[d] & ~1ULL) == reported;
    if (i < bars && named[i]) fault = NOT_VALID;
    else if (i < bars) named[i] = true;
    else if (disabled) fault = NOT_ENABLED;
    else if (++others > tinfo->unlisted_engines) fault = NOT_VALID;
    if (fault) break;
  }
  for (uint32_t i = 0; i < bars && !fault; i++)
    if (!named[i]) fault = COUNT_DIFFERS;
  if (fault)
    set_result(tc, TEST_FAIL, fault);
  else
    set_result(tc, TEST_PASS);
  note_general_rule(tc,
                    "one DRHD per enabled engine of the profile, in any order; none for a disabled one; others only "
                    "for engines it gives no base of.");
}

}  // namespace

// The i-th DRHD in DMAR order must name the i-th engine the platform
// records, and that engine must be enabled.
uint64_t assert_drhd_bars(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(3, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 3)) return 0;
  if (list_empty(drhd_list)) {
    Print("ERROR -- No DRHD found in DMAR table.\n");
    return 1;
  }
  if (later_profile()) {
    judge_drhd_bars_by_profile(tc, tinfo);
    return 0;
  }
  uint64_t drhd_count = list_count(drhd_list);
  if (tinfo->remap_bar_count != drhd_count) {
    debug_print(debug_mask, "DEBUG -- #%d : remap_bar_count = %d, drhd_count = %d\n", 3, tinfo->remap_bar_count,
                drhd_count);
    set_result(tc, TEST_FAIL, COUNT_DIFFERS);
    return 0;
  }
  uint32_t i = 0;
  for (remap_node_t* node : each<remap_node_t>(drhd_list)) {
    uint64_t reported = node->register_base_bits();
    uint64_t platform = platform_bar_base(tinfo, i);
    debug_print(debug_mask, "DEBUG -- #%d : pnode->remap->RegisterBaseAddress = 0x%X\n", 3, reported);
    debug_print(debug_mask, "DEBUG -- #%d : tinfo->bars[%d].address = 0x%X\n", 3, i, platform);
    if (reported != platform) {
      set_result(tc, TEST_FAIL, NOT_VALID);
      return 0;
    }
    if ((tinfo->bars[i].address & 1) == 0) {
      set_result(tc, TEST_FAIL, NOT_ENABLED);
      return 0;
    }
    i++;
  }
  set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_dmar_size(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(4, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 4)) return 0;
  uint32_t reported = dmar_view(*tables).u32(DMAR_OFF_LENGTH);
  if (list_empty(drhd_list))
    set_result(tc, TEST_FAIL, "DMAR must contain at least 1 DRHD.\n");
  else if (reported < DMAR_HEADER_SIZE + DRHD_FIXED_SIZE)
    set_result(tc, TEST_FAIL, "DMAR does not meet minimum size.\n");
  else if (reported != tinfo->dmar_calc_len)
    set_result_fmt(tc, TEST_FAIL, "DMAR reported size does not match calculated: Reported: 0x%X - Calculated 0x%X.\n",
                   reported, tinfo->dmar_calc_len);
  else
    set_result(tc, TEST_PASS);
  return 0;
}

namespace {
bool any_nonzero(byte_view v, size_t offset, size_t count) {
  for (size_t i = 0; i < count; i++)
    if (v.u8(offset + i) != 0) return true;
  return false;
}

// True when some structure of the list has a non-zero byte in its reserved
// field.
bool list_reserved_nonzero(list_entry& list, size_t offset, size_t count) {
  for (remap_node_t* node : each<remap_node_t>(list))
    if (any_nonzero(node->view(), offset, count)) return true;
  return false;
}

// DRHD byte 5 has a reserved bit of the mask set.
bool drhd_byte_5_reserved_set(uint8_t reserved) {
  for (remap_node_t* node : each<remap_node_t>(drhd_list))
    if (node->view().u8(DRHD_OFF_RESERVED) & reserved) return true;
  return false;
}
}  // namespace

// Reserved fields of the DMAR header, DRHDs, RMRRs and ANDDs (ATSR and RHSA
// reserved fields are not examined).
uint64_t assert_reserved_fields(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(5, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 5)) return 0;
  // Under the general rules DRHD byte 5 is the register set Size, and the
  // SATC and SIDP reserved fields are examined too.
  bool general = general_rules();
  if (any_nonzero(dmar_view(*tables), DMAR_OFF_RESERVED, 10))
    set_result(tc, TEST_FAIL, "DMAR reserved field must be all zeros.\n");
  else if (drhd_byte_5_reserved_set(general ? DRHD_SIZE_RESERVED_BITS : 0xFF))
    set_result(tc, TEST_FAIL, "DRHD structure reserved field must be zero.\n");
  else if (list_reserved_nonzero(rmrr_list, RMRR_OFF_RESERVED, 2))
    set_result(tc, TEST_FAIL, "RMRR structure reserved field must be zero.\n");
  else if (list_reserved_nonzero(andd_list, ANDD_OFF_RESERVED, 3))
    set_result(tc, TEST_FAIL, "ANDD structure reserved field must be zero.\n");
  else if (general && list_reserved_nonzero(satc_list, SATC_OFF_RESERVED, 1))
    set_result(tc, TEST_FAIL, "SATC structure reserved field must be zero.\n");
  else if (general && list_reserved_nonzero(sidp_list, SIDP_OFF_RESERVED, 2))
    set_result(tc, TEST_FAIL, "SIDP structure reserved field must be zero.\n");
  else
    set_result(tc, TEST_PASS);
  note_general_rule(tc,
                    "DRHD byte 5 is the register set Size, its bits 7:4 reserved; SATC and SIDP reserved fields "
                    "must be zero.");
  return 0;
}
