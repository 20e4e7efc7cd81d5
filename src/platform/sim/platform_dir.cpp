#include "platform/sim/platform_dir.h"

#include <algorithm>

#include "platform/sim/platform_text.h"
#include "platform/sim/reference.h"

namespace sim {

using namespace piece;

// ---------------------------------------------------------------------------
// The directory: each piece read by its own file (platform_text.h).

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
  bool any = false;
  for (const char* part : {"platform.txt", "acpi", "pci", "mmio.txt", "cpuid.txt", "msr.txt", "memmap.txt", "smbios",
                            "zyr-tests"})
    if (fs::exists(dir / part, ec)) any = true;
  if (!any)
    r.notes.push_back(dir_text + ": no platform pieces here, the machine is empty (for a directory of ACPI tables, use "
                                 "--tables)");
  return r;
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
