// Helpers shared by the host tests: a simulated machine with the
// repository's catalogue, runs of the real image entry, and text checks.
#pragma once
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/sim/tables.h"

namespace testing_support {

inline std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline std::string repo_path(const std::string& relative) { return std::string(IOVET_SOURCE_DIR) + "/" + relative; }

// Adds the repository's catalogue file to the machine's current directory.
inline void add_catalogue(sim::machine& m) { m.add_file(u"zyr-tests", read_file(repo_path("zyr-tests"))); }

// Runs the image with UTF-8 arguments; fails the test on a leak, a bad
// free, a file left open or a watchdog stop.
inline sim::run_result run_iovet(sim::machine& m, const std::vector<std::string>& args = {}) {
  std::vector<std::u16string> a;
  for (const auto& s : args) a.push_back(sim::from_utf8(s));
  sim::run_result r = sim::run(m, a);
  EXPECT_EQ(r.leaked_allocations, 0u) << "pool allocations left after the run";
  EXPECT_EQ(m.bad_frees, 0u) << "pool frees of unknown buffers";
  EXPECT_EQ(r.leaked_files, 0u) << "files left open";
  EXPECT_FALSE(r.watchdog) << "the run did not end within its operation bound";
  return r;
}

inline bool contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

}  // namespace testing_support
