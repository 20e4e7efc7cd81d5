// The general rules: a processor without a chipset profile has its tables
// judged by the current standard, a known family by its own rules. A server
// with two segments, two I/O APICs and an RMRR over two adjacent reserved
// descriptors is sound by the first and faulty by the second.
#include <map>

#include "discovery/dmar.h"
#include "engine/sources.h"
#include "platform/sim/records.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

constexpr uint32_t UNLISTED = 0x000B06D1;  // no setup routine
constexpr uint32_t LISTED = 0x000906EA;

using sc = sim::scope_spec;

// Segment 0: a DRHD for the SATA controller, then the INCLUDE_PCI_ALL one
// with I/O APIC 8; segment 1: its INCLUDE_PCI_ALL DRHD with I/O APIC 9 at
// the same request ID. One RMRR for the SATA controller.
sim::machine server(uint32_t eax, sim::dmar_builder dmar = {}) {
  sim::machine m;
  m.set_cpuid(1, eax, 0, 1u << 5, 0);
  m.set_cpuid(0x80000008, 39);
  if (dmar.structures.empty())
    dmar.drhd(0, 0, 0xFED90000, {{1, 0, 0, {{0x17, 0}}}})
        .drhd(1, 0, 0xFED91000, {{3, 8, 0xF0, {{31, 0}}}, {4, 0, 0, {{31, 0}}}})
        .drhd(1, 1, 0xFED92000, {{3, 9, 0xF0, {{31, 0}}}})
        .rmrr(0, 0x7B000000, 0x7B7FFFFF, {{1, 0, 0, {{0x17, 0}}}});
  m.install_acpi({dmar.build(), sim::build_mcfg({{0xE0000000, 0, 0, 0x7F}, {0xD0000000, 1, 0, 0xFF}}),
                  sim::build_madt({sim::madt_ioapic(8, 0xFEC00000, 0), sim::madt_ioapic(9, 0xFEC01000, 24)}),
                  sim::build_hpet(0)});
  m.pci(0, 0, 0, 0x8086, 0x3E10).set32(0x48, 0xFED10001);  // a family's routine finds MCHBAR, remapping on
  m.pci(0, 0x17, 0, 0x8086, 0x2826).set32(0x08, 0x01060100);
  m.add_memory(7, 0x100000, 0x7AF00);
  m.add_memory(0, 0x7B000000, 0x400);  // the RMRR's first 4 MiB
  m.add_memory(0, 0x7B400000, 0x400);  // and its last 4 MiB
  add_catalogue(m);
  return m;
}

std::map<uint64_t, std::pair<uint64_t, std::string>> run_records(sim::machine& m, std::vector<std::string> args) {
  std::vector<test_case_t> kept;
  sim::keep_records(m, kept);
  run_iovet(m, args);
  EXPECT_EQ(m.unknown_reads, 0u);
  std::map<uint64_t, std::pair<uint64_t, std::string>> r;
  for (const test_case_t& tc : kept) r[tc.id] = {tc.result, sim::to_utf8(tc.message)};
  return r;
}

}  // namespace

TEST(GeneralRules, AServerIsSoundByTheStandardAndFaultyByTheFamilyRules) {
  sim::machine unlisted = server(UNLISTED);
  auto general = run_records(unlisted, {"-a", "-t"});
  for (int t : {11, 12, 13, 14, 16, 17, 21, 23, 40, 44})
    EXPECT_EQ(general[t].first, (uint64_t)TEST_PASS) << t << ": " << general[t].second;
  // Segment 1 was not scanned: its functions would be segment 0's again.
  EXPECT_EQ(general[49].first, (uint64_t)TEST_WARNING) << general[49].second;
  EXPECT_TRUE(contains(general[49].second, "of PCI segments other than 0 were not scanned")) << general[49].second;

  sim::machine listed = server(LISTED);
  auto family = run_records(listed, {"-t"});
  for (int t : {12, 14, 21, 23, 40}) EXPECT_EQ(family[t].first, (uint64_t)TEST_FAIL) << t;
  EXPECT_FALSE(contains(family[21].second, "Rule for")) << "a family's verdict names no other rule";
}

// The real faults stay faults, and say which rule found them.
TEST(GeneralRules, FaultsAreStillFoundAndNameTheirRule) {
  sim::dmar_builder faulty;
  faulty.drhd(0, 0, 0xFED90000, {{1, 0, 0, {{0x17, 0}}}, {1, 0, 0, {{0x17, 0}}}})  // a request ID twice
      .drhd(1, 0, 0xFED91000, {{3, 7, 0xF0, {{31, 0}}}})                         // I/O APIC 7: not in the MADT
      .drhd(0, 1, 0xFED92000)                                                    // segment 1 without INCLUDE_PCI_ALL
      .rmrr(0, 0x7B000000, 0x7BFFFFFF, {{1, 0, 0, {{0x17, 0}}}});                // 4 MiB past the reserved 8
  sim::machine m = server(UNLISTED, faulty);
  auto r = run_records(m, {"-a", "-t"});
  for (int t : {14, 16, 21, 23, 40, 44}) {
    EXPECT_EQ(r[t].first, (uint64_t)TEST_FAIL) << t;
    EXPECT_TRUE(contains(r[t].second, "\nRule for a processor without a chipset profile: ")) << r[t].second;
  }
  EXPECT_EQ(r[21].second,
            "Not all IOxAPIC reported in MADT Table are enumerated in Device Scope.\n"
            "Rule for a processor without a chipset profile: every MADT I/O APIC's ID is in an IOAPIC scope, and "
            "every IOAPIC scope's ID in the MADT.\n");
}

// A DRHD with a register set Size and a two-entry scope: sound by the
// standard (and dumped so), faulty by the families' rules.
TEST(GeneralRules, SizeByteAndScopesByTheirLength) {
  sim::dmar_builder dmar;
  dmar.drhd(0, 0, 0xFED91000, {{2, 0, 0, {{0, 0}, {0x1C, 0}}}, {3, 8, 0xF0, {{31, 0}}}}, 0x04);
  auto records = [&](uint32_t eax, std::vector<std::string> args, std::string* text) {
    sim::machine m = server(eax, dmar);
    std::vector<test_case_t> kept;
    sim::keep_records(m, kept);
    *text = run_iovet(m, args).text;
    std::map<uint64_t, uint64_t> r;
    for (const test_case_t& tc : kept) r[tc.id] = tc.result;
    return r;
  };
  std::string text;
  auto general = records(UNLISTED, {"-a", "-d", "-t"}, &text);
  EXPECT_TRUE(contains(text, " Size                        0x04\n")) << text;
  EXPECT_TRUE(contains(text, "  PCI Path:                  D:0 F:0\n  PCI Path:                  D:28 F:0\n  --Device Scope\n"
                             "  Type                       0x03\n"))
      << "the second scope starts after the first's 10 bytes";
  for (int t : {5, 24}) EXPECT_EQ(general[t], (uint64_t)TEST_PASS) << t;
  auto family = records(LISTED, {"-d", "-t"}, &text);
  EXPECT_TRUE(contains(text, " Reserved                    0x04\n"));
  for (int t : {5, 24}) EXPECT_EQ(family[t], (uint64_t)TEST_FAIL) << t;
  // Bits 7:4 of the Size byte are reserved.
  dmar = sim::dmar_builder().drhd(1, 0, 0xFED91000, {{3, 8, 0xF0, {{31, 0}}}}, 0xF4);
  EXPECT_EQ(records(UNLISTED, {"-a", "-t"}, &text)[5], (uint64_t)TEST_FAIL);
}

// A malformed device scope fails the structural check with its place, and
// no other check reads it: an HPET scope of Length 4 names no HPET.
TEST(GeneralRules, MalformedScopesAreFoundAndNothingElseReadsThem) {
  struct row {
    int length;
    const char* why;
  };
  for (const row& c : {row{0, "Length 0: below 8"}, row{4, "Length 4: below 8"}, row{7, "Length 7: below 8"},
                       row{9, "Length 9: odd path length"}, row{10, "Length 10: past its structure"}}) {
    sim::dmar_builder dmar;
    dmar.drhd(1, 0, 0xFED91000, {{3, 8, 0xF0, {{31, 0}}}, {4, 0, 0xF0, {{15, 0}}, c.length}})
        .drhd(1, 1, 0xFED92000, {{3, 9, 0xF0, {{31, 0}}}});
    sim::machine m = server(UNLISTED, dmar);
    scope_reads_outside = 0;
    auto r = run_records(m, {"-a", "-d", "-t"});
    EXPECT_EQ(scope_reads_outside, 0u);
    EXPECT_EQ(r[24].first, (uint64_t)TEST_FAIL) << c.length;
    EXPECT_TRUE(contains(r[24].second, std::string("DRHD at DMAR offset 0x30: device scope at offset 0x48, ") + c.why))
        << r[24].second;
    EXPECT_EQ(r[22].first, (uint64_t)TEST_FAIL) << c.length << ": " << r[22].second;
    EXPECT_EQ(r[21].first, (uint64_t)TEST_PASS) << "the walk still reaches the well formed scopes";
  }
}

// Two-entry paths through one bridge name two devices behind it, compared
// by their bytes where the bridge's secondary bus is not known (it is not
// in the tables), through the bridge where configuration space gives it. A
// segment of the MCFG without a DRHD needs the inventory's count.
TEST(GeneralRules, PathsThroughABridgeAndASegmentWithoutADrhd) {
  const sc first{1, 0, 0, {{0x1C, 0}, {0, 0}}}, second{1, 0, 0, {{0x1C, 0}, {0, 1}}}, behind{1, 0, 2, {{0, 0}}};
  auto run = [&](std::vector<sc> scopes, bool tables_alone, bool segment_1 = true, bool bridge = false) {
    sim::dmar_builder dmar;
    dmar.drhd(0, 0, 0xFED90000, scopes).drhd(1, 0, 0xFED91000, {{3, 8, 0xF0, {{31, 0}}}});
    if (segment_1) dmar.drhd(1, 1, 0xFED92000, {{3, 9, 0xF0, {{31, 0}}}});
    sim::machine m = server(UNLISTED, dmar);
    if (bridge) {  // 00:1C.0, a bridge to bus 2, where 02:00.0 answers
      auto& bridge_fn = m.pci(0, 0x1C, 0, 0x8086, 0xA338);
      bridge_fn.set32(0x0C, 0x00010000);
      bridge_fn.set32(0x18, 0x00020200);
      m.pci(2, 0, 0, 0x8086, 0x1533);
    }
    if (tables_alone)
      for (uint32_t s = SOURCE_CHIPSET; s < SOURCE_COUNT; s++) m.set_unknown((platform_source)s, SOURCE_TABLES_ONLY);
    return run_records(m, {"-a", "-t"});
  };
  struct row {
    std::vector<sc> scopes;
    bool tables_alone;
    uint64_t unique;
  };
  for (const row& c : {row{{first, second}, true, TEST_PASS}, row{{first, first}, true, TEST_FAIL},
                       row{{first, behind}, true, TEST_PASS}, row{{first, second}, false, TEST_PASS},
                       row{{behind, behind}, false, TEST_FAIL}}) {
    auto r = run(c.scopes, c.tables_alone);
    EXPECT_EQ(r[14].first, c.unique) << c.tables_alone << ": " << r[14].second;
    EXPECT_EQ(r[47].first, c.unique) << c.tables_alone << ": " << r[47].second;
  }
  for (bool tables_alone : {true, false}) {
    auto r = run({first, behind}, tables_alone, true, true);
    uint64_t unique = tables_alone ? TEST_PASS : TEST_FAIL;  // 00:1C.0 -> bus 2: 02:00.0 twice
    EXPECT_EQ(r[14].first, unique) << tables_alone << ": " << r[14].second;
    EXPECT_EQ(r[47].first, unique) << tables_alone << ": " << r[47].second;
  }
  auto alone = run({first}, true, false);
  EXPECT_EQ(alone[47].first, (uint64_t)TEST_MISSING) << alone[47].second;
  EXPECT_TRUE(contains(alone[47].second, "PCI configuration space")) << alone[47].second;
  auto board = run({first}, false, false);
  EXPECT_EQ(board[47].first, (uint64_t)TEST_WARNING) << "segment 1 is not scanned: " << board[47].second;
}
