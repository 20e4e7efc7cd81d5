// Every assertion on each family's healthy reference platform, through the
// whole application: each one passes, or records what the family's
// not-applicable flags give it, and the report's status is PASS.
#include <map>
#include <set>

#include "catalogue/catalogue.h"
#include "engine/driver.h"
#include "platform/sim/platform_dir.h"
#include "platform/sim/records.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

struct family {
  const char* name;
  uint64_t (*setup)(test_info_t*);
};

const family families[] = {{"qen", testsetup_qen}, {"rav", testsetup_rav}, {"mof", testsetup_mof},
                           {"jix", testsetup_jix}, {"yod", testsetup_yod}, {"gux", testsetup_gux},
                           {"wez", testsetup_wez}};

// Assertions that record missing data rather than not applicable when
// their flag is set (the PCH registers were out of reach).
const std::set<uint64_t> missing_when_flagged = {18, 19, 20, 25, 26, 54};

}  // namespace

TEST(ReferencePlatforms, EveryAssertionPassesOrFollowsTheFamilysFlags) {
  for (const family& f : families) {
    // The flags that the family's setup routine sets on this platform.
    test_info_t tinfo{};
    {
      sim::machine probe;
      ASSERT_TRUE(sim::load_reference_platform(f.name, probe)) << f.name;
      sim::call(probe, [&] { f.setup(&tinfo); });
    }
    sim::machine m;
    ASSERT_TRUE(sim::load_reference_platform(f.name, m)) << f.name;
    std::vector<test_case_t> kept;
    sim::keep_records(m, kept);
    auto r = run_iovet(m, {"-v"});
    std::map<uint64_t, std::pair<uint64_t, std::string>> results;
    for (const test_case_t& tc : kept) results[tc.id] = {tc.result, sim::to_utf8(tc.message)};
    EXPECT_EQ(results.size(), 55u) << f.name << ": every catalogue line gives a record";
    for (const auto& [id, outcome] : results) {
      uint64_t expected = TEST_PASS;
      if (is_not_applicable(&tinfo, (uint32_t)id)) expected = missing_when_flagged.count(id) ? TEST_MISSING : TEST_NA;
      if (id == 62) expected = TEST_NA;
      if ((id == 63 || id == 65) && !tinfo.igfx_present) expected = TEST_NA;
      EXPECT_EQ(outcome.first, expected) << f.name << " assertion " << id << ": " << outcome.second;
    }
    EXPECT_TRUE(contains(r.text, "Zyr Test Status: PASS")) << f.name << "\n" << r.text;
  }
}
