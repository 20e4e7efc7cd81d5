// What an operating system checks at boot (tests 101 on): built faults give
// their verdicts where the general rules judge, and a known family sees
// them only with -x.
#include <map>
#include <sstream>

#include "engine/sources.h"
#include "platform/sim/platform_dir.h"
#include "platform/sim/records.h"
#include "support/dmar_platform.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

constexpr uint32_t UNLISTED = 0x000B06D1;  // no chipset profile
constexpr uint64_t ENGINE = 0xFED90000;
using sc = sim::scope_spec;
using records = std::map<uint64_t, std::pair<uint64_t, std::string>>;

// One engine with INCLUDE_PCI_ALL, a USB RMRR; SATA at 00:17.0, USB at
// 00:14.0; the engine protects memory and answers with EIM and 4-level
// tables. change() edits the DMAR before it is built.
sim::machine board(void (*change)(sim::dmar_builder&) = nullptr) {
  sim::dmar_builder d;
  d.flags = 0x05;
  d.drhd(1, 0, ENGINE, {{3, 8, 0xF0, {{31, 0}}}}).rmrr(0, 0x7B000000, 0x7B0FFFFF, {{1, 0, 0, {{0x14, 0}}}});
  if (change) change(d);
  sim::machine m;
  m.set_cpuid(1, UNLISTED);
  m.set_cpuid(0x80000008, 39);
  m.install_acpi({d.build(), sim::build_mcfg({{0xE0000000, 0, 0, 0xFF}}), sim::build_madt({sim::madt_ioapic(8, 0xFEC00000, 0)}),
                  sim::build_hpet(0)});
  m.pci(0, 0x14, 0, 0x8086, 0xA36D).set32(0x08, 0x0C033000);
  m.pci(0, 0x17, 0, 0x8086, 0x2826).set32(0x08, 0x01060100);
  m.write64(ENGINE + 0x08, 0x00000700222F0602);  // CAP: SAGAW 39 and 48 bits, fault records at 0x220
  m.write64(ENGINE + 0x10, 0x0000000000F050DA);  // ECAP: EIM, IR, QI
  m.write32(ENGINE + 0x1C, 0x80000000);          // GSTS: translation on
  m.write32(ENGINE + 0x34, 0);
  m.write32(ENGINE + 0x64, 0);
  m.add_memory(0, 0x7B000000, 0x100);
  add_catalogue(m);
  return m;
}

records run_records(sim::machine& m, std::vector<std::string> args) {
  std::vector<test_case_t> kept;
  sim::keep_records(m, kept);
  run_iovet(m, args);
  EXPECT_EQ(m.unknown_reads, 0u);
  records r;
  for (const test_case_t& tc : kept) r[tc.id] = {tc.result, sim::to_utf8(tc.message)};
  return r;
}

records run_board(void (*change)(sim::dmar_builder&)) {
  sim::machine m = board(change);
  return run_records(m, {"-a", "-t"});
}

}  // namespace

TEST(OsChecks, ASoundBoardPassesThemAll) {
  auto r = run_board(nullptr);
  for (uint64_t t = 101; t <= 110; t++) EXPECT_EQ(r[t].first, (uint64_t)TEST_PASS) << t << ": " << r[t].second;
}

TEST(OsChecks, BuiltTableFaultsGiveTheirVerdicts) {
  struct fault {
    void (*change)(sim::dmar_builder&);
    uint64_t test, result;
    const char* says;
  };
  const fault faults[] = {
      {[](sim::dmar_builder& d) { d.flags = 0x03; }, 101, TEST_WARNING, "xAPIC mode"},
      {[](sim::dmar_builder& d) { d.flags = 0x01; }, 102, TEST_WARNING, "DMA_CTRL_PLATFORM_OPT_IN is clear"},
      {[](sim::dmar_builder& d) { d.rmrr(0, 0x7B0FF000, 0x7B1FFFFF, {{1, 0, 0, {{0x14, 0}}}}); }, 105, TEST_FAIL,
       "RMRR 0x7B000000-0x7B0FFFFF overlaps RMRR 0x7B0FF000-0x7B1FFFFF"},
      {[](sim::dmar_builder& d) { d.rhsa(0xFED91000, 1); }, 106, TEST_FAIL, "RHSA 0xFED91000 names no DRHD"},
      {[](sim::dmar_builder& d) { d.raw({4, 0, 12, 0, 0, 0, 0, 1, 'A', 'B', 'C', 'D'}); }, 107, TEST_FAIL,
       "no NUL within the Length (12)"},
      {[](sim::dmar_builder& d) { d.andd(1, "\\_SB.A").andd(1, "\\_SB.B"); }, 107, TEST_FAIL, "number 1 is used by two"},
      {[](sim::dmar_builder& d) { d.drhd(0, 0, 0); }, 108, TEST_FAIL, "register base is 0"},
      {[](sim::dmar_builder& d) { d.drhd(0, 0, 0xFED91800); }, 108, TEST_FAIL, "0xFED91800 is not aligned"},
      {[](sim::dmar_builder& d) { d.drhd(0, 0, 0xFED93000, {}, 1); }, 108, TEST_FAIL, "0xFED93000 is not aligned"},
      {[](sim::dmar_builder& d) { d.drhd(0, 0, ENGINE); }, 108, TEST_FAIL, "0xFED90000 is reported by two"},
      {[](sim::dmar_builder& d) { d.drhd(0, 0, 0xFED93000); }, 108, TEST_FAIL, "No engine answers"},
      {[](sim::dmar_builder& d) { d.host_address_width = 9; }, 109, TEST_FAIL, "is 10 bits"},
      {[](sim::dmar_builder& d) { d.host_address_width = 47; }, 109, TEST_FAIL, "(48) exceeds"},
      {[](sim::dmar_builder& d) { d.satc(0, 0, {{2, 0, 0, {{0x14, 0}}}}); }, 110, TEST_FAIL, "has type 2"},
      {[](sim::dmar_builder& d) { d.satc(0, 1, {{1, 0, 0, {{0x14, 0}}}}); }, 110, TEST_FAIL, "segment 1 is not"},
      {[](sim::dmar_builder& d) { d.sidp(0, {{1, 0, 0, {{0x1E, 0}}}}); }, 110, TEST_FAIL, "SIDP scope path"},
      {[](sim::dmar_builder& d) { d.rmrr(0, 0x7C000000, 0x7C0FFFFF, {{1, 0, 0, {{0x17, 0}}}}); }, 104, TEST_WARNING,
       "names 00:17.0 (class 01h/06h)"},
  };
  for (const fault& f : faults) {
    auto r = run_board(f.change);
    EXPECT_EQ(r[f.test].first, f.result) << f.test << " " << f.says << ": " << r[f.test].second;
    EXPECT_TRUE(contains(r[f.test].second, f.says)) << r[f.test].second;
  }
}

// The engine is read as found: a pending fault names its source and
// reason; an engine that protects nothing is no pre-boot protection.
TEST(OsChecks, HandOffStateIsReadAsFound) {
  sim::machine m = board();
  m.write32(ENGINE + 0x34, 0x00000302);                   // pending fault, index 3
  m.write64(ENGINE + 0x220 + 3 * 16 + 8, 0x800000060000A0F8ULL);  // reason 6 from A0:1F.0
  auto r = run_records(m, {"-a", "-t"});
  EXPECT_EQ(r[103].first, (uint64_t)TEST_WARNING);
  EXPECT_TRUE(contains(r[103].second, "pending DMA fault (FSTS 0x302): source A0:1F.0, fault reason 0x06")) << r[103].second;

  sim::machine off = board();
  off.write32(ENGINE + 0x1C, 0);
  r = run_records(off, {"-a", "-t"});
  EXPECT_TRUE(contains(r[103].second, "No engine translates or protects memory before the OS boots.\n0xFED90000: translation off, PMR off"))
      << r[103].second;
}

// A known family reports its own 55 unless asked; with -x the checks join.
TEST(OsChecks, AFamilyRunsThemOnlyWithX) {
  sim::machine m;
  ASSERT_TRUE(sim::load_reference_platform("rav", m));
  std::string plain = run_iovet(m, {"-v"}).text;
  EXPECT_TRUE(contains(plain, "Total | 55\n"));
  EXPECT_FALSE(contains(plain, "101) "));
  auto r = run_records(m, {"-x", "-t"});
  EXPECT_EQ(r.size(), 65u);
  EXPECT_EQ(r[102].first, (uint64_t)TEST_WARNING);
  EXPECT_FALSE(contains(r[103].second, "Engines:")) << "the chipset's engines are read";

  // A catalogue without the new lines does not ask for them.
  sim::machine old = board();
  std::string catalogue = read_file(repo_path("zyr-tests"));
  old.files[u"zyr-tests"].assign(catalogue.begin(), catalogue.begin() + catalogue.find("101@"));
  std::string text = run_iovet(old, {"-a", "-t"}).text;
  EXPECT_FALSE(contains(text, "Application failure")) << text;
}

// docs/assertions.md explains every assertion the catalogue lists.
TEST(OsChecks, EveryCatalogueAssertionIsExplained) {
  std::istringstream catalogue(read_file(repo_path("zyr-tests")));
  std::string docs = read_file(repo_path("docs/assertions.md")), line;
  int entries = 0;
  while (std::getline(catalogue, line)) {
    std::string id = line.substr(0, line.find('@'));
    EXPECT_TRUE(contains(docs, "\n## " + id + " — ")) << "no entry for " << id;
    entries++;
  }
  EXPECT_EQ(entries, 65);
}

// A family whose chipset lists no engine: the engine checks judge nothing.
TEST(OsChecks, NoEngineToReadIsMissingData) {
  dmar_platform::platform p;
  dmar_platform::make_healthy(p);
  p.tinfo.remap_bar_count = 0;
  p.m.set_cpuid(0x80000008, 39);
  dmar_platform::bench b(p);
  for (auto t : {std::make_pair(assert_x2apic_mode, 101), {assert_handoff_state, 103}, {assert_host_address_width, 109}})
    EXPECT_EQ(b.run(t.first, t.second).result, (uint64_t)TEST_MISSING) << t.second;
}
