// The chipset profiles: for each processor generation the tool knows, by
// CPUID signature, where its chipset's view of DMA remapping is read (the
// engines' base registers behind MCHBAR, the PCH registers) and which of the
// chipset's facts it gives at all. One table of rows; one setup routine
// reads any row. The seven families are judged by their own rules, the later
// profiles by the general rules.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "facts/test_info.h"

// The processor signature (CPUID leaf 1 EAX) without its stepping and
// reserved bits, as the dispatch and the setup routine compare it.
constexpr uint32_t SIG_MASK = 0x0FFF3FF0;

// The chipset's facts, each known or unknown in a run.
enum chipset_fact : uint8_t {
  FACT_ENGINES,         // the base registers of the engines the profile lists
  FACT_DEFAULT_ENGINE,  // the default engine's base register (the list is complete)
  FACT_REMAP_ALLOWED,   // the chipset's switch that disables remapping
  FACT_IOXAPIC,         // the PCH's IOxAPIC request ID
  FACT_HPET,            // the HPET request IDs and placement
  FACT_WIDTHS,          // the address widths
  FACT_GRAPHICS,        // the graphics engine's capabilities
  FACT_COUNT
};
typedef uint8_t fact_set;
constexpr fact_set fact(chipset_fact f) { return (fact_set)(1u << f); }
constexpr fact_set ALL_FACTS = (fact_set)((1u << FACT_COUNT) - 1);
// What the messages call each fact.
extern const char* const fact_names[FACT_COUNT];

// Which debug line an engine gets.
enum engine_line : uint8_t {
  LINE_MAIN,              // the family's main engine line
  LINE_ALT,               // the family's alternative engine line
  LINE_ALT_UNLESS_FIRST,  // the alternative one, unless no engine was recorded before
};

struct engine_spec {
  uint16_t offset;  // from mch_bar
  uint8_t type;
  bool always;      // recorded without a presence condition
  uint8_t device;   // otherwise: the B0 function that must answer
  uint8_t function;
  engine_line line;
};

enum identify_kind : uint8_t { IDENTIFY_NONE, IDENTIFY_SILENT, IDENTIFY_DEBUG };
// Where the PCH's request IDs and HPET configuration are read; PCH_UNKNOWN:
// nowhere (the profile does not say which function holds them).
enum pch_kind : uint8_t { PCH_LPC_RCBA, PCH_P2SB_RESTORE, PCH_P2SB_HIDE, PCH_D13, PCH_UNKNOWN };
enum special_na : uint8_t { SPECIAL_NONE, SPECIAL_QEN_GRAPHICS, SPECIAL_JIX_EARLY_STEPPING };
// Engines whose base register the profile does not give: none, the default
// engine (always there), or one per enable bit 1 and 2 of the first register.
enum unlisted_engines : uint8_t { UNLISTED_NONE, UNLISTED_DEFAULT, UNLISTED_BY_BITS_1_2 };

// The family's debug lines: client families print MCHBAR as "%s() :" and
// no Zyrd line, server families print it as "%s():" and the Zyrd line.
enum line_style : uint8_t { LINES_CLIENT, LINES_SERVER };
// igfx_did line; with IGFX_DID_AND_D5 the first dword of B0:D5:F0 follows.
enum igfx_lines : uint8_t { IGFX_SILENT, IGFX_DID, IGFX_DID_AND_D5 };
// The LINE_ALT engine line: the main one, with "%s():" or with "%s():  ".
enum engine_alt_line : uint8_t { ALT_MAIN, ALT_NO_SPACE, ALT_TWO_SPACES };

// The rows are packed: a third of their size is padding otherwise.
#pragma pack(push, 1)
struct engines_t {
  const engine_spec* list;
  uint8_t count;
  uint8_t mask_end;  // kept of each value read: bits mask_end-1:12 and the enable bit; 0: as read
  unlisted_engines unlisted;
};
struct graphics_t {
  uint8_t prs;
  uint16_t pasid_mask_28;  // the PASID mask from bit 28 on
};
struct not_applicable_t {
  const uint8_t* tests;  // set always
  uint8_t count;
  special_na special;
};
struct lines_t {
  line_style style;
  igfx_lines igfx;
  engine_alt_line engine_alt;  // the LINE_ALT engine line
};
struct signatures_t {
  const uint32_t* list;
  uint8_t count;
};

struct chipset_profile_t {
  const char* name;     // "rav", "pek"; the debug lines give "testsetup_" and the name
  bool general_rules;   // a later generation: judged by the general rules
  signatures_t signatures;
  fact_set known;
  identify_kind identify;
  pch_kind pch;
  engines_t engines;
  graphics_t graphics;  // with FACT_GRAPHICS
  not_applicable_t not_applicable;
  lines_t lines;
};
#pragma pack(pop)

extern const chipset_profile_t chipset_profiles[];
extern const size_t chipset_profile_count;

// The profile of the processor (CPUID leaf 1 EAX), or null when it has none.
const chipset_profile_t* processor_profile(uint32_t eax);
const chipset_profile_t* profile_named(const char* name);

// True when the processor (CPUID leaf 1 EAX) has a chipset profile.
inline bool processor_has_setup(uint32_t eax) { return processor_profile(eax) != nullptr; }
