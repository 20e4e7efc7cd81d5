// The platform setup routine: one skeleton, driven by a chipset profile's
// row (facts/profiles.h: where its remapping engines' base registers sit
// behind MCHBAR, how the PCH registers are reached, the family constants,
// the assertions that do not apply, and the family's own debug lines).
#include "engine/driver.h"
#include "facts/known.h"
#include "platform/platform.h"
#include "platform/print.h"

namespace {

constexpr uint32_t MCHBAR_MASK = 0xFFFF8000;
constexpr uint32_t RCBA_MASK = 0xFFFFC000;
constexpr uint32_t HPET_BASE = 0xFED00100;

constexpr uint64_t cfg(uint8_t dev, uint8_t fn, uint32_t off) { return PCI_LIB_ADDRESS(0, dev, fn, off); }

// The 8-bit debug format strings. The dash of the PCH register lines is the
// single byte 0x97 (an em dash in the Windows-1252 code page).
#define EM_DASH "\x97"

// Tests whose PCH facts are out of reach while the P2SB stays hidden.
constexpr uint8_t na_p2sb[] = {18, 19, 20, 25, 26, 54};

constexpr const char* MCHBAR_LINE_CLIENT = "DEBUG : %s() :  MCHBAR = 0x%X\n";
constexpr const char* MCHBAR_LINE = "DEBUG : %s():  MCHBAR = 0x%X\n";
constexpr const char* IGFX_LINE = "DEBUG : %s() : igfx_did = 0x%0X\n";
constexpr const char* ENGINE_LINE = "DEBUG : %s() : mch_bar + 0x%X = 0x%X\n";
constexpr const char* ENGINE_LINES[] = {ENGINE_LINE, "DEBUG : %s(): mch_bar + 0x%X = 0x%X\n",
                                        "DEBUG : %s():  mch_bar + 0x%X = 0x%X\n"};
constexpr const char* ZYRD_LINE = "DEBUG : %s() : D0.F0.R0E4h [23] = %X (0 == Zyrd Supported)\n";

bool function_answers(uint8_t dev, uint8_t fn) { return PciRead32(cfg(dev, fn, 0)) != 0xFFFFFFFF; }

// An engine register as the row keeps it: bits end-1:12 and the enable bit,
// or as read (end 0).
uint64_t engine_value(uint64_t read, uint8_t end) { return end ? read & ((1ULL << end) - 0x1000 + 1) : read; }

// The PCH's programmed request IDs and HPET placement, read from a function
// whose registers follow the common layout (IBDF 0x6C, HPTC 0x60, HBDF 0x70).
struct pch_lines {
  const char* ibdf;
  const char* hptc;
  const char* hbdf;
};

void read_pch_registers(test_info_t* tinfo, uint8_t dev, uint8_t fn, const char* name, const pch_lines& lines) {
  tinfo->ioxapic_reqid = PciRead16(cfg(dev, fn, 0x6C));
  debug_print(debug_mask, lines.ibdf, name, tinfo->ioxapic_reqid);
  tinfo->hptc_reg = PciRead8(cfg(dev, fn, 0x60));
  debug_print(debug_mask, lines.hptc, name, tinfo->hptc_reg);
  tinfo->hpet_addr = HPET_BASE + (tinfo->hptc_reg & 3) * 0x1000;
  uint16_t hbdf = PciRead16(cfg(dev, fn, 0x70));
  debug_print(debug_mask, lines.hbdf, name, hbdf);
  tinfo->hpet_count = PCH_HPET_REQIDS;
  for (uint32_t i = 0; i < PCH_HPET_REQIDS; i++) tinfo->pch_hpet_reqid[i] = hbdf;
}

constexpr pch_lines p2sb_lines = {
    "DEBUG : %s() : tinfo->ioxapic_reqid = 0x%0X\n",
    "DEBUG : %s() : (HPTC)" EM_DASH "Offset 60h = 0x%0X\n",
    "DEBUG : %s() : HPET Bus:Device:Function (HBDF)" EM_DASH "Offset 70h = 0x%0X\n",
};
// The B0:D13:F0 lines name their function themselves (the %s takes the
// routine's name, which they print as part of their fixed prefix).
constexpr pch_lines d13_lines = {
    "DEBUG : %s() : B:0 D:13 F:0 OxAPIC Bus:Device:Function (IBDF)" EM_DASH "Offset 6Ch = 0x%0X\n",
    "DEBUG : %s() : B:0 D:13 F:0 (HPTC)" EM_DASH "Offset 60h = 0x%0X\n",
    "DEBUG : %s() : B:0 D:0x0D F:0 HPET Bus:Device:Function (HBDF)" EM_DASH "Offset 70h = 0x%0X\n",
};

void set_na_list(test_info_t* tinfo, const uint8_t* tests, size_t count) {
  for (size_t i = 0; i < count; i++) set_not_applicable(tinfo, tests[i]);
}

constexpr uint64_t P2SB_VENDOR = cfg(31, 1, 0);
constexpr uint64_t P2SB_HIDE = cfg(31, 1, 0xE1);

// Reaches the P2SB (B0:D31:F1) registers, unhiding the function when it is
// hidden, and leaves it as it was found: hidden again only when it was found
// hidden (both variants; they differ in their debug lines). Only the hide
// bit of 0xE1 changes across the procedure: while the function is hidden that register
// reads all ones like every other, so its other bits are unknown until the
// unhide write (which clears them) has made it visible; from then on the
// value read is written back with only the hide bit set as wanted.
void read_p2sb(test_info_t* tinfo, const chipset_profile_t& f, const char* routine) {
  const bool restore = f.pch == PCH_P2SB_RESTORE;
  bool unhidden = false;
  if (PciRead16(P2SB_VENDOR) == 0xFFFF) {
    uint8_t found = PciRead8(P2SB_HIDE);
    if (restore) debug_print(debug_mask, "DEBUG : %s() : B0D31F1 0xE1 = 0x%0X\n", routine, found);
    // A register that reads with its hide bit clear is not hiding anything.
    if (found & 1) {
      PciWrite8(P2SB_HIDE, 0);
      unhidden = true;
    }
    if (!restore) {
      uint8_t now = PciRead8(P2SB_HIDE);  // read with or without --dbg
      debug_print(debug_mask, "DEBUG : %s() : B0D31F1 0xE1 = 0x%0X\n", routine, now);
    }
  }
  if (PciRead16(P2SB_VENDOR) == 0xFFFF) {
    // Still out of reach: put the hide bit back as it was found.
    if (unhidden) PciWrite8(P2SB_HIDE, 1);
    set_na_list(tinfo, na_p2sb, sizeof(na_p2sb));
    return;
  }
  uint8_t value = PciRead8(P2SB_HIDE);
  read_pch_registers(tinfo, 31, 1, routine, p2sb_lines);
  if (unhidden) PciWrite8(P2SB_HIDE, (uint8_t)(value | 1));
}

// Older PCHs: the LPC bridge (B0:D31:F0) holds the request IDs, its root
// complex register block the HPET configuration, one HBDF per timer.
void read_lpc_rcba(test_info_t* tinfo, const char* routine) {
  tinfo->ioxapic_reqid = PciRead16(cfg(31, 0, 0x6C));
  uint32_t rcba = PciRead32(cfg(31, 0, 0xF0)) & RCBA_MASK;
  tinfo->hptc_reg = MmioRead32((uint64_t)rcba + 0x3404);
  tinfo->hpet_addr = HPET_BASE + (tinfo->hptc_reg & 3) * 0x1000;
  tinfo->hpet_count = PCH_HPET_REQIDS;
  for (uint32_t i = 0; i < PCH_HPET_REQIDS; i++) tinfo->pch_hpet_reqid[i] = PciRead16(cfg(31, 0, 0x70 + 2 * i));
  uint8_t revision = PciRead8(cfg(0, 0, 0x08));
  debug_print(debug_mask, "DEBUG : %s() : B0D0F0:0x08 = 0x%X\n", routine, revision);
}

}  // namespace

uint64_t run_chipset_setup(const chipset_profile_t& f, test_info_t* tinfo) {
  // The name the debug lines give: "testsetup_" and the profile's name.
  char routine[16] = "testsetup_";
  for (size_t i = 0; i < 5 && f.name[i]; i++) routine[10 + i] = f.name[i];
  // 1. Identify.
  uint32_t eax = 0;
  if (f.identify != IDENTIFY_NONE) {
    uint32_t ebx = 0, ecx = 0, edx = 0;
    AsmCpuid(1, &eax, &ebx, &ecx, &edx);
    if (f.identify == IDENTIFY_DEBUG) debug_print(debug_mask, "DEBUG : %s():  CPUID = 0x%X\n", routine, eax & SIG_MASK);
  }

  // 2. MCHBAR (only the low dword).
  uint32_t mchbar_reg = PciRead32(cfg(0, 0, 0x48));
  debug_print(debug_mask, f.lines.style == LINES_CLIENT ? MCHBAR_LINE_CLIENT : MCHBAR_LINE, routine, mchbar_reg);
  if ((mchbar_reg & 1) == 0) {
    Print("ERROR -- MCHBAR enabled bit not set. Tests need access to MCHBAR.\n");
    return 1;
  }
  uint64_t mch_bar = mchbar_reg & MCHBAR_MASK;

  // 3. Graphics.
  uint32_t igfx_did = PciRead32(cfg(2, 0, 0));
  tinfo->igfx_present = igfx_did != 0xFFFFFFFF ? 1 : 0;
  if (f.lines.igfx != IGFX_SILENT) {
    debug_print(debug_mask, IGFX_LINE, routine, igfx_did);
    if (f.lines.igfx == IGFX_DID_AND_D5) {
      uint32_t d5_did = PciRead32(cfg(5, 0, 0));
      debug_print(debug_mask, IGFX_LINE, routine, d5_did);
    }
  }

  // 4. Remapping engines, in table order. Under the general rules an engine
  // read with its enable bit clear is a disabled engine, not one of bars.
  for (uint8_t i = 0; i < f.engines.count && tinfo->remap_bar_count < MAX_REMAP_BARS; i++) {
    const engine_spec& e = f.engines.list[i];
    if (!e.always && !function_answers(e.device, e.function)) continue;
    uint64_t value = engine_value(MmioRead64(mch_bar + e.offset), f.engines.mask_end);
    bool alt = e.line == LINE_ALT || (e.line == LINE_ALT_UNLESS_FIRST && tinfo->remap_bar_count > 0);
    debug_print(debug_mask, ENGINE_LINES[alt ? f.lines.engine_alt : ALT_MAIN], routine, (uint32_t)e.offset, value);
    if (f.general_rules && !(value & 1)) {
      if (tinfo->disabled_bar_count < MAX_REMAP_BARS) tinfo->disabled_bars[tinfo->disabled_bar_count++] = value;
      continue;
    }
    remap_bar_t& bar = tinfo->bars[tinfo->remap_bar_count++];
    bar.address = value;
    bar.type = e.type;
  }
  if (f.engines.unlisted == UNLISTED_DEFAULT) tinfo->unlisted_engines = 1;
  if (f.engines.unlisted == UNLISTED_BY_BITS_1_2) {
    // The first register's bits 1 and 2 enable the engines it gives no base of,
    // with or without the graphics function.
    uint64_t block = MmioRead64(mch_bar + f.engines.list[0].offset);
    tinfo->unlisted_engines = (uint32_t)(((block >> 1) & 1) + ((block >> 2) & 1));
  }

  // 5. Remapping allowed by the chipset.
  uint32_t disabled = (PciRead32(cfg(0, 0, 0xE4)) >> 23) & 1;
  tinfo->zyrd_supported = disabled ? 0 : 1;
  if (f.lines.style == LINES_SERVER) debug_print(debug_mask, ZYRD_LINE, routine, disabled);

  // 6. PCH request IDs and HPET.
  switch (f.pch) {
    case PCH_LPC_RCBA:
      read_lpc_rcba(tinfo, routine);
      break;
    case PCH_P2SB_RESTORE:
    case PCH_P2SB_HIDE:
      read_p2sb(tinfo, f, routine);
      break;
    case PCH_UNKNOWN:
      break;
    case PCH_D13: {
      uint32_t e0_bit8 = (PciRead32(cfg(13, 0, 0xE0)) >> 8) & 1;
      debug_print(debug_mask, "DEBUG : %s() : B:0 D:13 F:0 O:0xE0[8] =  %X\n", routine, e0_bit8);
      read_pch_registers(tinfo, 13, 0, routine, d13_lines);
      break;
    }
  }

  // 7. Constants, where the profile gives them.
  if (f.known & fact(FACT_WIDTHS)) tinfo->cs_hpa = tinfo->cs_gpa = 39;
  tinfo->gfx_prs = f.graphics.prs;
  tinfo->gfx_pasid_mask = (uint64_t)f.graphics.pasid_mask_28 << 28;

  // 8. Assertions that do not apply to the family.
  set_na_list(tinfo, f.not_applicable.tests, f.not_applicable.count);
  uint32_t sig = eax & SIG_MASK;
  if (f.not_applicable.special == SPECIAL_QEN_GRAPHICS && (sig == 0x306C0 || sig == 0x40650)) {
    set_not_applicable(tinfo, 63);
    set_not_applicable(tinfo, 65);
  }
  if (f.not_applicable.special == SPECIAL_JIX_EARLY_STEPPING && sig == 0x706E0 && (eax & 0xF) <= 5) {
    for (uint32_t i = 0; i < NA_FLAG_COUNT; i++)
      if (na_flag_tests[i] != 42) tinfo->not_applicable[i] = 1;
  }
  return 0;
}

uint64_t testsetup_qen(test_info_t* tinfo) { return run_chipset_setup(*profile_named("qen"), tinfo); }
uint64_t testsetup_rav(test_info_t* tinfo) { return run_chipset_setup(*profile_named("rav"), tinfo); }
uint64_t testsetup_mof(test_info_t* tinfo) { return run_chipset_setup(*profile_named("mof"), tinfo); }
uint64_t testsetup_jix(test_info_t* tinfo) { return run_chipset_setup(*profile_named("jix"), tinfo); }
uint64_t testsetup_yod(test_info_t* tinfo) { return run_chipset_setup(*profile_named("yod"), tinfo); }
uint64_t testsetup_gux(test_info_t* tinfo) { return run_chipset_setup(*profile_named("gux"), tinfo); }
uint64_t testsetup_wez(test_info_t* tinfo) { return run_chipset_setup(*profile_named("wez"), tinfo); }
