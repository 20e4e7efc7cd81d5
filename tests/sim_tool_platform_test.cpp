// Platform directories and the reference platforms: the healthy platforms
// pass, directories with one changed field fail what checks that field, and
// every piece of the format is read faithfully or refused with its place.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "catalogue/catalogue.h"
#include "engine/sources.h"
#include "platform/sim/platform_dir.h"
#include "platform/sim/records.h"
#include "platform/sim/reference.h"
#include "support/harness.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct result_line {
  uint64_t result;
  std::string message;
};

// A default run that keeps every record's result and message.
std::map<uint64_t, result_line> run_collecting(sim::machine& m, const std::vector<std::string>& args = {}) {
  std::vector<test_case_t> kept;
  sim::keep_records(m, kept);
  run_iovet(m, args);
  std::map<uint64_t, result_line> out;
  for (const test_case_t& tc : kept) {
    std::u16string message;
    for (size_t i = 0; i < TEST_TEXT_CHARS && tc.message[i]; i++) message += tc.message[i];
    std::string text = sim::to_utf8(message);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    out[tc.id] = {tc.result, text};
  }
  return out;
}

// The description installed into m with the repository's catalogue, and run.
std::map<uint64_t, result_line> run_platform(sim::platform_description p, sim::machine& m) {
  p.has_catalogue = true;
  p.catalogue = read_file(repo_path("zyr-tests"));
  sim::install_platform(p, m);
  return run_collecting(m);
}

// Not applicable on a healthy platform of each family: the placeholder 62 and
// what the family's setup routine switches off.
const std::map<std::string, std::set<uint64_t>> family_na = {
    {"qen", {62}}, {"rav", {62}}, {"mof", {42, 62, 63}}, {"jix", {58, 62, 63, 64, 65}},
    {"yod", {58, 62, 63, 64, 65}}, {"gux", {58, 62, 63, 64, 65}}, {"wez", {58, 62, 63, 64, 65}}};

}  // namespace

// ---------------------------------------------------------------------------
// Reference platforms.

class ReferencePlatform : public ::testing::TestWithParam<std::string> {};

TEST_P(ReferencePlatform, DefaultRunPassesEveryAssertionTheFamilyDoesNotSwitchOff) {
  sim::machine m;
  ASSERT_TRUE(sim::load_reference_platform(GetParam(), m));
  auto recs = run_collecting(m);
  EXPECT_TRUE(contains(m.console_text(), "Zyr Test Status: PASS")) << m.console_text();
  ASSERT_EQ(recs.size(), 55u) << "every catalogue record reaches the teardown";
  const auto& na = family_na.at(GetParam());
  for (const auto& r : recs) {
    if (na.count(r.first))
      EXPECT_EQ(r.second.result, TEST_NA) << "test " << r.first;
    else
      EXPECT_EQ(r.second.result, TEST_PASS) << "test " << r.first << ": " << r.second.message;
  }
}

TEST_P(ReferencePlatform, DirectoryInTheRepositoryIsTheGeneratorsOutput) {
  sim::platform_description dir, gen;
  std::string error;
  ASSERT_TRUE(sim::load_reference_description(GetParam(), dir, &error)) << error;
  ASSERT_TRUE(sim::make_reference_platform(GetParam(), gen));
  ASSERT_EQ(dir.acpi.size(), gen.acpi.size());
  for (size_t i = 0; i < gen.acpi.size(); i++) EXPECT_EQ(dir.acpi[i].bytes, gen.acpi[i].bytes) << gen.acpi[i].name;
  EXPECT_EQ(dir.pci, gen.pci);
  ASSERT_EQ(dir.mmio.size(), gen.mmio.size());
  for (size_t i = 0; i < gen.mmio.size(); i++) {
    EXPECT_EQ(dir.mmio[i].address, gen.mmio[i].address);
    EXPECT_EQ(dir.mmio[i].value, gen.mmio[i].value) << std::hex << gen.mmio[i].address;
    EXPECT_EQ(dir.mmio[i].width, gen.mmio[i].width);
  }
  EXPECT_EQ(dir.cpuid, gen.cpuid);
  EXPECT_EQ(dir.msrs, gen.msrs);
  ASSERT_EQ(dir.memory_map.size(), gen.memory_map.size());
  for (size_t i = 0; i < gen.memory_map.size(); i++) {
    EXPECT_EQ(dir.memory_map[i].type, gen.memory_map[i].type);
    EXPECT_EQ(dir.memory_map[i].physical_start, gen.memory_map[i].physical_start);
    EXPECT_EQ(dir.memory_map[i].number_of_pages, gen.memory_map[i].number_of_pages);
  }
  EXPECT_EQ(dir.smbios_table, gen.smbios_table);
  EXPECT_EQ(dir.title, gen.title);
}

TEST_P(ReferencePlatform, DumpOptionPrintsEveryTable) {
  sim::machine m;
  ASSERT_TRUE(sim::load_reference_platform(GetParam(), m));
  auto r = run_iovet(m, {"-d"});
  EXPECT_EQ(r.status, 0u);
  for (const char* s : {"-- DMAR --", "RegisterBaseAddress", "-- HPET --", "-- MCFG --", "-- MADT --"})
    EXPECT_TRUE(contains(r.text, s)) << s;
  EXPECT_FALSE(contains(r.text, "is not present")) << r.text;
}

INSTANTIATE_TEST_SUITE_P(Families, ReferencePlatform, ::testing::ValuesIn(sim::reference_families()),
                         [](const auto& info) { return info.param; });

TEST(ReferencePlatformLoader, UnknownFamilyInstallsNothing) {
  sim::machine m;
  EXPECT_FALSE(sim::load_reference_platform("zen", m));
  EXPECT_TRUE(m.functions.empty());
  EXPECT_TRUE(m.configuration_table.empty());
}

TEST(ReferencePlatformLoader, P2sbEndsAsTheFamilysRoutineLeavesIt) {
  // Both variants leave a P2SB found visible as they found it.
  for (const char* fam : {"rav", "mof"}) {
    sim::machine m;
    ASSERT_TRUE(sim::load_reference_platform(fam, m));
    m.pci(0, 31, 1).set8(0xE1, 0);
    run_iovet(m);
    EXPECT_EQ(m.config_byte(0, 31, 1, 0xE1), 0) << fam;
  }
}

// ---------------------------------------------------------------------------
// One changed field: tests/data/platforms/<case>/ with expected.txt listing
// the findings (NUMBER RESULT MESSAGE); everything else as on the reference.

class ChangedField : public ::testing::TestWithParam<std::string> {};

TEST_P(ChangedField, FailsExactlyTheAssertionsThatCheckIt) {
  std::string dir = repo_path("tests/data/platforms/" + GetParam());
  sim::platform_description p;
  auto lr = sim::load_platform_dir(dir, p);
  ASSERT_TRUE(lr.ok) << lr.error;
  std::map<uint64_t, result_line> expected;
  std::istringstream in(read_file(dir + "/expected.txt"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream l(line);
    uint64_t id;
    std::string word, message;
    l >> id >> word;
    std::getline(l, message);
    message.erase(0, message.find_first_not_of(' '));
    expected[id] = {word == "FAIL" ? TEST_FAIL : word == "WARNING" ? TEST_WARNING : TEST_PASS, message};
  }
  ASSERT_FALSE(expected.empty());
  sim::machine m;
  auto recs = run_platform(p, m);
  ASSERT_EQ(recs.size(), 55u);
  for (const auto& r : recs) {
    auto e = expected.find(r.first);
    if (e != expected.end()) {
      EXPECT_EQ(r.second.result, e->second.result) << "test " << r.first;
      EXPECT_EQ(r.second.message, e->second.message) << "test " << r.first;
    } else {
      EXPECT_EQ(r.second.result, r.first == 62 ? TEST_NA : TEST_PASS) << "test " << r.first << ": " << r.second.message;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ChangedField,
                         ::testing::Values("rav-default-engine-disabled", "rav-drhd-wrong-base",
                                           "rav-gfx-policy-unlocked", "rav-hpet-timer-level",
                                           "rav-rmrr-limit-past-reserved"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

// ---------------------------------------------------------------------------
// Platforms that do not hold every source: what is not known is never read,
// and the assertions that need it are Missing Data, not failures.

namespace {

const source_set table_set = FROM_DMAR | FROM_MCFG | FROM_MADT | FROM_HPET;

}  // namespace

TEST(PartialPlatform, RecordingWithoutItsRegistersFailsNothingItCannotSee) {
  fs::path dir = fs::temp_directory_path() / ("iovet-no-mmio-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::copy(repo_path("platforms/rav"), dir, fs::copy_options::recursive);
  fs::remove(dir / "mmio.txt");
  sim::platform_description p;
  auto lr = sim::load_platform_dir(dir.string(), p);
  fs::remove_all(dir);
  ASSERT_TRUE(lr.ok) << lr.error;
  sim::machine m;
  auto recs = run_platform(p, m);
  ASSERT_EQ(recs.size(), 55u);
  for (const auto& r : recs) EXPECT_NE(r.second.result, TEST_FAIL) << "test " << r.first << ": " << r.second.message;
  for (uint64_t id : {3, 8, 9, 10, 15, 46, 52, 57, 58, 63, 64}) {
    EXPECT_EQ(recs[id].result, TEST_MISSING) << "test " << id;
    EXPECT_TRUE(contains(recs[id].message, "which this recording does not hold.")) << recs[id].message;
  }
  EXPECT_EQ(recs[2].result, TEST_PASS) << "the tables are still checked";
  EXPECT_EQ(m.unknown_reads, 0u);
}

// Corpus machines with their own tables and nothing else: every assertion
// whose sources are tables runs; every other that needs more is Missing Data
// saying why.
TEST(PartialPlatform, TablesAloneEvaluateTheTableAssertionsAndReadNothingElse) {
  fs::path corpus = repo_path("../shared/corpus");
  if (!fs::exists(corpus)) GTEST_SKIP() << "corpus not present";
  std::vector<fs::path> dirs;
  for (const auto& de : fs::directory_iterator(corpus))
    if (de.is_directory()) dirs.push_back(de.path());
  std::sort(dirs.begin(), dirs.end());
  size_t checked = 0;
  for (size_t i = 0; i < dirs.size(); i += 16) {
    SCOPED_TRACE(dirs[i].filename().string());
    std::vector<sim::acpi_table_file> tables;
    ASSERT_TRUE(sim::read_acpi_tables(dirs[i].string(), tables).ok);
    sim::platform_description p;
    sim::tables_only_platform(tables, p);
    sim::machine m;
    auto recs = run_platform(p, m);
    EXPECT_EQ(m.unknown_reads, 0u);
    if (!contains(m.console_text(), "Zyr Test Status: ")) continue;  // a DMAR the collection refuses
    checked++;
    for (const auto& r : recs) {
      const assertion_sources_t* a = sources_of(r.first);
      if (!a) continue;
      bool tables_only = (a->needs & ~(table_set | ENGINE_LIST)) == 0;
      bool alone = contains(r.second.message, "which a run on ACPI tables alone does not have.");
      bool said_why = r.second.result == TEST_MISSING &&
                      (alone || contains(r.second.message, "which is not among the tables given"));
      if (tables_only && !a->later)
        EXPECT_FALSE(alone) << "test " << r.first << " needs only tables";
      else if (!tables_only)
        EXPECT_TRUE(said_why) << "test " << r.first << ": " << r.second.message;
    }
  }
  EXPECT_GT(checked, dirs.size() / 20);
}

// A run on tables alone knows a table is absent only where the dump's root
// table says so: it lists nothing but tables the dump holds. A DMAR by
// itself, or a dump whose RSDT lists a table it lacks, leaves the missing
// tables not known, and their assertions say so.
TEST(PartialPlatform, TheRootTableDecidesWhetherATableNotGivenIsAbsent) {
  sim::bytes dmar = sim::dmar_builder().drhd(1, 0, 0xFED90000, {{4, 0, 0xF0, {{31, 0}}}}).build();
  sim::bytes mcfg = sim::build_mcfg({{0xE0000000, 0, 0, 0xFF}}), madt = sim::build_madt({});
  auto dump = [&](std::vector<uint32_t> listed) {
    sim::bytes rsdt = sim::acpi_header("RSDT");
    for (uint32_t at : listed) sim::append_le(rsdt, at, 4);
    std::string text;
    uint32_t at = 0x7000;
    for (const sim::bytes* t : {&sim::finish_table(rsdt), &dmar, &mcfg, &madt}) {
      char line[64];
      snprintf(line, sizeof line, "%.4s @ 0x%016X\n", (const char*)t->data(), at += 0x1000);
      text += line;
      for (size_t i = 0; i < t->size(); i += 16) {
        snprintf(line, sizeof line, "    %04zX:", i);
        text += line;
        for (size_t j = i; j < i + 16 && j < t->size(); j++) {
          snprintf(line, sizeof line, " %02X", (*t)[j]);
          text += line;
        }
        text += "\n";
      }
      text += "\n";
    }
    return text;
  };
  struct row {
    std::vector<uint32_t> listed;  // what the RSDT lists; empty: no RSDT
    source_state hpet;
    uint64_t test_19;
    const char* message_19;
  };
  for (const row& c : {row{{0x9000, 0xA000, 0xB000}, SOURCE_KNOWN, TEST_FAIL, "HPET table not located"},
                       row{{0x9000, 0xA000, 0xB000, 0xC000}, SOURCE_NOT_GIVEN, TEST_MISSING, "not among the tables given"},
                       row{{}, SOURCE_NOT_GIVEN, TEST_MISSING, "Needs the HPET table"}}) {
    std::string text = dump(c.listed);
    if (c.listed.empty()) text = text.substr(text.find("DMAR @"));
    std::vector<sim::acpi_table_file> tables;
    sim::acpi_root_tables roots;
    ASSERT_TRUE(sim::parse_acpidump_text(text, "dump.txt", tables, &roots).ok);
    EXPECT_EQ(tables.size(), 3u) << "the root table is the machine's own";
    sim::platform_description p;
    sim::tables_only_platform(tables, p, roots);
    EXPECT_EQ(p.sources[SOURCE_HPET], c.hpet) << c.listed.size();
    sim::machine m;
    auto recs = run_platform(p, m);
    EXPECT_EQ(recs[19].result, c.test_19) << recs[19].message;
    EXPECT_TRUE(contains(recs[19].message, c.message_19)) << recs[19].message;
    EXPECT_EQ(recs[22].result, c.test_19);
    EXPECT_EQ(recs[11].result, (uint64_t)TEST_PASS);
  }
}
