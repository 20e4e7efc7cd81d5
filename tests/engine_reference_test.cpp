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
