// Address width consistency: test 46.
#include "assertions/assertions.h"
#include "discovery/remap_lists.h"
#include "platform/platform.h"

uint64_t assert_address_widths(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(46, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 46)) return 0;
  uint8_t haw = (uint8_t)(dmar_view(*tables).u8(DMAR_OFF_HOST_ADDRESS_WIDTH) + 1);
  uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
  AsmCpuid(0x80000008, &eax, &ebx, &ecx, &edx);
  uint8_t pa = (uint8_t)(eax & 0xFF);
  debug_print(debug_mask, "DEBUG -- #%d: DMAR.HAW = %d -- CPU Physical Address Size = %d \n", 46, haw, pa);
  if (haw > pa) {
    set_result_fmt(tc, TEST_FAIL,
                   "DMAR Host Address Width (%d) must be less than or equal to the CPU Physical Address Size (%d).\n",
                   haw, pa);
    return 0;
  }
  debug_print(debug_mask, "DEBUG -- #%d: DMAR.HAW = %d -- CS HPA = %d \n", 46, haw, tinfo->cs_hpa);
  if (tinfo->cs_hpa < haw) {
    set_result_fmt(tc, TEST_FAIL,
                   "Chipset HPA (%d) must be greater than or equal to the DMAR Host Address Width (%d).\n",
                   tinfo->cs_hpa, haw);
    return 0;
  }
  for (remap_node_t* drhd : each<remap_node_t>(drhd_list)) {
    uint64_t base = drhd->register_base_bits();
    uint64_t cap = MmioRead64(base + 0x08);
    uint64_t mgaw = ((cap >> 16) & 0x3F) + 1;
    debug_print(debug_mask, "DEBUG -- #%d: DMAR.HAW = %d -- Zyrd Cap Reg = 0x%016LX-- MGAW = %d\n", 46, haw, cap,
                mgaw);
    if (mgaw < haw) {
      set_result_fmt(tc, TEST_FAIL,
                     "Zyrd Capability Register[21:16]:Maximum Guest Address Width (%d) must be greater than or equal "
                     "to the DMAR Host Address Width (%d).\n",
                     mgaw, haw);
      return 0;
    }
    debug_print(debug_mask, "DEBUG -- #%d:  Zyrd Cap Reg = 0x%016LX-- MGAW = %d -- GPA = %d\n", 46, cap, mgaw,
                tinfo->cs_gpa);
    if (mgaw != tinfo->cs_gpa) {
      set_result_fmt(tc, TEST_FAIL,
                     "Zyrd Capability Register[21:16]:Maximum Guest Address Width (%d) must be equal to the Chipset "
                     "specific Guest Physical Address (GPA) limit  (%d).\n",
                     mgaw, tinfo->cs_gpa);
      return 0;
    }
  }
  set_result(tc, TEST_PASS);
  return 0;
}
