// Where the facts of each assertion come from, and which of them this run
// knows. A source is known when it was read from this platform; it is
// unknown when the platform cannot give it (a recording that lacks it, a run
// on ACPI tables alone) or when it means nothing for this processor (the
// chipset's view of a processor without a setup routine). An assertion that
// needs an unknown source is not run: its record gets Missing Data with a
// message that names the source and why it is unknown. Nothing stands in
// for an unknown fact.
#pragma once
#include <stdint.h>

#include "catalogue/catalogue.h"
#include "facts/profiles.h"
#include "platform/platform.h"

typedef uint32_t source_set;

constexpr source_set from(platform_source s) { return (source_set)(1u << s); }
constexpr source_set FROM_DMAR = from(SOURCE_DMAR);
constexpr source_set FROM_MCFG = from(SOURCE_MCFG);
constexpr source_set FROM_MADT = from(SOURCE_MADT);
constexpr source_set FROM_HPET = from(SOURCE_HPET);
constexpr source_set FROM_PCI = from(SOURCE_PCI);
constexpr source_set FROM_ENGINES = from(SOURCE_ENGINES);
constexpr source_set FROM_DEVICE_REGISTERS = from(SOURCE_DEVICE_REGISTERS);
constexpr source_set FROM_MEMORY_MAP = from(SOURCE_MEMORY_MAP);
constexpr source_set FROM_SMBIOS = from(SOURCE_SMBIOS);
constexpr source_set FROM_CPUID = from(SOURCE_CPUID);
constexpr source_set FROM_MSR = from(SOURCE_MSR);
// The PCI function inventory: the MCFG's bus ranges scanned in
// configuration space.
constexpr source_set FROM_INVENTORY = FROM_MCFG | FROM_PCI;
// The engines whose registers an assertion reads: the chipset's list when
// its view is known, else the DRHD structures' base addresses (not a source
// of its own: it never makes an assertion unknown).
constexpr source_set ENGINE_LIST = 1u << 15;

// The chipset's view: what the profile's setup routine reads into tinfo.
// Each fact rests on the chipset registers (and is named "chipset" where a
// record lists its sources) and is known only where the processor's
// profile gives it. FROM_PROFILE: the profile itself (which assertions
// apply), known wherever the processor has one.
constexpr source_set FROM_PROFILE = from(SOURCE_CHIPSET);
constexpr source_set from(chipset_fact f) { return FROM_PROFILE | (1u << (16 + f)); }
constexpr source_set FROM_ENGINE_BASES = from(FACT_ENGINES);
constexpr source_set FROM_DEFAULT_ENGINE = from(FACT_DEFAULT_ENGINE);
constexpr source_set FROM_REMAP_ALLOWED = from(FACT_REMAP_ALLOWED);
constexpr source_set FROM_IOXAPIC_RID = from(FACT_IOXAPIC);
constexpr source_set FROM_HPET_RIDS = from(FACT_HPET);
constexpr source_set FROM_ADDRESS_WIDTHS = from(FACT_WIDTHS);
constexpr source_set FROM_GRAPHICS_CAPS = from(FACT_GRAPHICS);
constexpr source_set FROM_CHIPSET = FROM_PROFILE | ((source_set)ALL_FACTS << 16);

// The run's sources: read from the platform at the start of collection; the
// driver adds what the processor decides.
void read_platform_sources();
// CPUID leaf 1 EAX as read at the start of the run; false when CPUID is not
// known (nothing was read).
bool processor_signature(uint32_t* eax);
// The tables are judged by the rules of the current DMA-remapping standard
// rather than those of the seven known families: the processor is unknown
// or has no setup routine (-a on a board, tables-only and recorded runs).
bool general_rules();

// Every source known again (the teardown; unit tests that call assertions
// directly start from there).
void reset_sources();
// The processor has no setup routine (allowed with -a): the chipset's view
// is not known for it.
void set_unlisted_processor(uint32_t signature);
bool source_known(platform_source s);
bool sources_known(source_set set);
// The chipset's list of engines is not known (no view, or a profile that
// does not give every engine): engines come from the DRHD structures.
inline bool engines_from_drhd() { return !sources_known(FROM_DEFAULT_ENGINE); }
// The processor's chipset profile when it is one of the later generations
// (judged by the general rules), else null.
const chipset_profile_t* later_profile();

// With a source of the set unknown, records Missing Data with the message
// that names it and why, counts the record as not evaluated, and returns
// true; returns false (and writes nothing) when all are known.
bool recorded_unknown_sources(test_case_t* tc, source_set set);

// Test 1 was not run for an unknown source and the run went on past it (the
// listing then goes on past it too).
void set_went_on_after_test_one();
bool went_on_after_test_one();

// Records that were not evaluated because a source is unknown.
bool not_evaluated(uint64_t test);

// When the engines are the DRHD structures' base addresses, appends a line
// that says so to the record's message.
void note_drhd_engines(test_case_t* tc);
// The record carries such a note (the listing then shows it, passing or not).
bool noted(uint64_t test);
// Under the general rules, appends to a record that did not pass the line
// that names the rule that judged it.
void note_general_rule(test_case_t* tc, const char* rule);
// The rule of every walk over device scopes under the general rules.
extern const char* const scopes_by_length_rule;

// Set while the tables are judged by the general rules (the walks read it).
extern bool dmar_general_rules;
