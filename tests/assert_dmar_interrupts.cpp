// Interrupt-remapping capability (8, 9, 10), IOxAPIC reporting (17, 18, 21)
// and HPET reporting (19, 20, 22).
#include "discovery/dmar.h"
#include "support/dmar_platform.h"
#include "support/harness.h"

using namespace dmar_platform;

namespace {

constexpr uint64_t ENGINE3 = 0xFED92000;

// Three engines with the given interrupt-remapping bits and DMAR flag.
void three_engines(platform& p, bool e0, bool e1, bool e2, uint8_t flag) {
  p.tinfo.remap_bar_count = 3;
  p.tinfo.bars[1] = {ENGINE3 | 1, BAR_TYPE_D7};
  p.tinfo.bars[2] = {DEFAULT_ENGINE | 1, BAR_TYPE_DEFAULT};
  p.set_ecap(IGFX_ENGINE, e0 ? HEALTHY_ECAP : HEALTHY_ECAP & ~ECAP_IR);
  p.set_ecap(ENGINE3, e1 ? HEALTHY_ECAP : HEALTHY_ECAP & ~ECAP_IR);
  p.set_ecap(DEFAULT_ENGINE, e2 ? HEALTHY_ECAP : HEALTHY_ECAP & ~ECAP_IR);
  p.dmar = p.healthy_dmar();
  p.dmar.flags = flag;
  p.custom_dmar = true;
}

size_t count_lines(const std::string& text, const std::string& start) {
  size_t n = 0;
  for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) n++;
  return n;
}

}  // namespace

TEST(InterruptRemapping, ThreeWayOverlap) {
  struct row {
    bool e0, e1, e2;
    uint8_t flag;
    uint64_t r8, r9, r10;
    size_t lines8;  // engines read by 8 before it stops
  } rows[] = {
      {true, true, false, 1, TEST_FAIL, TEST_FAIL, TEST_FAIL, 3},
      {true, true, true, 0, TEST_FAIL, TEST_PASS, TEST_PASS, 1},
      {false, false, false, 0, TEST_PASS, TEST_PASS, TEST_PASS, 3},
      {true, true, true, 1, TEST_PASS, TEST_PASS, TEST_PASS, 3},
      {false, true, true, 0, TEST_FAIL, TEST_FAIL, TEST_PASS, 2},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    three_engines(p, r.e0, r.e1, r.e2, r.flag);
    bench b(p, true);
    outcome o8 = b.run(assert_ir_matches_flag, 8), o9 = b.run(assert_ir_consistent, 9),
            o10 = b.run(assert_ir_all_when_flag, 10);
    std::string what = std::to_string(r.e0) + std::to_string(r.e1) + std::to_string(r.e2) + " flag " +
                       std::to_string(r.flag);
    EXPECT_EQ(o8.result, r.r8) << what;
    EXPECT_EQ(o9.result, r.r9) << what;
    EXPECT_EQ(o10.result, r.r10) << what;
    EXPECT_EQ(count_lines(o8.console, "DEBUG -- #8: REMAP BAR = 0x"), r.lines8) << what;
    EXPECT_EQ(count_lines(o9.console, "DEBUG -- #9: REMAP BAR"), 3u);
    EXPECT_EQ(count_lines(o10.console, "DEBUG -- #10: REMAP BAR"), 3u);
  }
}

TEST(InterruptRemapping, DebugLineShowsBaseWithoutEnableBitAndFullEcap) {
  platform p;
  make_healthy(p);
  p.set_ecap(IGFX_ENGINE, 0x12345678F0105Eull);
  p.tinfo.bars[1].address &= ~1ull;  // a disabled engine is read all the same
  bench b(p, true);
  outcome o = b.run(assert_ir_matches_flag, 8);
  EXPECT_EQ(o.console,
            "DEBUG -- #8: REMAP BAR = 0xFED90000 : ECAP = 0x12345678F0105E\n"
            "DEBUG -- #8: REMAP BAR = 0xFED91000 : ECAP = 0xF0105E\n");
}

TEST(InterruptRemapping, NoEngineReadsNothingAndPasses) {
  platform p;
  make_healthy(p);
  p.tinfo.remap_bar_count = 0;
  bench b(p, true);
  for (auto [f, id] : {std::pair{assert_ir_matches_flag, 8}, {assert_ir_consistent, 9}, {assert_ir_all_when_flag, 10}}) {
    outcome o = b.run(f, id);
    EXPECT_EQ(o.result, TEST_PASS) << id;
    EXPECT_EQ(o.console, "") << id;
  }
}

TEST(IoxapicReporting, MadtAgainstScopes) {
  struct row {
    const char* what;
    uint8_t scope_id;
    std::vector<uint8_t> madt_ids;
    uint8_t flag;
    uint64_t r17, r21;
  } rows[] = {
      {"scope 2, MADT 2 and 8", 2, {2, 8}, 1, TEST_PASS, TEST_FAIL},
      {"scope 9, MADT 8", 9, {8}, 1, TEST_FAIL, TEST_FAIL},
      {"flag clear", 9, {8}, 0, TEST_FAIL, TEST_NA},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    p.default_scopes[0].enumeration_id = r.scope_id;
    p.madt = {sim::madt_local_apic(0, 0)};
    for (uint8_t id : r.madt_ids) p.madt.push_back(sim::madt_ioapic(id, 0xFEC00000, 0));
    p.dmar = p.healthy_dmar();
    p.dmar.flags = r.flag;
    p.custom_dmar = true;
    bench b(p, true);
    outcome o17 = b.run(assert_scope_ioxapics_in_madt, 17), o21 = b.run(assert_madt_ioxapics_in_scopes, 21);
    EXPECT_EQ(o17.result, r.r17) << r.what;
    EXPECT_EQ(o21.result, r.r21) << r.what;
    if (r.r17 == TEST_FAIL)
      EXPECT_EQ(o17.message, "Not all IOxAPIC enumerated in Device Scopes are reported in MADT Table.\n");
    if (r.r21 == TEST_FAIL)
      EXPECT_EQ(o21.message, "Not all IOxAPIC reported in MADT Table are enumerated in Device Scope.\n");
    if (r.r21 == TEST_NA)
      EXPECT_EQ(o21.message, "DMAR.Flags[0] : Interrupt remapping bit not set, assertion not evaluated.\n");
  }
  // The first row's debug lines: one per MADT I/O APIC until the mismatch.
  platform p;
  make_healthy(p);
  p.madt.push_back(sim::madt_ioapic(8, 0xFEC01000, 24));
  p.madt.push_back(sim::madt_ioapic(9, 0xFEC02000, 48));
  bench b(p, true);
  EXPECT_EQ(b.run(assert_madt_ioxapics_in_scopes, 21).console,
            "DEBUG -- #21 : IoApicId = 0x2, Enumeration_ID = 0x2\n"
            "DEBUG -- #21 : IoApicId = 0x8, Enumeration_ID = 0x2\n");
}

TEST(IoxapicReporting, MissingMadtFailsBeforeTheFlag) {
  platform p;
  make_healthy(p);
  p.has_madt = false;
  p.dmar = p.healthy_dmar();
  p.dmar.flags = 0;
  p.custom_dmar = true;
  bench b(p);
  for (auto [f, id] : {std::pair{assert_scope_ioxapics_in_madt, 17}, {assert_madt_ioxapics_in_scopes, 21}}) {
    outcome o = b.run(f, id);
    EXPECT_EQ(o.result, TEST_FAIL) << id;
    EXPECT_EQ(o.message, "MADT table not located, assertion can not be evaluated.\n");
  }
}

TEST(IoxapicReporting, MadtWalkEndsAtZeroLengthAndStaysInTheTable) {
  platform p;
  make_healthy(p);
  // A structure of Length 0 before the I/O APIC: the walk ends there, so the
  // I/O APIC behind it is not seen (and the walk does not spin).
  p.madt = {sim::madt_local_apic(0, 0), sim::bytes{9, 0, 0, 0}, sim::madt_ioapic(2, 0xFEC00000, 0)};
  {
    bench b(p);
    EXPECT_EQ(b.run(assert_scope_ioxapics_in_madt, 17).result, TEST_FAIL);
    EXPECT_EQ(b.run(assert_madt_ioxapics_in_scopes, 21).result, TEST_PASS);
  }
  // An I/O APIC structure cut by the table's end after its Type and Length:
  // its ID byte lies outside and is not read.
  platform q;
  make_healthy(q);
  q.default_scopes[0].enumeration_id = 0;
  q.madt = {sim::madt_local_apic(0, 0), sim::bytes{1, 12}};
  bench b(q);
  EXPECT_EQ(b.run(assert_scope_ioxapics_in_madt, 17).result, TEST_FAIL);
}

TEST(IoxapicReporting, RequestIdOfEveryPathEntry) {
  platform p;
  make_healthy(p);
  p.default_scopes[0] = {3, 2, 0, {{31, 0}}};
  p.tinfo.ioxapic_reqid = 0xF8;
  {
    bench b(p);
    EXPECT_EQ(b.run(assert_ioxapic_request_id, 18).result, TEST_PASS);
  }
  platform q;
  make_healthy(q);
  q.default_scopes[0] = {3, 2, 0, {{31, 0}}};
  q.tinfo.ioxapic_reqid = 0xF7;
  {
    bench b(q);
    EXPECT_EQ(b.run(assert_ioxapic_request_id, 18).message,
              "Reported Request ID (0xF8) not equal to PCH programmed value (0xF7).\n");
  }
  // No IOAPIC scope at all: 17, 18 and 21 pass.
  platform r;
  make_healthy(r);
  r.default_scopes.erase(r.default_scopes.begin());
  bench b(r);
  EXPECT_EQ(b.run(assert_scope_ioxapics_in_madt, 17).result, TEST_PASS);
  EXPECT_EQ(b.run(assert_ioxapic_request_id, 18).result, TEST_PASS);
  EXPECT_EQ(b.run(assert_madt_ioxapics_in_scopes, 21).result, TEST_PASS);
}

TEST(HpetReporting, NumberAgainstScopes) {
  platform p;
  make_healthy(p);
  p.default_scopes[1].enumeration_id = 1;
  bench b(p, true);
  outcome o = b.run(assert_hpet_scopes, 19);
  EXPECT_EQ(o.message,
            "HPET number (0) reported in ACPI HPET table is not equalto Enumeration ID (1) of HPET Device Scope.\n");
  EXPECT_EQ(o.console, "DEBUG -- #19 : HPET Num = 0, Enum ID = 1\n");
  EXPECT_EQ(b.run(assert_hpet_reported, 22).message,
            "HPET number (0) reported in ACPI HPET table is not reported in Device Scope for corresponding DRHD.\n");
}

TEST(HpetReporting, TimersAndTheAddressEnableBit) {
  {  // Eight edge-triggered timers: pass after eight register lines.
    platform p;
    make_healthy(p);
    bench b(p, true);
    outcome o = b.run(assert_hpet_scopes, 19);
    EXPECT_EQ(o.result, TEST_PASS);
    EXPECT_EQ(count_lines(o.console, "DEBUG -- #19 : TMRn_CNF_CAP = 0x8030\n"), 8u);
    EXPECT_TRUE(testing_support::contains(o.console,
                                          "DEBUG -- #19 : hptc_reg = 0x80, hpet_addr = 0xFED00100 count = 0x8\n"));
  }
  {  // Address decoding off: no timer is read.
    platform p;
    make_healthy(p);
    p.tinfo.hptc_reg = 0;
    bench b(p, true);
    outcome o = b.run(assert_hpet_scopes, 19);
    EXPECT_EQ(o.message,
              "HPTC-High Precision Timer Configuration Register: Address Enable Bit[7] = 0. Tool cannot verify HPET "
              "Timer Configuration.\n");
    EXPECT_FALSE(testing_support::contains(o.console, "TMRn_CNF_CAP"));
  }
  for (uint64_t value : {0x8002ull, 0x8000ull}) {  // bit 1, not the FSB bit 15, decides
    platform p;
    make_healthy(p);
    p.m.write64(HPET_TIMER0 + 7 * 32, value);
    bench b(p);
    outcome o = b.run(assert_hpet_scopes, 19);
    EXPECT_EQ(o.result, value & 2 ? TEST_FAIL : TEST_PASS) << value;
    if (value & 2) EXPECT_EQ(o.message, "HPET must be MSI capable.\n");
  }
  {  // No timer recorded: 19 passes without a read, 20 finds no request ID.
    platform p;
    make_healthy(p);
    p.tinfo.hpet_count = 0;
    bench b(p, true);
    outcome o = b.run(assert_hpet_scopes, 19);
    EXPECT_EQ(o.result, TEST_PASS);
    EXPECT_FALSE(testing_support::contains(o.console, "TMRn_CNF_CAP"));
    EXPECT_EQ(b.run(assert_hpet_request_id, 20).result, TEST_FAIL);
  }
}

TEST(HpetReporting, NoHpetScope) {
  for (uint8_t flag : {1, 0}) {
    platform p;
    make_healthy(p);
    p.default_scopes.erase(p.default_scopes.begin() + 1);
    p.dmar = p.healthy_dmar();
    p.dmar.flags = flag;
    p.custom_dmar = true;
    bench b(p);
    for (auto [f, id] : {std::pair{assert_hpet_scopes, 19}, {assert_hpet_request_id, 20}}) {
      outcome o = b.run(f, id);
      EXPECT_EQ(o.result, TEST_WARNING) << id;
      EXPECT_EQ(o.message, "No HPET Device Scopes in DMAR DRHD structures.\n");
    }
    EXPECT_EQ(b.run(assert_hpet_reported, 22).result, flag ? TEST_FAIL : TEST_NA);
  }
}

TEST(HpetReporting, TwoScopesInBothOrders) {
  sim::scope_spec matching{4, 0, 0, {{31, 0}}}, pathless{4, 0, 0, {}};
  for (bool matching_first : {true, false}) {
    platform p;
    make_healthy(p);
    p.default_scopes[1] = matching_first ? matching : pathless;
    p.default_scopes.insert(p.default_scopes.begin() + 2, matching_first ? pathless : matching);
    bench b(p);
    outcome o = b.run(assert_hpet_request_id, 20);
    EXPECT_EQ(o.result, matching_first ? TEST_PASS : TEST_FAIL);
    if (!matching_first) EXPECT_EQ(o.message, "PCH Request ID not found in HPET Device Scope(s).\n");
  }
  // A scope matches by any of its path entries.
  platform p;
  make_healthy(p);
  p.default_scopes[1].path = {{30, 0}, {31, 0}};
  bench b(p);
  EXPECT_EQ(b.run(assert_hpet_request_id, 20).result, TEST_PASS);
}

TEST(HpetReporting, MissingOrShortTable) {
  struct row {
    const char* what;
    sim::bytes hpet;
    const char* message;
  };
  sim::bytes short52 = sim::build_hpet(0);
  short52.resize(52);
  sim::finish_table(short52);
  std::vector<row> rows = {
      {"absent", {}, "HPET table not located, assertion can not be evaluated.\n"},
      {"52 bytes: the number would lie outside", short52, "HPET table size not valid.\n"},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    p.hpet = r.hpet;
    bench b(p);
    EXPECT_EQ(b.run(assert_hpet_scopes, 19).message, r.message) << r.what;
    EXPECT_EQ(b.run(assert_hpet_reported, 22).message, r.message) << r.what;
  }
  // With interrupt remapping off, 22 says so before looking for the table.
  platform p;
  make_healthy(p);
  p.hpet.clear();
  p.dmar = p.healthy_dmar();
  p.dmar.flags = 0;
  p.custom_dmar = true;
  bench b(p);
  EXPECT_EQ(b.run(assert_hpet_reported, 22).message,
            "DMAR.Flags[0] : Interrupt remapping bit not set, assertion not evaluated.\n");
}
