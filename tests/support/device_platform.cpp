#include "support/device_platform.h"

#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "discovery/acpi.h"
#include "discovery/remap_lists.h"
#include "support/harness.h"

namespace device_platform {

const std::map<uint64_t, assertion_fn>& device_assertions() {
  static const std::map<uint64_t, assertion_fn> table = {
      {28, assert_scope_functions_exist}, {29, assert_bridge_scopes},   {39, assert_rmrr_scope_endpoints},
      {40, assert_rmrr_memory_map},       {41, assert_rmrr_paths},      {42, assert_usb_rmrr},
      {43, assert_include_pci_all_scopes}, {44, assert_one_include_pci_all}, {46, assert_address_widths},
      {47, assert_scopes_unique},         {48, assert_igfx_scopes},     {49, assert_memory_bars},
      {51, assert_smbios_vmx},            {52, assert_ir_ecap},         {53, assert_ioapic_ids_unique},
      {54, assert_hpet_scope_reqid},      {55, assert_vmx_locked},      {57, assert_default_snoop},
      {58, assert_policy_locked},         {59, assert_andd_has_scope},  {60, assert_namespace_needs_andd},
      {61, assert_scope_has_andd},        {63, assert_gfx_pasid},       {64, assert_gfx_prs},
      {65, assert_gfx_ext_caps},
  };
  return table;
}

bench::bench() {
  m.ecam_base = ECAM;
  m.set_cpuid(1, 0x906EA, 0, 1u << 5, 0);
  m.set_cpuid(0x80000008, 39);
  m.set_msr(0x3A, 0x5);
  dmar.host_address_width = 38;
  dmar.flags = 1;
}

sim::pci_function& bench::device(uint8_t b, uint8_t d, uint8_t f, uint16_t device_id, uint8_t base_class,
                                 uint8_t sub_class, uint8_t prog_if, uint8_t header_type) {
  sim::pci_function& fn = m.pci(b, d, f, 0x8086, device_id);
  fn.set8(0x09, prog_if);
  fn.set8(0x0A, sub_class);
  fn.set8(0x0B, base_class);
  fn.set8(0x0E, header_type);
  fn.set16(0x04, 0x0006);
  return fn;
}

std::map<uint64_t, outcome> bench::evaluate(const std::vector<uint64_t>& ids) {
  std::vector<sim::bytes> tables{dmar.build()};
  if (with_mcfg) tables.push_back(sim::build_mcfg(mcfg));
  tables.insert(tables.end(), extra_tables.begin(), extra_tables.end());
  // A second evaluation publishes the tables again (SMBIOS stays).
  auto& ct = m.configuration_table;
  for (size_t i = ct.size(); i-- > 0;)
    if (guid_equal(ct[i].first, ACPI_20_TABLE_GUID)) ct.erase(ct.begin() + (long)i);
  m.install_acpi(tables);
  if (!m.files.count(u"zyr-tests")) testing_support::add_catalogue(m);

  std::map<uint64_t, outcome> out;
  size_t console_before = m.console.size();
  {
    sim::scoped_machine use(m);
    acpi_tables_t t{};
    test_info_t collected{};
    EXPECT_EQ(collect_test_data(&t, &collected), 0u) << "the bench platform did not collect";
    test_info_t info = tinfo;
    info.dmar_calc_len = collected.dmar_calc_len;
    for (uint64_t id : ids) {
      outcome o;
      o.status = device_assertions().at(id)(&t, &info);
      if (test_case_t* tc = find_test_case(id)) {
        o.result = tc->result;
        o.message = sim::to_utf8(tc->message);
      }
      out[id] = o;
    }
    free_test_data(&t);
  }
  console.clear();
  for (size_t i = console_before; i < m.console.size(); i++) console += sim::to_utf8(m.console[i].text);
  EXPECT_TRUE(m.live_allocations.empty()) << m.live_allocations.size() << " pool blocks left";
  EXPECT_EQ(m.bad_frees, 0u);
  return out;
}

void set_engine(sim::machine& m, uint64_t base, uint64_t cap, uint64_t ecap, uint32_t policy) {
  m.write64(base + 0x08, cap);
  m.write64(base + 0x10, ecap);
  m.write32(base + 0xFF0, policy);
}

sim::bytes type131(uint32_t capability) {
  sim::bytes f(0x3C - 4, 0);
  sim::put_le(f, 0, capability, 4);
  f[0x38 - 4] = 'w';
  f[0x39 - 4] = 'K';
  f[0x3A - 4] = 'a';
  f[0x3B - 4] = 'm';
  return f;
}

void make_healthy(bench& b) {
  sim::machine& m = b.m;
  b.device(0, 0, 0, 0x3E30, 0x06);  // host bridge
  // Graphics: BAR at GFX_MMIO, extended capabilities ATS then PASID.
  auto& gfx = b.device(0, 2, 0, 0x3E92, 0x03);
  gfx.set32(0x10, (uint32_t)GFX_MMIO);
  gfx.set32(0x100, 0x000F | (1u << 16) | (0x200u << 20));
  gfx.set32(0x200, 0x001B | (1u << 16));
  // xHCI: 64-bit BAR, legacy support as the first extended capability.
  auto& xhci = b.device(0, 20, 0, 0xA36D, 0x0C, 0x03, 0x30);
  xhci.set32(0x10, (uint32_t)XHCI_MMIO | 0x4);
  xhci.set32(0x14, 0);
  m.write32(XHCI_MMIO + 0x10, 0x0500u << 16);  // xECP: 0x500 dwords
  m.write32(XHCI_MMIO + 0x500 * 4, 0x01 | (0x10u << 8));
  m.write32(XHCI_MMIO + 0x500 * 4 + 0x40, 0x02);
  // Root port to bus 1 and a network endpoint behind it.
  auto& rp = b.device(0, 28, 0, 0xA33C, 0x06, 0x04, 0, 1);
  rp.set8(0x18, 0);
  rp.set8(0x19, 1);
  rp.set8(0x1A, 1);
  auto& nic = b.device(1, 0, 0, 0x15B8, 0x02);
  nic.set32(0x10, (uint32_t)NIC_MMIO);
  b.device(0, 31, 0, 0xA305, 0x06, 0x01, 0, 0x80);  // LPC bridge

  // Engines: MGAW 39, ECAP with QI, IR, PRS and PASID, policy locked.
  uint64_t cap = (38ULL << 16);
  uint64_t ecap = (1ULL << 1) | (1ULL << 3) | (1ULL << 29) | GFX_PASID_BIT;
  set_engine(m, GFX_ENGINE, cap, ecap, 0x80000000);
  set_engine(m, DEFAULT_ENGINE, cap, (1ULL << 1) | (1ULL << 3), 0x80000000);

  using sim::scope_spec;
  b.dmar.drhd(0, 0, GFX_ENGINE, {scope_spec{1, 0, 0, {{2, 0}}}});
  b.dmar.drhd(1, 0, DEFAULT_ENGINE,
              {scope_spec{3, 2, IOAPIC_BUS, {{31, 0}}}, scope_spec{4, 0, (uint8_t)(HPET_RID >> 8), {{31, 0}}},
               scope_spec{5, 1, 0, {{21, 1}}}});
  b.dmar.rmrr(0, USB_RMRR_BASE, USB_RMRR_LIMIT, {scope_spec{1, 0, 0, {{20, 0}}}});
  b.dmar.rmrr(0, GFX_RMRR_BASE, GFX_RMRR_LIMIT, {scope_spec{1, 0, 0, {{2, 0}}}});
  b.dmar.andd(1, "\\_SB.PCI0.I2C1");

  m.add_memory(7, 0x100000, 0x7BF00);                         // conventional up to the RMRR
  m.add_memory(0, USB_RMRR_BASE, 0x100);                      // reserved: the USB RMRR exactly
  m.add_memory(6, 0x7C100000, 0xF00);                         // runtime data
  m.add_memory(0, 0x7F000000, 0x1000);                        // reserved
  m.install_smbios([] {
    sim::bytes t = sim::smbios_structure(131, 0x83, type131(0x31), {});
    sim::bytes e = sim::smbios_end(0xFEFF);
    t.insert(t.end(), e.begin(), e.end());
    return t;
  }());

  test_info_t& ti = b.tinfo;
  ti.cs_hpa = 39;
  ti.cs_gpa = 39;
  ti.remap_bar_count = 2;
  ti.bars[0] = {GFX_ENGINE | 1, BAR_TYPE_IGFX};
  ti.bars[1] = {DEFAULT_ENGINE | 1, BAR_TYPE_DEFAULT};
  ti.hpet_count = PCH_HPET_REQIDS;
  for (auto& r : ti.pch_hpet_reqid) r = HPET_RID;
  ti.igfx_present = 1;
  ti.gfx_prs = 1;
  ti.gfx_pasid_mask = GFX_PASID_BIT | (1ULL << 28);
}

}  // namespace device_platform
