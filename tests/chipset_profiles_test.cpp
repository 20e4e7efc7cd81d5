// The later chipset profiles on the rav reference platform with another
// processor: each profile reads its own registers, judges by the general
// rules, and says which fact it lacks.
#include <map>

#include "engine/sources.h"
#include "platform/sim/platform_dir.h"
#include "platform/sim/records.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

constexpr uint64_t MCH = 0xFED10000;
constexpr uint32_t PEK = 0x00090672, LUM = 0x000A06A4, RAV = 0x000506E3;

struct profiled_run {
  std::map<uint64_t, std::pair<uint64_t, std::string>> records;
  std::string text;
};

// rav's reference platform (graphics DRHD 0xFED90000, then the default DRHD
// 0xFED91000) on processor eax.
sim::machine platform_on(uint32_t eax) {
  sim::machine m;
  EXPECT_TRUE(sim::load_reference_platform("rav", m));
  m.cpuid_leaves[1][0] = eax;
  return m;
}

profiled_run run_profiled(sim::machine& m, std::vector<std::string> args = {"-v"}) {
  std::vector<test_case_t> kept;
  sim::keep_records(m, kept);
  profiled_run r;
  r.text = run_iovet(m, args).text;
  for (const test_case_t& tc : kept) r.records[tc.id] = {tc.result, sim::to_utf8(tc.message)};
  return r;
}

// A lum chipset: the graphics engine's register at 0x5410, nothing at 0x5400.
void lum_registers(sim::machine& m) {
  m.write64(MCH + 0x5410, 0xFED90001);
  m.write64(MCH + 0x5400, 0);
}

}  // namespace

TEST(ChipsetProfiles, LumGraphicsEngineAt5410AndItsDefaultElsewherePassWhereAListedRowFails) {
  sim::machine m = platform_on(LUM);
  lum_registers(m);
  profiled_run lum = run_profiled(m);
  EXPECT_EQ(lum.records[3].first, (uint64_t)TEST_PASS) << lum.records[3].second;
  EXPECT_EQ(lum.records[1].first, (uint64_t)TEST_PASS) << "test 1 from the chipset's switch";
  EXPECT_TRUE(contains(lum.text, "Chipset profile         lum (judged by the general rules)\n"));
  EXPECT_EQ(lum.records[18].second, "Needs the PCH's IOxAPIC request ID, which the chipset profile lum does not give.\n");
  EXPECT_EQ(lum.records[57].second,
            "Needs the default engine's base register, which the chipset profile lum does not give.\n");
  EXPECT_TRUE(m.pci_writes.empty()) << "no P2SB is reached for lum";

  sim::machine listed = platform_on(RAV);
  lum_registers(listed);
  profiled_run rav = run_profiled(listed);
  EXPECT_EQ(rav.records[3].first, (uint64_t)TEST_FAIL);
  EXPECT_FALSE(contains(rav.text, "Chipset profile"));
}

TEST(ChipsetProfiles, PekEngineReadDisabledWithADrhdAtItsBaseFailsByTheGeneralRule) {
  sim::machine m = platform_on(PEK);
  m.write64(MCH + 0x5400, 0xFED90000);  // the graphics engine, enable bit clear
  profiled_run pek = run_profiled(m);
  EXPECT_EQ(pek.records[3].first, (uint64_t)TEST_FAIL);
  EXPECT_TRUE(contains(pek.records[3].second, "Remapping engine BAR is not enabled for this Platform.\n"
                                              "General rule of a later chipset profile: "))
      << pek.records[3].second;
  // A disabled engine is not one of the engines: 15 and 58 look at the default one only.
  EXPECT_EQ(pek.records[15].first, (uint64_t)TEST_PASS);
  EXPECT_EQ(pek.records[46].second, "Needs the address widths, which the chipset profile pek does not give.\n");
}

TEST(ChipsetProfiles, PekLeavesTheP2sbAsFound) {
  sim::machine visible = platform_on(PEK);
  visible.pci(0, 31, 1).set8(0xE1, 0);
  profiled_run r = run_profiled(visible, {"-t"});
  EXPECT_TRUE(visible.pci_writes.empty()) << "a P2SB found visible stays visible, unwritten";
  EXPECT_EQ(r.records[18].first, (uint64_t)TEST_PASS);

  sim::machine hidden = platform_on(PEK);
  run_profiled(hidden, {"-t"});
  ASSERT_EQ(hidden.pci_writes.size(), 2u);
  EXPECT_EQ(hidden.pci_writes[0].value, 0);
  EXPECT_EQ(hidden.pci_writes[1].value, 1) << "hidden again after";
}

TEST(ChipsetProfiles, TovCountsTheEnginesItGivesNoBaseOfByTheirEnableBits) {
  for (uint64_t block : {0xFED90007ULL, 0xFED90001ULL}) {
    sim::machine m = platform_on(0x000C06C1);
    m.write64(MCH + 0x5410, block);
    profiled_run tov = run_profiled(m, {"-t"});
    EXPECT_EQ(tov.records[3].first, block & 6 ? (uint64_t)TEST_PASS : (uint64_t)TEST_FAIL) << std::hex << block;
  }
}
