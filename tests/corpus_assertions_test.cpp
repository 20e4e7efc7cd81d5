// Every machine of the real-firmware corpus checked on its own tables alone:
// no processor, no chipset, no hardware, so only what the tables decide is
// evaluated and every other record says what it needs. A table the corpus
// did not record for a machine (its dump held only some) is not recorded
// here either, never absent. No run may crash, hang, leave pool memory
// behind or read a source it does not know; the result word of every record
// is compared with tests/data/corpus-results.txt (IOVET_UPDATE_EXPECTATIONS=1
// rewrites it).
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "catalogue/catalogue.h"
#include "engine/sources.h"
#include "support/harness.h"
#include "survey.h"

using namespace testing_support;

namespace {

const std::string corpus_dir = std::string(IOVET_SOURCE_DIR) + "/../shared/corpus";
const std::string expectation_file = repo_path("tests/data/corpus-results.txt");

// The assertions whose verdict rests on the tables alone, and those with a
// path the tables decide.
const std::vector<uint64_t> table_only = {2,  4,  5,  6,  7,  11, 12, 13, 14, 16, 17,  21,  22,  23,
                                          24, 38, 39, 43, 44, 53, 59, 60, 61, 102, 105, 106, 107};
const std::vector<uint64_t> table_paths = {19, 20, 27, 40, 47, 52, 54, 101, 108, 109, 110};

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

// One corpus machine, as the survey checks it: its line of result words, or
// a line naming what went wrong with the run itself.
std::string run_machine(const std::string& name) {
  survey::machine_result m = survey::check_machine(corpus_dir, name, read_file(repo_path("zyr-tests")));
  EXPECT_TRUE(m.clean) << name << ": the run did not end, or left pool memory behind";
  EXPECT_EQ(m.unknown_reads, 0u) << name << ": read a source it does not know";
  if (!m.collected) return name + " collection-failed";
  // Every table the checks read was recorded but for a few machines.
  bool recorded_all = true;
  for (const char* file : {"/MCFG.dat", "/APIC.dat", "/HPET.dat"})
    recorded_all = recorded_all && !read_file(corpus_dir + "/" + name + file).empty();
  std::string line = name;
  for (const auto& r : m.results) {
    line += " " + std::to_string(r.first) + ":" + word(r.second);
    // What the tables decide is evaluated; the rest says what it needs.
    if (listed(table_only, r.first) && recorded_all) EXPECT_NE(r.second, (uint64_t)TEST_MISSING) << name << " " << r.first;
    if (!listed(table_only, r.first) && !listed(table_paths, r.first) && r.second != TEST_NA)
      EXPECT_EQ(r.second, (uint64_t)TEST_MISSING) << name << " " << r.first;
  }
  return line;
}

}  // namespace

TEST(CorpusAssertions, EveryMachineOnItsOwnTablesKeepsItsResults) {
  std::vector<std::string> names = survey::corpus_machines(corpus_dir);
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
  std::vector<std::string> names = survey::corpus_machines(corpus_dir);
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

// The README carries the survey's current table.
TEST(CorpusSurvey, TheReadmeCarriesTheCurrentTable) {
  std::vector<std::string> names = survey::corpus_machines(corpus_dir);
  if (names.empty()) GTEST_SKIP() << "no corpus at " << corpus_dir;
  std::vector<survey::machine_result> machines;
  std::string catalogue = read_file(repo_path("zyr-tests"));
  for (const std::string& name : names) machines.push_back(survey::check_machine(corpus_dir, name, catalogue));
  std::string table = survey::summarize(machines).markdown;
  EXPECT_NE(read_file(repo_path("README.md")).find(table), std::string::npos)
      << "README's survey differs from make survey's; the current one:\n" << table;
}
