// Every DMAR of the real-firmware corpus through the device, memory and
// engine assertions, on a simulated platform built around it (its MCFG
// where it has one, an engine at each DRHD base, a function behind every
// single-entry scope, a memory map that reserves each RMRR). No run may
// crash, hang or leave pool memory behind, and every assertion records a
// result; the corpus' odd RMRRs get their messages.
#include <dirent.h>

#include <algorithm>

#include "catalogue/catalogue.h"
#include "discovery/dmar.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "support/device_platform.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

const std::string corpus_dir = std::string(IOVET_SOURCE_DIR) + "/../shared/corpus";

std::vector<std::string> corpus_machines() {
  std::vector<std::string> names;
  if (DIR* d = opendir(corpus_dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name[0] != '.' && !read_file(corpus_dir + "/" + name + "/DMAR.dat").empty()) names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void build_platform(const std::string& dir, sim::machine& m, test_info_t& t) {
  std::string raw = read_file(dir + "/DMAR.dat");
  sim::bytes dmar(raw.begin(), raw.end());
  std::vector<sim::bytes> acpi{dmar};
  std::string mcfg = read_file(dir + "/MCFG.dat");
  if (!mcfg.empty()) {
    acpi.emplace_back(mcfg.begin(), mcfg.end());
    if (mcfg.size() >= 52) {
      uint64_t base = 0;
      for (int i = 7; i >= 0; i--) base = base << 8 | (uint8_t)mcfg[44 + i];
      m.ecam_base = base;
    }
  }
  m.install_acpi(acpi);
  add_catalogue(m);
  m.set_cpuid(1, 0x906EA, 0, 1u << 5, 0);
  m.set_cpuid(0x80000008, 39);
  m.set_msr(0x3A, 5);

  t = test_info_t{};
  t.cs_hpa = t.cs_gpa = 39;
  t.hpet_count = 8;
  t.igfx_present = 1;
  t.gfx_pasid_mask = 1ull << 28;
  for (auto& r : t.pch_hpet_reqid) r = 0x00F8;
  byte_view view(dmar.data(), dmar.size());
  for_each_remap_structure(view, DMAR_MAX_STRUCTURES, [&](byte_view s, uint32_t) {
    uint16_t type = remap_type(s);
    if (type == DMAR_TYPE_RMRR) {
      uint64_t base = s.u64(RMRR_OFF_BASE) & ~0xFFFull;
      uint64_t limit = s.u64(RMRR_OFF_LIMIT);
      if (limit >= base) m.add_memory(0, base, ((limit - base) >> 12) + 1);
    }
    if (type != DMAR_TYPE_DRHD) return true;
    uint64_t base = s.u64(DRHD_OFF_BASE) & ZYRD_BARONLY_MASK;
    if (t.remap_bar_count < MAX_REMAP_BARS) t.bars[t.remap_bar_count++] = {base | 1, BAR_TYPE_D7};
    device_platform::set_engine(m, base, 38ull << 16, 0xF0505Eull, 0x80000000);
    for_each_scope(s, DRHD_FIXED_SIZE, [&](const device_scope_entry_t& sc) {
      if (sc.path_count() == 1 && !m.has_pci(sc.StartingBusNumber(), sc.path_device(0) & 0x1F, sc.path_function(0) & 7))
        m.pci(sc.StartingBusNumber(), sc.path_device(0) & 0x1F, sc.path_function(0) & 7, 0x8086, 0x1000).set8(0x0B, 0x03);
      return true;
    });
    return true;
  });
  if (t.remap_bar_count) t.bars[t.remap_bar_count - 1].type = BAR_TYPE_DEFAULT;
  if (t.remap_bar_count > 1) t.bars[0].type = BAR_TYPE_IGFX;
}

std::map<uint64_t, device_platform::outcome> run_machine(const std::string& name) {
  sim::machine m;
  m.operation_limit = 20000000;
  test_info_t info;
  build_platform(corpus_dir + "/" + name, m, info);
  std::map<uint64_t, device_platform::outcome> out;
  sim::run_result r = sim::call(m, [&] {
    acpi_tables_t tables{};
    test_info_t tinfo{};
    collect_test_data(&tables, &tinfo);
    uint64_t calc = tinfo.dmar_calc_len;
    tinfo = info;
    tinfo.dmar_calc_len = calc;
    for (const auto& [id, fn] : device_platform::device_assertions()) {
      device_platform::outcome o;
      o.status = fn(&tables, &tinfo);
      if (test_case_t* tc = find_test_case(id)) {
        o.result = tc->result;
        o.message = sim::to_utf8(tc->message);
      }
      out[id] = o;
    }
    free_test_data(&tables);
  });
  EXPECT_FALSE(r.watchdog) << name << ": the run did not end";
  EXPECT_FALSE(r.exited) << name;
  EXPECT_EQ(r.leaked_allocations, 0u) << name;
  EXPECT_EQ(m.bad_frees, 0u) << name;
  return out;
}

}  // namespace

TEST(CorpusDevice, EveryTableRunsAndEveryAssertionRecordsAResult) {
  std::vector<std::string> names = corpus_machines();
  if (names.empty()) GTEST_SKIP() << "no corpus at " << corpus_dir;
  for (const std::string& name : names) {
    auto out = run_machine(name);
    for (const auto& [id, o] : out) {
      EXPECT_EQ(o.status, 0u) << name << " assertion " << id;
      EXPECT_LE(o.result, TEST_WARNING) << name << " assertion " << id;
    }
  }
}

TEST(CorpusDevice, OddRmrrsOfTheCorpus) {
  if (corpus_machines().empty()) GTEST_SKIP() << "no corpus at " << corpus_dir;
  // An RMRR whose limit is one below its base.
  auto inverted = run_machine("clover-aquigni_ESP");
  EXPECT_EQ(inverted[40].result, TEST_FAIL);
  EXPECT_TRUE(contains(inverted[40].message, "does not describe a region.\n")) << inverted[40].message;
  // An RMRR of 0x0 to 0x0.
  auto one_byte = run_machine("linuxhw-795F37601A0A");
  EXPECT_EQ(one_byte[40].message, "RMMR size must be multiple of 4KB.\n");
}
