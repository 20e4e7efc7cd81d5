// The platform directory format: what each piece becomes on the simulated
// machine, what is left absent, and how malformed pieces are refused.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "discovery/acpi.h"
#include "platform/sim/platform_dir.h"
#include "support/harness.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct temp_dir {
  fs::path path;
  explicit temp_dir(const std::string& name) {
    path = fs::temp_directory_path() / ("iovet-format-test-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~temp_dir() { fs::remove_all(path); }
  void put(const std::string& rel, const std::string& text) const {
    fs::create_directories((path / rel).parent_path());
    std::ofstream(path / rel, std::ios::binary) << text;
  }
  void put_bytes(const std::string& rel, const sim::bytes& b) const {
    put(rel, std::string(b.begin(), b.end()));
  }
  std::string str() const { return path.string(); }
};

sim::bytes small_dmar(uint64_t base) { return sim::dmar_builder().drhd(1, 0, base).build(); }

}  // namespace

// A piece that is present is complete: what it does not list is absent. A
// missing piece, or a source platform.txt lists as not recorded, is unknown;
// a directory without any piece is refused.
TEST(PlatformFormat, MissingPiecesAndNotRecordedSourcesAreUnknownPresentOnesComplete) {
  temp_dir d("partial");
  sim::platform_description none;
  auto refused = sim::load_platform_dir(d.str(), none);
  EXPECT_FALSE(refused.ok);
  EXPECT_TRUE(contains(refused.error, "no platform piece here")) << refused.error;
  d.put_bytes("acpi/DMAR", small_dmar(0xFED90000));
  d.put("mmio.txt", "0xFED90010 64 0x7E3FF0505E\n");
  d.put("cpuid.txt", "0x1 0x506E3 0 0 0\n");
  d.put("platform.txt", "# partial\nnot-recorded chipset device-registers\n");
  sim::platform_description p;
  auto r = sim::load_platform_dir(d.str(), p);
  ASSERT_TRUE(r.ok) << r.error;
  std::string unknown;
  for (uint32_t s = 0; s < SOURCE_COUNT; s++)
    if (p.sources[s] != SOURCE_KNOWN) unknown += std::string(" ") + sim::source_name((platform_source)s);
  EXPECT_EQ(unknown, " chipset pci device-registers memory-map smbios msr");
  sim::machine m;
  sim::install_platform(p, m);
  EXPECT_EQ(m.sources, p.sources);
  sim::scoped_machine use(m);
  EXPECT_EQ(MmioRead32(0xFED91010), 0xFFFFFFFFu) << "an engine mmio.txt does not list is absent";
  uint32_t length = 0;
  uint8_t* table = nullptr;
  EXPECT_EQ(find_acpi_table(0x54455048 /* HPET */, &length, &table), 1u) << "a table acpi/ does not hold is absent";
}

TEST(PlatformFormat, PiecesBecomeTheMachinesRegistersProcessorAndMemoryMap) {
  temp_dir d("pieces");
  d.put("mmio.txt",
        "# engine\n0xFED90010 64 0x0000007E3FF0505E  # ECAP\n0xFED90FF0 32 0x80000000\n0xFED00108 8 0x7\n"
        "0xE0010100 32 0x2001001B  # beyond the configuration image\n");
  d.put("cpuid.txt", "0x1 0x506E3 0 0x20 0\n2147483656 0x3027 0 0 0\n");
  d.put("msr.txt", "0x3A 0x5\n");
  d.put("memmap.txt", "EfiReservedMemoryType 0x79E00000 0x20\n6 0x7EF00000 0x100 0x800000000000000F\n");
  d.put("pci/0000:00:02.0", std::string("\x86\x80\x12\x19", 4));
  d.put("platform.txt", "# bench\necam 0xE0000000 4\n");
  sim::platform_description p;
  auto r = sim::load_platform_dir(d.str(), p);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(p.title, "bench");
  sim::machine m;
  sim::install_platform(p, m);
  sim::scoped_machine use(m);
  EXPECT_EQ(MmioRead64(0xFED90010), 0x0000007E3FF0505Eull);
  EXPECT_EQ(MmioRead32(0xFED90FF0), 0x80000000u);
  EXPECT_EQ(MmioRead16(0xFED00108), 0xFF07u) << "only the listed byte is present";
  EXPECT_EQ(PciRead32(0x10000), 0x19128086u);
  EXPECT_EQ(m.pci(0, 2, 0).get32(0x100), 0x2001001Bu) << "an ECAM register lands in the function's space";
  EXPECT_EQ(PciRead32(0x10000 | 0x100), 0xFFFFFFFFu) << "which the ports do not reach";
  EXPECT_EQ(MmioRead32(0xE0010100), 0x2001001Bu);
  uint32_t a, b, c, e;
  AsmCpuid(1, &a, &b, &c, &e);
  EXPECT_EQ(a, 0x506E3u);
  EXPECT_EQ(c, 0x20u);
  AsmCpuid(0x80000008, &a, &b, &c, &e);
  EXPECT_EQ(a, 0x3027u);
  EXPECT_EQ(AsmReadMsr64(0x3A), 5u);
  ASSERT_EQ(m.memory_map.size(), 2u);
  EXPECT_EQ(m.memory_map[0].type, 0u);
  EXPECT_EQ(m.memory_map[1].type, 6u);
  EXPECT_EQ(m.memory_map[1].attribute, 0x800000000000000Full);
  EXPECT_EQ(m.ecam_buses, 4);
}

TEST(PlatformFormat, MalformedPiecesAreRefusedWithFileAndLine) {
  struct bad_case {
    const char* file;
    const char* text;
    const char* where;
    const char* what;
  } cases[] = {
      {"mmio.txt", "0xFED90000 32 0x1\n0xFED90004 24 0x1\n", "mmio.txt:2: ", "width must be 8, 16, 32 or 64"},
      {"mmio.txt", "\n0xFED90000 8 0x100\n", "mmio.txt:2: ", "does not fit in 8 bits"},
      {"mmio.txt", "0xFED90000 32\n", "mmio.txt:1: ", "expected ADDRESS WIDTH VALUE"},
      {"mmio.txt", "0xFED9G000 32 1\n", "mmio.txt:1: ", "\"0xFED9G000\" is not a number"},
      {"mmio.txt", "FED90000 32 1\n", "mmio.txt:1: ", "use 0x for hexadecimal"},
      {"mmio.txt", "0xFFFFFFFFFFFFFFFC 64 1\n", "mmio.txt:1: ", "past the end of the address space"},
      {"cpuid.txt", "0x1 0x506E3 0 0\n", "cpuid.txt:1: ", "expected 5 fields, found 4"},
      {"cpuid.txt", "0x1 0x1506E3000 0 0 0\n", "cpuid.txt:1: ", "does not fit in 32 bits"},
      {"msr.txt", "0x3A\n", "msr.txt:1: ", "expected 2 fields"},
      {"memmap.txt", "# map\nEfiNoSuchMemory 0x0 1\n", "memmap.txt:2: ", "\"EfiNoSuchMemory\" is not a number"},
      {"platform.txt", "colour blue\n", "platform.txt:1: ", "unknown setting \"colour\""},
      {"platform.txt", "ecam 0xE0001000\n", "platform.txt:1: ", "1 MiB aligned"},
      {"platform.txt", "not-recorded cpuid gpu\n", "platform.txt:1: ", "unknown source \"gpu\" (known: dmar mcfg"},
      {"pci/lspci.txt", "00: 86 80 12 19\n", "lspci.txt:1: ", "before any function line"},
      {"pci/lspci.txt", "00:02.0 VGA\n00: 86 80\nrubbish here\n", "lspci.txt:3: ", "neither a function line"},
      {"pci/lspci.txt", "00:02.0 VGA\n1008: 00 00\n", "lspci.txt:2: ", "outside the 4 KiB configuration space"},
      {"pci/lspci.txt", "00:02.0 VGA\n00:02.0 VGA\n", "lspci.txt:2: ", "given twice"},
      {"acpi/acpidump.txt", "DMAR @ 0x0\n    0000: 44 4D 41 52\n    0020: 00\n", "acpidump.txt:3: ",
       "offset 0x20 does not follow the previous line"},
      {"acpi/acpidump.txt", "    0000: 44 4D 41 52\n", "acpidump.txt:1: ", "before any table header"},
      {"acpi/acpidump.txt", "DMAR @ 0x0\n    0000: 44 4D 41 52\n  garbage\n", "acpidump.txt:3: ",
       "not a dump line inside table DMAR"},
      {"smbios/DMI.txt", "0000: 00 18\n0020: 00\n", "DMI.txt:2: ", "does not follow"},
      {"smbios/smbios_entry_point", "_XX_ not an entry point at all......", "smbios_entry_point: ",
       "neither a \"_SM_\" nor a \"_SM3_\" entry point"},
      {"acpi/DMAR", "DM", "DMAR: ", "too short to hold a table signature"},
      {"acpi/DMAR", "\x01\xFE\x80\x7F random", "DMAR: ", "not an ACPI table"},
  };
  for (const auto& c : cases) {
    temp_dir d("bad");
    d.put(c.file, c.text);
    if (std::string(c.file) == "smbios/smbios_entry_point") d.put("smbios/DMI", std::string(4, '\0'));
    sim::platform_description p;
    auto r = sim::load_platform_dir(d.str(), p);
    EXPECT_FALSE(r.ok) << c.file << ": " << c.text;
    EXPECT_TRUE(contains(r.error, c.where)) << r.error;
    EXPECT_TRUE(contains(r.error, c.what)) << r.error;
  }
}

TEST(PlatformFormat, AcpidumpTextIsReadByPositionNotFooledByItsAsciiColumn) {
  // The ASCII column holds "AB CD EF 12" and a space-padded short last line.
  sim::bytes t = sim::acpi_header("SSDT");
  const char* text = "AB CD EF 12 34";
  t.insert(t.end(), text, text + strlen(text));
  sim::finish_table(t);
  sim::platform_description p;
  p.acpi.push_back({"SSDT", t});
  p.acpi.push_back({"SSDT", t});
  sim::bytes rsdp(20, 0x52);
  temp_dir d("acpidump");
  std::string err;
  ASSERT_TRUE(sim::write_platform_dir(p, d.str(), err)) << err;
  std::string dump = "Intel ACPI Component Architecture banner\n\nRSDP @ 0x00000000000F0490\n"
                     "    0000: 52 53 44 20 50 54 52 20 00 49 4E 54 45 4C 20 02  RSD PTR .INTEL .\n\n" +
                     read_file((d.path / "acpi/acpidump.txt").string());
  std::vector<sim::acpi_table_file> tables;
  auto r = sim::parse_acpidump_text(dump, "dump.txt", tables);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(tables.size(), 2u) << "the root pointer is left to the machine";
  EXPECT_EQ(tables[0].bytes, t);
  EXPECT_EQ(tables[0].name, "SSDT");
  EXPECT_EQ(tables[1].name, "SSDT2");
  EXPECT_TRUE(r.notes.empty());
}

TEST(PlatformFormat, TableDirectoriesFollowSysfsAndArchiveNamingAndIgnoreOtherFiles) {
  temp_dir d("tables");
  sim::bytes first = small_dmar(0xFED90000), second = small_dmar(0xFED91000);
  d.put_bytes("DMAR.2.dat", second);
  d.put_bytes("DMAR.dat", first);
  sim::bytes ssdt = sim::acpi_header("SSDT");
  d.put_bytes("ssdt1.dat", sim::finish_table(ssdt));
  d.put("SOURCE.txt", "where the dump came from\n");
  d.put_bytes("RSDT", sim::bytes(36, 0));
  std::vector<sim::acpi_table_file> t;
  auto r = sim::read_acpi_tables(d.str(), t);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].bytes, first) << "instances keep their order: the first DMAR is listed first";
  EXPECT_EQ(t[1].bytes, second);
  EXPECT_EQ(t[2].signature(), "SSDT");

  // A table whose Length disagrees with its file is served as given, with a note.
  sim::bytes cut = first;
  cut.resize(40);
  d.put_bytes("HPET", cut);
  std::vector<sim::acpi_table_file> t2;
  auto r2 = sim::read_acpi_tables(d.str(), t2);
  ASSERT_TRUE(r2.ok);
  std::string notes;
  for (const auto& n : r2.notes) notes += n + "\n";
  EXPECT_TRUE(contains(notes, "HPET: the DMAR Length field (0x40) differs from the 40 bytes given")) << notes;
  EXPECT_TRUE(contains(notes, "named HPET but its signature is DMAR")) << notes;
}

TEST(PlatformFormat, ReplacingTablesKeepsTheOtherSignaturesAndTheRsdtPlace) {
  sim::platform_description p;
  p.acpi = {{"APIC", sim::build_madt({})}, {"DMAR", small_dmar(0xFED90000)}, {"MCFG", sim::build_mcfg({})}};
  std::vector<sim::acpi_table_file> repl = {{"DMAR", small_dmar(0xFED95000)},
                                            {"DMAR2", small_dmar(0xFED96000)},
                                            {"HPET", sim::build_hpet(0)}};
  sim::replace_acpi_tables(p, repl);
  ASSERT_EQ(p.acpi.size(), 5u);
  EXPECT_EQ(p.acpi[0].signature(), "APIC");
  EXPECT_EQ(p.acpi[1].bytes, repl[0].bytes);
  EXPECT_EQ(p.acpi[2].bytes, repl[1].bytes);
  EXPECT_EQ(p.acpi[3].signature(), "MCFG");
  EXPECT_EQ(p.acpi[4].signature(), "HPET");
}

TEST(PlatformFormat, LspciTextWithDomainsDetailsAndOtherSegments) {
  std::string text =
      "0000:00:1f.0 ISA bridge: Intel Corporation Device a145\n"
      "\tSubsystem: Intel Corporation Device 7270\n"
      "00: 86 80 45 a1 07 00 00 02 21 00 01 06 00 00 80 00\n"
      "40: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
      "\n"
      "0001:00:00.0 Host bridge: Intel Corporation Device 2020\n"
      "00: 86 80 20 20 00 00 00 00 00 00 00 06 00 00 00 00\n";
  sim::platform_description p;
  auto r = sim::parse_lspci_text(text, "lspci.txt", p);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(p.pci.size(), 1u);
  EXPECT_EQ(p.pci.count(0x00F8), 1u);
  EXPECT_EQ(p.pci[0x00F8][0x0E], 0x80);
  EXPECT_EQ(p.pci[0x00F8].size(), 4096u);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_TRUE(contains(r.notes[0], "lspci.txt:6: function 0001:00:00.0 left out"));
}

TEST(PlatformFormat, SmbiosWithOnlyA64BitEntryPointIsPublishedThroughA32BitOne) {
  sim::bytes table = sim::smbios_structure(0, 0, {1, 2, 0, 0xF0, 3, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0},
                                           {"Vendor", "V1.2", "01/02/2026"});
  sim::bytes end = sim::smbios_end(1);
  table.insert(table.end(), end.begin(), end.end());
  sim::bytes ep(0x18, 0);
  memcpy(ep.data(), "_SM3_", 5);
  ep[6] = 0x18;
  ep[7] = 3;
  ep[8] = 2;
  sim::put_le(ep, 0x0C, table.size(), 4);
  sim::put_le(ep, 0x10, 0x7AE4D000, 8);
  temp_dir d("smbios3");
  d.put_bytes("smbios/smbios_entry_point", ep);
  d.put_bytes("smbios/DMI", table);
  sim::platform_description p;
  ASSERT_TRUE(sim::load_platform_dir(d.str(), p).ok);
  sim::machine m;
  sim::install_platform(p, m);
  uint64_t at = 0;
  {
    sim::scoped_machine use(m);
    ASSERT_EQ(get_configuration_table(SMBIOS_TABLE_GUID, &at), EFI_SUCCESS);
    EXPECT_EQ(MmioRead32(at + 0x18), 0x7AE4D000u) << "the table stays where the firmware put it";
    EXPECT_EQ(MmioRead16(at + 0x16), table.size());
    uint8_t sum = 0;
    for (int i = 0; i < 0x1F; i++) sum = (uint8_t)(sum + MmioRead8(at + i));
    EXPECT_EQ(sum, 0) << "the entry point's checksum holds";
  }
}

TEST(PlatformFormat, WriterOutputLoadsBackUnchanged) {
  sim::platform_description p;
  p.title = "round trip";
  p.acpi = {{"DMAR", small_dmar(0xFED90000)}};
  p.pci[0x0010] = std::vector<uint8_t>(4096, 0);
  p.pci[0x0010][0] = 0x86;
  p.pci[0x0010][0x800] = 0x5A;  // a byte deep in extended space survives the zero-row thinning
  p.mmio = {{0xFED90010, 8, 0x7E3FF0505Eull, "ECAP"}, {0xFED1F404, 4, 0x80, ""}};
  p.cpuid[1] = {0x506E3, 1, 2, 3};
  p.msrs[0x3A] = 5;
  p.memory_map = {{0, 0x79E00000, 0x20, 0xF}, {42, 0x1000, 1, 0}};
  p.smbios_table = sim::smbios_end(0);
  p.ecam_set = true;
  p.ecam_base = 0xF0000000;
  p.ecam_buses = 64;
  p.rsdp = sim::rsdp_place::ebda;
  p.has_catalogue = true;
  p.catalogue = "1@One\n";
  temp_dir d("roundtrip");
  std::string err;
  ASSERT_TRUE(sim::write_platform_dir(p, d.str(), err)) << err;
  sim::platform_description q;
  auto r = sim::load_platform_dir(d.str(), q);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(q.title, p.title);
  EXPECT_EQ(q.acpi[0].bytes, p.acpi[0].bytes);
  EXPECT_EQ(q.pci, p.pci);
  ASSERT_EQ(q.mmio.size(), 2u);
  EXPECT_EQ(q.mmio[0].value, p.mmio[0].value);
  EXPECT_EQ(q.mmio[0].comment, "ECAP");
  EXPECT_EQ(q.mmio[1].width, 4u);
  EXPECT_EQ(q.cpuid, p.cpuid);
  EXPECT_EQ(q.msrs, p.msrs);
  ASSERT_EQ(q.memory_map.size(), 2u);
  EXPECT_EQ(q.memory_map[1].type, 42u);
  EXPECT_EQ(q.smbios_table, p.smbios_table);
  EXPECT_EQ(q.ecam_base, p.ecam_base);
  EXPECT_EQ(q.ecam_buses, 64);
  EXPECT_EQ(q.rsdp, sim::rsdp_place::ebda);
  EXPECT_EQ(q.catalogue, p.catalogue);
}

TEST(PlatformFormat, ChecksumRepairMakesHandEditedTablesSumToZero) {
  sim::platform_description p;
  p.acpi = {{"DMAR", small_dmar(0xFED90000)}, {"FACS", sim::bytes{'F', 'A', 'C', 'S', 64, 0, 0, 0, 0, 7}}};
  p.acpi[0].bytes[40] ^= 0x10;  // an edit
  sim::fix_acpi_checksums(p);
  uint8_t sum = 0;
  for (uint8_t c : p.acpi[0].bytes) sum = (uint8_t)(sum + c);
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(p.acpi[1].bytes[9], 7) << "FACS has no checksum at offset 9";
}
