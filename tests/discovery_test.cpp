// ACPI collection, remapping-structure lists, PCI inventory and teardown.
#include <algorithm>
#include <cstring>

#include "catalogue/catalogue.h"
#include "discovery/acpi.h"
#include "discovery/pci_inventory.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "engine/test_info.h"
#include "platform/sim/platform_dir.h"
#include "support/harness.h"

using namespace testing_support;
using sim::bytes;

namespace {

struct collected {
  acpi_tables_t tables{};
  test_info_t tinfo{};
  uint64_t status = 0;
};

// Collects on m (the catalogue is added when missing) and keeps the
// results until free_all(); the machine must stay active meanwhile.
collected collect(sim::machine& m) {
  if (!m.files.count(u"zyr-tests")) add_catalogue(m);
  collected c;
  c.status = collect_test_data(&c.tables, &c.tinfo);
  return c;
}

void free_all(sim::machine& m, collected& c) {
  free_test_data(&c.tables);
  EXPECT_TRUE(list_empty(drhd_list) && list_empty(rmrr_list) && list_empty(atsr_list) && list_empty(rhsa_list) &&
              list_empty(andd_list) && list_empty(satc_list) && list_empty(sidp_list) && list_empty(pci_dev_list) &&
              list_empty(test_case_list));
  EXPECT_TRUE(m.live_allocations.empty()) << m.live_allocations.size() << " pool blocks left";
  EXPECT_EQ(m.bad_frees, 0u);
}

bytes simple_dmar() { return sim::dmar_builder().drhd(1, 0, 0xFED90000).build(); }

bytes table_with_signature(const char* sig, uint8_t marker) {
  bytes t = sim::acpi_header(sig);
  t.push_back(marker);
  return sim::finish_table(t);
}

}  // namespace

TEST(AcpiCollection, RootPointerFoundEachWay) {
  for (auto place : {sim::rsdp_place::configuration_table, sim::rsdp_place::legacy_bios_area, sim::rsdp_place::ebda}) {
    sim::machine m;
    m.install_acpi({simple_dmar(), sim::build_mcfg({{0xE0000000, 0, 0, 0}})}, place);
    sim::scoped_machine use(m);
    collected c = collect(m);
    EXPECT_EQ(c.status, 0u);
    ASSERT_NE(c.tables.dmar, nullptr) << (int)place;
    EXPECT_EQ(c.tables.dmar_len, simple_dmar().size());
    EXPECT_EQ(memcmp(c.tables.dmar, simple_dmar().data(), c.tables.dmar_len), 0);
    EXPECT_NE(c.tables.mcfg, nullptr);
    EXPECT_EQ(c.tables.madt, nullptr);
    EXPECT_EQ(c.tables.hpet_len, 0u);
    free_all(m, c);
  }
}

TEST(AcpiCollection, NoRootPointerMeansEveryTableAbsentButTheRunGoesOn) {
  sim::machine m;
  m.install_acpi({simple_dmar()}, sim::rsdp_place::none);
  sim::scoped_machine use(m);
  collected c = collect(m);
  EXPECT_EQ(c.status, 0u) << "an absent DMAR is reported by assertion 1, not by the collector";
  EXPECT_EQ(c.tables.dmar, nullptr);
  EXPECT_EQ(c.tinfo.dmar_calc_len, 48u);
  EXPECT_EQ(pcie_base, 0u);
  EXPECT_TRUE(list_empty(pci_dev_list));
  free_all(m, c);
}

TEST(AcpiCollection, FirstOfTwoTablesWithOneSignatureAndXsdtOnlyTablesAbsent) {
  sim::machine m;
  m.install_acpi({table_with_signature("HPET", 1), table_with_signature("HPET", 2)}, sim::rsdp_place::configuration_table,
                 {table_with_signature("APIC", 3)});
  sim::scoped_machine use(m);
  collected c = collect(m);
  ASSERT_NE(c.tables.hpet, nullptr);
  EXPECT_EQ(c.tables.hpet[36], 1);
  EXPECT_EQ(c.tables.madt, nullptr) << "a table listed only in the XSDT is not used";
  free_all(m, c);
}

TEST(AcpiCollection, RsdtAddressZeroIsNoTableAndAHugeLengthIsRefused) {
  sim::machine m;
  m.install_acpi({simple_dmar()});
  m.write32(0x7EFFF000 + 16, 0);  // RSDT address
  {
    sim::scoped_machine use(m);
    collected c = collect(m);
    EXPECT_EQ(c.tables.dmar, nullptr);
    free_all(m, c);
  }
  sim::machine m2;
  bytes hpet = sim::build_hpet(0);
  sim::put_le(hpet, 4, 0x1000001, 4);  // above the 16 MiB cap
  m2.install_acpi({simple_dmar(), hpet});
  sim::scoped_machine use(m2);
  uint32_t len = 7;
  uint8_t* copy = nullptr;
  EXPECT_EQ(find_acpi_table(ACPI_SIG_HPET, &len, &copy), ACPI_TABLE_NOT_COPIED);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(len, 7u);
  EXPECT_TRUE(contains(m2.console_text(),
                       "ERROR -- ACPI table HPET has an invalid Length (0x1000001), above the 16 MiB a table copy may "
                       "take.\n"));
  // Refusals: no place for the length, or a pointer already set.
  uint8_t dummy = 0;
  uint8_t* taken = &dummy;
  EXPECT_EQ(find_acpi_table(ACPI_SIG_DMAR, &len, &taken), 1u);
  EXPECT_EQ(taken, &dummy);
  EXPECT_EQ(find_acpi_table(ACPI_SIG_DMAR, nullptr, &copy), 1u);
  EXPECT_TRUE(m2.live_allocations.empty());
}

// A listed table whose Length is below its header is copied as the Length
// says (nothing more is read) and is present; the runs over such copies stay
// inside them (the sanitizer build checks the reads).
TEST(AcpiCollection, AListedTableShorterThanItsHeaderIsCopiedAsItsLengthSays) {
  for (uint32_t length : {0u, 2u, 6u, 0x20u}) {
    SCOPED_TRACE(length);
    std::vector<bytes> tables = {simple_dmar(), sim::acpi_header("MCFG"), sim::build_hpet(0), sim::acpi_header("APIC")};
    for (bytes& t : tables) sim::put_le(t, 4, length, 4);
    {
      sim::machine m;
      m.install_acpi(tables);
      sim::scoped_machine use(m);
      collected c = collect(m);
      EXPECT_EQ(m.console_text().find("WARNING"), std::string::npos) << m.console_text();
      for (uint32_t sig : {ACPI_SIG_DMAR, ACPI_SIG_MCFG, ACPI_SIG_APIC, ACPI_SIG_HPET}) {
        uint32_t len = 7;
        uint8_t* copy = nullptr;
        ASSERT_EQ(find_acpi_table(sig, &len, &copy), 0u);
        EXPECT_EQ(len, length);
        ASSERT_NE(copy, nullptr);
        uint32_t read_sig = 0;
        if (length >= 4) memcpy(&read_sig, copy, 4);
        if (length >= 4) EXPECT_EQ(read_sig, sig);
        FreePool(copy);
      }
      EXPECT_NE(c.tables.dmar, nullptr);
      EXPECT_EQ(c.tables.dmar_len, length);
      EXPECT_EQ(c.tables.hpet_len, length);
      free_all(m, c);
    }
    for (const char* args : {"-t", "-d", "-v"}) {
      sim::machine m;
      ASSERT_TRUE(sim::load_reference_platform("rav", m));
      auto& ct = m.configuration_table;
      ct.erase(std::remove_if(ct.begin(), ct.end(), [](const auto& e) { return guid_equal(e.first, ACPI_20_TABLE_GUID); }),
               ct.end());
      m.install_acpi(tables);
      auto r = run_iovet(m, {args});
      EXPECT_FALSE(contains(r.text, "DMAR Table not present.")) << r.text;
      EXPECT_FALSE(contains(r.text, "Missing MCFG")) << r.text;
    }
    // With the platform's own DMAR, every assertion and the verbose report
    // read the short MCFG, MADT and HPET.
    sim::platform_description p;
    ASSERT_TRUE(sim::load_reference_description("rav", p));
    for (auto& t : p.acpi)
      if (t.signature() == "MCFG" || t.signature() == "APIC" || t.signature() == "HPET") sim::put_le(t.bytes, 4, length, 4);
    for (const char* args : {"-d", "-v"}) {
      sim::machine m;
      sim::install_platform(p, m);
      add_catalogue(m);
      auto r = run_iovet(m, {args});
      EXPECT_FALSE(contains(r.text, "Missing MCFG")) << r.text;
      if (args[1] == 'v') EXPECT_TRUE(contains(r.text, "Zyr Test Status: ")) << r.text;
    }
  }
}

TEST(RemapLists, StructuresGoToTheirListsInTableOrder) {
  sim::dmar_builder d;
  d.drhd(0, 0, 0xA000).rmrr(0, 0x1000, 0x1FFF).drhd(1, 0, 0xB000).atsr(0, 0).rhsa(0xA000, 7).andd(1, "\\_SB.I2C0");
  d.satc(1, 0, {{1, 0, 0, {{2, 0}}}}).sidp(0, {{1, 0, 0, {{2, 0}}, -1, 0x1F}, {1, 0, 0, {{0xB, 0}}, -1, 0x1C}});
  bytes dmar = d.build();
  sim::machine m;
  sim::scoped_machine use(m);
  uint64_t len = 0;
  EXPECT_EQ(parse_remap_structures(byte_view(dmar.data(), dmar.size()), &len), 0u);
  EXPECT_EQ(len, dmar.size()) << "structures fill the table: the added-up length is its Length";
  EXPECT_EQ(list_count(drhd_list), 2u);
  EXPECT_EQ(list_count(rmrr_list), 1u);
  EXPECT_EQ(list_count(atsr_list), 1u);
  EXPECT_EQ(list_count(rhsa_list), 1u);
  EXPECT_EQ(list_count(andd_list), 1u);
  EXPECT_EQ(list_count(satc_list), 1u);
  ASSERT_EQ(list_count(sidp_list), 1u);
  EXPECT_EQ(list_last<remap_node_t>(sidp_list)->length, 24u) << "the node's copy holds the whole structure";
  EXPECT_EQ(list_last<remap_node_t>(sidp_list)->view().u8(SIDP_FIXED_SIZE + 8 + SCOPE_OFF_FLAGS), 0x1C);
  auto* second = *++each<remap_node_t>(drhd_list).begin();
  EXPECT_EQ(second->view().u64(DRHD_OFF_BASE), 0xB000u);
  EXPECT_EQ(list_last<rhsa_node_t>(rhsa_list)->view().u32(RHSA_OFF_PROXIMITY_DOMAIN), 7u);
  acpi_tables_t none{};
  free_test_data(&none);
  EXPECT_TRUE(m.live_allocations.empty());
}

TEST(RemapLists, EmptyTableGapsAndTheStructureLimit) {
  sim::machine m;
  sim::scoped_machine use(m);
  acpi_tables_t none{};
  uint64_t len = 0;
  bytes empty = sim::dmar_builder().build();
  EXPECT_EQ(parse_remap_structures(byte_view(empty.data(), empty.size()), &len), 0u);
  EXPECT_EQ(len, 48u);

  // A DMAR whose Length covers a trailing gap: added-up length differs.
  bytes gap = sim::dmar_builder().drhd(1, 0, 0xA000).build();
  gap.resize(gap.size() + 8, 0);
  sim::put_le(gap, 4, gap.size(), 4);
  // The gap reads as a structure of type 0 and Length 0: it is taken again
  // and again until the limit ends the walk.
  EXPECT_EQ(parse_remap_structures(byte_view(gap.data(), gap.size()), &len), 1u);
  EXPECT_TRUE(contains(m.console_text(), "ERROR -- DMAR Table: Remapping structures collection timed out.\n"));
  free_test_data(&none);

  for (int count : {101, 102}) {
    m.console.clear();
    sim::dmar_builder d;
    for (int i = 0; i < count; i++) d.rhsa(0xA000, (uint32_t)i);
    bytes t = d.build();
    uint64_t status = parse_remap_structures(byte_view(t.data(), t.size()), &len);
    EXPECT_EQ(status, count == 101 ? 0u : 1u) << count;
    EXPECT_EQ(list_count(rhsa_list), (uint64_t)count);
    EXPECT_EQ(contains(m.console_text(), "timed out"), count == 102);
    free_test_data(&none);
  }
  EXPECT_TRUE(m.live_allocations.empty());
}

TEST(RemapLists, TypeAboveSixFailsTheWalkAndTheCollection) {
  sim::machine m;
  bytes type7(8, 0);
  type7[0] = 7;
  type7[2] = 8;
  m.install_acpi({sim::dmar_builder().drhd(1, 0, 0xA000).satc(0, 0).raw(type7).drhd(0, 0, 0xB000).build()});
  add_catalogue(m);
  auto r = run_iovet(m);
  EXPECT_TRUE(contains(r.text, "Error -- DMAR Table: Detected invalid remapping structure type.\n"
                               "Application Exists. Error occurred collecting needed Zyr test data.\n"))
      << r.text;
  // Type 0x0100: the whole 16-bit field counts.
  sim::machine m2;
  bytes wide(8, 0);
  wide[1] = 1;
  wide[2] = 8;
  m2.install_acpi({sim::dmar_builder().raw(wide).build()});
  EXPECT_TRUE(contains(run_iovet(m2).text, "invalid remapping structure type"));
}

TEST(RemapLists, MalformedStructuresNeverReadOutsideTheTable) {
  sim::machine m;
  sim::scoped_machine use(m);
  acpi_tables_t none{};
  uint64_t len = 0;
  // A DRHD that claims 0x200 bytes in a table that ends after 24 of them.
  bytes t = sim::dmar_builder().drhd(1, 0, 0xA000, {{3, 2, 0xF0, {{31, 0}}}}).build();
  sim::put_le(t, 48 + 2, 0x200, 2);
  // The copy is exactly the table: a heap copy lets the sanitizer see any
  // read past it.
  std::vector<uint8_t> copy(t);
  EXPECT_EQ(parse_remap_structures(byte_view(copy.data(), copy.size()), &len), 0u);
  ASSERT_EQ(list_count(drhd_list), 1u);
  remap_node_t* drhd = list_last<remap_node_t>(drhd_list);
  EXPECT_EQ(drhd->length, 0x200u);
  EXPECT_EQ(drhd->view().u8(16 + 8 + 4), 0) << "bytes past the table stay zero in the copy";
  // A scope whose Length runs far past the structure: its path is walked
  // only while entries lie inside the structure.
  int scopes = 0, entries = 0;
  for_each_scope(drhd->view(), DRHD_FIXED_SIZE, [&](const device_scope_entry_t& s) {
    scopes++;
    for_each_path_entry(s, [&](int32_t, uint8_t, uint8_t, uint16_t) {
      entries++;
      return true;
    });
    return true;
  });
  EXPECT_EQ(scopes, (0x200 - 16) / 8);
  EXPECT_LE(entries, (0x200 - 16 - 6) / 2);
  free_test_data(&none);

  // Structures shorter than their fixed part have no device scopes.
  bytes tiny = sim::dmar_builder().raw(bytes{1, 0, 8, 0, 0, 0, 0, 0}).build();
  EXPECT_EQ(parse_remap_structures(byte_view(tiny.data(), tiny.size()), &len), 0u);
  int n = 0;
  for_each_scope(list_last<remap_node_t>(rmrr_list)->view(), RMRR_FIXED_SIZE, [&](const device_scope_entry_t&) {
    n++;
    return true;
  });
  EXPECT_EQ(n, 0);
  EXPECT_FALSE(rmrr_scope_has_rid(0));
  free_test_data(&none);

  // A table truncated inside a structure header: the missing bytes read as
  // a zero Length, and the limit ends the walk.
  bytes cut = sim::dmar_builder().drhd(1, 0, 0xA000).build();
  cut.resize(49);
  sim::put_le(cut, 4, 49, 4);
  EXPECT_EQ(parse_remap_structures(byte_view(cut.data(), cut.size()), &len), 1u);
  EXPECT_TRUE(contains(m.console_text(), "timed out"));
  free_test_data(&none);
  EXPECT_TRUE(m.live_allocations.empty());
}

TEST(RemapLists, RmrrScopeRequestIdQuery) {
  sim::machine m;
  sim::scoped_machine use(m);
  bytes t = sim::dmar_builder()
                .rmrr(0, 0x1000, 0x1FFF, {{1, 0, 0, {{0x14, 0}}}})
                .rmrr(0, 0x2000, 0x2FFF, {{2, 0, 3, {{0x1C, 4}, {0, 1}}, 10}})
                .build();
  uint64_t len = 0;
  ASSERT_EQ(parse_remap_structures(byte_view(t.data(), t.size()), &len), 0u);
  EXPECT_TRUE(rmrr_scope_has_rid(0x00A0));
  EXPECT_FALSE(rmrr_scope_has_rid(0x00A1));
  // The second entry of a two-entry path counts on the scope's start bus;
  // only the first scope (8 bytes) is taken by the 8-byte walk.
  EXPECT_TRUE(rmrr_scope_has_rid(0x03E4));
  EXPECT_TRUE(rmrr_scope_has_rid(0x0301));
  acpi_tables_t none{};
  free_test_data(&none);
}

TEST(RequestId, Encoding) {
  EXPECT_EQ(request_id(0, 0x1F, 7), 0x00FF);
  EXPECT_EQ(request_id(0xF0, 0x1F, 0), 0xF0F8);
  EXPECT_EQ(request_id(0, 0xFF, 0xFF), 0x00FF) << "device and function are masked";
}

TEST(PciInventory, FunctionsBusesAndAllocations) {
  sim::machine m;
  m.pci(0, 0, 0, 0x8086, 0x1234);
  m.pci(0, 2, 0, 0x8086, 0x5916);
  m.pci(0, 2, 3, 0x8086, 0x1111);  // single-function device: not looked at
  auto& multi = m.pci(0, 0x14, 0, 0x8086, 0xA12F);
  multi.set8(0x0E, 0x80);
  m.pci(0, 0x14, 2, 0x8086, 0xA131);
  m.pci(0, 0x14, 5, 0x8086, 0xA132);
  m.pci(0x80, 0, 0, 0x10DE, 0x1C82);
  m.pci(0x81, 0, 0, 0x10DE, 0x1C83);  // beyond end_bus
  auto& silent0 = m.pci(0, 5, 1, 0x8086, 0x2222);  // function 0 absent
  (void)silent0;
  m.set_cpuid(1, 0x906EA);  // a known family: every allocation is scanned
  sim::scoped_machine use(m);
  reset_sources();
  bytes mcfg = sim::build_mcfg({{0xE0000000, 0, 0x80, 0x80}});
  EXPECT_EQ(build_pci_inventory(byte_view(mcfg.data(), mcfg.size())), 0u);
  EXPECT_EQ(pcie_base, 0xE0000000u);
  std::vector<uint16_t> rids;
  for (pci_dev_t* d : each<pci_dev_t>(pci_dev_list)) rids.push_back(d->rid());
  EXPECT_EQ(rids, (std::vector<uint16_t>{0x0000, 0x0010, 0x00A0, 0x00A2, 0x00A5, 0x8000}));
  acpi_tables_t none{};
  free_test_data(&none);

  bytes two = sim::build_mcfg({{0xE0000000, 0, 0, 0}, {0xD0000000, 1, 0, 0}});
  EXPECT_EQ(build_pci_inventory(byte_view(two.data(), two.size())), 0u);
  std::vector<std::pair<uint16_t, uint16_t>> seen;
  for (pci_dev_t* d : each<pci_dev_t>(pci_dev_list)) seen.push_back({d->segment, d->rid()});
  EXPECT_EQ(seen.size(), 10u);
  EXPECT_EQ(seen[0].first, 0);
  EXPECT_EQ(seen[5].first, 1);
  EXPECT_EQ(seen[5].second, 0x0000);
  free_test_data(&none);
  // Under the general rules the ports' segment 0 only: segment 1's
  // allocation would list segment 0's functions again.
  m.cpuid_leaves.clear();
  EXPECT_EQ(build_pci_inventory(byte_view(two.data(), two.size())), 0u);
  EXPECT_EQ(list_count(pci_dev_list), 5u);
  EXPECT_EQ(pci_inventory_other_segments, 1u);
  free_test_data(&none);

  bytes empty = sim::build_mcfg({});
  EXPECT_EQ(build_pci_inventory(byte_view(empty.data(), empty.size())), 0u);
  EXPECT_TRUE(list_empty(pci_dev_list));
  EXPECT_TRUE(m.live_allocations.empty());
}

TEST(Teardown, EveryListEmptyAndNoLeakAfterAFullCollection) {
  sim::machine m;
  m.install_acpi({sim::dmar_builder().drhd(1, 0, 0xA000).rmrr(0, 0x1000, 0x1FFF).atsr(0, 0).rhsa(0xA000, 0).andd(1, "X").build(),
                  sim::build_mcfg({{0xE0000000, 0, 0, 0}}), sim::build_madt({sim::madt_ioapic(2, 0xFEC00000, 0)}),
                  sim::build_hpet(0)});
  m.pci(0, 0, 0, 0x8086, 0x1234);
  sim::scoped_machine use(m);
  collected c = collect(m);
  EXPECT_EQ(c.status, 0u);
  EXPECT_FALSE(list_empty(test_case_list));
  free_all(m, c);
  EXPECT_EQ(c.tables.dmar, nullptr);
}

// A listed table that cannot be copied, because its Length is above the cap
// or the pool cannot hold it, is not called absent: the collection fails
// with the table's own error line and no check runs on it.
TEST(AcpiCollection, AListedTableThatCannotBeCopiedFailsTheCollection) {
  for (bool too_long : {true, false}) {
    SCOPED_TRACE(too_long ? "Length above 16 MiB" : "pool exhausted");
    sim::machine m;
    ASSERT_TRUE(sim::load_reference_platform("rav", m));
    if (too_long) {
      sim::platform_description p;
      ASSERT_TRUE(sim::load_reference_description("rav", p));
      for (auto& t : p.acpi)
        if (t.signature() == "DMAR") sim::put_le(t.bytes, 4, 0x1000001, 4);
      m = sim::machine();
      sim::install_platform(p, m);
      add_catalogue(m);
    } else {
      m.fail_allocation_at = 0;  // the first allocation is the DMAR's copy
    }
    auto r = run_iovet(m, {"-t"});
    EXPECT_TRUE(contains(r.text, too_long ? "ERROR -- ACPI table DMAR has an invalid Length (0x1000001), above the 16 MiB"
                                          : "ERROR -- ACPI table DMAR: Out of memory while copying its 0x"))
        << r.text;
    EXPECT_TRUE(contains(r.text, "Application Exists. Error occurred collecting needed Zyr test data.\n")) << r.text;
    EXPECT_FALSE(contains(r.text, "not present")) << r.text;
    EXPECT_FALSE(contains(r.text, "Zyr Test Status: ")) << r.text;
    EXPECT_EQ(r.status, 0u);
    EXPECT_TRUE(m.live_allocations.empty());
  }
}
