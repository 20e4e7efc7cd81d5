// DMAR presence, the DRHDs against the engine BARs, size and reserved fields.
#include "discovery/dmar.h"
#include "support/dmar_platform.h"
#include "support/harness.h"

using namespace dmar_platform;
using testing_support::contains;

namespace {

void custom(platform& p, const std::function<void(sim::dmar_builder&)>& change) {
  p.dmar = p.healthy_dmar();
  p.custom_dmar = true;
  change(p.dmar);
}

}  // namespace

TEST(DmarPresence, TheFourCombinations) {
  struct row {
    bool dmar;
    uint64_t supported;
    uint64_t result;
    const char* message;
  } rows[] = {
      {false, 1, TEST_FAIL, "DMAR Table not present."},
      {true, 0, TEST_FAIL, "This processor does not support Zyr-d, DMAR Table should not exist in ACPI space.\n"},
      {true, 1, TEST_PASS, ""},
      {false, 0, TEST_NA, "This processor does not support Zyr-d.\n"},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    p.has_dmar = r.dmar;
    p.tinfo.zyrd_supported = r.supported;
    bench b(p);
    outcome o = b.run(assert_dmar_presence, 1);
    EXPECT_EQ(o.result, r.result) << r.dmar << r.supported;
    EXPECT_EQ(o.message, r.message);
  }
}

TEST(DrhdBars, PairingIsPositionalAndCountMustMatch) {
  {  // DMAR lists the default engine first: the first pair already differs.
    platform p;
    make_healthy(p);
    custom(p, [](sim::dmar_builder& d) { std::swap(d.structures[0], d.structures[1]); });
    bench b(p, true);
    outcome o = b.run(assert_drhd_bars, 3);
    EXPECT_EQ(o.message, "DRHD BAR reported is not valid for this platform.\n");
    EXPECT_EQ(o.console,
              "DEBUG -- #3 : pnode->remap->RegisterBaseAddress = 0xFED91000\n"
              "DEBUG -- #3 : tinfo->bars[0].address = 0xFED90000\n");
    // The unordered coverage check is content with the same table.
    EXPECT_EQ(b.run(assert_engines_reported, 15).result, TEST_PASS);
  }
  {
    platform p;
    make_healthy(p);
    p.tinfo.remap_bar_count = 3;
    p.tinfo.bars[2] = {0xFED92001, BAR_TYPE_D7};
    bench b(p, true);
    outcome o = b.run(assert_drhd_bars, 3);
    EXPECT_EQ(o.message, "DRHD count in DMAR differs from remapping BARs on platform.\n");
    EXPECT_EQ(o.console, "DEBUG -- #3 : remap_bar_count = 3, drhd_count = 2\n");
  }
}

TEST(DrhdBars, MaskRulesOnEachSide) {
  // DMAR side: bits above 39 and below 12 are ignored.
  {
    platform p;
    make_healthy(p);
    custom(p, [](sim::dmar_builder& d) {
      sim::put_le(d.structures[0], DRHD_OFF_BASE, 0xF0000000000ull | IGFX_ENGINE | 0xABC, 8);
    });
    bench b(p);
    EXPECT_EQ(b.run(assert_drhd_bars, 3).result, TEST_PASS);
    EXPECT_EQ(b.run(assert_engines_reported, 15).result, TEST_PASS);
  }
  // Platform side: only bit 0 is dropped; bits 11:1 stay in the comparison.
  {
    platform p;
    make_healthy(p);
    p.tinfo.bars[1].address |= 0x10;
    bench b(p);
    EXPECT_EQ(b.run(assert_drhd_bars, 3).message, "DRHD BAR reported is not valid for this platform.\n");
    EXPECT_EQ(b.run(assert_engines_reported, 15).result, TEST_FAIL);
  }
}

TEST(DrhdBars, DisabledEngineStopsAtItsPair) {
  platform p;
  make_healthy(p);
  p.tinfo.bars[0].address &= ~1ull;
  p.tinfo.bars[1].address = 0x1234;  // would fail the address check, never reached
  bench b(p);
  EXPECT_EQ(b.run(assert_drhd_bars, 3).message, "Remapping engine BAR is not enabled for this Platform.\n");
}

TEST(DrhdBars, NoDrhdIsAConsoleErrorAndNoRecordAndNotApplicableWins) {
  platform p;
  make_healthy(p);
  custom(p, [](sim::dmar_builder& d) { d.structures.erase(d.structures.begin(), d.structures.begin() + 2); });
  bench b(p);
  outcome o = b.run(assert_drhd_bars, 3);
  EXPECT_EQ(o.status, 1u);
  EXPECT_EQ(o.console, "ERROR -- No DRHD found in DMAR table.\n");
  EXPECT_EQ(o.result, TEST_NA);
  EXPECT_EQ(o.message, "");
  outcome o15 = b.run(assert_engines_reported, 15);
  EXPECT_EQ(o15.status, 1u);
  EXPECT_EQ(o15.console, "ERROR -- No DRHD found in DMAR table.\n");
  EXPECT_EQ(b.run(assert_dmar_size, 4).message, "DMAR must contain at least 1 DRHD.\n");
  set_not_applicable(&b.tinfo, 3);
  o = b.run(assert_drhd_bars, 3);
  EXPECT_EQ(o.status, 0u);
  EXPECT_EQ(o.console, "");
}

TEST(DmarSize, MinimumAndCalculatedLength) {
  {  // 48-byte header and one 16-byte DRHD: exactly 64 bytes.
    platform p;
    make_healthy(p);
    p.custom_dmar = true;
    p.dmar = sim::dmar_builder().drhd(1, 0, DEFAULT_ENGINE);
    bench b(p);
    EXPECT_EQ(b.run(assert_dmar_size, 4).result, TEST_PASS);
  }
  {  // 63 bytes: the DRHD is cut short by the table.
    platform p;
    make_healthy(p);
    p.custom_dmar = true;
    p.dmar = sim::dmar_builder().drhd(1, 0, DEFAULT_ENGINE);
    p.dmar.structures[0].pop_back();
    sim::put_le(p.dmar.structures[0], 2, 16, 2);
    bench b(p);
    EXPECT_EQ(b.run(assert_dmar_size, 4).message, "DMAR does not meet minimum size.\n");
  }
  {  // Length 0x70 while the walk added up 0x68.
    platform p;
    make_healthy(p);
    p.custom_dmar = true;
    p.dmar = sim::dmar_builder()
                 .drhd(1, 0, DEFAULT_ENGINE, {{3, 2, IOAPIC_BUS, {{31, 0}}}, {4, 0, 0, {{31, 0}}}})
                 .rmrr(0, 0x7C000000, 0x7C0FFFFF, {{1, 0, 0, {{20, 0}}}});
    bench b(p);
    ASSERT_EQ(b.tables.dmar_len, 0x70u);
    EXPECT_EQ(b.run(assert_dmar_size, 4).result, TEST_PASS);
    b.tinfo.dmar_calc_len = 0x68;
    EXPECT_EQ(b.run(assert_dmar_size, 4).message,
              "DMAR reported size does not match calculated: Reported: 0x70 - Calculated 0x68.\n");
  }
}

TEST(ReservedFields, OrderAndWhichStructuresCount) {
  struct row {
    const char* what;
    std::function<void(sim::dmar_builder&)> change;
    const char* message;  // null: passes
  } rows[] = {
      {"header", [](sim::dmar_builder& d) { d.reserved[9] = 1; }, "DMAR reserved field must be all zeros.\n"},
      {"header before DRHD",
       [](sim::dmar_builder& d) {
         d.reserved[0] = 1;
         d.structures[0][5] = 1;
       },
       "DMAR reserved field must be all zeros.\n"},
      {"DRHD", [](sim::dmar_builder& d) { d.structures[1][5] = 4; }, "DRHD structure reserved field must be zero.\n"},
      {"RMRR high byte", [](sim::dmar_builder& d) { d.structures[2][5] = 1; },
       "RMRR structure reserved field must be zero.\n"},
      {"ANDD third byte", [](sim::dmar_builder& d) { d.structures[3][6] = 1; },
       "ANDD structure reserved field must be zero.\n"},
      {"ATSR reserved byte is not examined",
       [](sim::dmar_builder& d) {
         d.atsr(0, 0, {{2, 0, 1, {{0, 0}}}});
         d.structures.back()[ATSR_OFF_RESERVED] = 0xFF;
       },
       nullptr},
      {"RHSA reserved bytes are not examined",
       [](sim::dmar_builder& d) {
         d.rhsa(DEFAULT_ENGINE, 0);
         d.structures.back()[RHSA_OFF_RESERVED] = 0xFF;
       },
       nullptr},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    custom(p, r.change);
    bench b(p);
    outcome o = b.run(assert_reserved_fields, 5);
    EXPECT_EQ(o.result, r.message ? TEST_FAIL : TEST_PASS) << r.what;
    if (r.message) EXPECT_EQ(o.message, r.message) << r.what;
  }
}

TEST(DmarAssertionFrame, MissingRecordsPrintTheirLineWithOrWithoutFullStop) {
  platform p;
  make_healthy(p);
  p.m.add_file(u"zyr-tests", "7@only this one\n");
  bench b(p);
  for (const auto& e : dmar_assertions) {
    outcome o = b.run(e.fn, e.id);
    EXPECT_EQ(o.status, 1u) << e.id;
    std::string line = "Application failure when retrieving test case information: ID = " + std::to_string(e.id) +
                       (e.id >= 20 ? "." : "") + "\n";
    EXPECT_EQ(o.console, line);
  }
}

TEST(DmarAssertionFrame, NotApplicableFlagsRecordTheirResultAndKeepTheMessage) {
  platform p;
  make_healthy(p);
  for (const auto& e : dmar_assertions)
    if (e.id != 1) set_not_applicable(&p.tinfo, (uint32_t)e.id);
  p.tinfo.zyrd_supported = 0;  // would fail assertion 1, which has no flag
  p.has_mcfg = false;          // flags come before the MCFG test
  bench b(p);
  for (const auto& e : dmar_assertions) {
    if (e.id == 1) continue;
    outcome o = b.run(e.fn, e.id);
    bool missing = e.id == 18 || e.id == 19 || e.id == 20 || e.id == 25 || e.id == 26;
    EXPECT_EQ(o.result, missing ? TEST_MISSING : TEST_NA) << e.id;
    EXPECT_EQ(o.message, "") << e.id;
    EXPECT_EQ(o.console, "") << e.id;
    EXPECT_EQ(o.status, 0u) << e.id;
  }
}
