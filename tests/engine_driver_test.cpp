// The test driver: processor dispatch, stop rules and its own assertions.
#include <memory>
#include <stdexcept>

#include "catalogue/catalogue.h"
#include "discovery/remap_lists.h"
#include "engine/driver.h"
#include "engine/sources.h"
#include "platform/print.h"
#include "support/harness.h"

using namespace testing_support;
using sim::bytes;

namespace {

// Catalogue records appended by hand for the duration of a test.
// The records of a run of its own on the served machine, whose processor
// decides the rules (a machine without CPUID leaf 1 gets those of a
// processor without a setup routine).
struct records {
  std::vector<std::unique_ptr<test_case_node_t>> nodes;
  explicit records(std::initializer_list<uint64_t> ids) {
    reset_sources();
    for (uint64_t id : ids) {
      auto n = std::make_unique<test_case_node_t>();
      n->tc.id = id;
      n->tc.result = TEST_NA;
      list_append(test_case_list, &n->link);
      nodes.push_back(std::move(n));
    }
  }
  ~records() {
    for (auto& n : nodes) list_unlink(&n->link);
  }
  test_case_t& operator[](uint64_t id) {
    for (auto& n : nodes)
      if (n->tc.id == id) return n->tc;
    throw std::runtime_error("no record");
  }
};

std::string message(const test_case_t& tc) { return sim::to_utf8(tc.message); }

// A remapping structure node held in a list for the duration of a test.
struct listed_structures {
  std::vector<std::unique_ptr<remap_node_t>> nodes;
  std::vector<bytes> storage;
  list_entry* list;
  listed_structures(list_entry& l, const std::vector<bytes>& structures) : list(&l) {
    storage = structures;
    for (auto& s : storage) {
      auto n = std::make_unique<remap_node_t>();
      n->remap = s.data();
      n->length = (uint32_t)s.size();
      list_append(l, &n->link);
      nodes.push_back(std::move(n));
    }
  }
  ~listed_structures() {
    for (auto& n : nodes) list_unlink(&n->link);
  }
};

bytes rmrr_of_length(uint16_t length) {
  bytes b(length < 4 ? 4 : length, 0);
  b[0] = 1;
  b[2] = (uint8_t)length;
  b[3] = (uint8_t)(length >> 8);
  return b;
}

// Which setup routine a signature reaches: the routine names itself in its
// MCHBAR debug line.
std::string routine_for(uint32_t eax) {
  sim::machine m;
  m.set_cpuid(1, eax);
  sim::scoped_machine use(m);
  debug_mask = 0xFFFFFFFF;
  acpi_tables_t tables{};
  test_info_t tinfo{};
  reset_sources();  // a run of its own: the processor is read afresh
  uint64_t status = run_assertions(&tables, &tinfo);
  debug_mask = 0;
  std::string text = m.console_text();
  size_t at = text.find("testsetup_");
  if (at == std::string::npos) return status == 1 ? text : "?";
  return text.substr(at, 13);
}

}  // namespace

TEST(Dispatch, EverySignatureReachesItsRoutine) {
  const std::pair<std::vector<uint32_t>, const char*> table[] = {
      {{0x306C0, 0x306D0, 0x40650, 0x40670}, "testsetup_qen"},
      {{0x406E0, 0x506E0, 0x50650}, "testsetup_rav"},
      {{0x506C0, 0x706A0}, "testsetup_gux"},
      {{0x60660, 0x60670}, "testsetup_wez"},
      {{0x706D0, 0x706E0, 0x806C0, 0x806D0, 0x90660, 0x906C0}, "testsetup_jix"},
      {{0x806A0}, "testsetup_yod"},
      {{0x806E0, 0x906E0, 0xA0650, 0xA0660}, "testsetup_mof"},
  };
  for (const auto& row : table)
    for (uint32_t sig : row.first) {
      EXPECT_EQ(routine_for(sig), row.second) << std::hex << sig;
      // Stepping and the bits outside the signature do not matter.
      EXPECT_EQ(routine_for(sig | 0xF000C003), row.second) << std::hex << sig;
    }
}

TEST(Dispatch, SteppingEightOfTheSkylakeKabyPairTakesTheNewerRoutine) {
  EXPECT_EQ(routine_for(0x406E8), "testsetup_mof");
  EXPECT_EQ(routine_for(0x506E8), "testsetup_mof");
  EXPECT_EQ(routine_for(0x406E9), "testsetup_rav");
  EXPECT_EQ(routine_for(0x506E3), "testsetup_rav");
  EXPECT_EQ(routine_for(0x406E8 | 0x4000), "testsetup_rav") << "bits 15:14 set";
  EXPECT_EQ(routine_for(0x406E8 | 0x10000000), "testsetup_rav") << "bits 31:28 set";
}

TEST(Dispatch, UnsupportedProcessorPrintsTheMaskedSignatureAndNoReport) {
  const std::string hint = "Run Iovet.efi -a to check what needs no chipset view of this processor.\n";
  EXPECT_EQ(routine_for(0xF00A0671), "CPU not supported 0xA0670\n" + hint);
  EXPECT_EQ(routine_for(0x206A7), "CPU not supported 0x206A0\n" + hint);
  sim::machine m;
  add_catalogue(m);
  m.set_cpuid(1, 0x00800F11);
  m.install_acpi({sim::dmar_builder().drhd(1, 0, 0xFED90000).build()});
  auto r = run_iovet(m, {"-v"});
  EXPECT_TRUE(contains(r.text, "CPU not supported 0x800F10\n"));
  EXPECT_FALSE(contains(r.text, "Zyr Test Status")) << r.text;
  EXPECT_FALSE(contains(r.text, "BIOS Information"));
}

TEST(DriverStops, MissingRecordOfTestOneEndsTheRunAfterIt) {
  sim::machine m;
  m.set_cpuid(1, 0x906EA);
  sim::scoped_machine use(m);
  records r({2, 7});
  acpi_tables_t tables{};
  test_info_t tinfo{};
  EXPECT_EQ(run_assertions(&tables, &tinfo), 0u);
  EXPECT_TRUE(contains(m.console_text(), "Application failure when retrieving test case information: ID = 1\n"));
  EXPECT_EQ(r[2].result, (uint64_t)TEST_NA) << "nothing after test 1 ran";
  EXPECT_FALSE(contains(m.console_text(), "ID = 2"));
}

TEST(DriverStops, MchbarDisabledStillRunsTheAssertionsAndTheReport) {
  sim::machine m;
  add_catalogue(m);
  m.set_cpuid(1, 0x406E3);
  m.pci(0, 0, 0, 0x8086, 0x1904);  // MCHBAR register left 0
  m.install_acpi({sim::dmar_builder().drhd(1, 0, 0xFED90000).build(), sim::build_mcfg({{0xE0000000, 0, 0, 0}})});
  auto r = run_iovet(m, {"-v"});
  EXPECT_TRUE(contains(r.text, "ERROR -- MCHBAR enabled bit not set. Tests need access to MCHBAR.\n"));
  EXPECT_TRUE(contains(r.text, "Zyr Test Status: ")) << r.text;
  EXPECT_TRUE(contains(r.text, "Total | ")) << r.text;
}

TEST(InlineChecksum, EightBitSumInItsMessage) {
  sim::machine m;
  m.set_cpuid(1, 0x906EA);
  sim::scoped_machine use(m);
  records r({2});
  bytes dmar = sim::dmar_builder().drhd(1, 0, 0xFED90000).build();
  acpi_tables_t tables{};
  tables.dmar = dmar.data();
  tables.dmar_len = (uint32_t)dmar.size();
  test_info_t tinfo{};
  EXPECT_EQ(assert_dmar_checksum(&tables, &tinfo), 0u);
  EXPECT_EQ(r[2].result, (uint64_t)TEST_PASS);
  dmar[9] = (uint8_t)(dmar[9] + 0x80);
  assert_dmar_checksum(&tables, &tinfo);
  EXPECT_EQ(r[2].result, (uint64_t)TEST_FAIL);
  EXPECT_EQ(message(r[2]), "Entire table must sum to zero. Expected: 0 - Actual 128.\n");
  // A Length beyond the copy sums only the copy's bytes.
  dmar[4] = 0xFF;
  dmar[5] = 0xFF;
  assert_dmar_checksum(&tables, &tinfo);
  EXPECT_EQ(r[2].result, (uint64_t)TEST_FAIL);
}

TEST(InlineStructureTypes, TypeAboveFourFailsWithinTheFirst52Structures) {
  sim::machine m;
  m.set_cpuid(1, 0x906EA);
  sim::scoped_machine use(m);
  records r({6});
  test_info_t tinfo{};
  auto check = [&](size_t structures, size_t bad_at, uint64_t expected) {
    sim::dmar_builder b;
    for (size_t i = 0; i < structures; i++) {
      if (i == bad_at)
        b.raw({5, 0, 8, 0, 0, 0, 0, 0});
      else
        b.rhsa(0xFED90000, 0);
    }
    bytes dmar = b.build();
    acpi_tables_t tables{};
    tables.dmar = dmar.data();
    tables.dmar_len = (uint32_t)dmar.size();
    assert_structure_types(&tables, &tinfo);
    EXPECT_EQ(r[6].result, expected) << structures << " " << bad_at;
  };
  check(60, 54, TEST_PASS);  // the 55th is never looked at
  check(60, 51, TEST_FAIL);  // the 52nd is
  check(3, 0, TEST_FAIL);
  EXPECT_EQ(message(r[6]), "Invalid remapping structure type in DMAR table.\n");
  check(3, 99, TEST_PASS);
  // A zero Length cannot hold the walk.
  bytes dmar = sim::dmar_builder().raw({0, 0, 0, 0}).build();
  acpi_tables_t tables{};
  tables.dmar = dmar.data();
  tables.dmar_len = (uint32_t)dmar.size();
  assert_structure_types(&tables, &tinfo);
  EXPECT_EQ(r[6].result, (uint64_t)TEST_PASS);
  set_not_applicable(&tinfo, 6);
  assert_structure_types(&tables, &tinfo);
  EXPECT_EQ(r[6].result, (uint64_t)TEST_NA);
}

TEST(InlineRmrrScope, SignedScopeCount) {
  sim::machine m;
  m.set_cpuid(1, 0x906EA);
  sim::scoped_machine use(m);
  records r({38});
  acpi_tables_t tables{};
  test_info_t tinfo{};
  assert_rmrr_has_scope(&tables, &tinfo);
  EXPECT_EQ(r[38].result, (uint64_t)TEST_PASS) << "no RMRR at all";
  for (uint16_t length : {17, 24, 31}) {
    listed_structures l(rmrr_list, {rmrr_of_length(32), rmrr_of_length(length)});
    assert_rmrr_has_scope(&tables, &tinfo);
    EXPECT_EQ(r[38].result, (uint64_t)TEST_FAIL) << length;
    EXPECT_EQ(message(r[38]), "RMMR structures must contain at least 1 device scope.\n");
  }
  for (uint16_t length : {16, 8, 32}) {
    listed_structures l(rmrr_list, {rmrr_of_length(length)});
    assert_rmrr_has_scope(&tables, &tinfo);
    EXPECT_EQ(r[38].result, (uint64_t)TEST_PASS) << length;
  }
}

TEST(InlineDrhd, PresenceAndIncludePciAll) {
  sim::machine m;
  m.set_cpuid(1, 0x906EA);
  sim::scoped_machine use(m);
  records r({7, 16});
  acpi_tables_t tables{};
  test_info_t tinfo{};
  assert_has_drhd(&tables, &tinfo);
  assert_has_include_pci_all(&tables, &tinfo);
  EXPECT_EQ(message(r[7]), "DMAR Table does not list any DRHD structure(s).\n");
  EXPECT_EQ(message(r[16]), "DMAR does not report a DRHD with INCLUDE_PCI_ALL flag set.\n");
  bytes scoped = {0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0x90, 0xFE, 0, 0, 0, 0};
  bytes all = scoped;
  all[4] = 1;
  {
    listed_structures l(drhd_list, {scoped});
    assert_has_drhd(&tables, &tinfo);
    assert_has_include_pci_all(&tables, &tinfo);
    EXPECT_EQ(r[7].result, (uint64_t)TEST_PASS);
    EXPECT_EQ(r[16].result, (uint64_t)TEST_FAIL);
  }
  {
    listed_structures l(drhd_list, {scoped, all});
    assert_has_include_pci_all(&tables, &tinfo);
    EXPECT_EQ(r[16].result, (uint64_t)TEST_PASS);
    set_not_applicable(&tinfo, 7);
    set_not_applicable(&tinfo, 16);
    assert_has_drhd(&tables, &tinfo);
    assert_has_include_pci_all(&tables, &tinfo);
    EXPECT_EQ(r[7].result, (uint64_t)TEST_NA);
    EXPECT_EQ(r[16].result, (uint64_t)TEST_NA);
  }
}

TEST(InlinePlaceholders, FlagsAndMessages) {
  sim::machine m;
  m.set_cpuid(1, 0x906EA);
  sim::scoped_machine use(m);
  records r({45, 62});
  acpi_tables_t tables{};
  test_info_t tinfo{};
  assert_placeholder_45(&tables, &tinfo);
  assert_placeholder_62(&tables, &tinfo);
  EXPECT_EQ(r[45].result, (uint64_t)TEST_PASS);
  EXPECT_EQ(message(r[45]), "");
  EXPECT_EQ(r[62].result, (uint64_t)TEST_NA);
  EXPECT_EQ(message(r[62]), "This test is still under investigation.\n");
  test_info_t flagged{};
  set_not_applicable(&flagged, 45);
  set_not_applicable(&flagged, 62);
  r[62].message[0] = 0;
  assert_placeholder_45(&tables, &flagged);
  assert_placeholder_62(&tables, &flagged);
  EXPECT_EQ(r[45].result, (uint64_t)TEST_NA);
  EXPECT_EQ(message(r[62]), "");
}

TEST(InlineMissingRecords, EachPrintsItsOwnLine) {
  sim::machine m;
  sim::scoped_machine use(m);
  acpi_tables_t tables{};
  test_info_t tinfo{};
  for (auto fn : {assert_dmar_checksum, assert_structure_types, assert_has_drhd, assert_has_include_pci_all,
                  assert_rmrr_has_scope, assert_placeholder_45, assert_placeholder_62})
    EXPECT_EQ(fn(&tables, &tinfo), 1u);
  EXPECT_EQ(m.console_text(),
            "Application failure when retrieving test case information: ID = 2\n"
            "Application failure when retrieving test case information: ID = 6\n"
            "Application failure when retrieving test case information: ID = 7\n"
            "Application failure when retrieving test case information: ID = 16\n"
            "Application failure when retrieving test case information: ID = 38.\n"
            "Application failure when retrieving test case information: ID = 45.\n"
            "Application failure when retrieving test case information: ID = 62.\n");
}
