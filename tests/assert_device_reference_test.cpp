// The device, memory and engine assertions on each family's healthy
// reference platform, through the whole application: every one passes, or
// records what the family's not-applicable flags give it; the report's
// status is PASS.
#include <map>

#include "catalogue/catalogue.h"
#include "engine/driver.h"
#include "platform/sim/platform_dir.h"
#include "support/device_platform.h"
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

TEST(DeviceReferencePlatforms, EveryAssertionPassesOrFollowsTheFamilysFlags) {
  for (const family& f : families) {
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
    for (const auto& [id, fn] : device_platform::device_assertions()) {
      ASSERT_TRUE(results.count(id)) << f.name << " " << id;
      uint64_t expected = TEST_PASS;
      if (is_not_applicable(&tinfo, (uint32_t)id)) expected = id == 54 ? TEST_MISSING : TEST_NA;
      if (id == 63 && !tinfo.igfx_present) expected = TEST_NA;
      if (id == 65 && !tinfo.igfx_present) expected = TEST_NA;
      EXPECT_EQ(results[id].first, expected) << f.name << " assertion " << id << ": " << results[id].second;
    }
    EXPECT_TRUE(contains(r.text, "Zyr Test Status: PASS")) << f.name << "\n" << r.text;
  }
}
