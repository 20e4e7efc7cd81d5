// The DMAR and interrupt-remapping assertions on each family's healthy
// reference platform, through the whole application: every one passes, or
// records what the family's not-applicable flags give it.
#include <map>

#include "catalogue/catalogue.h"
#include "engine/driver.h"
#include "platform/sim/platform_dir.h"
#include "support/dmar_platform.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

std::map<uint64_t, std::pair<uint64_t, std::string>>* released = nullptr;

void keep_record(const test_case_t* tc) {
  if (released) (*released)[tc->id] = {tc->result, sim::to_utf8(tc->message)};
}

struct family {
  const char* name;
  uint64_t (*setup)(test_info_t*);
};

const family families[] = {{"qen", testsetup_qen}, {"rav", testsetup_rav}, {"mof", testsetup_mof},
                           {"jix", testsetup_jix}, {"yod", testsetup_yod}, {"gux", testsetup_gux},
                           {"wez", testsetup_wez}};

}  // namespace

TEST(DmarReferencePlatforms, EveryAssertionPassesOrFollowsTheFamilysFlags) {
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
    std::map<uint64_t, std::pair<uint64_t, std::string>> results;
    released = &results;
    catalogue_release_hook = keep_record;
    auto r = run_iovet(m, {"-v"});
    catalogue_release_hook = nullptr;
    released = nullptr;
    for (const auto& e : dmar_platform::dmar_assertions) {
      ASSERT_TRUE(results.count(e.id)) << f.name << " " << e.id;
      uint64_t expected = TEST_PASS;
      if (is_not_applicable(&tinfo, (uint32_t)e.id))
        expected = (e.id == 18 || e.id == 19 || e.id == 20 || e.id == 25 || e.id == 26) ? TEST_MISSING : TEST_NA;
      EXPECT_EQ(results[e.id].first, expected) << f.name << " assertion " << e.id << ": " << results[e.id].second;
    }
    EXPECT_TRUE(contains(r.text, "Zyr Test Status: ")) << f.name;
  }
}
