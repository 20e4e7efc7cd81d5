// The healthy device platform: every assertion of the group passes.
#include "support/device_platform.h"
#include "support/harness.h"

using namespace device_platform;

TEST(DeviceHealthy, EveryAssertionPasses) {
  bench b;
  make_healthy(b);
  std::vector<uint64_t> ids;
  for (const auto& [id, fn] : device_assertions()) ids.push_back(id);
  auto out = b.evaluate(ids);
  for (uint64_t id : ids) {
    EXPECT_EQ(out[id].status, 0u) << id;
    EXPECT_EQ(out[id].result, TEST_PASS) << id << ": " << out[id].message;
  }
  EXPECT_EQ(b.console, "");
}
