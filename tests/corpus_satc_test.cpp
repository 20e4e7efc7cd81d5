// The corpus machines whose DMAR carries SATC and SIDP structures: on a
// simulated machine with that DMAR the collection succeeds, and -d prints
// every SATC and SIDP field and every field of their device scopes with the
// value the table's bytes hold there. The expected lines are written here
// from the bytes and the structures' layouts alone (the iasl at hand does
// not decode these two types).
#include <cstdio>

#include "discovery/table_walks.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

const char* const satc_sidp_machines[] = {
    "hwinfo-msi_claw8",     "surface-surface_laptop_6", "surface-surface_pro_10_business", "linuxhw-717EDB7C4975",
    "linuxhw-85078AD9A204", "linuxhw-85CAC5E8B9EA",     "linuxhw-A7910C2A6426",            "linuxhw-E9FB50149AEE",
    "linuxhw-F253BBB7B294", "linuxhw-FB643712B4A0",
};

// A dump line: the label in the 29-character column, then the
// little-endian value of the width bytes at off.
std::string line(const char* label, byte_view b, size_t off, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; i++) v |= (uint64_t)b.u8(off + i) << (8 * i);
  char text[80];
  snprintf(text, sizeof text, "%-29s0x%0*llX\n", label, (int)(2 * width), (unsigned long long)v);
  return text;
}

// What -d prints for a SATC (type 5) or SIDP (type 6): its fields, then its
// device scopes in 8-byte steps, each with its Flags byte and path entries.
std::string expected_lines(byte_view s) {
  bool satc = s.u16(0) == 5;
  std::string e = satc ? " --SATC\n" : " --SIDP\n";
  e += line(" Type", s, 0, 2) + line(" Length", s, 2, 2);
  e += satc ? line(" Flags", s, 4, 1) + line(" Reserved", s, 5, 1) : line(" Reserved", s, 4, 2);
  e += line(" SegmentNumber", s, 6, 2);
  for_each_scope(s, 8, [&](const device_scope_entry_t& scope) {
    byte_view b = scope.bytes;
    e += "  --Device Scope\n" + line("  Type", b, 0, 1) + line("  Length", b, 1, 1) + line("  Flags", b, 2, 1) +
         line("  Reserved", b, 3, 1) + line("  Enumeration ID", b, 4, 1) + line("  Start Bus Number", b, 5, 1);
    for (size_t j = 0; 8 + 2 * j <= (size_t)b.u8(1) && 8 + 2 * j <= b.size; j++) {
      char path[64];
      snprintf(path, sizeof path, "  PCI Path:                  D:%u F:%u\n", b.u8(6 + 2 * j), b.u8(7 + 2 * j));
      e += path;
    }
    return true;
  });
  return e + "\n";
}

}  // namespace

TEST(CorpusSatcSidp, CollectedAndEveryFieldDumpedAsTheTableHoldsIt) {
  const std::string corpus = IOVET_SOURCE_DIR "/../shared/corpus/";
  for (const char* name : satc_sidp_machines) {
    SCOPED_TRACE(name);
    std::string raw = read_file(corpus + name + "/DMAR.dat");
    if (raw.empty()) GTEST_SKIP() << "no corpus at " << corpus;
    sim::bytes dmar(raw.begin(), raw.end());
    std::string expected;
    size_t satc = 0, sidp = 0;
    for_each_remap_structure(byte_view(dmar.data(), dmar.size()), DMAR_MAX_STRUCTURES, [&](byte_view s, uint32_t) {
      if (s.u16(0) != 5 && s.u16(0) != 6) return true;
      (s.u16(0) == 5 ? satc : sidp)++;
      expected += expected_lines(s);
      return true;
    });
    EXPECT_GE(satc, 1u);
    EXPECT_GE(sidp, 1u);

    sim::machine m;
    m.install_acpi({dmar});
    add_catalogue(m);
    auto r = run_iovet(m, {"-d"});
    EXPECT_EQ(r.status, 0u);
    EXPECT_FALSE(contains(r.text, "Application Exists")) << r.text;
    // The SATC and SIDP close each of these tables.
    EXPECT_TRUE(contains(r.text, expected + "-- HPET --\n")) << "expected:\n" << expected << "\ngot:\n" << r.text;
  }
}
