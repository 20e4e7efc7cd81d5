#include "support/dmar_platform.h"

#include "catalogue/catalogue.h"
#include "discovery/remap_lists.h"
#include "platform/print.h"
#include "support/harness.h"

namespace dmar_platform {

sim::pci_function& platform::pci_with_caps(uint8_t b, uint8_t d, uint8_t f, uint16_t vendor, uint16_t device,
                                           const std::vector<std::pair<uint8_t, uint16_t>>& caps) {
  sim::pci_function& fn = m.pci(b, d, f, vendor, device);
  fn.set8(0x34, caps.empty() ? 0 : 0x40);
  for (size_t k = 0; k < caps.size(); k++) {
    uint32_t at = 0x40 + 0x10 * (uint32_t)k;
    uint8_t next = k + 1 < caps.size() ? (uint8_t)(at + 0x10) : 0;
    fn.set16(at, (uint16_t)(caps[k].first | next << 8));
    fn.set16(at + 2, caps[k].second);
  }
  return fn;
}

sim::dmar_builder platform::healthy_dmar() const {
  sim::dmar_builder d;
  d.flags = 1;
  d.drhd(0, 0, IGFX_ENGINE, igfx_scopes);
  d.drhd(1, 0, DEFAULT_ENGINE, default_scopes);
  d.rmrr(0, 0x7C000000, 0x7C0FFFFF, {{1, 0, 0, {{20, 0}}}});
  d.andd(1, "\\_SB.PCI0.I2C0");
  return d;
}

void make_healthy(platform& p) {
  p.igfx_scopes = {{1, 0, 0, {{2, 0}}}};
  p.default_scopes = {{3, 2, IOAPIC_BUS, {{31, 0}}}, {4, 0, 0, {{31, 0}}}, {5, 1, 0, {{21, 0}}}};
  p.madt = {sim::madt_local_apic(0, 0), sim::madt_ioapic(2, 0xFEC00000, 0)};
  p.hpet = sim::build_hpet(0);

  sim::machine& m = p.m;
  // A processor of a known family: the tables are judged by its rules.
  m.set_cpuid(1, 0x806C1);
  m.pci(0, 0, 0, 0x8086, 0x9A14);
  // iGFX: a vendor capability before the PCI Express one (integrated
  // endpoint), then MSI.
  p.pci_with_caps(0, 2, 0, 0x8086, 0x9A49, {{0x09, 0}, {0x10, 0x0092}, {0x05, 0}}).set32(0x08, 0x03000001);
  p.pci_with_caps(0, 20, 0, 0x8086, 0xA0ED, {{0x01, 0}, {0x05, 0}}).set32(0x08, 0x0C033001);
  p.pci_with_caps(0, 21, 0, 0x8086, 0xA0E8, {{0x01, 0}}).set32(0x08, 0x0C800001);
  m.pci(0, 31, 0, 0x8086, 0xA082).set32(0x08, 0x06010001);
  p.pci_with_caps(IOAPIC_BUS, 31, 0, 0x8086, 0x0D57, {{0x10, 0x0092}}).set32(0x08, 0x08002000);

  p.set_ecap(IGFX_ENGINE, HEALTHY_ECAP);
  p.set_ecap(DEFAULT_ENGINE, HEALTHY_ECAP);
  for (uint32_t n = 0; n < 8; n++) m.write64(HPET_TIMER0 + 32 * n, 0x00F0000000008030ull);

  test_info_t& t = p.tinfo;
  t = test_info_t{};
  t.cs_hpa = t.cs_gpa = 39;
  t.zyrd_supported = 1;
  t.remap_bar_count = 2;
  t.bars[0] = {IGFX_ENGINE | 1, BAR_TYPE_IGFX};
  t.bars[1] = {DEFAULT_ENGINE | 1, BAR_TYPE_DEFAULT};
  t.ioxapic_reqid = IOAPIC_RID;
  t.hptc_reg = 0x80;
  t.hpet_addr = HPET_TIMER0;
  t.hpet_count = 8;
  for (auto& r : t.pch_hpet_reqid) r = HPET_RID;
  t.igfx_present = 1;
}

bench::bench(platform& p, bool debug) : p_(p), use_(p.m), saved_debug_mask_(debug_mask) {
  if (!p.m.files.count(u"zyr-tests")) testing_support::add_catalogue(p.m);
  std::vector<sim::bytes> acpi;
  if (p.has_dmar) acpi.push_back((p.custom_dmar ? p.dmar : p.healthy_dmar()).build());
  if (p.has_mcfg) acpi.push_back(sim::build_mcfg(p.mcfg));
  if (p.has_madt) acpi.push_back(sim::build_madt(p.madt));
  if (!p.hpet.empty()) acpi.push_back(p.hpet);
  p.m.install_acpi(acpi);
  collect_status = collect_test_data(&tables, &tinfo);
  uint64_t calc = tinfo.dmar_calc_len;
  tinfo = p.tinfo;
  tinfo.dmar_calc_len = calc;
  debug_mask = debug ? 0xFFFFFFFF : 0;
}

bench::~bench() {
  free_test_data(&tables);
  debug_mask = saved_debug_mask_;
}

outcome bench::run(assertion_fn f, uint64_t id) {
  p_.m.console.clear();
  outcome o;
  o.status = f(&tables, &tinfo);
  if (test_case_t* tc = find_test_case(id)) {
    o.result = tc->result;
    o.message = sim::to_utf8(tc->message);
  }
  o.console = p_.m.console_text();
  return o;
}

const std::vector<assertion_entry> dmar_assertions = {
    {1, assert_dmar_presence},           {3, assert_drhd_bars},
    {4, assert_dmar_size},               {5, assert_reserved_fields},
    {8, assert_ir_matches_flag},         {9, assert_ir_consistent},
    {10, assert_ir_all_when_flag},       {11, assert_segments_reported},
    {12, assert_segments_valid},         {13, assert_scope_buses_valid},
    {14, assert_request_ids_unique},     {15, assert_engines_reported},
    {17, assert_scope_ioxapics_in_madt}, {18, assert_ioxapic_request_id},
    {19, assert_hpet_scopes},            {20, assert_hpet_request_id},
    {21, assert_madt_ioxapics_in_scopes}, {22, assert_hpet_reported},
    {23, assert_include_pci_all_last},   {24, assert_scope_types},
    {25, assert_ioxapic_class_code},     {26, assert_ioxapic_rciep},
    {27, assert_endpoint_rciep},
};

std::map<uint64_t, outcome> run_all(platform& p) {
  bench b(p);
  std::map<uint64_t, outcome> all;
  for (const auto& e : dmar_assertions) all[e.id] = b.run(e.fn, e.id);
  return all;
}

}  // namespace dmar_platform
