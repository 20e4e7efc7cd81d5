// Every machine of the real-firmware corpus checked on its own tables alone:
// no processor, no chipset, no hardware, so only what the tables decide is
// evaluated and every other record says what it needs. A table the corpus
// did not record for a machine (its dump held only some) is not recorded
// here either, never absent. No run may crash, hang, leave pool memory
// behind or read a source it does not know; the result word of every record
// is compared with tests/data/corpus-results.txt (IOVET_UPDATE_EXPECTATIONS=1
// rewrites it).
#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "catalogue/catalogue.h"
#include "engine/sources.h"
#include "platform/sim/records.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

const std::string corpus_dir = std::string(IOVET_SOURCE_DIR) + "/../shared/corpus";
const std::string expectation_file = repo_path("tests/data/corpus-results.txt");

// The assertions whose verdict rests on the tables alone, and those with a
// path the tables decide.
const std::vector<uint64_t> table_only = {2,  4,  5,  6,  7,  11, 12, 13, 14, 16, 17, 21,
                                          22, 23, 24, 38, 39, 43, 44, 53, 59, 60, 61};
const std::vector<uint64_t> table_paths = {19, 20, 27, 40, 47, 52, 54};

std::vector<std::string> corpus_machines() {
  std::vector<std::string> names;
  if (DIR* d = opendir(corpus_dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name[0] != '.' && !read_file(corpus_dir + "/" + name + "/DMAR.dat").empty()) names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

const char* word(uint64_t result) {
  static const char* const words[] = {"PASS", "FAIL", "NA", "MISSING", "WARNING"};
  return result < 5 ? words[result] : "?";
}

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) lines.push_back(l);
  return lines;
}

bool listed(const std::vector<uint64_t>& v, uint64_t id) { return std::find(v.begin(), v.end(), id) != v.end(); }

// One corpus machine: its line of result words, or a line naming what went
// wrong with the run itself.
std::string run_machine(const std::string& name) {
  const std::string dir = corpus_dir + "/" + name;
  sim::machine m;
  m.operation_limit = 20000000;
  std::vector<sim::bytes> acpi;
  bool recorded_all = true;
  const struct {
    const char* file;
    platform_source source;
  } tables[] = {{"DMAR.dat", SOURCE_DMAR}, {"MCFG.dat", SOURCE_MCFG}, {"APIC.dat", SOURCE_MADT}, {"HPET.dat", SOURCE_HPET}};
  for (const auto& t : tables) {
    std::string bytes = read_file(dir + "/" + t.file);
    if (!bytes.empty())
      acpi.emplace_back(bytes.begin(), bytes.end());
    else
      m.set_unknown(t.source, SOURCE_NOT_RECORDED), recorded_all = false;
  }
  m.install_acpi(acpi);
  add_catalogue(m);
  for (uint32_t s = SOURCE_CHIPSET; s < SOURCE_COUNT; s++) m.set_unknown((platform_source)s, SOURCE_TABLES_ONLY);

  std::vector<test_case_t> kept;
  sim::keep_records(m, kept);
  sim::run_result r = sim::run(m, {u"-t"});
  EXPECT_FALSE(r.watchdog) << name << ": the run did not end";
  EXPECT_EQ(r.leaked_allocations, 0u) << name;
  EXPECT_EQ(m.bad_frees, 0u) << name;
  EXPECT_EQ(m.unknown_reads, 0u) << name << ": read a source it does not know";
  if (r.text.find("Error occurred collecting needed Zyr test data") != std::string::npos)
    return name + " collection-failed";
  std::string line = name;
  for (const test_case_t& tc : kept) {
    line += " " + std::to_string(tc.id) + ":" + word(tc.result);
    // What the tables decide is evaluated; the rest says what it needs.
    if (listed(table_only, tc.id) && recorded_all) EXPECT_NE(tc.result, (uint64_t)TEST_MISSING) << name << " " << tc.id;
    if (!listed(table_only, tc.id) && !listed(table_paths, tc.id) && tc.result != TEST_NA)
      EXPECT_EQ(tc.result, (uint64_t)TEST_MISSING) << name << " " << tc.id;
  }
  return line;
}

}  // namespace

TEST(CorpusAssertions, EveryMachineOnItsOwnTablesKeepsItsResults) {
  std::vector<std::string> names = corpus_machines();
  if (names.empty()) GTEST_SKIP() << "no corpus at " << corpus_dir;
  std::vector<std::string> lines;
  for (const std::string& name : names) lines.push_back(run_machine(name));

  const char* update = std::getenv("IOVET_UPDATE_EXPECTATIONS");
  if (update && std::string(update) == "1") {
    std::ofstream out(expectation_file, std::ios::binary);
    for (const std::string& l : lines) out << l << "\n";
    return;
  }
  std::vector<std::string> expected = read_lines(expectation_file);
  ASSERT_FALSE(expected.empty()) << expectation_file << " missing; run with IOVET_UPDATE_EXPECTATIONS=1";
  EXPECT_EQ(lines.size(), expected.size()) << "corpus and expectation file list different machines";
  int shown = 0;
  for (size_t i = 0; i < lines.size() && i < expected.size(); i++) {
    if (lines[i] != expected[i] && shown++ < 20) ADD_FAILURE() << "expected: " << expected[i] << "\n     got: " << lines[i];
  }
  EXPECT_EQ(shown, 0) << "machines whose results changed";
}

// What the corpus is known to hold, on the tables alone: the real faults are
// found, and the sound tables that the seven families' rules misread (two
// I/O APICs, a two-entry path, a DRHD Size byte) pass.
TEST(CorpusAssertions, TheKnownFaultsAndOnlyThem) {
  std::vector<std::string> names = corpus_machines();
  if (names.empty()) GTEST_SKIP() << "no corpus at " << corpus_dir;
  std::map<int, std::vector<std::string>> failing;
  for (const std::string& line : read_lines(expectation_file)) {
    std::istringstream in(line);
    std::string name, word;
    in >> name;
    while (in >> word)
      if (word.size() > 5 && word.substr(word.find(':')) == ":FAIL") failing[std::stoi(word)].push_back(name);
  }
  const std::map<int, size_t> known = {{5, 0}, {6, 0}, {14, 2}, {17, 6}, {21, 6}, {22, 6}, {24, 0}, {39, 0}, {60, 3}, {61, 3}};
  for (const auto& k : known) EXPECT_EQ(failing[k.first].size(), k.second) << "assertion " << k.first;
  EXPECT_EQ(failing[17], failing[21]) << "the same I/O APIC ID mismatches";
  EXPECT_NE(std::find(failing[40].begin(), failing[40].end(), "linuxhw-795F37601A0A"), failing[40].end())
      << "the RMRR from 0x0 to 0x0";
}
