// SMBIOS lookups and the BIOS, firmware version and platform sections.
#include "platform/print.h"
#include "report/report.h"
#include "support/harness.h"

using namespace testing_support;
using sim::bytes;

namespace {

bytes concat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

bytes type131(uint16_t handle, bool signed_) {
  bytes f(0x38, 0);
  f[0] = 0x31;  // capability word
  if (signed_) std::copy_n("wKam", 4, f.begin() + 0x34);
  return sim::smbios_structure(131, handle, f, {});
}

bytes group(uint16_t handle, const std::string& name, const std::vector<std::pair<uint8_t, uint16_t>>& items) {
  bytes f{1};
  for (auto [type, h] : items) {
    f.push_back(type);
    sim::append_le(f, h, 2);
  }
  return sim::smbios_structure(14, handle, f, {name});
}

struct fw_record {
  uint8_t name, version, major, minor, revision;
  uint16_t build;
};

bytes version_records(uint8_t type, uint16_t handle, const std::vector<fw_record>& records,
                      const std::vector<std::string>& strings) {
  bytes f{(uint8_t)records.size()};
  for (const auto& r : records) {
    f.insert(f.end(), {r.name, r.version, r.major, r.minor, r.revision});
    sim::append_le(f, r.build, 2);
  }
  return sim::smbios_structure(type, handle, f, strings);
}

std::string smbios_string(uint64_t s, uint8_t n, bool* found = nullptr) {
  char16_t out[512];
  bool ok = get_smbios_string(s, n, out);
  if (found) *found = ok;
  return sim::to_utf8(out);
}

}  // namespace

TEST(SmbiosLookup, InstancesHandlesAndTheSignedType131) {
  sim::machine m;
  m.install_smbios(concat({sim::smbios_structure(1, 0x10, {0, 0}, {"a"}), type131(0x20, false),
                           sim::smbios_structure(1, 0x11, {0, 0}, {"b"}), type131(0x21, true),
                           sim::smbios_end(0xFEFF)}));
  sim::scoped_machine use(m);
  const uint64_t base = 0x7EF00000;
  uint64_t first = find_smbios_structure(1, 0, 0, 0);
  EXPECT_EQ(first, base);
  uint64_t second = find_smbios_structure(1, 1, 0, 0);
  EXPECT_EQ(smbios_string(second, 1), "b");
  EXPECT_EQ(find_smbios_structure(1, 2, 0, 0), 0u);
  EXPECT_EQ(find_smbios_structure(1, 0, 0x11, 1), second);
  EXPECT_EQ(find_smbios_structure(1, 0, 0x12, 1), 0u);
  EXPECT_EQ(find_smbios_structure(1, 1, 0x10, 1), 0u) << "the instance is skipped before the handle is compared";
  // The signed type-131 structure answers any lookup of its type; the
  // unsigned one counts as an ordinary instance.
  uint64_t signed131 = find_smbios_structure(131, 7, 0x99, 1);
  ASSERT_NE(signed131, 0u);
  EXPECT_EQ(MmioRead16(signed131 + 2), 0x21);
  uint64_t unsigned131 = find_smbios_structure(131, 0, 0, 0);
  EXPECT_EQ(MmioRead16(unsigned131 + 2), 0x20) << "instance 0 takes the first of the type, signed or not";
  EXPECT_EQ(find_smbios_structure(127, 0, 0, 0) != 0, true);
}

TEST(SmbiosLookup, TheType131SignatureNeedsOnlyToLieInsideTheTable) {
  // A Length of 8: the signature at offset 0x38 lies in the string set, still
  // inside the table. Cut the table inside the signature and it is unsigned.
  bytes shorty = sim::smbios_structure(131, 0x21, bytes(4, 0), {std::string(0x30, 'x') + "wKam"});
  bytes table = concat({type131(0x20, false), shorty, sim::smbios_end(0xFEFF)});
  for (bool cut : {false, true}) {
    sim::machine m;
    m.install_smbios(table);
    uint64_t ep = m.configuration_table.back().second;
    if (cut) m.write16(ep + 0x16, (uint16_t)(type131(0x20, false).size() + 0x38 + 3));
    sim::scoped_machine use(m);
    uint64_t s = find_smbios_structure(131, 5, 0x99, 1);
    if (cut) {
      EXPECT_EQ(s, 0u);
    } else {
      ASSERT_NE(s, 0u);
      EXPECT_EQ(MmioRead16(s + 2), 0x21);
    }
  }
}

TEST(SmbiosLookup, NoEntryPointOrTruncatedTable) {
  sim::machine none;
  {
    sim::scoped_machine use(none);
    EXPECT_EQ(find_smbios_structure(0, 0, 0, 0), 0u);
    display_bios_info();
    display_fw_ver_info();
    EXPECT_EQ(none.console_text(), "");
  }
  // A structure that runs past the table's end is not taken, and nothing
  // past the end is read.
  sim::machine m;
  bytes table = concat({sim::smbios_structure(2, 1, {0, 0}, {"board"}), sim::smbios_structure(0, 2, {1, 0, 0, 0, 0}, {"Vendor"})});
  m.install_smbios(table);
  // Shorten the table length in the entry point so that it ends inside the
  // type-0 structure's strings.
  uint64_t ep = m.configuration_table.back().second;
  uint16_t shorter = (uint16_t)(table.size() - 4);
  m.write16(ep + 0x16, shorter);
  sim::scoped_machine use(m);
  uint64_t s = find_smbios_structure(0, 0, 0, 0);
  ASSERT_NE(s, 0u) << "its header lies inside the table";
  bool found = true;
  EXPECT_EQ(smbios_string(s, 1, &found), "");
  EXPECT_FALSE(found) << "the string has no terminator inside the table";
  EXPECT_EQ(find_smbios_structure(127, 0, 0, 0), 0u);
}

TEST(SmbiosStrings, NumbersSignExtensionAndLimits) {
  sim::machine m;
  std::string long_text(700, 'x');
  m.install_smbios(concat({sim::smbios_structure(1, 1, {0, 0}, {"first", "caf\xE9", long_text}),
                           sim::smbios_structure(2, 2, {0, 7}, {}),   // empty strings, last formatted byte 7
                           sim::smbios_structure(3, 3, {0, 0}, {})})); // empty strings, last byte 0
  sim::scoped_machine use(m);
  uint64_t s1 = find_smbios_structure(1, 0, 0, 0);
  bool found = false;
  EXPECT_EQ(smbios_string(s1, 1, &found), "first");
  EXPECT_TRUE(found);
  char16_t out[512];
  ASSERT_TRUE(get_smbios_string(s1, 2, out));
  EXPECT_EQ(std::u16string(out), std::u16string(u"caf\uFFE9")) << "bytes above 0x7F are sign-extended";
  ASSERT_TRUE(get_smbios_string(s1, 3, out));
  EXPECT_EQ(std::u16string(out).size(), 511u) << "a longer string is cut to the 512-byte buffer";
  EXPECT_EQ(smbios_string(s1, 4, &found), "");
  EXPECT_FALSE(found);
  EXPECT_EQ(smbios_string(s1, 0, &found), "");
  EXPECT_FALSE(found);
  uint64_t s2 = find_smbios_structure(2, 0, 0, 0);
  EXPECT_EQ(smbios_string(s2, 1, &found), "");
  EXPECT_TRUE(found) << "an empty string area after a non-zero byte yields an empty string 1";
  smbios_string(s2, 2, &found);
  EXPECT_FALSE(found);
  smbios_string(find_smbios_structure(3, 0, 0, 0), 1, &found);
  EXPECT_FALSE(found);
}

TEST(BiosInformation, StringNumbersOneToThreeOnly) {
  sim::machine m;
  m.install_smbios(sim::smbios_structure(0, 0, {1, 3, 0, 0, 0}, {"Acme", "unused", "4.2"}));
  sim::scoped_machine use(m);
  display_bios_info();
  EXPECT_EQ(m.console_text(),
            "----------------\nBIOS Information\n----------------\n"
            "Vendor                  Acme\n"
            "Version                 4.2\n"
            "Date                    \n");
  sim::machine m4;
  m4.install_smbios(sim::smbios_structure(0, 0, {4, 1, 0, 0, 2}, {"a", "b", "c", "d"}));
  sim::scoped_machine use4(m4);
  display_bios_info();
  EXPECT_TRUE(contains(m4.console_text(), "Vendor                  \nVersion                 a\nDate                    b\n"));
}

TEST(FirmwareVersion, ReferenceCodeComponentsOfTheGroup) {
  sim::machine m;
  m.install_smbios(concat({
      group(0x30, "Other group", {{0xDD, 0x40}}),
      group(0x31, "Firmware Version Info Group", {{0xDD, 0x41}, {0xDE, 0x42}}),
      version_records(0xDD, 0x40, {{1, 0, 9, 9, 9, 9}}, {"Reference Code - wrong group"}),
      version_records(0xDD, 0x41,
                      {{1, 2, 1, 2, 3, 0x1234}, {3, 0, 4, 5, 6, 7}, {0, 0, 0, 0, 0, 0}, {9, 0, 0, 0, 0, 0}},
                      {"CPU Reference Code", "v1.2.3", "ME Firmware"}),
      version_records(0xDE, 0x42, {{1, 3, 0xA, 0xB, 0xC, 0xD}}, {"PCH Reference Code"}),
  }));
  sim::scoped_machine use(m);
  display_fw_ver_info();
  EXPECT_EQ(m.console_text(),
            "----------------------------\nFirmware Version Information\n----------------------------\n"
            "CPU Reference Code\n"
            " Component Name     = 1\n"
            "v1.2.3\n"
            " Version String     = 2\n"
            " Major Version      = 0x1\n"
            " Minor Version      = 0x2\n"
            " Revision           = 0x3\n"
            " Build Number       = 0x1234\n"
            "PCH Reference Code\n"
            " Component Name     = 1\n"
            " Version String     = 3\n"
            " Major Version      = 0xA\n"
            " Minor Version      = 0xB\n"
            " Revision           = 0xC\n"
            " Build Number       = 0xD\n");
}

TEST(FirmwareVersion, HeadingOnlyCasesAndAMissingItem) {
  sim::machine empty_group;
  empty_group.install_smbios(group(1, "Firmware Version Info", {}));
  {
    sim::scoped_machine use(empty_group);
    display_fw_ver_info();
    EXPECT_EQ(empty_group.console_text(),
              "----------------------------\nFirmware Version Information\n----------------------------\n");
  }
  sim::machine missing;
  missing.install_smbios(concat({group(1, "Firmware Version Info", {{0xDD, 0x77}, {0xDD, 0x41}}),
                                 version_records(0xDD, 0x41, {{1, 0, 1, 1, 1, 1}}, {"Reference Code"})}));
  {
    sim::scoped_machine use(missing);
    debug_mask = 0xFFFFFFFF;
    display_fw_ver_info();
    debug_mask = 0;
    std::string text = missing.console_text();
    EXPECT_TRUE(contains(text, "gs->ItemType = 0xDD : gs->ItemHandle = 0x77 : addr = 0x0\n")) << text;
    EXPECT_FALSE(contains(text, "Reference Code")) << "later items are not looked at";
    EXPECT_TRUE(contains(text, "DEBUG -- : display_fw_ver_info() : Type 14 Group Name: Firmware Version Info\n"));
  }
  sim::machine overlong;
  bytes rec = version_records(0xDF, 0x50, {{1, 0, 1, 1, 1, 1}}, {"Reference Code X"});
  rec[4] = 200;  // claims 200 records; the formatted area holds one
  overlong.install_smbios(concat({group(1, "Firmware Version Info", {{0xDF, 0x50}}), rec}));
  sim::scoped_machine use(overlong);
  display_fw_ver_info();
  EXPECT_TRUE(contains(overlong.console_text(), "Reference Code X\n Component Name     = 1\n"));
  EXPECT_EQ(overlong.live_allocations.size(), 0u);
}

TEST(PlatformInformation, ProcessorMsrAndChipsetIdentity) {
  for (bool p2sb_visible : {true, false}) {
    sim::machine m;
    m.set_cpuid(1, 0x000906EA, 0x00100800, 0x7FFAFBBF, 0xBFEBFBFF);
    m.set_msr(0x3A, 0x5);
    m.pci(0, 0, 0, 0x8086, 0x3E30).set8(0x08, 0x0A);
    m.pci(0, 31, 0, 0x8086, 0xA305).set8(0x08, 0x10);
    auto& p2sb = m.pci(0, 31, 1, 0x8086, 0xA320);
    p2sb.set8(0x08, 0x10);
    p2sb.set8(0xE1, p2sb_visible ? 0 : 1);
    sim::scoped_machine use(m);
    display_platform_info();
    std::string expected =
        "--------------------\nPlatform Information\n--------------------\n"
        "CPUID1.EAX              0x000906EA\n"
        "CPUID1.EBX              0x00100800\n"
        "CPUID1.ECX              0x7FFAFBBF\n"
        " [6] SMX                0\n"
        " [5] VMX                1\n"
        "CPUID1.EDX              0xBFEBFBFF\n"
        "IA32_FEATURE_CONTROL    0x0000000000000005\n"
        " [2] En VMX outside SMX 1\n"
        " [1] En VMX inside SMX  0\n"
        " [0] Lock bit           1\n"
        "B0:D0:F0:0x02           0x3E30\n"
        "B0:D0:F0:0x08           0x0A\n"
        "B0:D31:F0:0x02          0xA305\n"
        "B0:D31:F0:0x08          0x10\n";
    if (p2sb_visible) expected += "B0:D31:F1:0x02          0xA320\nB0:D31:F1:0x08          0x10\n";
    EXPECT_EQ(m.console_text(), expected);
    EXPECT_TRUE(m.pci_writes.empty()) << "a hidden P2SB is not unhidden here";
  }
}
