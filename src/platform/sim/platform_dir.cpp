#include "platform/sim/platform_dir.h"

#include <algorithm>

#include "platform/sim/platform_text.h"
#include "platform/sim/reference.h"

namespace sim {

using namespace piece;

// ---------------------------------------------------------------------------
// Sources.

namespace {

const char* const source_names[SOURCE_COUNT] = {"dmar",   "mcfg",  "madt",       "hpet",
                                                "chipset", "pci",  "engines",    "device-registers",
                                                "memory-map", "smbios", "cpuid", "msr"};

}  // namespace

const char* source_name(platform_source s) { return s < SOURCE_COUNT ? source_names[s] : "?"; }

bool source_by_name(const std::string& name, platform_source& s) {
  for (uint32_t i = 0; i < SOURCE_COUNT; i++)
    if (name == source_names[i]) {
      s = (platform_source)i;
      return true;
    }
  return false;
}

bool table_source(const std::string& signature, platform_source& s) {
  static const std::pair<const char*, platform_source> tables[] = {
      {"DMAR", SOURCE_DMAR}, {"MCFG", SOURCE_MCFG}, {"APIC", SOURCE_MADT}, {"HPET", SOURCE_HPET}};
  for (const auto& t : tables)
    if (signature == t.first) {
      s = t.second;
      return true;
    }
  return false;
}

namespace piece {

// The chipset's registers behind MCHBAR and RCBA are memory-mapped; the
// rest of its view is configuration space.
const directory_piece directory_pieces[] = {
    {"acpi", true, table_sources},
    {"pci", true, source_bit(SOURCE_PCI) | source_bit(SOURCE_CHIPSET)},
    {"mmio.txt", false, source_bit(SOURCE_ENGINES) | source_bit(SOURCE_DEVICE_REGISTERS) | source_bit(SOURCE_CHIPSET)},
    {"cpuid.txt", false, source_bit(SOURCE_CPUID)},
    {"msr.txt", false, source_bit(SOURCE_MSR)},
    {"memmap.txt", false, source_bit(SOURCE_MEMORY_MAP)},
    {"smbios", true, source_bit(SOURCE_SMBIOS)},
};
const size_t directory_piece_count = sizeof(directory_pieces) / sizeof(directory_pieces[0]);

bool any_source_known(const platform_description& p, uint16_t sources) {
  for (uint32_t s = 0; s < SOURCE_COUNT; s++)
    if ((sources & source_bit((platform_source)s)) && p.sources[s] == SOURCE_KNOWN) return true;
  return false;
}

}  // namespace piece

// ---------------------------------------------------------------------------
// The directory: each piece read by its own file (platform_text.h).

namespace {

bool piece_present(const fs::path& dir, const directory_piece& piece) {
  std::error_code ec;
  return piece.directory ? fs::is_directory(dir / piece.name, ec) : fs::exists(dir / piece.name, ec);
}

}  // namespace

load_result load_platform_dir(const std::string& dir_text, platform_description& p) {
  fs::path dir(dir_text);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return fail(dir_text, 0, "not a platform directory");
  load_result r;
  auto take = [&](const load_result& one) { return piece::take(r, one); };
  auto text_piece = [&](const char* file, load_result (*parse)(const std::string&, const std::string&,
                                                                platform_description&)) {
    fs::path f = dir / file;
    if (!fs::exists(f, ec)) return true;
    std::string text;
    if (!take(read_piece(f, text))) return false;
    return take(parse(text, f.string(), p));
  };

  if (!text_piece("platform.txt", parse_settings)) return r;
  if (fs::is_directory(dir / "acpi", ec) && !take(read_acpi_tables((dir / "acpi").string(), p.acpi))) return r;

  if (fs::is_directory(dir / "pci", ec) && !take(read_pci_dir(dir / "pci", p))) return r;

  if (!text_piece("mmio.txt", parse_mmio)) return r;
  if (!text_piece("cpuid.txt", parse_cpuid)) return r;
  if (!text_piece("msr.txt", parse_msr)) return r;
  if (!text_piece("memmap.txt", parse_memmap)) return r;

  if (!take(read_smbios_dir(dir / "smbios", p))) return r;

  fs::path cat = dir / "zyr-tests";
  if (fs::exists(cat, ec)) {
    if (!take(read_piece(cat, p.catalogue))) return r;
    p.has_catalogue = true;
  }
  // What was never recorded is not known, never absent.
  bool any = false;
  for (size_t i = 0; i < directory_piece_count; i++) {
    if (piece_present(dir, directory_pieces[i])) {
      any = true;
      continue;
    }
    for (uint32_t s = 0; s < SOURCE_COUNT; s++)
      if (directory_pieces[i].sources & source_bit((platform_source)s)) p.sources[s] = SOURCE_NOT_RECORDED;
  }
  if (!any)
    return fail(dir_text, 0,
                "no platform piece here (acpi/, pci/, mmio.txt, cpuid.txt, msr.txt, memmap.txt, smbios/; "
                "a directory of ACPI tables goes with --tables)");
  return r;
}

void tables_only_platform(const std::vector<acpi_table_file>& tables, platform_description& p,
                          const acpi_root_tables& roots) {
  p = platform_description{};
  p.acpi = tables;
  for (uint32_t s = 0; s < SOURCE_COUNT; s++)
    p.sources[s] = (table_sources & source_bit((platform_source)s)) ? SOURCE_KNOWN : SOURCE_TABLES_ONLY;
  // A table not given is absent only where the root tables say so: they
  // list nothing but tables that were given.
  bool complete = roots.given && roots.lists_only_given();
  for (uint32_t s = 0; s < SOURCE_COUNT; s++) {
    if (!(table_sources & source_bit((platform_source)s))) continue;
    bool given = false;
    for (const auto& t : tables) {
      platform_source of;
      given = given || (table_source(t.signature(), of) && of == (platform_source)s);
    }
    if (!given && !complete) p.sources[s] = SOURCE_NOT_GIVEN;
  }
}

// ---------------------------------------------------------------------------
// Reference platforms.

const std::vector<std::string>& reference_families() {
  static const std::vector<std::string> f{"qen", "rav", "mof", "jix", "yod", "gux", "wez"};
  return f;
}

bool load_reference_description(const std::string& family, platform_description& p, std::string* error) {
  const auto& fams = reference_families();
  if (std::find(fams.begin(), fams.end(), family) == fams.end()) {
    if (error) *error = "unknown reference family \"" + family + "\"";
    return false;
  }
  std::string dir = std::string(IOVET_SOURCE_DIR) + "/platforms/" + family;
  std::error_code ec;
  // Away from the source tree the platform comes from its generator.
  if (!fs::is_directory(dir, ec)) return make_reference_platform(family, p);
  load_result r = load_platform_dir(dir, p);
  if (!r.ok && error) *error = r.error;
  return r.ok;
}

bool load_reference_platform(const std::string& family, machine& m) {
  platform_description p;
  if (!load_reference_description(family, p)) return false;
  if (!p.has_catalogue) {
    std::string text, error;
    if (read_whole_file(std::string(IOVET_SOURCE_DIR) + "/zyr-tests", text, error)) {
      p.has_catalogue = true;
      p.catalogue = text;
    }
  }
  install_platform(p, m);
  return true;
}

}  // namespace sim
