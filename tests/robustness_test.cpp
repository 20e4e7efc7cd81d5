// What a run leaves behind on the platform and in the pool, on every path
// through the application, and the checks the fuzz targets rely on.
#include "catalogue/catalogue.h"
#include "discovery/pci_inventory.h"
#include "discovery/remap_lists.h"
#include "fuzz/fuzz_machine.h"
#include "platform/sim/platform_dir.h"
#include "report/report.h"
#include "support/harness.h"

using namespace testing_support;
using sim::bytes;

namespace {

constexpr uint64_t HIDE_REGISTER = PCI_LIB_ADDRESS(0, 31, 1, 0xE1);

bool all_lists_empty() { return fuzz::check_lists_empty().empty(); }

sim::machine reference(const std::string& family) {
  sim::machine m;
  EXPECT_TRUE(sim::load_reference_platform(family, m)) << family;
  return m;
}

enum class p2sb { visible, hidden, absent };

void set_p2sb(sim::machine& m, p2sb state) {
  if (state == p2sb::absent) {
    m.remove_pci(0, 31, 1);
    return;
  }
  m.pci(0, 31, 1).set8(0xE1, state == p2sb::hidden ? 1 : 0);
}

// The hide-register writes of a -t run and the value left, per family and
// starting state: every routine leaves the P2SB as it found it. A hidden function reads all ones, so no routine learns the
// other bits of the hide register before its unhide write; each changes the
// hide bit only.
struct p2sb_case {
  const char* family;
  p2sb state;
  std::vector<uint8_t> writes;
  int left;  // -1: no function
};

const p2sb_case p2sb_cases[] = {
    {"qen", p2sb::visible, {}, 0},          {"qen", p2sb::hidden, {}, 1},           {"qen", p2sb::absent, {}, -1},
    {"gux", p2sb::visible, {}, 0},          {"gux", p2sb::hidden, {}, 1},           {"gux", p2sb::absent, {}, -1},
    {"rav", p2sb::visible, {}, 0x00},       {"rav", p2sb::hidden, {0, 1}, 0x01},    {"rav", p2sb::absent, {0, 1}, -1},
    {"mof", p2sb::visible, {}, 0},            {"mof", p2sb::hidden, {0, 1}, 1},       {"mof", p2sb::absent, {0, 1}, -1},
    {"jix", p2sb::visible, {}, 0},            {"jix", p2sb::hidden, {0, 1}, 1},       {"jix", p2sb::absent, {0, 1}, -1},
    {"yod", p2sb::visible, {}, 0},            {"yod", p2sb::hidden, {0, 1}, 1},       {"yod", p2sb::absent, {0, 1}, -1},
    {"wez", p2sb::visible, {}, 0},            {"wez", p2sb::hidden, {0, 1}, 1},       {"wez", p2sb::absent, {0, 1}, -1},
};

std::vector<uint8_t> hide_writes(const sim::machine& m) {
  std::vector<uint8_t> v;
  for (const auto& w : m.pci_writes) {
    EXPECT_EQ(w.address, HIDE_REGISTER) << "configuration write outside the P2SB hide register";
    v.push_back(w.value);
  }
  return v;
}

}  // namespace

TEST(PlatformWrites, OnlyTheHideRegisterIsWrittenAndItIsLeftAsEachRoutineSays) {
  for (const auto& c : p2sb_cases) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-t"}, std::vector<std::string>{"-d", "-t", "-v", "--dbg"}}) {
      SCOPED_TRACE(std::string(c.family) + " P2SB state " + std::to_string((int)c.state) + " args " + args[0]);
      sim::machine m = reference(c.family);
      set_p2sb(m, c.state);
      fuzz::p2sb_state before = fuzz::p2sb_before(m);
      auto r = run_iovet(m, args);
      ASSERT_TRUE(contains(r.text, "Zyr Test Status: ")) << r.text;
      EXPECT_EQ(hide_writes(m), c.writes);
      EXPECT_EQ(fuzz::expected_hide_writes(m, before), c.writes) << "the fuzz targets' expectation";
      EXPECT_EQ(fuzz::check_platform_writes(m, before), "");
      if (c.left >= 0) EXPECT_EQ(m.config_byte(0, 31, 1, 0xE1), c.left);
    }
  }
}

TEST(PlatformWrites, NothingIsWrittenWhenNoRoutineGetsToTheP2sb) {
  // Dumps only; unsupported processor; MCHBAR disabled; collection failure.
  sim::machine dumps = reference("mof");
  run_iovet(dumps, {"-d"});
  EXPECT_TRUE(dumps.pci_writes.empty());

  sim::machine cpu = reference("mof");
  cpu.set_cpuid(1, 0x00A50F00);
  auto r = run_iovet(cpu, {"-t"});
  EXPECT_TRUE(contains(r.text, "CPU not supported 0xA50F00\n"));
  EXPECT_TRUE(cpu.pci_writes.empty());

  sim::machine mch = reference("rav");
  mch.pci(0, 0, 0).set32(0x48, mch.pci(0, 0, 0).get32(0x48) & ~1u);
  r = run_iovet(mch, {"-t"});
  EXPECT_TRUE(contains(r.text, "ERROR -- MCHBAR enabled bit not set. Tests need access to MCHBAR.\n"));
  EXPECT_TRUE(mch.pci_writes.empty());

  sim::machine nocat = reference("wez");
  nocat.files.clear();
  r = run_iovet(nocat, {"-t"});
  EXPECT_TRUE(contains(r.text, "Application Exists. Error occurred collecting needed Zyr test data.\n"));
  EXPECT_TRUE(nocat.pci_writes.empty());
}

TEST(Teardown, PoolIsEmptyAfterEveryPath) {
  struct path {
    const char* name;
    std::vector<std::string> args;
    std::function<void(sim::machine&)> change;
    const char* marker;  // shows the path was taken
    bool exits;
  };
  auto bad_dmar = [](const bytes& dmar) {
    return [dmar](sim::machine& m) {
      sim::platform_description p;
      ASSERT_TRUE(sim::load_reference_description("mof", p));
      for (auto& t : p.acpi)
        if (t.signature() == "DMAR") t.bytes = dmar;
      sim::machine fresh;
      sim::install_platform(p, fresh);
      add_catalogue(fresh);
      m = std::move(fresh);
    };
  };
  bytes type7 = sim::dmar_builder().drhd(1, 0, 0xFED91000).raw({7, 0, 8, 0, 0, 0, 0, 0}).build();
  bytes long_path = sim::dmar_builder().drhd(1, 0, 0xFED91000, {{1, 0, 0, {{1, 0}, {0, 0}, {0, 0}}}}).build();
  const path paths[] = {
      {"catalogue missing", {"-t"}, [](sim::machine& m) { m.files.clear(); },
       "Application Exists. Error occurred collecting needed Zyr test data.\n", false},
      {"invalid structure type", {"-d", "-t"}, bad_dmar(type7),
       "Error -- DMAR Table: Detected invalid remapping structure type.\n", false},
      {"unsupported processor", {"-v"}, [](sim::machine& m) { m.set_cpuid(1, 0x206A7); }, "CPU not supported 0x206A0\n",
       false},
      {"dump exit", {"-d", "-t"}, bad_dmar(long_path), "ERROR -- PciPath of Device Scope appears to be invalid.\n", true},
      {"MCHBAR disabled", {"-t"}, [](sim::machine& m) { m.pci(0, 0, 0).set32(0x48, 0); },
       "ERROR -- MCHBAR enabled bit not set.", false},
      {"no DMAR", {"-v"}, [](sim::machine& m) { m.regions.clear(); m.configuration_table.clear(); },
       "Zyr Test Status: ", false},
      {"full run", {"-d", "-t", "-v", "--dbg", "-p"}, [](sim::machine&) {}, "Zyr Test Status: PASS\n", false},
      {"usage", {"-h"}, [](sim::machine&) {}, "Usage:", false},
  };
  for (const auto& p : paths) {
    SCOPED_TRACE(p.name);
    sim::machine m = reference("mof");
    p.change(m);
    auto r = run_iovet(m, p.args);  // no pool block, file or watchdog left
    EXPECT_TRUE(contains(r.text, p.marker)) << r.text;
    EXPECT_EQ(r.exited, p.exits);
    EXPECT_EQ(r.status, p.exits ? 1u : 0u);
    EXPECT_EQ(m.pool_bytes, 0u);
    EXPECT_TRUE(all_lists_empty()) << fuzz::check_lists_empty();
  }
}

TEST(Teardown, AnAllocationFailingAnywhereLeavesNothingBehind) {
  // Every allocation of a full run on a healthy platform fails once in
  // turn: the run may lose what it needed, but it ends normally and frees
  // all it took.
  sim::machine probe = reference("jix");
  run_iovet(probe, {"-d", "-t", "-v"});
  const uint64_t total = probe.allocations;
  ASSERT_GT(total, 20u);
  for (uint64_t n = 0; n < total; n++) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total) + " fails");
    sim::machine m = reference("jix");
    m.fail_allocation_at = (int64_t)n;
    auto r = run_iovet(m, {"-d", "-t", "-v"});
    EXPECT_FALSE(r.exited) << r.text;
    EXPECT_EQ(r.status, 0u);
    EXPECT_TRUE(all_lists_empty()) << fuzz::check_lists_empty();
    if (HasFailure()) break;
  }
}

TEST(FuzzChecks, EachCheckFiresOnTheFaultItIsFor) {
  sim::machine m = reference("mof");
  fuzz::p2sb_state before = fuzz::p2sb_before(m);
  auto r = run_iovet(m, {"-t"});
  EXPECT_EQ(fuzz::check_pool_and_files(m, r), "");
  EXPECT_EQ(fuzz::check_platform_writes(m, before), "");

  sim::machine stray = m;
  stray.pci_writes.push_back({PCI_LIB_ADDRESS(0, 31, 1, 0xE0), 0});
  EXPECT_NE(fuzz::check_platform_writes(stray, before), "");
  sim::machine wrong = m;
  wrong.pci_writes.back().value = 0;
  EXPECT_NE(fuzz::check_platform_writes(wrong, before), "") << "left visible instead of hidden";

  sim::run_result leaked = r;
  leaked.leaked_allocations = 1;
  EXPECT_NE(fuzz::check_pool_and_files(m, leaked), "");

  // A run that does not end within its bound is stopped and reported.
  sim::machine slow = reference("mof");
  slow.operation_limit = 2000;
  sim::run_result hung = sim::run(slow, {u"-t"});
  EXPECT_TRUE(hung.watchdog);
  EXPECT_NE(fuzz::check_pool_and_files(slow, hung), "");
  // The stopped run left its lists and table copies: free them for the
  // tests that follow.
  slow.operation_limit = ~0ULL;  // the bound would stop the freeing too
  {
    sim::scoped_machine use(slow);
    acpi_tables_t none{};
    free_test_data(&none);
  }
  for (auto& block : slow.live_allocations) free(block.first);
  EXPECT_TRUE(all_lists_empty());
}

TEST(FuzzChecks, AnInputDescribesTheSameMachineAfterEncoding) {
  fuzz::description d;
  d.settings = fuzz::SET_FIX_LENGTHS | 2;
  d.acpi = {sim::dmar_builder().drhd(1, 0, 0xFED91000).build(), sim::build_mcfg({{0xE0000000, 0, 0, 0}})};
  d.pci.push_back({0, 31, 1, {0x86, 0x80, 0x20, 0xA3}});
  d.memory_bytes.push_back({0xFED91000, {0x10, 0, 0, 0}});
  d.cpuid.push_back({1, 0x906EA, 0, 0, 0});
  d.msrs.push_back({0x3A, 5});
  d.memory.push_back({7, 0x100000, 16, 0xF});
  d.has_catalogue = true;
  d.catalogue = "1@one\n";
  d.has_sources = true;
  d.unknown_sources = 1u << SOURCE_DMAR;
  d.source_flags = fuzz::SOURCES_TABLES_ONLY;
  d.has_run_mode = true;
  d.run_mode = 8;
  bytes in = fuzz::encode(d);
  fuzz::description back = fuzz::decode(in.data(), in.size());
  EXPECT_EQ(fuzz::encode(back), in);
  EXPECT_EQ(fuzz::run_args(back), std::vector<std::u16string>{u"-a"});
  // On tables alone the machine holds the tables and nothing else.
  sim::machine m;
  fuzz::install(back, m);
  EXPECT_TRUE(m.functions.empty() && m.cpuid_leaves.empty() && m.memory_map.empty());
  EXPECT_EQ(m.sources[SOURCE_DMAR], SOURCE_NOT_RECORDED);
  EXPECT_EQ(m.sources[SOURCE_MCFG], SOURCE_KNOWN);
  EXPECT_EQ(m.sources[SOURCE_CPUID], SOURCE_TABLES_ONLY);
  // Cut anywhere, an input still decodes (to the records before the cut).
  for (size_t n = 0; n <= in.size(); n++) {
    fuzz::description part = fuzz::decode(in.data(), n);
    EXPECT_LE(part.acpi.size(), 2u);
  }
}

// Findings of the fuzz targets (their inputs are kept in tests/fuzz/crashes
// and replayed as they are; these say what the sound behaviour is).

TEST(FuzzFindings, AnMcfgLengthOfMillionsOfAllocationsIsScannedOnlyAsFarAsTheBound) {
  // The Length field claims 11 MB: unmapped memory behind the table reads
  // as all ones, so every counted allocation would scan 256 buses. The scan
  // stops at its bound; the assertions whose answer rests on the scanned
  // functions say so instead of passing, and those that read the allocations
  // themselves read every one (segment 0xFFFF, named by no DRHD).
  sim::platform_description p;
  ASSERT_TRUE(sim::load_reference_description("mof", p));
  for (auto& t : p.acpi)
    if (t.signature() == "MCFG") sim::put_le(t.bytes, 4, 11010059, 4);
  sim::machine huge;
  sim::install_platform(p, huge);
  add_catalogue(huge);
  huge.operation_limit = 20000000;
  auto r = run_iovet(huge, {"-t"});
  EXPECT_TRUE(contains(r.text, "WARNING -- MCFG Length gives 688126 allocation structures; only the first 256 are "
                               "scanned.\n"))
      << r.text;
  const std::string cut =
      "-- Only the first 256 of the 688126 MCFG allocation structures were scanned for PCI functions.\n";
  // 49 rests on the scanned functions; 47 does not here (INCLUDE_PCI_ALL).
  EXPECT_TRUE(contains(r.text, "49) WARNING\n" + cut)) << r.text;
  EXPECT_TRUE(contains(r.text, "-- All PCI segments in platform are not reported in the DMAR table.\n"))
      << "segment 0xFFFF, named by no DRHD: the allocations past the 64th are read";
  EXPECT_TRUE(contains(r.text, "Zyr Test Status: FAIL"));
}

TEST(FuzzFindings, TheMcfgDumpShowsEveryAllocationStructure) {
  // An MCFG Length of 12 MB asks the dump for 788589 structures, five lines
  // each: all of them lie inside the copy, so all of them are shown.
  for (size_t count : {65, 2000}) {
    std::vector<sim::mcfg_allocation> allocations(count, {0xE0000000, 0, 0, 0});
    bytes mcfg = sim::build_mcfg(allocations);
    sim::machine m;
    sim::run_result r = sim::call(m, [&] { dump_mcfg(byte_view(mcfg.data(), mcfg.size())); });
    size_t shown = 0;
    for (size_t at = 0; (at = r.text.find("\n Base Address                0x", at)) != std::string::npos; at++) shown++;
    EXPECT_EQ(shown, count);
    EXPECT_FALSE(contains(r.text, "Warning")) << count;
  }
}

TEST(SimulatedMachine, BlockCopiesReadWhatByteReadsRead) {
  // Copies of plain memory go a region at a time; models, the configuration
  // window and gaps must read exactly as single bytes do.
  sim::machine m;
  m.write32(0x1000, 0x11223344);
  m.write64(0x1008, 0x5566778899AABBCCULL);
  m.write8(0x2000, 0x42);
  m.add_model(0x1006, 3, [](uint64_t off, unsigned) { return 0xA0 + off; });
  m.ecam_base = 0x100000;
  m.ecam_buses = 1;
  m.pci(0, 0, 0, 0x8086, 0x1234);
  m.write8(0x1FFFFF, 0x77);
  sim::scoped_machine use(m);
  for (uint64_t start : {0x0FF0ULL, 0x1002ULL, 0x1FF8ULL, 0x0FFFF0ULL, 0x1FFFF8ULL}) {
    std::vector<uint8_t> block(0x1200), bytes(0x1200);
    PhysCopy(block.data(), start, block.size());
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = MmioRead8(start + i);
    EXPECT_EQ(block, bytes) << std::hex << start;
  }
  uint8_t top[16];
  PhysCopy(top, ~0ULL - 7, sizeof top);  // wraps to address 0
  EXPECT_EQ(top[0], 0xFF);
}

TEST(FuzzFindings, DebugLinesOfTheBusRangeCheckAreBoundedNotTheCheck) {
  // 184322 counted allocations times every device scope gave a debug line
  // each: gigabytes of console text. Every pair is still checked.
  sim::platform_description p;
  ASSERT_TRUE(sim::load_reference_description("jix", p));
  for (auto& t : p.acpi)
    if (t.signature() == "MCFG") sim::put_le(t.bytes, 4, 2949180, 4);
  sim::machine m;
  sim::install_platform(p, m);
  add_catalogue(m);
  auto r = run_iovet(m, {"-t", "-v", "--dbg"});
  EXPECT_TRUE(contains(r.text, "only the first 256 are scanned.\n"));
  EXPECT_TRUE(contains(r.text, "DEBUG -- #13 : further allocation and scope pairs are checked without debug lines\n"));
  EXPECT_TRUE(contains(r.text, "Zyr Test Status: "));
  EXPECT_LT(r.text.size(), 16u << 20) << "console text of a bounded run";
}
