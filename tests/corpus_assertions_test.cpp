// Every DMAR of the real-firmware corpus through the DMAR and
// interrupt-remapping assertions, on a simulated platform built around it:
// an engine at each DRHD base address (interrupt remapping supported), the
// corpus machine's MCFG, MADT and HPET where it has them, a present
// root-complex integrated endpoint behind every single-entry PCI endpoint
// and IOAPIC scope, and a PCH with the usual IOxAPIC and HPET request IDs
// and eight edge-triggered timers. No run may crash, hang or leave pool
// memory behind; the result word of every assertion is compared with
// tests/data/corpus-results.txt (IOVET_UPDATE_EXPECTATIONS=1 rewrites it).
#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "catalogue/catalogue.h"
#include "discovery/dmar.h"
#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"
#include "support/dmar_platform.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

const std::string corpus_dir = std::string(IOVET_SOURCE_DIR) + "/../shared/corpus";
const std::string expectation_file = repo_path("tests/data/corpus-results.txt");

constexpr uint64_t CORPUS_ECAP = 0x0000000000F0505Aull;  // interrupt remapping among others
constexpr uint16_t PCH_IOXAPIC = 0xF0F8;
constexpr uint16_t PCH_HPET = 0x00F8;
constexpr uint32_t HPET_TIMER0 = 0xFED00100;

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

void add_rciep(sim::machine& m, uint8_t bus, uint8_t dev, uint8_t fn, uint32_t class_dword) {
  if (m.has_pci(bus, dev, fn)) return;
  sim::pci_function& f = m.pci(bus, dev, fn, 0x8086, (uint16_t)(0x1000 + (bus ^ dev << 3 ^ fn)));
  f.set32(0x08, class_dword);
  f.set8(0x34, 0x40);
  f.set16(0x40, 0x0010);
  f.set16(0x42, 0x0092);
}

// Builds the platform around the corpus machine's tables.
void build_platform(const std::string& dir, sim::machine& m, test_info_t& t) {
  sim::bytes dmar = sim::bytes(0);
  std::string raw = read_file(dir + "/DMAR.dat");
  dmar.assign(raw.begin(), raw.end());
  std::vector<sim::bytes> acpi{dmar};
  for (const char* name : {"MCFG.dat", "APIC.dat", "HPET.dat"}) {
    std::string table = read_file(dir + "/" + name);
    if (!table.empty()) acpi.emplace_back(table.begin(), table.end());
  }
  m.install_acpi(acpi);
  add_catalogue(m);

  t = test_info_t{};
  t.zyrd_supported = 1;
  t.cs_hpa = t.cs_gpa = 39;
  t.ioxapic_reqid = PCH_IOXAPIC;
  t.hptc_reg = 0x80;
  t.hpet_addr = HPET_TIMER0;
  t.hpet_count = 8;
  for (auto& r : t.pch_hpet_reqid) r = PCH_HPET;
  for (uint32_t n = 0; n < 8; n++) m.write64(HPET_TIMER0 + 32 * n, 0x00F0000000008030ull);
  add_rciep(m, PCH_IOXAPIC >> 8, (PCH_IOXAPIC >> 3) & 0x1F, PCH_IOXAPIC & 7, 0x08002000);

  byte_view view(dmar.data(), dmar.size());
  for_each_remap_structure(view, DMAR_MAX_STRUCTURES, [&](byte_view s, uint32_t) {
    if (remap_type(s) != DMAR_TYPE_DRHD) return true;
    uint64_t base = s.u64(DRHD_OFF_BASE) & ZYRD_BARONLY_MASK;
    if (t.remap_bar_count < MAX_REMAP_BARS) {
      t.bars[t.remap_bar_count] = {base | 1, BAR_TYPE_D7};
      t.remap_bar_count++;
    }
    m.write64(base + 0x10, CORPUS_ECAP);
    for_each_scope(s, DRHD_FIXED_SIZE, [&](const device_scope_entry_t& sc) {
      if ((sc.Type() == SCOPE_PCI_ENDPOINT || sc.Type() == SCOPE_IOAPIC) && sc.path_count() == 1)
        add_rciep(m, sc.StartingBusNumber(), sc.path_device(0) & 0x1F, sc.path_function(0) & 7,
                  sc.Type() == SCOPE_IOAPIC ? 0x08002000 : 0x03000000);
      return true;
    });
    return true;
  });
  if (t.remap_bar_count) t.bars[t.remap_bar_count - 1].type = BAR_TYPE_DEFAULT;
}

std::string result_word(const dmar_platform::outcome& o) {
  if (o.status != 0) return "-";
  switch (o.result) {
    case TEST_PASS: return "PASS";
    case TEST_FAIL: return "FAIL";
    case TEST_NA: return "NA";
    case TEST_MISSING: return "MISSING";
    case TEST_WARNING: return "WARNING";
    default: return "?";
  }
}

// One corpus machine: its line of result words, or a line naming what went
// wrong with the run itself.
std::string run_machine(const std::string& name) {
  sim::machine m;
  m.operation_limit = 20000000;
  test_info_t platform_info;
  build_platform(corpus_dir + "/" + name, m, platform_info);
  std::string line = name;
  sim::run_result r = sim::call(m, [&] {
    acpi_tables_t tables{};
    test_info_t tinfo{};
    collect_test_data(&tables, &tinfo);
    uint64_t calc = tinfo.dmar_calc_len;
    tinfo = platform_info;
    tinfo.dmar_calc_len = calc;
    for (const auto& e : dmar_platform::dmar_assertions) {
      dmar_platform::outcome o;
      o.status = e.fn(&tables, &tinfo);
      if (test_case_t* tc = find_test_case(e.id)) o.result = tc->result;
      line += " " + std::to_string(e.id) + ":" + result_word(o);
    }
    free_test_data(&tables);
  });
  EXPECT_FALSE(r.watchdog) << name << ": the run did not end";
  EXPECT_FALSE(r.exited) << name;
  EXPECT_EQ(r.leaked_allocations, 0u) << name;
  EXPECT_EQ(m.bad_frees, 0u) << name;
  return line;
}

}  // namespace

TEST(CorpusAssertions, EveryTableRunsAndKeepsItsResults) {
  std::vector<std::string> names = corpus_machines();
  if (names.empty()) GTEST_SKIP() << "no corpus at " << corpus_dir;
  std::vector<std::string> lines;
  for (const std::string& name : names) lines.push_back(run_machine(name));

  const char* update = std::getenv("IOVET_UPDATE_EXPECTATIONS");
  if (update && std::string(update) == "1") {
    std::ofstream out(expectation_file, std::ios::binary);
    for (const std::string& l : lines) out << l << "\n";
    return;
  }
  std::vector<std::string> expected;
  {
    std::ifstream in(expectation_file);
    for (std::string l; std::getline(in, l);)
      if (!l.empty()) expected.push_back(l);
  }
  ASSERT_FALSE(expected.empty()) << expectation_file << " missing; run with IOVET_UPDATE_EXPECTATIONS=1";
  EXPECT_EQ(lines.size(), expected.size()) << "corpus and expectation file list different machines";
  int shown = 0;
  for (size_t i = 0; i < lines.size() && i < expected.size(); i++) {
    if (lines[i] != expected[i] && shown++ < 20) ADD_FAILURE() << "expected: " << expected[i] << "\n     got: " << lines[i];
  }
  EXPECT_EQ(shown, 0) << "machines whose results changed";
}
