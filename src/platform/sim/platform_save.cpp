// The writer behind --save: a description as a readable directory, text
// forms throughout, each piece in the form its reader takes.
#include <fstream>

#include "platform/sim/platform_text.h"

namespace sim {

using namespace piece;

namespace {

bool write_text(const fs::path& path, const std::string& text, std::string& error) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  if (!f) {
    error = path.string() + ": cannot write";
    return false;
  }
  return true;
}

// A piece is written when it holds something, or when a source it gives is
// known: a known source with nothing in it is absent hardware, which a
// missing piece would not say.
bool wanted(const platform_description& p, const std::string& piece, bool holds_something) {
  if (holds_something) return true;
  for (size_t i = 0; i < directory_piece_count; i++)
    if (piece == directory_pieces[i].name) return any_source_known(p, directory_pieces[i].sources);
  return false;
}

}  // namespace

bool write_platform_dir(const platform_description& p, const std::string& dir_text, std::string& error) {
  fs::path dir(dir_text);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    error = dir_text + ": cannot create the directory";
    return false;
  }
  std::string s;
  char buf[256];

  s = "# " + (p.title.empty() ? std::string("Platform") : p.title) + "\n";
  if (p.ecam_set) {
    snprintf(buf, sizeof buf, "ecam 0x%llX %u\n", (unsigned long long)p.ecam_base, p.ecam_buses);
    s += buf;
  }
  static const char* const places[] = {"configuration_table", "legacy_bios_area", "ebda", "none"};
  if (p.rsdp != rsdp_place::configuration_table) s += std::string("rsdp ") + places[(int)p.rsdp] + "\n";
  std::string not_recorded;
  for (uint32_t k = 0; k < SOURCE_COUNT; k++)
    if (p.sources[k] != SOURCE_KNOWN) not_recorded += std::string(" ") + source_name((platform_source)k);
  if (!not_recorded.empty()) s += "not-recorded" + not_recorded + "\n";
  if (!write_text(dir / "platform.txt", s, error)) return false;

  if (wanted(p, "acpi", !p.acpi.empty())) {
    fs::create_directories(dir / "acpi", ec);
    s = p.acpi.empty() ? "# No ACPI tables\n" : "";
    for (const auto& t : p.acpi) {
      s += t.signature() + " @ 0x0000000000000000\n";
      s += dump_lines(t.bytes, true, "    ", false);
      s += "\n";
    }
    if (!write_text(dir / "acpi" / "acpidump.txt", s, error)) return false;
  }

  if (wanted(p, "pci", !p.pci.empty())) {
    fs::create_directories(dir / "pci", ec);
    s = "# Configuration space per function, as lspci -xxxx prints it (rows of zeros after 0x40 left out).\n";
    for (const auto& f : p.pci) {
      auto it = p.pci_names.find(f.first);
      std::string name = it != p.pci_names.end() && !it->second.empty()
                             ? it->second
                             : std::string(pci_class_name(f.second[0x0B], f.second[0x0A])) + ": Device " +
                                   [&] {
                                     snprintf(buf, sizeof buf, "%04x:%04x", f.second[0] | f.second[1] << 8,
                                              f.second[2] | f.second[3] << 8);
                                     return std::string(buf);
                                   }();
      s += bdf_text(f.first) + " " + name + "\n";
      s += dump_lines(f.second, false, "", true);
      s += "\n";
    }
    if (!write_text(dir / "pci" / "lspci.txt", s, error)) return false;
  }

  if (wanted(p, "mmio.txt", !p.mmio.empty())) {
    s = "# Memory-mapped registers: ADDRESS WIDTH(bits) VALUE. Anything not listed reads as all ones.\n";
    for (const auto& v : p.mmio) {
      snprintf(buf, sizeof buf, "0x%08llX %2u 0x%0*llX", (unsigned long long)v.address, v.width * 8, (int)v.width * 2,
               (unsigned long long)v.value);
      s += buf;
      if (!v.comment.empty()) s += "  # " + v.comment;
      s += "\n";
    }
    if (!write_text(dir / "mmio.txt", s, error)) return false;
  }

  if (wanted(p, "cpuid.txt", !p.cpuid.empty())) {
    s = "# CPUID: LEAF EAX EBX ECX EDX\n";
    for (const auto& c : p.cpuid) {
      snprintf(buf, sizeof buf, "0x%08X 0x%08X 0x%08X 0x%08X 0x%08X\n", c.first, c.second[0], c.second[1], c.second[2],
               c.second[3]);
      s += buf;
    }
    if (!write_text(dir / "cpuid.txt", s, error)) return false;
  }

  if (wanted(p, "msr.txt", !p.msrs.empty())) {
    s = "# Model-specific registers: INDEX VALUE\n";
    for (const auto& msr : p.msrs) {
      snprintf(buf, sizeof buf, "0x%X 0x%llX\n", msr.first, (unsigned long long)msr.second);
      s += buf;
    }
    if (!write_text(dir / "msr.txt", s, error)) return false;
  }

  if (wanted(p, "memmap.txt", !p.memory_map.empty())) {
    s = "# UEFI memory map: TYPE START PAGES [ATTRIBUTE]\n";
    for (const auto& d : p.memory_map) {
      std::string type = d.type < memory_type_count ? memory_type_names[d.type] : hex(d.type);
      snprintf(buf, sizeof buf, "%-26s 0x%012llX 0x%08llX 0x%llX\n", type.c_str(), (unsigned long long)d.physical_start,
               (unsigned long long)d.number_of_pages, (unsigned long long)d.attribute);
      s += buf;
    }
    if (!write_text(dir / "memmap.txt", s, error)) return false;
  }

  if (wanted(p, "smbios", !p.smbios_table.empty())) {
    fs::create_directories(dir / "smbios", ec);
    if (!p.smbios_entry_point.empty() &&
        !write_text(dir / "smbios" / "smbios_entry_point.txt", dump_lines(p.smbios_entry_point, true, "", false), error))
      return false;
    std::string table = p.smbios_table.empty() ? "# No SMBIOS structure table\n" : dump_lines(p.smbios_table, true, "", false);
    if (!write_text(dir / "smbios" / "DMI.txt", table, error)) return false;
  }

  if (p.has_catalogue && !write_text(dir / "zyr-tests", p.catalogue, error)) return false;
  return true;
}

}  // namespace sim
