#include "facts/known.h"

#include "platform/print.h"
#include "platform/text.h"

bool dmar_general_rules = false;

namespace {

// What the messages call each source.
const char* const source_names[SOURCE_COUNT] = {
    "the DMAR table",
    "the MCFG table",
    "the MADT",
    "the HPET table",
    "the chipset's view of the remapping engines",
    "PCI configuration space",
    "the remapping engines' registers",
    "the HPET and USB controller registers",
    "the UEFI memory map",
    "the SMBIOS tables",
    "CPUID",
    "the IA32_FEATURE_CONTROL MSR",
};

// Why a source is unknown, as the message ends.
enum why_unknown : uint8_t { WHY_KNOWN, WHY_NOT_RECORDED, WHY_TABLES_ONLY, WHY_UNLISTED, WHY_NOT_GIVEN };

struct run_sources_t {
  source_state platform[SOURCE_COUNT];
  bool unlisted;
  uint32_t processor;
  const chipset_profile_t* profile;  // the processor's, when it has one
  bool classified;     // the processor has been read (dmar_general_rules set)
  uint32_t cpuid_eax;  // CPUID leaf 1 EAX, read once when CPUID is known
  bool went_on;
  uint8_t not_evaluated[256 / 8];  // by test number
  uint8_t noted[256 / 8];          // records whose message says how they were judged
};
run_sources_t run;

why_unknown why(source_state s) {
  return s == SOURCE_KNOWN         ? WHY_KNOWN
         : s == SOURCE_TABLES_ONLY ? WHY_TABLES_ONLY
         : s == SOURCE_NOT_GIVEN   ? WHY_NOT_GIVEN
                                   : WHY_NOT_RECORDED;
}

// The chipset's view rests on the processor (which routine, where its
// registers are), on configuration space and on the chipset registers.
why_unknown why_unknown_of(platform_source s) {
  if (s != SOURCE_CHIPSET) return why(run.platform[s]);
  const platform_source under[] = {SOURCE_CPUID, SOURCE_PCI, SOURCE_CHIPSET};
  for (platform_source u : under)
    if (run.platform[u] != SOURCE_KNOWN) return why(run.platform[u]);
  return run.unlisted ? WHY_UNLISTED : WHY_KNOWN;
}

}  // namespace

void reset_sources() {
  mem_set(&run, 0, sizeof(run));
  dmar_general_rules = false;
}

namespace {
// The processor, read once per run: at its start, or at the first question
// of a caller that did not start one (unit tests of single assertions).
void classify_processor() {
  if (run.classified) return;
  run.classified = true;
  // The processor is unknown, or has no setup routine: the general rules.
  dmar_general_rules = true;
  if (run.platform[SOURCE_CPUID] == SOURCE_KNOWN) {
    uint32_t ebx = 0, ecx = 0, edx = 0;
    AsmCpuid(1, &run.cpuid_eax, &ebx, &ecx, &edx);
    run.profile = processor_profile(run.cpuid_eax);
    dmar_general_rules = !run.profile || run.profile->general_rules;
  }
}

// Bit sets of records by test number.
void mark(uint8_t* bits, uint64_t test) {
  if (test < 256) bits[test / 8] |= (uint8_t)(1u << (test % 8));
}
bool marked(const uint8_t* bits, uint64_t test) { return test < 256 && (bits[test / 8] >> (test % 8)) & 1; }
}  // namespace

void read_platform_sources() {
  reset_sources();
  for (uint32_t s = 0; s < SOURCE_COUNT; s++) run.platform[s] = platform_source_state((platform_source)s);
  classify_processor();
}

bool processor_signature(uint32_t* eax) {
  classify_processor();
  *eax = run.cpuid_eax;
  return run.platform[SOURCE_CPUID] == SOURCE_KNOWN;
}

bool general_rules() {
  classify_processor();
  return dmar_general_rules;
}

void set_unlisted_processor(uint32_t signature) {
  run.unlisted = true;
  run.processor = signature;
}

bool source_known(platform_source s) { return why_unknown_of(s) == WHY_KNOWN; }

namespace {
// The chipset facts of the set that the processor's profile does not give.
fact_set facts_not_given(source_set set) {
  classify_processor();
  return run.profile ? (fact_set)((set >> 16) & ~run.profile->known & ALL_FACTS) : 0;
}
}  // namespace

bool sources_known(source_set set) {
  for (uint32_t s = 0; s < SOURCE_COUNT; s++)
    if ((set & from((platform_source)s)) && !source_known((platform_source)s)) return false;
  return facts_not_given(set) == 0;
}

const chipset_profile_t* later_profile() {
  classify_processor();
  return run.profile && run.profile->general_rules ? run.profile : nullptr;
}

bool recorded_unknown_sources(test_case_t* tc, source_set set) {
  // The first unknown source gives the reason; the others unknown for the
  // same reason are named with it.
  why_unknown reason = WHY_KNOWN;
  const char* names[(uint32_t)FACT_COUNT + (uint32_t)SOURCE_COUNT];
  uint32_t count = 0;
  for (uint32_t s = 0; s < SOURCE_COUNT; s++) {
    if (!(set & from((platform_source)s))) continue;
    why_unknown w = why_unknown_of((platform_source)s);
    if (w == WHY_KNOWN || (reason != WHY_KNOWN && w != reason)) continue;
    reason = w;
    names[count++] = source_names[s];
  }
  // Else the chipset's facts that the processor's profile does not give.
  if (reason == WHY_KNOWN) {
    fact_set missing = facts_not_given(set);
    if (!missing) return false;
    for (uint32_t f = 0; f < FACT_COUNT; f++)
      if (missing & fact((chipset_fact)f)) names[count++] = fact_names[f];
  }

  tc->result = TEST_MISSING;
  char16_t* out = tc->message;
  size_t room = TEST_TEXT_CHARS, n = 0;
  for (uint32_t i = 0; i < count; i++) {  // count is at least 1
    const char* joint = i == 0 ? "Needs " : i + 1 == count ? " and " : ", ";
    n += format_to(out + n, (room - n) * 2, "%s%s", joint, names[i]);
  }
  // By reason: WHY_KNOWN (a fact the profile does not give), WHY_NOT_RECORDED,
  // WHY_TABLES_ONLY, WHY_UNLISTED, WHY_NOT_GIVEN.
  static const char* const endings[] = {
      ", which the chipset profile %s does not give.\n",
      ", which this recording does not hold.\n",
      ", which a run on ACPI tables alone does not have.\n",
      ", which is not known for processor 0x%X.\n",
      ", which is not among the tables given.\n",
  };
  const fmt_arg arg = reason == WHY_KNOWN ? fmt_arg(run.profile->name) : fmt_arg(run.processor);
  format_v8(out + n, room - n, endings[reason], &arg, 1);
  mark(run.not_evaluated, tc->id);
  return true;
}

void set_went_on_after_test_one() { run.went_on = true; }
bool went_on_after_test_one() { return run.went_on; }

bool not_evaluated(uint64_t test) { return marked(run.not_evaluated, test); }

namespace {
void append_line(test_case_t* tc, const char* prefix, const char* line) {
  size_t n = str16_len(tc->message);
  if (n < TEST_TEXT_CHARS) format_to(tc->message + n, (TEST_TEXT_CHARS - n) * 2, "%s%s\n", prefix, line);
}
}  // namespace

void note_drhd_engines(test_case_t* tc) {
  if (!engines_from_drhd()) return;
  append_line(tc, "Engines: ", "the DRHD bases (the chipset's list is not known).");
  mark(run.noted, tc->id);
}

bool noted(uint64_t test) { return marked(run.noted, test); }

const char* const scopes_by_length_rule = "device scopes are taken by their Length.";

void note_general_rule(test_case_t* tc, const char* rule) {
  if (!general_rules() || tc->result == TEST_PASS) return;
  if (later_profile())
    append_line(tc, "General rule of a later chipset profile: ", rule);
  else
    append_line(tc, "Rule for a processor without a chipset profile: ", rule);
}
