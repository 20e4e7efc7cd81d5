// Known and unknown sources: an assertion that needs a source the platform
// cannot give is not run and says which source and why; the paths the
// tables alone decide are still taken; -a checks a processor without a
// setup routine; no run reads a source it does not know.
#include <map>
#include <sstream>

#include "engine/sources.h"
#include "platform/sim/platform_dir.h"
#include "platform/sim/records.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

using sim::bytes;

// Every source but the four tables unknown, as in a run on tables alone.
void tables_only(sim::machine& m) {
  for (uint32_t s = SOURCE_CHIPSET; s < SOURCE_COUNT; s++) m.set_unknown((platform_source)s, SOURCE_TABLES_ONLY);
}

struct outcome {
  std::string text;
  std::map<uint64_t, std::pair<uint64_t, std::string>> records;  // result, message
};

outcome run_kept(sim::machine& m, const std::vector<std::string>& args) {
  std::vector<test_case_t> kept;
  sim::keep_records(m, kept);
  outcome o;
  o.text = run_iovet(m, args).text;
  for (const test_case_t& tc : kept) o.records[tc.id] = {tc.result, sim::to_utf8(tc.message)};
  EXPECT_EQ(m.unknown_reads, 0u) << "a source the platform does not know was read";
  return o;
}

sim::machine reference(const char* family) {
  sim::machine m;
  EXPECT_TRUE(sim::load_reference_platform(family, m));
  return m;
}

const std::string tables_alone = ", which a run on ACPI tables alone does not have.\n";

}  // namespace

// The table names every assertion the driver runs, and the assertions that
// read the chipset's facts all ask for its view.
TEST(SourceTable, EveryAssertionHasItsSources) {
  const int tests[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                       20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 38, 39, 40, 41, 42, 43, 44, 45, 46,
                       47, 48, 49, 51, 52, 53, 54, 55, 57, 58, 59, 60, 61, 62, 63, 64, 65,
                       101, 102, 103, 104, 105, 106, 107, 108, 109, 110};
  EXPECT_EQ(assertion_source_count, sizeof(tests) / sizeof(tests[0]));
  for (int t : tests) {
    const assertion_sources_t* a = sources_of(t);
    ASSERT_NE(a, nullptr) << t;
    EXPECT_EQ(a->needs & a->later, 0) << t;
  }
  for (int t : {1, 3, 15, 18, 25, 26, 46, 48, 57, 58, 63, 64, 65})
    EXPECT_TRUE(sources_of(t)->needs & FROM_CHIPSET) << t << " reads tinfo's chipset facts";
}

// README's table of sources says what the code's table says.
TEST(SourceTable, TheReadmeShowsTheTable) {
  const char* const names[] = {"DMAR",    "MCFG",             "MADT",       "HPET",   "chipset", "PCI",
                               "engines", "device registers", "memory map", "SMBIOS", "CPUID",   "MSR"};
  auto text = [&](source_set set) {
    std::string t;
    for (uint32_t s = 0; s < SOURCE_COUNT; s++)
      if (set & from((platform_source)s)) t += (t.empty() ? "" : ", ") + std::string(names[s]);
    if (set & ENGINE_LIST) t += ", engine list";
    return t.empty() ? std::string("—") : t;
  };
  std::istringstream readme(read_file(repo_path("README.md")));
  std::string line;
  while (std::getline(readme, line) && line != "| Tests | Need | And, beyond the path the tables decide |") {
  }
  std::getline(readme, line);  // the rule under the header
  uint32_t rows = 0;
  while (std::getline(readme, line) && line.rfind("| ", 0) == 0) {
    std::vector<std::string> cells;
    for (size_t at = 2, bar; (bar = line.find(" |", at)) != std::string::npos; at = bar + 3)
      cells.push_back(line.substr(at, bar - at));
    ASSERT_EQ(cells.size(), 3u) << line;
    std::istringstream tests(cells[0]);
    for (int t; tests >> t; tests.ignore(1)) {
      const assertion_sources_t* a = sources_of(t);
      ASSERT_NE(a, nullptr) << t;
      EXPECT_EQ(cells[1], text(a->needs)) << t;
      EXPECT_EQ(cells[2], text(a->later)) << t;
      rows++;
    }
  }
  EXPECT_EQ(rows, assertion_source_count);
}

// A run on the rav platform's tables alone: the tables' own assertions are
// evaluated, everything else says what it needs, nothing else is read.
TEST(TablesOnly, TheTablesAreCheckedAndTheRestIsMissingWithItsReason) {
  sim::machine m = reference("rav");
  tables_only(m);
  outcome o = run_kept(m, {"-v"});
  // 47 too: rav's DMAR has INCLUDE_PCI_ALL, so the tables decide it.
  const std::vector<int> evaluated = {2,  4,  5,  6,  7,  11, 12, 13, 14, 16, 17, 21,
                                      22, 23, 24, 38, 39, 43, 44, 47, 53, 59, 60, 61};
  for (const auto& r : o.records) {
    bool table_only = std::find(evaluated.begin(), evaluated.end(), (int)r.first) != evaluated.end();
    if (table_only) {
      EXPECT_EQ(r.second.first, (uint64_t)TEST_PASS) << r.first << ": " << r.second.second;
    } else if (r.first == 62 || r.first < 66) {
      EXPECT_EQ(r.second.first, (uint64_t)TEST_MISSING) << r.first;
      EXPECT_EQ(r.second.second.rfind("Needs ", 0), 0u) << r.first << ": " << r.second.second;
      EXPECT_TRUE(contains(r.second.second, tables_alone)) << r.second.second;
    }
  }
  EXPECT_EQ(o.records[1].second, "Needs the chipset's view of the remapping engines" + tables_alone);
  EXPECT_EQ(o.records[46].second,
            "Needs the chipset's view of the remapping engines, the remapping engines' registers and CPUID" +
                tables_alone);
  // From 101: 101, 103, 104, 108 and 109 need the engines, PCI or CPUID.
  EXPECT_TRUE(contains(o.text, "Zyr Test Status: PASS (36 not evaluated)\n")) << o.text;
  EXPECT_TRUE(contains(o.text, "Not evaluated:\n01) ")) << o.text;
  size_t listed = 0;
  for (size_t at = 0; (at = o.text.find("\nResult : ", at)) != std::string::npos; at++) listed++;
  EXPECT_EQ(listed, 65u) << "the listing goes on past test 1";
  EXPECT_TRUE(contains(o.text, "CPUID1                  not known\n"));
  EXPECT_FALSE(contains(o.text, "BIOS Information"));
  EXPECT_TRUE(m.pci_writes.empty());
}

// Where the tables alone decide an assertion, it is decided; where the rest
// is needed, it is missing. One DMAR per case, on tables alone.
TEST(TablesOnly, TableDecidedPathsAreTakenAndGoNoFurther) {
  using sc = sim::scope_spec;
  // A run on tables alone takes the scopes by their Length.
  const sc hpet{4, 0, 0, {{31, 0}}}, hpet_no_path{4, 0, 0, {}}, endpoint{1, 0, 0, {{2, 0}}};
  const sc endpoint_two{1, 0, 0, {{2, 0}, {0, 0}}}, ioapic{3, 2, 0xF0, {{31, 0}}};
  struct row {
    const char* what;
    sim::dmar_builder dmar;
    std::map<int, uint64_t> expected;
  };
  auto base = [](uint8_t flags, std::vector<sc> scopes) {
    sim::dmar_builder d;
    d.flags = flags;
    d.drhd(1, 0, 0xFED91000, scopes);
    return d;
  };
  const row rows[] = {
      {"no HPET scope", base(0, {ioapic}), {{19, TEST_WARNING}, {20, TEST_WARNING}, {52, TEST_PASS}, {54, TEST_MISSING}}},
      {"HPET scope with a path", base(1, {ioapic, hpet}),
       {{19, TEST_MISSING}, {20, TEST_MISSING}, {52, TEST_MISSING}, {54, TEST_MISSING}}},
      {"HPET scope without a path first (malformed: 24 names it, the others pass over it)",
       base(1, {hpet_no_path, hpet}), {{24, TEST_FAIL}, {20, TEST_MISSING}, {54, TEST_MISSING}}},
      {"endpoint scopes", base(1, {endpoint}), {{27, TEST_MISSING}, {47, TEST_PASS}}},
      {"endpoint with two path entries", base(1, {endpoint, endpoint_two}),
       {{27, TEST_FAIL}, {14, TEST_PASS}, {47, TEST_PASS}}},
      {"RMRRs", sim::dmar_builder().drhd(0, 0, 0xFED91000, {endpoint}).rmrr(0, 0x7B000000, 0x7B7FFFFF, {endpoint}),
       {{27, TEST_MISSING}, {40, TEST_MISSING}, {47, TEST_MISSING}}},
      {"an RMRR off its page", base(1, {}).rmrr(0, 0x7B000800, 0x7B7FFFFF, {endpoint}), {{40, TEST_FAIL}}},
      {"no RMRR, no endpoint", base(1, {}), {{27, TEST_PASS}, {40, TEST_PASS}}},
  };
  for (const row& r : rows) {
    sim::machine m;
    m.install_acpi({r.dmar.build(), sim::build_mcfg({{0xE0000000, 0, 0, 0xFF}}), sim::build_hpet(0)});
    add_catalogue(m);
    tables_only(m);
    outcome o = run_kept(m, {"-t"});
    for (const auto& e : r.expected)
      EXPECT_EQ(o.records[e.first].first, e.second) << r.what << ", test " << e.first << ": "
                                                     << o.records[e.first].second;
  }
}

// A board whose processor has no setup routine: without -a the run ends
// with the hint; with it, everything but the chipset's view is read, and the
// engines are the DRHDs'.
TEST(AnyProcessor, AnUnlistedProcessorIsCheckedWithoutTheChipsetView) {
  sim::machine refused = reference("rav");
  refused.cpuid_leaves[1][0] = 0x000B06D1;
  outcome no = run_kept(refused, {"-v"});
  EXPECT_TRUE(contains(no.text, "CPU not supported 0xB06D0\nRun Iovet.efi -a to check what needs no chipset view"));
  EXPECT_FALSE(contains(no.text, "Zyr Test Status"));

  sim::machine m = reference("rav");
  m.cpuid_leaves[1][0] = 0x000B06D1;
  m.pci(0, 31, 1).set8(0xE1, 1);
  outcome o = run_kept(m, {"-a", "-v", "--dbg"});
  EXPECT_FALSE(contains(o.text, "testsetup_")) << "no setup routine reads the chipset";
  EXPECT_TRUE(m.pci_writes.empty());
  const std::string unknown = "Needs the chipset's view of the remapping engines, which is not known for processor 0xB06D0.\n";
  for (int t : {1, 3, 15, 18, 25, 26, 45, 46, 48, 57, 58, 62, 63, 64, 65}) {
    EXPECT_EQ(o.records[t].first, (uint64_t)TEST_MISSING) << t;
    EXPECT_EQ(o.records[t].second, unknown) << t;
  }
  // rav's tables, engines and devices are healthy: what is read passes.
  for (int t : {2, 8, 9, 10, 17, 21, 22, 27, 28, 29, 40, 41, 42, 47, 49, 51, 52, 55})
    EXPECT_EQ(o.records[t].first, (uint64_t)TEST_PASS) << t << ": " << o.records[t].second;
  const std::string note = "Engines: the DRHD bases (the chipset's list is not known).\n";
  for (int t : {8, 9, 10, 52}) EXPECT_EQ(o.records[t].second, note) << t;
  EXPECT_TRUE(contains(o.text, "DEBUG -- #8: REMAP BAR = 0xFED90000"));
  EXPECT_TRUE(contains(o.text, "Zyr Test Status: PASS (")) << o.text;
}

// Engines that do not agree are found from the DRHDs too, and say so.
TEST(AnyProcessor, DrhdEnginesFailWithTheirNote) {
  sim::machine m = reference("rav");
  m.cpuid_leaves[1][0] = 0x000B06D1;
  m.write64(0xFED90010, 0);  // the graphics engine without interrupt remapping
  outcome o = run_kept(m, {"-a"});
  EXPECT_EQ(o.records[8].first, (uint64_t)TEST_FAIL);
  EXPECT_EQ(o.records[8].second,
            "ECAP[3] of remapping engine(s) must match DMAR.Flags[0].\n"
            "Engines: the DRHD bases (the chipset's list is not known).\n");
  EXPECT_EQ(o.records[9].first, (uint64_t)TEST_FAIL);
}

// On a listed processor -a changes nothing.
TEST(AnyProcessor, ListedProcessorsRunAsWithoutIt) {
  for (const std::string& family : sim::reference_families()) {
    sim::machine a = reference(family.c_str()), plain = reference(family.c_str());
    EXPECT_EQ(run_kept(a, {"-a", "-v", "--dbg"}).text, run_kept(plain, {"-v", "--dbg"}).text) << family;
  }
}

// An unknown stop rule does not stop; a known absence still does.
TEST(Stops, OnlyKnownFactsStopTheRun) {
  sim::machine none;
  none.install_acpi({sim::build_mcfg({{0xE0000000, 0, 0, 0xFF}})});
  add_catalogue(none);
  tables_only(none);
  outcome o = run_kept(none, {"-t"});
  EXPECT_EQ(o.records[1].first, (uint64_t)TEST_MISSING) << "no DMAR, support unknown";
  EXPECT_EQ(o.records[2].first, (uint64_t)TEST_NA) << "nothing after test 1: there is no DMAR to check";

  sim::machine no_drhd;  // test 3 would stop the run; it needs the chipset's view
  no_drhd.install_acpi({sim::dmar_builder().build(), sim::build_mcfg({{0xE0000000, 0, 0, 0xFF}})});
  add_catalogue(no_drhd);
  tables_only(no_drhd);
  o = run_kept(no_drhd, {"-t"});
  EXPECT_EQ(o.records[7].first, (uint64_t)TEST_FAIL);
  EXPECT_TRUE(contains(o.text, "Zyr Test Status: FAIL ("));

  sim::machine no_mcfg;  // test 13 stops on a known absence of the MCFG
  no_mcfg.install_acpi({sim::dmar_builder().drhd(1, 0, 0xFED91000).build()});
  add_catalogue(no_mcfg);
  tables_only(no_mcfg);
  o = run_kept(no_mcfg, {"-t"});
  EXPECT_EQ(o.text.find("ERROR -- Missing MCFG Table.\n"), o.text.rfind("ERROR -- Missing MCFG Table.\n"))
      << "one line for one cause";
  EXPECT_TRUE(contains(o.text, "ERROR -- Missing MCFG Table.\n"));
  EXPECT_FALSE(contains(o.text, "Zyr Test Status"));
}
