// The engine and the report on the healthy reference platforms.
#include "platform/sim/platform_dir.h"
#include "support/harness.h"

using namespace testing_support;

TEST(EngineReference, EachFamilyReachesItsRoutineAndEndsInAPassingReport) {
  for (const std::string& family : sim::reference_families()) {
    sim::machine m;
    ASSERT_TRUE(sim::load_reference_platform(family, m)) << family;
    auto r = run_iovet(m, {"-v", "--dbg"});
    EXPECT_TRUE(contains(r.text, "DEBUG : testsetup_" + family + "()")) << family;
    EXPECT_FALSE(contains(r.text, "ERROR -- MCHBAR")) << family;
    EXPECT_TRUE(contains(r.text, "Zyr Test Status: PASS\n")) << family << "\n" << r.text;
    EXPECT_TRUE(contains(r.text, "Platform Information\n")) << family;
    EXPECT_TRUE(contains(r.text, "Test Assertions\n")) << family;
  }
}

// An assertion that finds no record checked nothing: the run keeps its
// "Application failure" line and its report, and its status is FAIL.
TEST(EngineReference, AMissingRecordTurnsTheStatusToFail) {
  std::string full = read_file(repo_path("zyr-tests"));
  size_t at = full.find("\n20@");
  ASSERT_NE(at, std::string::npos);
  std::string without_20 = full.substr(0, at + 1) + full.substr(full.find('\n', at + 1) + 1);
  struct variant {
    std::string catalogue;
    const char* line;
    const char* total;
  } variants[] = {
      {"", "Application failure when retrieving test case information: ID = 1\n", "Total | 00\n"},
      {"2@two\n", "Application failure when retrieving test case information: ID = 1\n", "Total | 01\n"},
      {without_20, "Application failure when retrieving test case information: ID = 20.\n", "--------------------\n"},
  };
  for (const variant& v : variants) {
    sim::machine m;
    ASSERT_TRUE(sim::load_reference_platform("rav", m));
    m.files[u"zyr-tests"].assign(v.catalogue.begin(), v.catalogue.end());
    auto r = run_iovet(m);
    EXPECT_TRUE(contains(r.text, v.line)) << r.text;
    EXPECT_TRUE(contains(r.text, "Zyr Test Status: FAIL\n")) << r.text;
    EXPECT_TRUE(contains(r.text, v.total)) << r.text;
    EXPECT_EQ(r.status, 0u);
  }
  // The flag does not outlive its run.
  sim::machine m;
  ASSERT_TRUE(sim::load_reference_platform("rav", m));
  EXPECT_TRUE(contains(run_iovet(m).text, "Zyr Test Status: PASS\n"));
}
