// Table dumps (-d): layout, stop rules and bounds.
#include "discovery/acpi.h"
#include "report/report.h"
#include "support/harness.h"

using namespace testing_support;
using sim::bytes;

namespace {

// Runs f on a fresh machine (Exit unwinds back here).
sim::run_result dump_with(const std::function<void()>& f, int64_t fail_allocation_at = -1) {
  sim::machine m;
  m.fail_allocation_at = fail_allocation_at;
  sim::run_result r = sim::call(m, f);
  EXPECT_EQ(r.leaked_allocations, 0u);
  return r;
}

// The dump of a table handed over in a buffer of exactly its size, so that
// a read past it is caught by the sanitizer build.
sim::run_result dump_table(void (*dump)(byte_view), const bytes& table, int64_t fail_allocation_at = -1) {
  std::vector<uint8_t> copy(table);
  return dump_with([&] { dump(byte_view(copy.data(), copy.size())); }, fail_allocation_at);
}

std::string hex_dump(const bytes& b) {
  return dump_with([&] { dump_bytes(b.data(), b.size()); }).text;
}

bytes range(size_t n) {
  bytes b;
  for (size_t i = 0; i < n; i++) b.push_back((uint8_t)i);
  return b;
}

// Text after the first occurrence of marker (empty when absent).
std::string after(const std::string& text, const std::string& marker) {
  size_t p = text.find(marker);
  return p == std::string::npos ? "" : text.substr(p + marker.size());
}

bytes structure(uint16_t type, uint16_t length, size_t size) {
  bytes s(size, 0);
  sim::put_le(s, 0, type, 2);
  sim::put_le(s, 2, length, 2);
  return s;
}

bytes madt_with(size_t count) {
  std::vector<bytes> s;
  for (size_t i = 0; i < count; i++) s.push_back(sim::madt_local_apic((uint8_t)i, (uint8_t)i));
  return sim::build_madt(s);
}

size_t count_of(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) n++;
  return n;
}

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

const char* const madt_warning =
    "\nWarning: Stopped dumping the Interrupt Controller Structure(s). Data not appearing valid.\n";

}  // namespace

TEST(DumpBytes, BlankAfterTheEighthByteAndContinuationLinesOf21Blanks) {
  EXPECT_EQ(hex_dump({}), "\n");
  EXPECT_EQ(hex_dump(range(10)), "00 01 02 03 04 05 06 07  08 09 \n");
  EXPECT_EQ(hex_dump(range(17)),
            "00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  \n"
            "                     10 \n");
  EXPECT_EQ(hex_dump(range(33)),
            "00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  \n"
            "                     10 11 12 13 14 15 16 17  18 19 1A 1B 1C 1D 1E 1F  \n"
            "                     20 \n");
}

TEST(DumpDmar, Length48PrintsTheHeaderBlockAndReservedBytesOnly) {
  sim::dmar_builder d;
  d.reserved = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xA};
  bytes t = d.build();
  ASSERT_EQ(t.size(), 48u);
  auto r = dump_table(dump_dmar, t);
  char checksum[40];
  snprintf(checksum, sizeof checksum, "Checksum                     0x%02X\n", t[9]);
  EXPECT_EQ(r.text, std::string("-- DMAR --\n"
                                "Signature                    DMAR\n"
                                "Length                       0x00000030\n"
                                "Revision                     0x01\n") +
                        checksum +
                        "OEMID                        IOVET \n"
                        "OEMTableID                   SIMPLAT \n"
                        "OEMRevision                  0x00000001\n"
                        "CreatorID                    IOVT\n"
                        "CreatorRevision              0x00000001\n"
                        "HostAddressWidth             0x26\n"
                        "Flags                        0x01\n"
                        "Reserved                     01 02 03 04 05 06 07 08  09 0A \n");
  EXPECT_FALSE(r.exited);
}

TEST(DumpDmar, EveryStructureKindWithItsLabelsAndBlankLines) {
  sim::dmar_builder d;
  d.drhd(1, 0, 0xFED91000);  // INCLUDE_PCI_ALL, no device scopes
  d.drhd(0, 0, 0xFED90000, {{1, 0, 0, {{2, 0}}}, {2, 0, 0, {{0x1C, 4}, {0, 1}}}});
  d.rmrr(0, 0x8A68B000, 0x8A6AAFFF, {{1, 0, 0, {{0x14, 0}}}}, 0x1234);
  d.atsr(1, 0);
  d.rhsa(0xFED90000, 7);
  d.andd(5, "\\_SB.PCI0.I2C0");
  d.sidp(1, {{1, 0, 0, {{0xB, 0}}, -1, 0x1C}}, 0x0203);
  bytes t = d.build();
  t[t.size() - 8 + 3] = 0x80;  // the reserved byte after the SIDP scope's Flags
  auto r = dump_table(dump_dmar, t);
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(after(r.text, "Reserved                     00 00 00 00 00 00 00 00  00 00 \n"),
            " --DRHD\n"
            " Type                        0x0000\n"
            " Length                      0x0010\n"
            " Flags                       0x01\n"
            " Reserved                    0x00\n"
            " SegmentNumber               0x0000\n"
            " RegisterBaseAddress         0x00000000FED91000\n"
            "\n"
            " --DRHD\n"
            " Type                        0x0000\n"
            " Length                      0x0022\n"
            " Flags                       0x00\n"
            " Reserved                    0x00\n"
            " SegmentNumber               0x0000\n"
            " RegisterBaseAddress         0x00000000FED90000\n"
            "  --Device Scope\n"
            "  Type                       0x01\n"
            "  Length                     0x08\n"
            "  Reserved                   0x0000\n"
            "  Enumeration ID             0x00\n"
            "  Start Bus Number           0x00\n"
            "  PCI Path:                  D:2 F:0\n"
            "  --Device Scope\n"
            "  Type                       0x02\n"
            "  Length                     0x0A\n"
            "  Reserved                   0x0000\n"
            "  Enumeration ID             0x00\n"
            "  Start Bus Number           0x00\n"
            "  PCI Path:                  D:28 F:4\n"
            "  PCI Path:                  D:0 F:1\n"
            "\n"
            " --RMRR\n"
            " Type                        0x0001\n"
            " Length                      0x0020\n"
            " Reserved                    0x1234\n"
            " SegmentNumber               0x0000\n"
            " RMR Base Address            0x000000008A68B000\n"
            " RMR Limit Address           0x000000008A6AAFFF\n"
            "  --Device Scope\n"
            "  Type                       0x01\n"
            "  Length                     0x08\n"
            "  Reserved                   0x0000\n"
            "  Enumeration ID             0x00\n"
            "  Start Bus Number           0x00\n"
            "  PCI Path:                  D:20 F:0\n"
            "\n"
            " --ATSR\n"
            " Type                        0x0002\n"
            " Length                      0x0008\n"
            " Flags                       0x01\n"
            " Reserved                    0x00\n"
            " SegmentNumber               0x0000\n"
            "\n"
            " --RHSA\n"
            " Type                        0x0003\n"
            " Length                      0x0014\n"
            " Reserved                    0x00000000\n"
            " Register Base Address       0x00000000FED90000\n"
            " Proximity Domain            0x00000007\n"
            "\n"
            " --ANDD\n"
            " Type                        0x0004\n"
            " Length                      0x0017\n"
            " Reserved                    00 00 00 \n"
            " AcpiDevNum                  0x05\n"
            " AcpiObjectName              \\_SB.PCI0.I2C0\n"
            "\n"
            " --SIDP\n"
            " Type                        0x0006\n"
            " Length                      0x0010\n"
            " Reserved                    0x0203\n"
            " SegmentNumber               0x0001\n"
            "  --Device Scope\n"
            "  Type                       0x01\n"
            "  Length                     0x08\n"
            "  Flags                      0x1C\n"
            "  Reserved                   0x80\n"
            "  Enumeration ID             0x00\n"
            "  Start Bus Number           0x00\n"
            "  PCI Path:                  D:11 F:0\n"
            "\n");
}

TEST(DumpDmar, PathOfThreeEntriesEndsTheApplicationAfterItsLine) {
  sim::dmar_builder d;
  d.drhd(0, 0, 0xFED90000, {{1, 0, 0, {{0x1C, 0}, {0, 0}, {3, 1}}}});
  d.rmrr(0, 0x1000, 0x1FFF);
  auto r = dump_table(dump_dmar, d.build());
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1u);
  EXPECT_EQ(after(r.text, "  Start Bus Number           0x00\n"),
            "  PCI Path:                  D:28 F:0\n"
            "  PCI Path:                  D:0 F:0\n"
            "  PCI Path:                  D:3 F:1\n"
            "ERROR -- PciPath of Device Scope appears to be invalid.\n");

  // A scope declaring three entries whose third lies past its structure:
  // the entries inside are printed, nothing beyond is read, the run ends.
  bytes drhd = structure(0, 24, 16);
  sim::put_le(drhd, 8, 0xFED90000, 8);
  bytes scope = sim::device_scope({1, 0, 0, {{0x1F, 2}}, 12});
  drhd.insert(drhd.end(), scope.begin(), scope.end());
  sim::dmar_builder short_path;
  short_path.raw(drhd);
  auto r2 = dump_table(dump_dmar, short_path.build());
  EXPECT_EQ(r2.status, 1u);
  EXPECT_EQ(after(r2.text, "  Start Bus Number           0x00\n"),
            "  PCI Path:                  D:31 F:2\n"
            "ERROR -- PciPath of Device Scope appears to be invalid.\n");
}

TEST(DumpDmar, TypeAboveSixEndsTheApplication) {
  for (uint16_t type : {7, 0x0100}) {  // the whole 16-bit Type counts
    sim::dmar_builder d;
    d.drhd(1, 0, 0xFED90000);
    d.raw(structure(type, 16, 16));
    d.drhd(0, 0, 0xFED91000);
    auto r = dump_table(dump_dmar, d.build());
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1u);
    EXPECT_EQ(count_of(r.text, " --DRHD\n"), 1u);
    EXPECT_EQ(after(r.text, "0x00000000FED90000\n\n"), "Error -- DMAR Table: Detected invalid remapping structure type.\n");
  }
}

TEST(DumpDmar, ShortStructuresAreReportedAndNeverReadPast) {
  // Length 0 cannot advance: one clear line, the dump stops, the run goes on.
  sim::dmar_builder zero;
  zero.raw(structure(0, 0, 16));
  auto r = dump_table(dump_dmar, zero.build());
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(after(r.text, " --DRHD\n"),
            " Type                        0x0000\n"
            " Length                      0x0000\n"
            "Error -- DMAR Table: Remapping structure Length 0x0000 is below 4; stopped dumping the remapping "
            "structures.\n\n");

  // A DRHD of Length 8 prints the fields inside it, says so, and the walk
  // goes on 8 bytes further.
  sim::dmar_builder small;
  small.raw(structure(0, 8, 8));
  small.rhsa(0xFED90000, 1);
  auto r2 = dump_table(dump_dmar, small.build());
  EXPECT_FALSE(r2.exited);
  EXPECT_EQ(after(r2.text, " Length                      0x0008\n"),
            " Flags                       0x00\n"
            " Reserved                    0x00\n"
            " SegmentNumber               0x0000\n"
            " Error -- DRHD Length 0x0008 is too short for its fields.\n"
            "\n"
            " --RHSA\n"
            " Type                        0x0003\n"
            " Length                      0x0014\n"
            " Reserved                    0x00000000\n"
            " Register Base Address       0x00000000FED90000\n"
            " Proximity Domain            0x00000001\n"
            "\n");

  // A structure whose Length runs past the table: its scopes are cut at the
  // table's end.
  sim::dmar_builder past;
  past.drhd(0, 0, 0xFED90000, {{3, 2, 0xF0, {{0x1F, 0}}}});
  bytes t = past.build();
  sim::put_le(t, 48 + 2, 40, 2);  // claims a second scope beyond the table
  auto r3 = dump_table(dump_dmar, t);
  EXPECT_FALSE(r3.exited);
  EXPECT_EQ(count_of(r3.text, "  --Device Scope\n"), 1u);
}

TEST(DumpDmar, PathEntriesPastTheStructureAreReadUpToTheTableEnd) {
  // A Length-10 scope in the DRHD's last 8-byte slot: its second entry is
  // the first two bytes of the RMRR after it (Type 1), inside the table.
  bytes drhd = structure(0, 24, 16);
  sim::put_le(drhd, 8, 0xFED90000, 8);
  bytes scope = sim::device_scope({1, 0, 0, {{0x1F, 2}}, 10});
  drhd.insert(drhd.end(), scope.begin(), scope.end());
  sim::dmar_builder d;
  d.raw(drhd);
  d.rmrr(0, 0x1000, 0x1FFF);
  auto r = dump_table(dump_dmar, d.build());
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(after(r.text, "  Start Bus Number           0x00\n"),
            "  PCI Path:                  D:31 F:2\n"
            "  PCI Path:                  D:1 F:0\n"
            "\n --RMRR\n"
            " Type                        0x0001\n"
            " Length                      0x0018\n"
            " Reserved                    0x0000\n"
            " SegmentNumber               0x0000\n"
            " RMR Base Address            0x0000000000001000\n"
            " RMR Limit Address           0x0000000000001FFF\n"
            "\n");
}

TEST(DumpDmar, WhatTheTableEndCutsIsBlamedOnTheTable) {
  // Cuts the built table to n bytes, Length field included.
  auto cut = [](bytes t, size_t n) {
    t.resize(n);
    sim::put_le(t, 4, (uint32_t)n, 4);
    return t;
  };
  // An RMRR of correct Length (one scope) cut inside its fixed fields.
  sim::dmar_builder rmrr;
  rmrr.rmrr(0, 0x1000, 0x1FFF, {{1, 0, 0, {{0x14, 0}}}});
  auto r = dump_table(dump_dmar, cut(rmrr.build(), 48 + 20));
  EXPECT_EQ(after(r.text, " RMR Base Address            0x0000000000001000\n"),
            " Error -- DMAR Table: the RMRR runs past the table's Length.\n\n");
  // The same RMRR cut inside its scope.
  r = dump_table(dump_dmar, cut(rmrr.build(), 48 + 24 + 3));
  EXPECT_EQ(after(r.text, " RMR Limit Address           0x0000000000001FFF\n"),
            "  --Device Scope\n"
            "  Type                       0x01\n"
            "  Length                     0x08\n"
            "  Error -- DMAR Table: a Device Scope runs past the table's Length.\n\n");
  // A Length too short for the fields is still the structure's fault.
  sim::dmar_builder small;
  small.raw(structure(1, 12, 12));
  r = dump_table(dump_dmar, small.build());
  EXPECT_TRUE(contains(r.text, " Error -- RMRR Length 0x000C is too short for its fields.\n")) << r.text;
  // The table ends inside the next structure's Type and Length.
  sim::dmar_builder two;
  two.rhsa(0xFED90000, 1);
  two.rhsa(0xFED91000, 2);
  r = dump_table(dump_dmar, cut(two.build(), 48 + 20 + 3));
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(after(r.text, " Proximity Domain            0x00000001\n\n"),
            " --RHSA\n"
            " Type                        0x0003\n"
            "Error -- DMAR Table: a remapping structure runs past the table's Length; stopped dumping the remapping "
            "structures.\n\n");
}

TEST(DumpDmar, AnddNameStopsAtTheStructureEndAndNeedsItsBuffers) {
  bytes andd = structure(4, 12, 8);
  andd[7] = 3;
  for (char c : std::string("ABCD")) andd.push_back((uint8_t)c);  // no zero byte
  sim::dmar_builder d;
  d.raw(andd);
  auto r = dump_table(dump_dmar, d.build());
  EXPECT_TRUE(contains(r.text, " AcpiDevNum                  0x03\n AcpiObjectName              ABCD\n\n")) << r.text;

  for (int64_t failing : {0, 1}) {
    auto r2 = dump_table(dump_dmar, d.build(), failing);
    EXPECT_FALSE(contains(r2.text, "AcpiObjectName")) << "allocation " << failing;
    EXPECT_TRUE(contains(r2.text, " AcpiDevNum                  0x03\n\n"));
  }
}

TEST(DumpMadt, WarningAfterThe51stStructureOnly) {
  auto r50 = dump_table(dump_madt, madt_with(50));
  EXPECT_EQ(count_of(r50.text, " Binary Data:"), 50u);
  EXPECT_FALSE(contains(r50.text, "Warning"));
  EXPECT_TRUE(ends_with(r50.text, "31 31 01 00 00 00 \n\n"));

  auto r51 = dump_table(dump_madt, madt_with(51));
  EXPECT_EQ(count_of(r51.text, " Binary Data:"), 51u);
  EXPECT_TRUE(ends_with(r51.text, std::string("32 32 01 00 00 00 \n") + madt_warning + "\n")) << "also after the last";

  auto r52 = dump_table(dump_madt, madt_with(52));
  EXPECT_EQ(count_of(r52.text, " Binary Data:"), 51u);
  EXPECT_TRUE(ends_with(r52.text, std::string("32 32 01 00 00 00 \n") + madt_warning + "\n"));
}

TEST(DumpMadt, LengthBelowTwoOrPastTheTableEndsTheDumpWithALine) {
  auto r = dump_table(dump_madt, sim::build_madt({sim::madt_local_apic(0, 0), bytes{9, 1, 0, 0}}));
  EXPECT_EQ(after(r.text, " Type                        0x09\n"),
            " Length                      0x01\n"
            "Error -- MADT Table: Interrupt Controller Structure Length 0x01 is below 2; stopped dumping.\n\n");
  EXPECT_FALSE(r.exited);

  auto r2 = dump_table(dump_madt, sim::build_madt({bytes{1, 12, 2, 0, 0, 0}}));
  EXPECT_EQ(after(r2.text, " Length                      0x0C\n"),
            " Binary Data:                02 00 00 00 \n"
            "Error -- MADT Table: an Interrupt Controller Structure runs past the table's Length.\n\n");
}

TEST(DumpTables, AbsentOrShortTablesSaySoInOneLine) {
  EXPECT_EQ(dump_table(dump_dmar, {}).text, "-- DMAR --\nDMAR table is not present.\n\n");
  EXPECT_EQ(dump_table(dump_hpet, {}).text, "-- HPET --\nHPET table is not present.\n\n");
  EXPECT_EQ(dump_table(dump_mcfg, {}).text, "-- MCFG --\nMCFG table is not present.\n\n");
  EXPECT_EQ(dump_table(dump_madt, {}).text, "-- MADT --\nMADT table is not present.\n\n");

  bytes hpet = sim::build_hpet(0);
  hpet.resize(50);  // ends inside the 64-bit address
  EXPECT_EQ(after(dump_table(dump_hpet, hpet).text, " Reserved                    0x00\n"),
            "Error -- HPET Table: Length 0x00000032 is too short for its fields.\n\n");

  bytes header_only(20, 'A');
  EXPECT_EQ(after(dump_table(dump_madt, header_only).text, "OEMID                        AAAAAA\n"),
            "Error -- MADT Table: Length 0x00000014 is too short for its fields.\n\n");

  bytes mcfg = sim::build_mcfg({{0xE0000000, 0, 0, 0xFF}, {0xF0000000, 1, 0, 0x7F}});
  sim::put_le(mcfg, 4, mcfg.size() - 6, 4);  // second allocation cut by the Length
  EXPECT_EQ(after(dump_table(dump_mcfg, mcfg).text, " Reserved                    0x00000000\n"),
            " Base Address                0x00000000F0000000\n"
            " PCI Segment Group Number    0x0001\n"
            "Error -- MCFG Table: the last allocation structure runs past the table's Length.\n\n");
}

TEST(DumpTables, HeaderCharactersNeverReachTheConsoleAsControls) {
  bytes t = sim::build_hpet(0);
  memcpy(&t[10], "AB\0\n\x7f" "C", 6);
  EXPECT_TRUE(contains(dump_table(dump_hpet, t).text, "OEMID                        AB ??C\n"));
  // Bytes 0x80-0xFF widen to the characters of their value (U+0080-U+00FF).
  memcpy(&t[16], "\x80\xE9\xFF" "ABCDE", 8);
  EXPECT_TRUE(contains(dump_table(dump_hpet, t).text, "OEMTableID                   \u0080\u00E9\u00FFABCDE\n"));
}

TEST(DumpRun, DumpOptionAloneDumpsAllFourTablesAndRunsNoAssertion) {
  sim::machine m;
  add_catalogue(m);
  m.install_acpi({sim::dmar_builder().drhd(1, 0, 0xFED90000).build(), sim::build_mcfg({{0xE0000000, 0, 0, 0}}),
                  madt_with(2), sim::build_hpet(0)});
  auto r = run_iovet(m, {"-d"});
  EXPECT_EQ(r.status, 0u);
  size_t dmar = r.text.find("-- DMAR --\n"), hpet = r.text.find("-- HPET --\n"), mcfg = r.text.find("-- MCFG --\n"),
         madt = r.text.find("-- MADT --\n");
  ASSERT_NE(madt, std::string::npos) << r.text;
  EXPECT_LT(dmar, hpet);
  EXPECT_LT(hpet, mcfg);
  EXPECT_LT(mcfg, madt);
  EXPECT_FALSE(contains(r.text, "Zyr Test Status")) << "no assertion and no report with -d alone";
}

TEST(DumpRun, PathErrorEndsTheRunWithStatus1AndFreesWhatItCollected) {
  sim::machine m;
  add_catalogue(m);
  m.install_acpi({sim::dmar_builder().drhd(1, 0, 0xFED90000, {{3, 2, 0xF0, {{0x1F, 0}, {0, 0}, {0, 0}}}}).build(),
                  sim::build_mcfg({{0xE0000000, 0, 0, 0}}), madt_with(2), sim::build_hpet(0)});
  auto r = run_iovet(m, {"-d", "-t"});  // leak checks included
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1u);
  const std::string error = "ERROR -- PciPath of Device Scope appears to be invalid.\n";
  ASSERT_GE(r.text.size(), error.size());
  EXPECT_EQ(r.text.substr(r.text.size() - error.size()), error) << "nothing is printed after the path error";
}

TEST(DumpRun, AbsentHpetIsSaidAndTheRunGoesOn) {
  sim::machine m;
  add_catalogue(m);
  m.install_acpi({sim::dmar_builder().drhd(1, 0, 0xFED90000).build(), sim::build_mcfg({{0xE0000000, 0, 0, 0}}),
                  madt_with(1)});
  auto r = run_iovet(m, {"-d"});
  EXPECT_FALSE(r.exited);
  EXPECT_TRUE(contains(r.text, "-- HPET --\nHPET table is not present.\n\n-- MCFG --\n")) << r.text;
  EXPECT_TRUE(contains(r.text, "-- MADT --\n"));
}
