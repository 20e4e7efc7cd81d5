// DRHD device scopes: functions and bridges (28, 29), INCLUDE_PCI_ALL (43,
// 44), uniqueness and the graphics scope (47, 48), IOAPIC and HPET scopes
// (53, 54), ACPI namespace devices (59, 60, 61).
#include "discovery/pci_inventory.h"
#include "support/device_platform.h"
#include "support/harness.h"

using namespace device_platform;
using sim::scope_spec;

namespace {

scope_spec endpoint(uint8_t bus, uint8_t dev, uint8_t fn) { return scope_spec{1, 0, bus, {{dev, fn}}}; }
scope_spec bridge(uint8_t bus, uint8_t dev, uint8_t fn) { return scope_spec{2, 0, bus, {{dev, fn}}}; }
scope_spec ioapic(uint8_t id, uint8_t bus = 0xF0) { return scope_spec{3, id, bus, {{31, 0}}}; }
scope_spec hpet(uint8_t bus, uint8_t dev, uint8_t fn) { return scope_spec{4, 0, bus, {{dev, fn}}}; }
scope_spec namespace_device(uint8_t id) { return scope_spec{5, id, 0, {{21, id}}}; }

}  // namespace

TEST(ScopeFunctions, EndpointAndBridgeScopesMustAnswer) {
  {
    bench b;  // no DRHD, and a DRHD with IOAPIC/HPET scopes only: nothing examined
    b.dmar.drhd(1, 0, 0xFED91000, {ioapic(2), hpet(0, 31, 0)});
    auto out = b.evaluate({28, 29});
    EXPECT_EQ(out[28].result, TEST_PASS);
    EXPECT_EQ(out[29].result, TEST_PASS);
  }
  {
    bench b;
    b.device(0, 2, 0, 0x3E92, 0x03);
    b.dmar.drhd(0, 0, 0xFED90000, {endpoint(0, 2, 0)});
    EXPECT_EQ(b.evaluate(28).result, TEST_PASS);
  }
  {
    bench b;  // nothing at B0:D2:F0
    b.dmar.drhd(0, 0, 0xFED90000, {endpoint(0, 2, 0)});
    auto out = b.evaluate({28, 29});
    EXPECT_EQ(out[28].message, "PCI Device from Device Scope not enumerable : B0:D2:F0\n");
    EXPECT_EQ(out[29].result, TEST_PASS) << "endpoint scopes are test 28's only";
  }
  {
    bench b;  // the message shows the path bytes as stored; the read masks them
    b.device(0, 2, 0, 0x3E92, 0x03);
    b.dmar.drhd(0, 0, 0xFED90000, {endpoint(0, 2 | 0x20, 0)});
    EXPECT_EQ(b.evaluate(28).result, TEST_PASS);
    bench c;
    c.dmar.drhd(0, 0, 0xFED90000, {endpoint(1, 0x23, 9)});
    EXPECT_EQ(c.evaluate(28).message, "PCI Device from Device Scope not enumerable : B1:D35:F9\n");
  }
}

TEST(ScopeFunctions, BridgeScopesNameBridges) {
  auto run = [](uint8_t header, std::vector<sim::path_entry> path, bool present = true) {
    bench b;
    if (present) b.device(0, 28, 0, 0xA33C, 0x06, 0x04, 0, header);
    b.dmar.drhd(0, 0, 0xFED90000, {scope_spec{2, 0, 0, path}});
    return b.evaluate({28, 29});
  };
  EXPECT_EQ(run(0x01, {{28, 0}})[29].result, TEST_PASS);
  EXPECT_EQ(run(0x81, {{28, 0}})[29].result, TEST_PASS) << "bit 7 (multi-function) is ignored";
  auto endpoint_header = run(0x00, {{28, 0}});
  EXPECT_EQ(endpoint_header[29].message, "PCI Device (DID = 0xA33C) must have header value of 1.\n");
  EXPECT_EQ(endpoint_header[28].result, TEST_PASS);
  EXPECT_EQ(run(0x00, {{28, 0}, {0, 0}})[29].result, TEST_PASS) << "two path entries: header not checked";
  auto absent = run(0x01, {{28, 0}}, false);
  EXPECT_EQ(absent[29].message, "PCI Device (DID = 0xFFFF) is not enumerable.\n");
  EXPECT_EQ(absent[28].result, TEST_FAIL);
  // A bridge scope without any path entry names no function: skipped.
  EXPECT_EQ(run(0x00, {}, false)[29].result, TEST_PASS);
}

TEST(ScopeFunctions, NotApplicableFlags) {
  bench b;
  b.dmar.drhd(0, 0, 0xFED90000, {bridge(0, 28, 0)});
  set_not_applicable(&b.tinfo, 28);
  set_not_applicable(&b.tinfo, 29);
  auto out = b.evaluate({28, 29});
  EXPECT_EQ(out[28].result, TEST_NA);
  EXPECT_EQ(out[29].result, TEST_NA);
}

TEST(IncludePciAll, ScopeTypesAndCount) {
  const char* scopes_msg =
      "DRHD with INCLUDE_PCI_ALL set must include only IOxAPIC and MSI Capable HPET in its device scope structures.\n";
  const char* count_msg = "There should only be 1 DRHD with INCLUDE_PCI_ALL flag set.\n";
  {
    bench b;
    b.dmar.drhd(0, 0, 0xFED90000, {endpoint(0, 2, 0)});  // unflagged: any scope
    b.dmar.drhd(1, 0, 0xFED91000, {ioapic(2), hpet(0, 31, 0), namespace_device(1)});
    auto out = b.evaluate({43, 44});
    EXPECT_EQ(out[43].result, TEST_PASS);
    EXPECT_EQ(out[44].result, TEST_PASS);
  }
  for (uint8_t bad : {0, 1, 2}) {
    bench b;
    b.dmar.drhd(1, 0, 0xFED91000, {ioapic(2), scope_spec{bad, 0, 0, {{3, 0}}}});
    EXPECT_EQ(b.evaluate(43).message, scopes_msg) << (int)bad;
  }
  {
    bench none;
    EXPECT_EQ(none.evaluate(44).message, count_msg) << "no DRHD at all";
    bench unflagged;
    unflagged.dmar.drhd(0, 0, 0xFED90000);
    EXPECT_EQ(unflagged.evaluate(44).result, TEST_FAIL);
    bench two;
    two.dmar.drhd(1, 0, 0xFED90000).drhd(3, 0, 0xFED91000);  // other flag bits do not matter
    EXPECT_EQ(two.evaluate(44).message, count_msg);
  }
}

TEST(ScopeUnique, RequestIdsAcrossDrhdsAndTypes) {
  const char* dup_msg = "All Device Scopes under DRHD's must be unique.\n";
  {
    bench b;
    b.dmar.drhd(0, 0, 0xFED90000, {endpoint(0, 2, 0)});
    b.dmar.drhd(1, 0, 0xFED91000, {endpoint(0, 2, 0)});
    EXPECT_EQ(b.evaluate(47).message, dup_msg);
  }
  {
    bench b;  // IOAPIC B240:D31:F0 and an endpoint with the same path
    b.dmar.drhd(1, 0, 0xFED91000, {ioapic(2), endpoint(0xF0, 31, 0)});
    EXPECT_EQ(b.evaluate(47).message, dup_msg);
  }
  {
    bench b;  // a scope with two path entries: both stored and compared
    b.dmar.drhd(0, 0, 0xFED90000, {scope_spec{2, 0, 0, {{28, 0}, {0, 0}}, 10}});
    b.dmar.drhd(1, 0, 0xFED91000, {endpoint(0, 0, 0)});
    EXPECT_EQ(b.evaluate(47).message, dup_msg);
  }
}

TEST(ScopeUnique, FullEnumerationWithoutIncludePciAllCountsScopes) {
  const char* count_msg =
      "No DRHD found with INCLUDE_PCI_ALL flag bit set, thus all PCI device must be enumerated in Device Scopes.\n";
  // 3 functions and 3 scopes naming other functions: the counts match.
  bench b;
  b.device(0, 0, 0, 1, 0x06);
  b.device(0, 2, 0, 2, 0x03);
  b.device(0, 3, 0, 3, 0x02);
  b.dmar.drhd(0, 0, 0xFED90000, {endpoint(0, 7, 0), endpoint(0, 8, 0), ioapic(2)});
  EXPECT_EQ(b.evaluate(47).result, TEST_PASS);
  b.device(0, 4, 0, 4, 0x02);
  EXPECT_EQ(b.evaluate(47).message, count_msg);
  // No DRHD, functions present: the counts differ.
  bench c;
  c.device(0, 0, 0, 1, 0x06);
  EXPECT_EQ(c.evaluate(47).message, count_msg);
  bench empty;
  EXPECT_EQ(empty.evaluate(47).result, TEST_PASS);
}

TEST(ScopeUnique, CountsRestingOnAnIncompleteScanAreNotAVerdict) {
  // More allocations than the scan takes: the functions of the rest are
  // unknown, so neither a match nor a mismatch of the counts is a verdict.
  bench b;
  b.device(0, 0, 0, 1, 0x06);
  b.dmar.drhd(0, 0, 0xFED90000, {endpoint(0, 7, 0)});
  b.mcfg.assign(MCFG_SCAN_MAX_ALLOCATIONS, {ECAM, 0, 0, 0});
  EXPECT_EQ(b.evaluate(47).result, TEST_FAIL) << "every allocation scanned: 256 functions against 1 scope";
  b.mcfg.push_back({ECAM, 0, 0, 0});
  outcome o = b.evaluate(47);
  EXPECT_EQ(o.result, TEST_WARNING);
  EXPECT_EQ(o.message, "Only the first 256 of the 257 MCFG allocation structures were scanned for PCI functions.\n");
}

TEST(ScopeUnique, TableAllocationFailureIsNotAPass) {
  bench b;
  b.dmar.drhd(1, 0, 0xFED91000, {ioapic(2)});
  bench probe;
  probe.dmar.drhd(1, 0, 0xFED91000, {ioapic(2)});
  probe.evaluate(39);
  b.m.fail_allocation_at = (int64_t)probe.m.allocations;
  auto o = b.evaluate(47);
  EXPECT_EQ(o.status, 1u);
  EXPECT_EQ(o.result, TEST_MISSING);
  EXPECT_EQ(b.console, "Memory Allocation error in assertion #47\n");
}

TEST(GraphicsScope, ScopesOfTheGraphicsEngine) {
  auto run = [](std::vector<scope_spec> scopes, uint64_t gfx_bar = 0xFED90001) {
    bench b;
    b.dmar.drhd(0, 0, 0xFED90000, scopes);
    b.dmar.drhd(1, 0, 0xFED91000, {endpoint(0, 5, 0)});
    b.tinfo.remap_bar_count = 2;
    b.tinfo.bars[0] = {gfx_bar, BAR_TYPE_IGFX};
    b.tinfo.bars[1] = {0xFED91001, BAR_TYPE_DEFAULT};
    return b.evaluate(48);
  };
  EXPECT_EQ(run({endpoint(0, 2, 0)}).result, TEST_PASS);
  EXPECT_EQ(run({endpoint(0, 2, 0), endpoint(0, 2, 0)}).result, TEST_PASS);
  EXPECT_EQ(run({endpoint(0, 2, 1)}).message, "iGFX DRHD Device Scope(s) incorrect.\n");
  EXPECT_EQ(run({endpoint(1, 2, 0)}).result, TEST_FAIL);
  EXPECT_EQ(run({scope_spec{1, 0, 0, {{2, 0}, {2, 1}}, 10}}).result, TEST_PASS) << "entry k names function k";
  // No DRHD at the graphics engine's address: nothing examined.
  EXPECT_EQ(run({endpoint(0, 2, 1)}, 0xFED80001).result, TEST_PASS);
}

TEST(IoapicScopes, DuplicateIdsWithinOneDrhd) {
  auto run = [](std::vector<std::vector<scope_spec>> drhds) {
    bench b;
    uint64_t base = 0xFED90000;
    for (auto& s : drhds) b.dmar.drhd(0, 0, base += 0x1000, s);
    return b.evaluate(53);
  };
  EXPECT_EQ(run({{ioapic(2), ioapic(2)}}).message, "Duplicate IO APIC id is found in DRHD device scope structures.\n");
  EXPECT_EQ(run({{ioapic(2), ioapic(3)}}).result, TEST_PASS);
  EXPECT_EQ(run({{ioapic(2)}, {ioapic(2)}}).result, TEST_PASS);
  EXPECT_EQ(run({{ioapic(2), hpet(0, 31, 0)}}).result, TEST_PASS);
  // More than twenty IOAPICs in one DRHD: every ID takes part.
  std::vector<scope_spec> many;
  for (uint8_t id = 1; id <= 24; id++) many.push_back(ioapic(id));
  EXPECT_EQ(run({many}).result, TEST_PASS);
  many.push_back(ioapic(24));
  EXPECT_EQ(run({many}).result, TEST_FAIL);
}

TEST(HpetScopes, RequestIdsAndCount) {
  auto run = [](std::vector<scope_spec> scopes, std::vector<uint16_t> pch, std::vector<scope_spec> second = {}) {
    bench b;
    b.dmar.drhd(1, 0, 0xFED91000, scopes);
    if (!second.empty()) b.dmar.drhd(0, 0, 0xFED90000, second);
    b.tinfo.hpet_count = (uint32_t)pch.size();
    for (size_t i = 0; i < pch.size() && i < PCH_HPET_REQIDS; i++) b.tinfo.pch_hpet_reqid[i] = pch[i];
    return b.evaluate(54);
  };
  std::vector<uint16_t> eight(8, 0x00F8);
  EXPECT_EQ(run({hpet(0, 31, 0)}, eight).result, TEST_PASS);
  auto last_differs = eight;
  last_differs[7] = 0x00F9;
  EXPECT_EQ(run({hpet(0, 31, 7)}, last_differs).message, "All Request IDs for HPET must be identical.\n");
  EXPECT_EQ(run({hpet(0, 31, 0), hpet(0, 31, 0)}, eight).message,
            "There should be only 1 device scope of HPET type (0x04).\n");
  EXPECT_EQ(run({hpet(0, 31, 0)}, eight, {hpet(0, 31, 0)}).result, TEST_FAIL) << "across DRHDs";
  EXPECT_EQ(run({hpet(0, 31, 1)}, eight).message, "HPET Device Scope request ID must match PCH HPET request ID\n");
  EXPECT_EQ(run({}, eight).result, TEST_PASS);
  EXPECT_EQ(run({scope_spec{4, 0, 0, {}}}, eight).result, TEST_PASS) << "no path entry";
  EXPECT_EQ(run({hpet(0, 31, 0)}, {0x00F8}).result, TEST_PASS);
  // No PCH request ID known: nothing to compare with.
  EXPECT_EQ(run({hpet(0, 31, 1)}, {}).result, TEST_PASS);
  EXPECT_EQ(run({hpet(0, 31, 0), hpet(0, 31, 0)}, {}).result, TEST_FAIL);

  bench flagged;
  set_not_applicable(&flagged.tinfo, 54);
  set_not_applicable(&flagged.tinfo, 53);
  auto out = flagged.evaluate({53, 54});
  EXPECT_EQ(out[53].result, TEST_NA);
  EXPECT_EQ(out[54].result, TEST_MISSING);
}

TEST(NamespaceDevices, AnddAndScopeMatrix) {
  const char* no_scope = "ANDD Structure does not have corresponding Device Scope.\n";
  const char* no_andd_at_all =
      "There should not be any device scope with Type 0x5 ACPI_NameSpace_Device if there is no ANDD structure.\n";
  const char* no_andd = "Device Scope does not have corresponding ANND structure.\n";
  struct row {
    std::vector<uint8_t> andds;
    std::vector<uint8_t> scopes;
    const char* m59;
    const char* m60;
    const char* m61;
  } rows[] = {
      {{}, {}, nullptr, nullptr, nullptr},
      {{1}, {1}, nullptr, nullptr, nullptr},
      {{1}, {}, no_scope, nullptr, nullptr},
      {{}, {2}, nullptr, no_andd_at_all, no_andd},
      {{1}, {2}, no_scope, nullptr, no_andd},
      {{1}, {1, 1}, nullptr, nullptr, nullptr},
      {{1, 2}, {2, 1}, nullptr, nullptr, nullptr},
  };
  for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
    bench b;
    std::vector<scope_spec> scopes{ioapic(2)};
    for (uint8_t id : rows[i].scopes) scopes.push_back(namespace_device(id));
    b.dmar.drhd(1, 0, 0xFED91000, scopes);
    for (uint8_t n : rows[i].andds) b.dmar.andd(n, "\\_SB.DEV" + std::to_string(n));
    auto out = b.evaluate({59, 60, 61});
    const char* expected[] = {rows[i].m59, rows[i].m60, rows[i].m61};
    uint64_t ids[] = {59, 60, 61};
    for (int k = 0; k < 3; k++) {
      EXPECT_EQ(out[ids[k]].result, expected[k] ? TEST_FAIL : TEST_PASS) << "row " << i << " test " << ids[k];
      if (expected[k]) EXPECT_EQ(out[ids[k]].message, expected[k]) << "row " << i;
    }
  }
}
