// Segments and bus ranges (11, 12, 13), request-ID uniqueness (14), engine
// coverage (15), INCLUDE_PCI_ALL placement (23) and scope types (24).
#include <chrono>

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

void set_segment(sim::bytes& structure, uint16_t segment) { sim::put_le(structure, DRHD_OFF_SEGMENT, segment, 2); }

}  // namespace

TEST(Segments, AllocationsAgainstStructures) {
  struct row {
    const char* what;
    std::vector<sim::mcfg_allocation> mcfg;
    std::function<void(sim::dmar_builder&)> change;
    uint64_t r11, r12;
    const char* message12;
  } rows[] = {
      {"segment 0 everywhere", {{0xE0000000, 0, 0, 0xFF}}, [](sim::dmar_builder&) {}, TEST_PASS, TEST_PASS, nullptr},
      {"segments 0 and 1, a DRHD for each",
       {{0xE0000000, 0, 0, 0xFF}, {0xD0000000, 1, 0, 0xFF}},
       [](sim::dmar_builder& d) { set_segment(d.structures[0], 1); }, TEST_PASS, TEST_FAIL,
       "PCI segment reported in DRHD is not valid.\n"},
      {"RMRR of segment 1 after every DRHD passed", {{0xE0000000, 0, 0, 0xFF}},
       [](sim::dmar_builder& d) { set_segment(d.structures[2], 1); }, TEST_PASS, TEST_FAIL,
       "PCI segment reported in RMRR is not valid.\n"},
      {"ATSR of segment 2", {{0xE0000000, 0, 0, 0xFF}}, [](sim::dmar_builder& d) { d.atsr(0, 2, {}); }, TEST_PASS,
       TEST_FAIL, "PCI segment reported in ATSR is not valid.\n"},
      {"two allocations of segment 0 count twice", {{0xE0000000, 0, 0, 0x7F}, {0xE8000000, 0, 0x80, 0xFF}},
       [](sim::dmar_builder&) {}, TEST_PASS, TEST_PASS, nullptr},
      {"segment 3 only", {{0xE0000000, 3, 0, 0xFF}}, [](sim::dmar_builder&) {}, TEST_FAIL, TEST_FAIL,
       "PCI segment reported in DRHD is not valid.\n"},
      {"no allocation", {}, [](sim::dmar_builder& d) { set_segment(d.structures[0], 7); }, TEST_PASS, TEST_PASS,
       nullptr},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    p.mcfg = r.mcfg;
    custom(p, r.change);
    bench b(p);
    outcome o11 = b.run(assert_segments_reported, 11), o12 = b.run(assert_segments_valid, 12);
    EXPECT_EQ(o11.result, r.r11) << r.what;
    if (r.r11 == TEST_FAIL)
      EXPECT_EQ(o11.message, "All PCI segments in platform are not reported in the DMAR table.\n") << r.what;
    EXPECT_EQ(o12.result, r.r12) << r.what;
    if (r.message12) EXPECT_EQ(o12.message, r.message12) << r.what;
  }
}

TEST(Segments, EveryAllocationIsExaminedHoweverManyComeFirst) {
  // 64 allocations every structure satisfies, then the one that does not.
  const sim::mcfg_allocation other_segment = {0xD0000000, 5, 0, 0xFF}, upper_buses = {0xE0000000, 0, 0x80, 0xFF};
  const struct {
    uint64_t (*fn)(acpi_tables_t*, test_info_t*);
    uint64_t id;
    sim::mcfg_allocation last;
  } cases[] = {{assert_segments_reported, 11, other_segment},
               {assert_segments_valid, 12, other_segment},
               {assert_scope_buses_valid, 13, upper_buses},
               {assert_include_pci_all_last, 23, other_segment}};
  for (const auto& c : cases) {
    platform p;
    make_healthy(p);
    p.mcfg.assign(64, {0xE0000000, 0, 0, 0xFF});
    p.mcfg.push_back(c.last);
    bench b(p);
    EXPECT_EQ(b.run(c.fn, c.id).result, TEST_FAIL) << c.id;
  }
}

TEST(Segments, MissingMcfgIsAConsoleErrorFor11To13And23) {
  platform p;
  make_healthy(p);
  p.has_mcfg = false;
  bench b(p);
  for (auto [f, id] : {std::pair{assert_segments_reported, 11}, {assert_segments_valid, 12},
                       {assert_scope_buses_valid, 13}, {assert_include_pci_all_last, 23}}) {
    outcome o = b.run(f, id);
    EXPECT_EQ(o.status, 1u) << id;
    EXPECT_EQ(o.console, "ERROR -- Missing MCFG Table.\n") << id;
    EXPECT_EQ(o.result, TEST_NA) << id << ": the record keeps its loader state";
  }
}

TEST(ScopeBuses, RangePerSegmentAndType) {
  struct row {
    const char* what;
    std::vector<sim::mcfg_allocation> mcfg;
    std::function<void(platform&)> change;
    const char* message;  // null: passes
  } rows[] = {
      {"endpoint on bus 0x80 beyond 0x7F", {{0xE0000000, 0, 0, 0x7F}},
       [](platform& p) { p.igfx_scopes[0].start_bus = 0x80; },
       "PCI device(s) reported in DRHD Device Scope Structure(s) is (are) not valid.\n"},
      {"IOAPIC scope on bus 0xF0 is not compared", {{0xE0000000, 0, 0, 0x7F}}, [](platform&) {}, nullptr},
      {"RMRR scope below the range", {{0xE0000000, 0, 0x10, 0xFF}},
       [](platform& p) {
         p.igfx_scopes[0].start_bus = 0x10;
         p.default_scopes.clear();
       },
       "PCI device(s) reported in RMRR Device Scope Structure(s) is (are) not valid.\n"},
      {"two allocations of one segment: a scope inside one range fails against the other",
       {{0xE0000000, 0, 0, 0x7F}, {0xE8000000, 0, 0x80, 0xFF}}, [](platform&) {},
       "PCI device(s) reported in DRHD Device Scope Structure(s) is (are) not valid.\n"},
      {"another segment's range does not apply", {{0xE0000000, 0, 0, 0xFF}, {0xD0000000, 1, 0x80, 0xFF}},
       [](platform&) {}, nullptr},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    p.mcfg = r.mcfg;
    r.change(p);
    bench b(p);
    outcome o = b.run(assert_scope_buses_valid, 13);
    EXPECT_EQ(o.result, r.message ? TEST_FAIL : TEST_PASS) << r.what;
    if (r.message) EXPECT_EQ(o.message, r.message) << r.what;
  }
  // An ATSR sub-hierarchy above the range.
  platform p;
  make_healthy(p);
  p.dmar = p.healthy_dmar();
  p.custom_dmar = true;
  p.dmar.atsr(0, 0, {{2, 0, 0x90, {{0, 0}}}});
  p.mcfg[0].end_bus = 0x8F;
  bench b(p);
  EXPECT_EQ(b.run(assert_scope_buses_valid, 13).message,
            "PCI device(s) reported in ATSR Device Scope Structure(s) is (are) not valid.\n");
}

TEST(ScopeBuses, SixDebugLinesPerScopeIncludingUncomparedTypes) {
  platform p;
  make_healthy(p);
  p.custom_dmar = true;
  p.dmar = sim::dmar_builder().drhd(1, 0, DEFAULT_ENGINE, {{3, 2, IOAPIC_BUS, {{31, 0}}}});
  bench b(p, true);
  EXPECT_EQ(b.run(assert_scope_buses_valid, 13).console,
            "DEBUG -- #13 : DRHD DeviceScope(0):\n"
            "DEBUG -- #13 : drnode->remap->SegmentNumber=0\n"
            "DEBUG -- #13 : ((csbaas_t*)loc)->pci_segment)=0\n"
            "DEBUG -- #13 : ((((device_scope_entry_t*)ds_loc)->StartingBusNumber=240\n"
            "DEBUG -- #13 : ((csbaas_t*)loc)->start_bus=0\n"
            "DEBUG -- #13 : ((csbaas_t*)loc)->end_bus=255\n");
}

TEST(ScopeBuses, LargeTablesCostOnePassEachAfterTheDebugLines) {
  // A DRHD full of endpoint scopes (8189, buses 0x08 to 0x3F), an RMRR and an
  // ATSR with one scope each, against a 16 MiB MCFG of segment 0: walking
  // every scope again for each of the million allocations would take
  // minutes. 11 and 12 walk the few structures per allocation; 13 walks the
  // scopes once more after its debug lines and holds each later allocation
  // against the buses found. The verdict is that of the first failing
  // allocation, its message that of the first kind failing there, and the
  // debug lines end where they always do.
  const size_t scopes = (65535 - DRHD_FIXED_SIZE) / 8, allocations = (16 * 1024 * 1024 - 44) / 16;
  struct row {
    const char* what;
    sim::mcfg_allocation last;  // the final allocation; all before it hold every bus
    uint8_t rmrr_bus, atsr_bus;
    const char* message;  // null: passes
  } rows[] = {
      {"every range holds every scope", {0xE0000000, 0, 0, 0x3F}, 0x10, 0x10, nullptr},
      {"a DRHD scope above the last range", {0xE0000000, 0, 0, 0x3E}, 0x10, 0x10,
       "PCI device(s) reported in DRHD Device Scope Structure(s) is (are) not valid.\n"},
      {"RMRR and ATSR scopes below it: RMRR is named", {0xE0000000, 0, 0x08, 0x3F}, 0x07, 0x00,
       "PCI device(s) reported in RMRR Device Scope Structure(s) is (are) not valid.\n"},
      {"only the ATSR's", {0xE0000000, 0, 0x08, 0x3F}, 0x3F, 0x00,
       "PCI device(s) reported in ATSR Device Scope Structure(s) is (are) not valid.\n"},
      {"a range of another segment holds nothing", {0xE0000000, 9, 0x40, 0x40}, 0x10, 0x10, nullptr},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    std::vector<sim::scope_spec> drhd_scopes;
    for (size_t k = 0; k < scopes; k++)
      drhd_scopes.push_back({1, 0, (uint8_t)(0x08 + k % 0x38), {{(uint8_t)(k % 32), 0}}});
    p.custom_dmar = true;
    p.dmar = sim::dmar_builder()
                 .drhd(1, 0, DEFAULT_ENGINE, drhd_scopes)
                 .rmrr(0, 0x1000, 0x1FFF, {{1, 0, r.rmrr_bus, {{1, 0}}}})
                 .atsr(0, 0, {{2, 0, r.atsr_bus, {{1, 0}}}});
    p.mcfg.assign(allocations - 1, {0xE0000000, 0, 0, 0x3F});
    p.mcfg.push_back(r.last);
    bench b(p, true);
    auto start = std::chrono::steady_clock::now();
    outcome o11 = b.run(assert_segments_reported, 11), o12 = b.run(assert_segments_valid, 12),
            o13 = b.run(assert_scope_buses_valid, 13);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0) << r.what;  // a scope walk per allocation: over 30 s here
    EXPECT_EQ(o11.result, r.last.segment ? TEST_FAIL : TEST_PASS) << r.what;
    EXPECT_EQ(o12.result, r.last.segment ? TEST_FAIL : TEST_PASS) << r.what;
    EXPECT_EQ(o13.result, r.message ? TEST_FAIL : TEST_PASS) << r.what;
    if (r.message) EXPECT_EQ(o13.message, r.message) << r.what;
    const std::string last_line = "DEBUG -- #13 : further allocation and scope pairs are checked without debug lines\n";
    EXPECT_EQ(o13.console.substr(o13.console.size() - std::min(o13.console.size(), last_line.size())), last_line)
        << r.what;
  }
}

TEST(RequestIds, UniqueAcrossDrhdsAndTypes) {
  struct row {
    const char* what;
    std::function<void(platform&)> change;
    uint64_t result;
  } rows[] = {
      {"healthy", [](platform&) {}, TEST_PASS},
      {"same function in two DRHDs as endpoint and namespace device",
       [](platform& p) { p.default_scopes[2].path = {{2, 0}}; }, TEST_FAIL},
      {"two path entries of one scope share the scope's bus",
       [](platform& p) { p.igfx_scopes[0].path = {{2, 0}, {2, 0}}; }, TEST_FAIL},
      {"a second entry on the scope's bus, not a bridge's", [](platform& p) { p.igfx_scopes[0].path = {{28, 0}, {0, 0}}; },
       TEST_PASS},
      {"RMRR scopes do not count", [](platform& p) { p.default_scopes[2].path = {{20, 0}}; }, TEST_PASS},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    r.change(p);
    bench b(p);
    outcome o = b.run(assert_request_ids_unique, 14);
    EXPECT_EQ(o.result, r.result) << r.what;
    if (r.result == TEST_FAIL) EXPECT_EQ(o.message, "All Request ID for DRHD must be unique.\n");
  }
}

TEST(RequestIds, NoLimitOnHowManyAreKept) {
  // 40 distinct scopes, then one that repeats the first: found however far
  // into the table it lies.
  std::vector<sim::scope_spec> scopes;
  for (uint8_t i = 0; i < 40; i++) scopes.push_back({1, 0, (uint8_t)(i + 1), {{0, 0}}});
  platform p;
  make_healthy(p);
  p.custom_dmar = true;
  p.dmar = sim::dmar_builder().drhd(1, 0, DEFAULT_ENGINE, scopes);
  {
    bench b(p, true);
    outcome o = b.run(assert_request_ids_unique, 14);
    EXPECT_EQ(o.result, TEST_PASS);
    EXPECT_TRUE(contains(o.console, "DEBUG -- #14 : reqid[39].raw = 2800\nDEBUG -- #14 : b:40 d:0 f:0\n"));
  }
  scopes.push_back({1, 0, 1, {{0, 0}}});
  platform q;
  make_healthy(q);
  q.custom_dmar = true;
  q.dmar = sim::dmar_builder().drhd(1, 0, DEFAULT_ENGINE, scopes);
  bench b(q);
  EXPECT_EQ(b.run(assert_request_ids_unique, 14).result, TEST_FAIL);
}

TEST(EngineCoverage, UnorderedMatchCountsEachDrhdOnce) {
  constexpr uint64_t ENGINE3 = 0xFED92000;
  auto three = [&](platform& p, uint64_t third_drhd) {
    p.tinfo.remap_bar_count = 3;
    p.tinfo.bars[1] = {ENGINE3 | 1, BAR_TYPE_D7};
    p.tinfo.bars[2] = {DEFAULT_ENGINE | 1, BAR_TYPE_DEFAULT};
    p.custom_dmar = true;
    p.dmar = sim::dmar_builder().drhd(0, 0, DEFAULT_ENGINE).drhd(0, 0, IGFX_ENGINE).drhd(1, 0, third_drhd);
  };
  {
    platform p;
    make_healthy(p);
    three(p, ENGINE3);
    bench b(p);
    EXPECT_EQ(b.run(assert_engines_reported, 15).result, TEST_PASS);
    EXPECT_EQ(b.run(assert_drhd_bars, 3).result, TEST_FAIL);
  }
  {
    platform p;
    make_healthy(p);
    three(p, 0xFED99000);
    bench b(p, true);
    outcome o = b.run(assert_engines_reported, 15);
    EXPECT_EQ(o.message, "All Zyr-d Remapping engines are not reported via DRHDs in DMAR structure.\n");
    EXPECT_TRUE(contains(o.console, "DEBUG: match = 2, remap_bar_count = 3\n"));
    // Seven lines per comparison: 3 for the first DRHD (matches the third
    // engine), 1 for the second, 3 for the third (no match).
    size_t lines = 0;
    for (size_t at = o.console.find("DEBUG -- #15 : pnode->remap->Type"); at != std::string::npos;
         at = o.console.find("DEBUG -- #15 : pnode->remap->Type", at + 1))
      lines++;
    EXPECT_EQ(lines, 7u);
  }
  {  // Two DRHDs naming the same engine count twice.
    platform p;
    make_healthy(p);
    p.custom_dmar = true;
    p.dmar = sim::dmar_builder().drhd(0, 0, DEFAULT_ENGINE).drhd(1, 0, DEFAULT_ENGINE);
    bench b(p);
    EXPECT_EQ(b.run(assert_engines_reported, 15).result, TEST_PASS);
  }
  {  // No platform engine: nothing compared.
    platform p;
    make_healthy(p);
    p.tinfo.remap_bar_count = 0;
    bench b(p, true);
    outcome o = b.run(assert_engines_reported, 15);
    EXPECT_EQ(o.result, TEST_PASS);
    EXPECT_EQ(o.console, "");
  }
}

TEST(IncludePciAllLast, OnlyTheLastDrhdCounts) {
  struct row {
    const char* what;
    uint8_t first_flags, last_flags;
    std::vector<sim::mcfg_allocation> mcfg;
    uint64_t result;
  } rows[] = {
      {"last DRHD, segment 0", 0, 1, {{0xE0000000, 0, 0, 0xFF}}, TEST_PASS},
      {"on the first DRHD instead", 1, 0, {{0xE0000000, 0, 0, 0xFF}}, TEST_FAIL},
      {"on both: only the last matters", 1, 1, {{0xE0000000, 0, 0, 0xFF}}, TEST_PASS},
      {"segments 0 and 1", 0, 1, {{0xE0000000, 0, 0, 0xFF}, {0xD0000000, 1, 0, 0xFF}}, TEST_FAIL},
      {"no allocation", 0, 0, {}, TEST_PASS},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    p.mcfg = r.mcfg;
    p.custom_dmar = true;
    p.dmar = sim::dmar_builder().drhd(r.first_flags, 0, IGFX_ENGINE).drhd(r.last_flags, 0, DEFAULT_ENGINE);
    bench b(p);
    outcome o = b.run(assert_include_pci_all_last, 23);
    EXPECT_EQ(o.result, r.result) << r.what;
    if (r.result == TEST_FAIL)
      EXPECT_EQ(o.message, "No DRHD with INCLUDE_PCI_ALL flag set or if set, is not last DRHD enumerated in DRHD.\n");
  }
}

TEST(ScopeTypes, FiveIsTheLastDefinedTypeAndStructuresInOrder) {
  struct row {
    const char* what;
    std::function<void(sim::dmar_builder&)> change;
    const char* message;
  } rows[] = {
      {"types 0 and 5 pass",
       [](sim::dmar_builder& d) { d.drhd(0, 0, 0xFED93000, {{0, 0, 0, {{1, 0}}}, {5, 3, 0, {{21, 1}}}}); }, nullptr},
      {"type 6 in an ATSR", [](sim::dmar_builder& d) { d.atsr(0, 0, {{6, 0, 0, {{28, 0}}}}); },
       "ATSR contains invalid Device Scope Type.\n"},
      {"RMRR before ATSR",
       [](sim::dmar_builder& d) {
         d.atsr(0, 0, {{7, 0, 0, {{28, 0}}}});
         d.rmrr(0, 0x7D000000, 0x7D0FFFFF, {{0xFF, 0, 0, {{20, 0}}}});
       },
       "RMRR contains invalid Device Scope Type.\n"},
      {"DRHD first", [](sim::dmar_builder& d) {
         d.rmrr(0, 0x7D000000, 0x7D0FFFFF, {{9, 0, 0, {{20, 0}}}});
         d.drhd(0, 0, 0xFED93000, {{6, 0, 0, {{1, 0}}}});
       },
       "DRHD contains invalid Device Scope Type.\n"},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    custom(p, r.change);
    bench b(p);
    outcome o = b.run(assert_scope_types, 24);
    EXPECT_EQ(o.result, r.message ? TEST_FAIL : TEST_PASS) << r.what;
    if (r.message) EXPECT_EQ(o.message, r.message) << r.what;
  }
}
