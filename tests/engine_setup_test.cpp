// The per-family platform setup routines on small simulated chipsets.
#include <algorithm>

#include "engine/driver.h"
#include "platform/print.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

constexpr uint64_t MCH = 0xFED10000;

// A chipset with MCHBAR enabled at MCH, CPUID leaf 1 and, optionally, a P2SB
// holding IBDF 0xF0F8, HPTC 0x82 (address select 2) and HBDF 0x00F0.
struct chipset {
  sim::machine m;
  explicit chipset(uint32_t eax, bool p2sb = true, bool p2sb_hidden = true) {
    m.set_cpuid(1, eax);
    m.pci(0, 0, 0, 0x8086, 0x3E10).set32(0x48, (uint32_t)MCH | 1);
    if (p2sb) {
      auto& f = m.pci(0, 31, 1, 0x8086, 0xA320);
      f.set16(0x6C, 0xF0F8);
      f.set8(0x60, 0x82);
      f.set16(0x70, 0x00F0);
      f.set8(0xE1, p2sb_hidden ? 1 : 0);
    }
  }
  void engine(uint32_t offset, uint64_t value) { m.write64(MCH + offset, value); }
};

std::vector<int> na_tests(const test_info_t& t) {
  std::vector<int> v;
  for (uint32_t i = 0; i < NA_FLAG_COUNT; i++)
    if (t.not_applicable[i]) v.push_back(na_flag_tests[i]);
  return v;
}

struct setup_run {
  test_info_t t{};
  uint64_t status = 0;
  std::string text;
};

setup_run run_setup(sim::machine& m, uint64_t (*fn)(test_info_t*), bool debug = true) {
  sim::scoped_machine use(m);
  debug_mask = debug ? 0xFFFFFFFF : 0;
  setup_run r;
  r.status = fn(&r.t);
  debug_mask = 0;
  r.text = m.console_text();
  return r;
}

const std::vector<int> p2sb_case = {18, 19, 20, 25, 26, 54};

}  // namespace

TEST(SetupJix, AllNineEnginesMaskedInTableOrderWithTheDefaultLast) {
  chipset c(0x000906C2);
  c.m.pci(0, 2, 0, 0x8086, 0x3E92);
  c.m.pci(0, 5, 0, 0x8086, 0x1234);
  for (uint8_t fn = 0; fn < 6; fn++) c.m.pci(0, 7, fn, 0x8086, 0x4000 + fn);
  const uint32_t offsets[9] = {0x5400, 0x7880, 0x7888, 0x7890, 0x7898, 0x78A0, 0x78A8, 0x78B0, 0x5410};
  // High bits beyond 39 and the low attribute bits are dropped; bit 0 stays.
  for (int i = 0; i < 9; i++) c.engine(offsets[i], 0xFF000000FED00FFFULL + ((uint64_t)i << 12));
  setup_run r = run_setup(c.m, testsetup_jix);
  ASSERT_EQ(r.status, 0u);
  ASSERT_EQ(r.t.remap_bar_count, 9u);
  const uint32_t types[9] = {0, 2, 3, 3, 3, 3, 3, 3, 1};
  for (int i = 0; i < 9; i++) {
    EXPECT_EQ(r.t.bars[i].type, types[i]) << i;
    EXPECT_EQ(r.t.bars[i].address, 0xFED00001ULL + ((uint64_t)i << 12)) << i;
  }
  EXPECT_EQ(r.t.igfx_present, 1);
  EXPECT_EQ(r.t.zyrd_supported, 1u);
  EXPECT_EQ(r.t.ioxapic_reqid, 0xF0F8);
  EXPECT_EQ(r.t.hptc_reg, 0x82u);
  EXPECT_EQ(r.t.hpet_addr, 0xFED02100u);
  EXPECT_EQ(r.t.hpet_count, 8u);
  for (uint16_t id : r.t.pch_hpet_reqid) EXPECT_EQ(id, 0x00F0);
  EXPECT_EQ(r.t.cs_hpa, 39u);
  EXPECT_EQ(r.t.cs_gpa, 39u);
  EXPECT_EQ(r.t.gfx_prs, 0);
  EXPECT_EQ(r.t.gfx_pasid_mask, 0x10000000000ULL);
  EXPECT_EQ(r.t.dmar_calc_len, 0u) << "never touched by a setup routine";
  EXPECT_EQ(na_tests(r.t), (std::vector<int>{58, 63, 64, 65}));
  EXPECT_EQ(c.m.functions[(uint16_t)(31 << 3 | 1)].get8(0xE1), 1) << "a P2SB found hidden is hidden again";
  // The family's own debug lines, byte for byte (0x97 widened to U+0097).
  const std::string dash = "\xC2\x97";
  for (std::string line : {"DEBUG : testsetup_jix():  CPUID = 0x906C0\n",
                           "DEBUG : testsetup_jix():  MCHBAR = 0xFED10001\n",
                           "DEBUG : testsetup_jix() : mch_bar + 0x78B0 = 0xFED07001\n",
                           "DEBUG : testsetup_jix() : D0.F0.R0E4h [23] = 0 (0 == Zyrd Supported)\n",
                           "DEBUG : testsetup_jix() : B0D31F1 0xE1 = 0x0\n",
                           "DEBUG : testsetup_jix() : tinfo->ioxapic_reqid = 0xF0F8\n"})
    EXPECT_TRUE(contains(r.text, line)) << line << "\n---\n" << r.text;
  EXPECT_TRUE(contains(r.text, "DEBUG : testsetup_jix() : (HPTC)" + dash + "Offset 60h = 0x82\n")) << r.text;
  EXPECT_TRUE(contains(r.text, "DEBUG : testsetup_jix() : HPET Bus:Device:Function (HBDF)" + dash +
                                   "Offset 70h = 0xF0\n"));
  EXPECT_FALSE(contains(r.text, "igfx_did"));
}

TEST(SetupJix, EarlySteppingOfOneSignatureSetsEveryFlagButThatOfTest42) {
  for (uint32_t eax : {0x706E5u, 0x706E0u, 0x706E6u, 0x706D5u}) {
    chipset c(eax);
    setup_run r = run_setup(c.m, testsetup_jix, false);
    bool early = eax == 0x706E5 || eax == 0x706E0;
    EXPECT_EQ(na_tests(r.t).size(), early ? 44u : 4u) << std::hex << eax;
    EXPECT_EQ(is_not_applicable(&r.t, 42), false);
  }
}

TEST(SetupWez, WithoutGraphicsOrD5OnlyTheDefaultEngine) {
  chipset c(0x00060661);
  c.engine(0x5410, 0x00000001FED91F0FULL);
  c.engine(0x7880, 0x1111);  // not an engine of this family's type-2 slot
  c.m.pci(0, 0, 0).set32(0xE4, 1u << 23);
  setup_run r = run_setup(c.m, testsetup_wez);
  ASSERT_EQ(r.t.remap_bar_count, 1u);
  EXPECT_EQ(r.t.bars[0].type, (uint32_t)BAR_TYPE_DEFAULT);
  EXPECT_EQ(r.t.bars[0].address, 0x01FED91001ULL);
  EXPECT_EQ(r.t.bars[1].address, 0u);
  EXPECT_EQ(r.t.igfx_present, 0);
  EXPECT_EQ(r.t.zyrd_supported, 0u);
  EXPECT_TRUE(contains(r.text, "DEBUG : testsetup_wez() : mch_bar + 0x5410 = 0xFED91001\n")) << r.text;
  EXPECT_TRUE(contains(r.text, "DEBUG : testsetup_wez() : igfx_did = 0xFFFFFFFF\n"
                               "DEBUG : testsetup_wez() : igfx_did = 0xFFFFFFFF\n"));
  EXPECT_TRUE(contains(r.text, "D0.F0.R0E4h [23] = 1 (0 == Zyrd Supported)"));
}

TEST(SetupWez, TypeTwoEngineReadAt7884WithItsOwnLine) {
  chipset c(0x00060670);
  c.m.pci(0, 5, 0, 0x8086, 0x09A2);
  c.engine(0x7880, 0xBAD);
  c.engine(0x7884, 0xFED0A001);
  c.engine(0x5410, 0xFED91001);
  setup_run r = run_setup(c.m, testsetup_wez);
  ASSERT_EQ(r.t.remap_bar_count, 2u);
  EXPECT_EQ(r.t.bars[0].address, 0xFED0A001u);
  EXPECT_EQ(r.t.bars[0].type, (uint32_t)BAR_TYPE_D5);
  EXPECT_TRUE(contains(r.text, "DEBUG : testsetup_wez() : igfx_did = 0x9A28086\n")) << r.text;
  EXPECT_TRUE(contains(r.text, "DEBUG : testsetup_wez():  mch_bar + 0x7884 = 0xFED0A001\n")) << r.text;
  EXPECT_TRUE(contains(r.text, "DEBUG : testsetup_wez() : mch_bar + 0x5410 = 0xFED91001\n"));
}

// Only the hide bit of B0:D31:F1 0xE1 may change across a run. The simulated
// chipset reads all ones while the function is hidden and keeps every bit
// written, as the hardware does.
TEST(SetupP2sb, OnlyTheHideBitChangesAcrossEachVariant) {
  enum class p2sb { visible, hidden, unreachable, absent };
  struct expectation {
    uint64_t (*fn)(test_info_t*);
    p2sb state;
    uint8_t e1_before;
    uint8_t e1_after;
    std::vector<uint8_t> writes;
  };
  const expectation cases[] = {
      {testsetup_rav, p2sb::visible, 0x04, 0x04, {}},         {testsetup_mof, p2sb::visible, 0x04, 0x04, {}},
      {testsetup_rav, p2sb::hidden, 0x01, 0x01, {0x00, 0x01}}, {testsetup_mof, p2sb::hidden, 0x01, 0x01, {0x00, 0x01}},
      // Found hidden, unhidden, still no vendor: hidden again.
      {testsetup_rav, p2sb::unreachable, 0x01, 0x01, {0x00, 0x01}},
      {testsetup_mof, p2sb::unreachable, 0x01, 0x01, {0x00, 0x01}},
      {testsetup_rav, p2sb::absent, 0, 0, {0x00, 0x01}},      {testsetup_wez, p2sb::absent, 0, 0, {0x00, 0x01}},
  };
  for (const auto& e : cases) {
    chipset c(0x000806EA, e.state != p2sb::absent, e.state != p2sb::visible);
    if (e.state != p2sb::absent) c.m.pci(0, 31, 1).set8(0xE1, e.e1_before);
    if (e.state == p2sb::unreachable) c.m.pci(0, 31, 1).set16(0, 0xFFFF);
    setup_run r = run_setup(c.m, e.fn, false);
    std::string what = std::string(e.fn == testsetup_rav ? "rav " : "hiding ") + std::to_string((int)e.state);
    if (e.state != p2sb::absent) EXPECT_EQ(c.m.config_byte(0, 31, 1, 0xE1), e.e1_after) << what;
    EXPECT_EQ(c.m.has_pci(0, 31, 1), e.state != p2sb::absent) << what;
    std::vector<uint8_t> writes;
    for (const auto& w : c.m.pci_writes) {
      EXPECT_EQ(w.address, PCI_LIB_ADDRESS(0, 31, 1, 0xE1)) << what;
      writes.push_back(w.value);
    }
    EXPECT_EQ(writes, e.writes) << what;
    bool reached = e.state == p2sb::visible || e.state == p2sb::hidden;
    EXPECT_EQ(r.t.ioxapic_reqid, reached ? 0xF0F8 : 0) << what;
    EXPECT_EQ(r.t.hpet_count, reached ? 8u : 0u) << what;
    std::vector<int> na = na_tests(r.t);
    for (int t : p2sb_case) EXPECT_EQ(std::find(na.begin(), na.end(), t) != na.end(), !reached) << what << " " << t;
  }
  chipset mof(0x000806EA, false);
  EXPECT_EQ(na_tests(run_setup(mof.m, testsetup_mof, false).t), (std::vector<int>{18, 19, 20, 25, 26, 42, 54, 63}));
}

TEST(SetupMchbar, DisabledMchbarStopsWithItsMessageAndLeavesTheRecordZero) {
  for (auto fn : {testsetup_qen, testsetup_rav, testsetup_mof, testsetup_jix, testsetup_yod, testsetup_gux,
                  testsetup_wez}) {
    chipset c(0x000306C3);
    c.m.pci(0, 0, 0).set32(0x48, (uint32_t)MCH);  // enable bit clear
    c.m.pci(0, 2, 0, 0x8086, 0x0412);
    setup_run r = run_setup(c.m, fn, false);
    EXPECT_EQ(r.status, 1u);
    EXPECT_EQ(r.text, "ERROR -- MCHBAR enabled bit not set. Tests need access to MCHBAR.\n");
    test_info_t zero{};
    EXPECT_EQ(memcmp(&r.t, &zero, sizeof zero), 0);
    EXPECT_TRUE(c.m.pci_writes.empty());
  }
}

TEST(SetupQen, LpcBridgeAndRootComplexBlockWithEightTimerRegisters) {
  for (uint32_t eax : {0x000306C3u, 0x000306D4u}) {
    chipset c(eax, false);
    c.m.pci(0, 2, 0, 0x8086, 0x0412);
    c.engine(0x5400, 0xFED90001);
    c.engine(0x5410, 0xFF00000FED91001ULL);
    auto& lpc = c.m.pci(0, 31, 0, 0x8086, 0x8C4E);
    lpc.set16(0x6C, 0xF0F8);
    lpc.set32(0xF0, 0xFED1C001);
    for (int i = 0; i < 8; i++) lpc.set16(0x70 + 2 * i, (uint16_t)(0xF000 + i));
    c.m.write32(0xFED1C000 + 0x3404, 0x83);
    c.m.pci(0, 0, 0).set8(0x08, 0x06);
    setup_run r = run_setup(c.m, testsetup_qen);
    ASSERT_EQ(r.t.remap_bar_count, 2u);
    EXPECT_EQ(r.t.bars[1].address, 0xFF00000FED91001ULL) << "not masked";
    EXPECT_EQ(r.t.hptc_reg, 0x83u);
    EXPECT_EQ(r.t.hpet_addr, 0xFED03100u);
    for (int i = 0; i < 8; i++) EXPECT_EQ(r.t.pch_hpet_reqid[i], 0xF000 + i);
    EXPECT_EQ(r.t.gfx_pasid_mask, 0x10000000u);
    EXPECT_EQ(na_tests(r.t), eax == 0x306C3 ? (std::vector<int>{63, 65}) : std::vector<int>{});
    EXPECT_TRUE(c.m.pci_writes.empty());
    EXPECT_EQ(r.text,
              "DEBUG : testsetup_qen() :  MCHBAR = 0xFED10001\n"
              "DEBUG : testsetup_qen() : igfx_did = 0x4128086\n"
              "DEBUG : testsetup_qen() : mch_bar + 0x5400 = 0xFED90001\n"
              "DEBUG : testsetup_qen() : mch_bar + 0x5410 = 0xFED91001\n"
              "DEBUG : testsetup_qen() : B0D0F0:0x08 = 0x6\n");
  }
}

TEST(SetupGux, D13SourceAndTheDefaultEngineLine) {
  for (bool igfx : {true, false}) {
    chipset c(0x000706A1, false);
    if (igfx) c.m.pci(0, 2, 0, 0x8086, 0x3184);
    c.engine(0x6C88, 0xFED90001);
    c.engine(0x6C80, 0xFED91001);
    auto& d13 = c.m.pci(0, 13, 0, 0x8086, 0x5A92);
    d13.set32(0xE0, 0x100);
    d13.set16(0x6C, 0xFA0F);
    d13.set8(0x60, 0x81);
    d13.set16(0x70, 0xFA0E);
    setup_run r = run_setup(c.m, testsetup_gux);
    ASSERT_EQ(r.t.remap_bar_count, igfx ? 2u : 1u);
    EXPECT_EQ(r.t.bars[r.t.remap_bar_count - 1].address, 0xFED91001u);
    EXPECT_EQ(r.t.hpet_addr, 0xFED01100u);
    EXPECT_EQ(r.t.pch_hpet_reqid[7], 0xFA0E);
    EXPECT_TRUE(c.m.pci_writes.empty());
    EXPECT_TRUE(contains(r.text, igfx ? "DEBUG : testsetup_gux(): mch_bar + 0x6C80 = 0xFED91001\n"
                                      : "DEBUG : testsetup_gux() : mch_bar + 0x6C80 = 0xFED91001\n"))
        << r.text;
    EXPECT_TRUE(contains(r.text, "DEBUG : testsetup_gux() : B:0 D:13 F:0 O:0xE0[8] =  1\n"));
    EXPECT_TRUE(contains(r.text, "DEBUG : testsetup_gux() : B:0 D:0x0D F:0 HPET Bus:Device:Function (HBDF)\xC2\x97"
                                 "Offset 70h = 0xFA0E\n"));
  }
}

TEST(SetupYod, TypeTwoEngineAt7880) {
  chipset c(0x000806A1);
  c.m.pci(0, 5, 0, 0x8086, 0x1234);
  c.engine(0x7880, 0xFED0B001);
  c.engine(0x5410, 0xFED91001);
  setup_run r = run_setup(c.m, testsetup_yod, false);
  ASSERT_EQ(r.t.remap_bar_count, 2u);
  EXPECT_EQ(r.t.bars[0].type, (uint32_t)BAR_TYPE_D5);
  EXPECT_EQ(r.t.bars[0].address, 0xFED0B001u);
}
