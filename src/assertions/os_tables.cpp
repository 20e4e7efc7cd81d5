// What an operating system checks of the DMAR when it boots, as far as the
// tables decide it: tests 101 (x2APIC), 102 (DMA protection opt-in), 105
// (RMRR overlap), 106 (RHSA), 107 (ANDD), 108 (DRHD register bases) and 109
// (address widths). 101, 108 and 109 read the engines beyond the tables.
#include "assertions/assertions.h"
#include "assertions/engines.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/platform.h"

namespace {

// A page-table depth of SAGAW bit i translates 30 + 9 * i bits (bits 0-3:
// two- to five-level tables).
constexpr uint32_t SAGAW_LEVELS = 4;
constexpr uint32_t sagaw_width(uint32_t bit) { return 30 + 9 * bit; }

// The smallest address width an operating system accepts: one page.
constexpr uint32_t MIN_HOST_ADDRESS_WIDTH = 12;

}  // namespace

uint64_t assert_x2apic_mode(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(101, true);
  if (!tc) return 1;
  uint8_t flags = dmar_flags(tables);
  if (flags & DMAR_FLAG_X2APIC_OPT_OUT) {
    set_result(tc, TEST_WARNING, "X2APIC_OPT_OUT is set: the OS keeps xAPIC mode.\n");
    return 0;
  }
  if (!(flags & DMAR_FLAG_INTR_REMAP)) {
    set_result(tc, TEST_PASS);
    return 0;
  }
  if (recorded_unknown_later(tc) || recorded_no_engines(tc, tinfo)) return 0;
  uint64_t without = 0;
  bool lacking = false;
  for_each_engine(tinfo, [&](uint64_t base) {
    if (MmioRead64(base + ZYRD_ECAP_REG) & ECAP_EIM) return true;
    without = base;
    lacking = true;
    return false;
  });
  if (lacking)
    set_result_fmt(tc, TEST_WARNING,
                   "Engine 0x%LX lacks ECAP.EIM: the OS keeps xAPIC mode.\n",
                   without);
  else
    set_result(tc, TEST_PASS);
  note_drhd_engines(tc);
  return 0;
}

uint64_t assert_dma_opt_in(acpi_tables_t* tables, test_info_t*) {
  test_case_t* tc = assertion_record(102, true);
  if (!tc) return 1;
  if (dmar_flags(tables) & DMAR_FLAG_DMA_CTRL_PLATFORM_OPT_IN)
    set_result(tc, TEST_PASS);
  else
    set_result(tc, TEST_WARNING, "DMA_CTRL_PLATFORM_OPT_IN is clear: external ports stay open to DMA.\n");
  return 0;
}

uint64_t assert_rmrr_overlap(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(105, true);
  if (!tc) return 1;
  // A limit below its base describes no region (test 40 reports it).
  for (remap_node_t* a : each<remap_node_t>(rmrr_list)) {
    uint64_t a_base = a->view().u64(RMRR_OFF_BASE), a_limit = a->view().u64(RMRR_OFF_LIMIT);
    for (remap_node_t* b : each<remap_node_t>(rmrr_list)) {
      if (b == a) break;
      uint64_t b_base = b->view().u64(RMRR_OFF_BASE), b_limit = b->view().u64(RMRR_OFF_LIMIT);
      if (a_limit < a_base || b_limit < b_base || a_base > b_limit || b_base > a_limit) continue;
      set_result_fmt(tc, TEST_FAIL, "RMRR 0x%LX-0x%LX overlaps RMRR 0x%LX-0x%LX.\n", b_base, b_limit, a_base,
                     a_limit);
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_rhsa_drhd(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(106, true);
  if (!tc) return 1;
  for (rhsa_node_t* rhsa : each<rhsa_node_t>(rhsa_list)) {
    uint64_t base = rhsa->view().u64(RHSA_OFF_BASE);
    bool named = false;
    for (remap_node_t* drhd : each<remap_node_t>(drhd_list)) named = named || drhd->RegisterBaseAddress() == base;
    if (!named) {
      set_result_fmt(tc, TEST_FAIL, "RHSA 0x%LX names no DRHD register base.\n", base);
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_andd_names(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(107, true);
  if (!tc) return 1;
  for (remap_node_t* andd : each<remap_node_t>(andd_list)) {
    byte_view s = andd->view();
    uint8_t number = s.u8(ANDD_OFF_DEVICE_NUMBER);
    bool terminated = false;
    for (size_t i = ANDD_OFF_OBJECT_NAME; i < s.size && !terminated; i++) terminated = s.u8(i) == 0;
    if (!terminated) {
      set_result_fmt(tc, TEST_FAIL, "ANDD %d: no NUL within the Length (%d).\n", number,
                     remap_length(s));
      return 0;
    }
    auto same_number = [&](remap_node_t* e) { return e->view().u8(ANDD_OFF_DEVICE_NUMBER) == number; };
    if (any_earlier(andd_list, andd, same_number)) {
      set_result_fmt(tc, TEST_FAIL, "ANDD number %d is used by two.\n", number);
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_drhd_bases(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(108, true);
  if (!tc) return 1;
  for (remap_node_t* drhd : each<remap_node_t>(drhd_list)) {
    uint64_t base = drhd->RegisterBaseAddress();
    // The families' DRHD has a reserved byte where the standard puts Size.
    uint8_t size = general_rules() ? drhd->view().u8(DRHD_OFF_SIZE) : 0;
    uint64_t span = size < 52 ? ZYRD_REGISTER_PAGE << size : 0;
    if (base == 0) {
      set_result(tc, TEST_FAIL, "A DRHD register base is 0.\n");
      return 0;
    }
    if (span == 0 || (base & (span - 1))) {
      set_result_fmt(tc, TEST_FAIL, "DRHD base 0x%LX is not aligned to its register set (Size %d).\n",
                     base, size);
      note_general_rule(tc, "the register set spans 2^Size pages (DRHD byte 5).");
      return 0;
    }
    if (any_earlier(drhd_list, drhd, [&](remap_node_t* e) { return e->RegisterBaseAddress() == base; })) {
      set_result_fmt(tc, TEST_FAIL, "DRHD base 0x%LX is reported by two.\n", base);
      return 0;
    }
  }
  if (recorded_unknown_later(tc)) return 0;
  for (remap_node_t* drhd : each<remap_node_t>(drhd_list)) {
    uint64_t base = drhd->RegisterBaseAddress();
    if (MmioRead64(base + ZYRD_CAP_REG) == ALL_ONES && MmioRead64(base + ZYRD_ECAP_REG) == ALL_ONES) {
      set_result_fmt(tc, TEST_FAIL,
                     "No engine answers at 0x%LX (CAP and ECAP all ones).\n", base);
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}

uint64_t assert_host_address_width(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(109, true);
  if (!tc) return 1;
  uint32_t haw = dmar_view(*tables).u8(DMAR_OFF_HOST_ADDRESS_WIDTH) + 1u;
  if (haw < MIN_HOST_ADDRESS_WIDTH) {
    set_result_fmt(tc, TEST_FAIL, "DMAR Host Address Width is %d bits, below %d.\n",
                   haw, MIN_HOST_ADDRESS_WIDTH);
    return 0;
  }
  if (recorded_unknown_later(tc)) return 0;
  uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
  AsmCpuid(0x80000008, &eax, &ebx, &ecx, &edx);
  uint32_t pa = eax & 0xFF;
  if (haw > pa) {
    set_result_fmt(tc, TEST_FAIL, "DMAR Host Address Width (%d) exceeds the processor's (%d bits).\n",
                   haw, pa);
    return 0;
  }
  if (recorded_no_engines(tc, tinfo)) return 0;
  uint64_t short_base = 0, short_cap = 0;
  bool lacking = false;
  for_each_engine(tinfo, [&](uint64_t base) {
    uint64_t cap = MmioRead64(base + ZYRD_CAP_REG);
    for (uint32_t bit = 0; bit < SAGAW_LEVELS; bit++)
      if ((cap >> (8 + bit) & 1) && sagaw_width(bit) >= haw) return true;
    short_base = base;
    short_cap = cap;
    lacking = true;
    return false;
  });
  if (lacking)
    set_result_fmt(tc, TEST_FAIL,
                   "Engine 0x%LX has no page-table depth (SAGAW 0x%X) for %d address bits.\n",
                   short_base, (short_cap >> 8) & 0x1F, haw);
  else
    set_result(tc, TEST_PASS);
  note_drhd_engines(tc);
  return 0;
}
