// Platform directories: a recorded or hand-written platform that the
// simulated machine serves. A directory holds the ACPI tables, PCI
// configuration space, memory-mapped register values, CPUID leaves, MSRs,
// the UEFI memory map, SMBIOS and optionally the catalogue file; the layout
// and the text formats are described in docs/platform-format.md.
//
// Loading goes in two steps: the files are read into a platform_description
// (every malformed piece refused with its file and line), then the
// description is installed into a sim::machine. The writer does the reverse
// step, so that a description built in code (the reference platforms) or
// loaded from captured files can be kept as a readable directory.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace sim {

struct mmio_value {
  uint64_t address;
  unsigned width;  // bytes: 1, 2, 4 or 8
  uint64_t value;
  std::string comment;
};

struct acpi_table_file {
  std::string name;  // file name it came from or is written to ("DMAR", "SSDT2")
  std::vector<uint8_t> bytes;
  std::string signature() const;
};

// The sources of platform.h by the names that platform.txt's not-recorded
// lines and the runner's messages use: dmar mcfg madt hpet chipset pci
// engines device-registers memory-map smbios cpuid msr.
const char* source_name(platform_source s);
bool source_by_name(const std::string& name, platform_source& s);
// The source an ACPI table gives (DMAR, MCFG, APIC, HPET); false for the
// other tables.
bool table_source(const std::string& signature, platform_source& s);

struct platform_description {
  std::vector<acpi_table_file> acpi;  // in RSDT order
  std::map<uint16_t, std::vector<uint8_t>> pci;  // bus << 8 | dev << 3 | fn -> configuration image
  std::map<uint16_t, std::string> pci_names;     // optional description per function (lspci's text)
  std::vector<mmio_value> mmio;
  std::map<uint32_t, std::array<uint32_t, 4>> cpuid;
  std::map<uint32_t, uint64_t> msrs;
  std::vector<memory_descriptor> memory_map;
  std::vector<uint8_t> smbios_entry_point;  // "_SM_" or "_SM3_" structure; empty: synthesized
  std::vector<uint8_t> smbios_table;        // empty: no SMBIOS
  bool has_catalogue = false;
  std::string catalogue;
  // Settings (platform.txt).
  bool ecam_set = false;
  uint64_t ecam_base = 0;
  uint16_t ecam_buses = 256;
  rsdp_place rsdp = rsdp_place::configuration_table;
  std::string title;  // first comment line of platform.txt, shown by the runner
  // What the description tells: every source is known unless the piece of
  // the directory that gives it is missing, platform.txt lists it as not
  // recorded, or the description holds tables alone.
  std::array<source_state, SOURCE_COUNT> sources{};
};

struct load_result {
  bool ok = true;
  std::string error;               // "<file>:<line>: <what>" when !ok
  std::vector<std::string> notes;  // pieces left out or adjusted, for the user
};

// Reads a platform directory. A piece that is present is complete: what it
// does not list is absent. A missing piece leaves its sources not recorded.
// A directory without any platform piece is refused.
load_result load_platform_dir(const std::string& dir, platform_description& p);

// The root tables (RSDT, XSDT) that came with some ACPI tables, and where
// the tables lay: what tells whether a table the input lacks was on the
// machine at all.
struct acpi_root_tables {
  bool given = false;               // an RSDT or XSDT was among the tables
  std::vector<uint64_t> listed;     // the table addresses their entries hold
  std::vector<uint64_t> addresses;  // where each table given lay, when the input says (acpidump text)
  // Every entry of the root tables is a table that was given: a table not
  // given was not on the machine.
  bool lists_only_given() const;
};

// A run on ACPI tables alone: the given tables; every source but the tables
// is unknown for that reason. A table the checks read (DMAR, MCFG, MADT,
// HPET) that was not given is absent when the root tables list only tables
// that were given, else not given: not known.
void tables_only_platform(const std::vector<acpi_table_file>& tables, platform_description& p,
                          const acpi_root_tables& roots = {});

// Reads ACPI tables from a directory of binary tables (named by signature,
// as /sys/firmware/acpi/tables or acpixtract name them), from an acpidump
// text file, or from one binary table file. A file that is neither is
// refused. The root tables are not among the tables (a machine lays out its
// own): roots, when given, receives what they list.
load_result read_acpi_tables(const std::string& path, std::vector<acpi_table_file>& tables,
                             acpi_root_tables* roots = nullptr);

// Replaces, signature by signature, the platform's tables by the given ones:
// every table of a signature present in `tables` replaces all tables of that
// signature, and its source is known; the other tables stay.
void replace_acpi_tables(platform_description& p, const std::vector<acpi_table_file>& tables);

// Sets the checksum byte of every table with a standard header (all but
// FACS) so that its Length bytes sum to zero; for hand-edited tables.
void fix_acpi_checksums(platform_description& p);

// Parsers of the text pieces, exposed for the capture tool's tests and for
// tools that convert dumps; `name` is used in messages.
load_result parse_acpidump_text(const std::string& text, const std::string& name, std::vector<acpi_table_file>& out,
                               acpi_root_tables* roots = nullptr);
load_result parse_lspci_text(const std::string& text, const std::string& name, platform_description& p);

// Installs the description into a fresh machine (tables, configuration
// space, registers, processor, memory map, SMBIOS, catalogue).
void install_platform(const platform_description& p, machine& m);

// Writes the description as a readable directory (text forms throughout).
bool write_platform_dir(const platform_description& p, const std::string& dir, std::string& error);

// The families of the built-in reference platforms, in dispatch-table order.
const std::vector<std::string>& reference_families();

// Loads IOVET_SOURCE_DIR "/platforms/" family into m (the family's
// generator when that directory does not exist), with the repository's
// catalogue file when the directory has none. False (and nothing installed)
// for an unknown family or a directory that does not load.
bool load_reference_platform(const std::string& family, machine& m);
// The same, keeping the description (for tests that change one piece).
bool load_reference_description(const std::string& family, platform_description& p, std::string* error = nullptr);

}  // namespace sim
