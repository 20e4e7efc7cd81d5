// The chipset profiles as data. Each row: its signatures, the chipset facts
// it gives, where its engines' base registers are (each with its presence
// condition; bit 0 of each is the engine's enable bit), where its PCH
// registers live, its graphics constants, the assertions that do not apply
// and its debug lines. The later rows give only what their generation's
// open board firmware and register headers say: a fact they do not give
// stays unknown.
#include "facts/profiles.h"


const char* const fact_names[FACT_COUNT] = {
    "the engines' base registers",
    "the default engine's base register",
    "the chipset's switch that allows remapping",
    "the PCH's IOxAPIC request ID",
    "the HPET request IDs and placement",
    "the address widths",
    "the graphics engine's capabilities",
};

namespace {

constexpr uint8_t MASK_39_12 = 40;  // bits 39:12 and the enable bit
constexpr uint8_t MASK_38_12 = 39;  // bits 38:12 and the enable bit

// An engine recorded when B0:device:function answers, and one recorded always.
constexpr engine_spec engine_on(uint16_t offset, uint8_t type, uint8_t device, uint8_t function,
                                engine_line line = LINE_MAIN) {
  return {offset, type, false, device, function, line};
}
constexpr engine_spec engine_always(uint16_t offset, uint8_t type, engine_line line = LINE_MAIN) {
  return {offset, type, true, 0, 0, line};
}

constexpr engine_spec client_engines[] = {
    engine_on(0x5400, BAR_TYPE_IGFX, 2, 0),
    engine_always(0x5410, BAR_TYPE_DEFAULT),
};
constexpr engine_spec jix_engines[] = {
    engine_on(0x5400, BAR_TYPE_IGFX, 2, 0), engine_on(0x7880, BAR_TYPE_D5, 5, 0),
    engine_on(0x7888, BAR_TYPE_D7, 7, 0),   engine_on(0x7890, BAR_TYPE_D7, 7, 1),
    engine_on(0x7898, BAR_TYPE_D7, 7, 2),   engine_on(0x78A0, BAR_TYPE_D7, 7, 3),
    engine_on(0x78A8, BAR_TYPE_D7, 7, 4),   engine_on(0x78B0, BAR_TYPE_D7, 7, 5),
    engine_always(0x5410, BAR_TYPE_DEFAULT),
};
constexpr engine_spec yod_engines[] = {
    engine_on(0x5400, BAR_TYPE_IGFX, 2, 0),
    engine_on(0x7880, BAR_TYPE_D5, 5, 0),
    engine_always(0x5410, BAR_TYPE_DEFAULT),
};
constexpr engine_spec wez_engines[] = {
    engine_on(0x5400, BAR_TYPE_IGFX, 2, 0),
    engine_on(0x7884, BAR_TYPE_D5, 5, 0, LINE_ALT),
    engine_always(0x5410, BAR_TYPE_DEFAULT),
};
constexpr engine_spec gux_engines[] = {
    engine_on(0x6C88, BAR_TYPE_IGFX, 2, 0),
    engine_always(0x6C80, BAR_TYPE_DEFAULT, LINE_ALT_UNLESS_FIRST),
};
// Graphics, imaging unit, the four type-C root ports, the default engine.
constexpr engine_spec pek_engines[] = {
    engine_on(0x5400, BAR_TYPE_IGFX, 2, 0), engine_on(0x7880, BAR_TYPE_D5, 5, 0),
    engine_on(0x7888, BAR_TYPE_D7, 7, 0),   engine_on(0x7890, BAR_TYPE_D7, 7, 1),
    engine_on(0x7898, BAR_TYPE_D7, 7, 2),   engine_on(0x78A0, BAR_TYPE_D7, 7, 3),
    engine_always(0x5410, BAR_TYPE_DEFAULT),
};
// Only the graphics engine sits behind MCHBAR, at the default engine's
// offset of the older rows.
constexpr engine_spec graphics_at_5410[] = {
    engine_on(0x5410, BAR_TYPE_IGFX, 2, 0),
};
static_assert(sizeof(jix_engines) / sizeof(jix_engines[0]) <= MAX_REMAP_BARS, "bars holds every engine");

constexpr uint8_t na_mof[] = {42, 63};
constexpr uint8_t na_server[] = {58, 63, 64, 65};

constexpr uint32_t sig_qen[] = {0x306C0, 0x306D0, 0x40650, 0x40670};
constexpr uint32_t sig_rav[] = {0x406E0, 0x506E0, 0x50650};  // stepping 8 of the first two: mof
constexpr uint32_t sig_mof[] = {0x806E0, 0x906E0, 0xA0650, 0xA0660};
constexpr uint32_t sig_jix[] = {0x706D0, 0x706E0, 0x806C0, 0x806D0, 0x90660, 0x906C0};
constexpr uint32_t sig_yod[] = {0x806A0};
constexpr uint32_t sig_gux[] = {0x506C0, 0x706A0};
constexpr uint32_t sig_wez[] = {0x60660, 0x60670};
constexpr uint32_t sig_pek[] = {0x90670, 0x906A0, 0xB06E0, 0xB06A0};
constexpr uint32_t sig_lum[] = {0xA06A0, 0xC0650, 0xC0660};
constexpr uint32_t sig_tov[] = {0xC06C0};

// One named constructor per field group of a row.
template <size_t N>
constexpr signatures_t sigs(const uint32_t (&list)[N]) {
  return {list, (uint8_t)N};
}
template <size_t N>
constexpr engines_t engines_as_read(const engine_spec (&list)[N]) {
  return {list, (uint8_t)N, 0, UNLISTED_NONE};
}
template <size_t N>
constexpr engines_t engines_masked(const engine_spec (&list)[N], uint8_t mask = MASK_39_12,
                                   unlisted_engines unlisted = UNLISTED_NONE) {
  return {list, (uint8_t)N, mask, unlisted};
}
constexpr graphics_t graphics_prs(uint64_t pasid_mask) { return {1, (uint16_t)(pasid_mask >> 28)}; }
constexpr graphics_t graphics_no_prs(uint64_t pasid_mask) { return {0, (uint16_t)(pasid_mask >> 28)}; }
constexpr graphics_t graphics_unknown() { return {0, 0}; }
template <size_t N>
constexpr not_applicable_t na_list(const uint8_t (&tests)[N], special_na special = SPECIAL_NONE) {
  return {tests, (uint8_t)N, special};
}
constexpr not_applicable_t na_none(special_na special = SPECIAL_NONE) { return {nullptr, 0, special}; }
constexpr lines_t client_lines() { return {LINES_CLIENT, IGFX_DID, ALT_MAIN}; }
constexpr lines_t server_lines(igfx_lines igfx, engine_alt_line engine_alt = ALT_MAIN) {
  return {LINES_SERVER, igfx, engine_alt};
}

constexpr bool FAMILY_RULES = false, GENERAL_RULES = true;
constexpr fact_set PCH_FACTS = fact(FACT_IOXAPIC) | fact(FACT_HPET);
constexpr fact_set ENGINE_FACTS = fact(FACT_ENGINES) | fact(FACT_DEFAULT_ENGINE);

}  // namespace

// clang-format off
const chipset_profile_t chipset_profiles[] = {
  // name  rules          signatures    facts given
  {"qen", FAMILY_RULES, sigs(sig_qen), ALL_FACTS, IDENTIFY_SILENT, PCH_LPC_RCBA,
   engines_as_read(client_engines), graphics_no_prs(0x10000000ULL), na_none(SPECIAL_QEN_GRAPHICS), client_lines()},
  {"rav", FAMILY_RULES, sigs(sig_rav), ALL_FACTS, IDENTIFY_NONE, PCH_P2SB_RESTORE,
   engines_as_read(client_engines), graphics_prs(0x10000000ULL), na_none(), client_lines()},
  {"mof", FAMILY_RULES, sigs(sig_mof), ALL_FACTS, IDENTIFY_NONE, PCH_P2SB_HIDE,
   engines_as_read(client_engines), graphics_prs(0x10010000000ULL), na_list(na_mof), client_lines()},
  {"jix", FAMILY_RULES, sigs(sig_jix), ALL_FACTS, IDENTIFY_DEBUG, PCH_P2SB_HIDE,
   engines_masked(jix_engines), graphics_no_prs(0x10000000000ULL), na_list(na_server, SPECIAL_JIX_EARLY_STEPPING),
   server_lines(IGFX_SILENT)},
  {"yod", FAMILY_RULES, sigs(sig_yod), ALL_FACTS, IDENTIFY_DEBUG, PCH_P2SB_HIDE,
   engines_masked(yod_engines), graphics_no_prs(0x10000000000ULL), na_list(na_server), server_lines(IGFX_SILENT)},
  {"gux", FAMILY_RULES, sigs(sig_gux), ALL_FACTS, IDENTIFY_DEBUG, PCH_D13,
   engines_masked(gux_engines), graphics_no_prs(0x10000000000ULL), na_list(na_server),
   server_lines(IGFX_DID, ALT_NO_SPACE)},
  {"wez", FAMILY_RULES, sigs(sig_wez), ALL_FACTS, IDENTIFY_DEBUG, PCH_P2SB_HIDE,
   engines_masked(wez_engines), graphics_no_prs(0x10000000000ULL), na_list(na_server),
   server_lines(IGFX_DID_AND_D5, ALT_TWO_SPACES)},
  // 2021-2023 client: every engine behind MCHBAR, the P2SB with the older registers.
  {"pek", GENERAL_RULES, sigs(sig_pek), ENGINE_FACTS | fact(FACT_REMAP_ALLOWED) | PCH_FACTS,
   IDENTIFY_DEBUG, PCH_P2SB_RESTORE, engines_masked(pek_engines, MASK_38_12), graphics_unknown(), na_none(),
   server_lines(IGFX_DID)},
  // 2023-2024 client: 0x5410 is the graphics engine; the default engine's base
  // is the firmware's choice; which P2SB holds the PCH registers is not known.
  {"lum", GENERAL_RULES, sigs(sig_lum), fact(FACT_ENGINES) | fact(FACT_REMAP_ALLOWED),
   IDENTIFY_DEBUG, PCH_UNKNOWN, engines_masked(graphics_at_5410, MASK_38_12, UNLISTED_DEFAULT), graphics_unknown(),
   na_none(), server_lines(IGFX_DID)},
  // 2025 client: 0x5410 is the register block (graphics engine at its base,
  // bits 1 and 2 the other two engines enabled, where: not known).
  {"tov", GENERAL_RULES, sigs(sig_tov), fact(FACT_ENGINES) | fact(FACT_REMAP_ALLOWED),
   IDENTIFY_DEBUG, PCH_UNKNOWN, engines_masked(graphics_at_5410, MASK_38_12, UNLISTED_BY_BITS_1_2),
   graphics_unknown(), na_none(), server_lines(IGFX_DID)},
};
// clang-format on
const size_t chipset_profile_count = sizeof(chipset_profiles) / sizeof(chipset_profiles[0]);

const chipset_profile_t* profile_named(const char* name) {
  for (const chipset_profile_t& p : chipset_profiles) {
    size_t i = 0;
    while (p.name[i] && p.name[i] == name[i]) i++;
    if (p.name[i] == name[i]) return &p;
  }
  return nullptr;
}

const chipset_profile_t* processor_profile(uint32_t eax) {
  // The full signatures 0x406E8 and 0x506E8 (nothing else set) take the
  // newer family's routine.
  if (((eax - 0x406E8u) & 0xFFFEFFFFu) == 0) return profile_named("mof");
  uint32_t sig = eax & SIG_MASK;
  for (const chipset_profile_t& p : chipset_profiles)
    for (uint8_t i = 0; i < p.signatures.count; i++)
      if (p.signatures.list[i] == sig) return &p;
  return nullptr;
}
