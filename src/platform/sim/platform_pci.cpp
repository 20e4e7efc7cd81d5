// PCI configuration space of a platform directory: lspci -xxxx text, and
// sysfs configuration images named [SSSS:]BB:DD.F.
#include <algorithm>

#include "platform/sim/platform_text.h"

namespace sim {

namespace piece {

bool parse_bdf(const std::string& name, uint16_t& segment, uint16_t& key) {
  // [SSSS:]BB:DD.F
  std::string s = name;
  segment = 0;
  if (s.size() == 12 && s[4] == ':') {
    uint64_t seg;
    if (!parse_hex_plain(s.substr(0, 4), seg)) return false;
    segment = (uint16_t)seg;
    s = s.substr(5);
  }
  if (s.size() != 7 || s[2] != ':' || s[5] != '.') return false;
  uint64_t bus, dev, fn;
  if (!parse_hex_plain(s.substr(0, 2), bus) || !parse_hex_plain(s.substr(3, 2), dev) ||
      !parse_hex_plain(s.substr(6, 1), fn) || dev > 31 || fn > 7)
    return false;
  key = (uint16_t)(bus << 8 | dev << 3 | fn);
  return true;
}

std::string bdf_text(uint16_t key) {
  char buf[16];
  snprintf(buf, sizeof buf, "%02x:%02x.%x", key >> 8, (key >> 3) & 0x1F, key & 7);
  return buf;
}

const char* pci_class_name(uint8_t base, uint8_t sub) {
  switch (base) {
    case 0x01: return "Mass storage controller";
    case 0x02: return "Ethernet controller";
    case 0x03: return "VGA compatible controller";
    case 0x04: return "Multimedia controller";
    case 0x05: return "Memory controller";
    case 0x06:
      return sub == 0x00 ? "Host bridge" : sub == 0x01 ? "ISA bridge" : sub == 0x04 ? "PCI bridge" : "Bridge";
    case 0x07: return "Communication controller";
    case 0x08: return sub == 0x00 ? "PIC" : "System peripheral";
    case 0x0C: return sub == 0x03 ? "USB controller" : sub == 0x05 ? "SMBus" : "Serial bus controller";
    default: return "Unclassified device";
  }
}

load_result read_pci_dir(const fs::path& dir, platform_description& p) {
  std::error_code ec;
  load_result r;
  std::vector<fs::path> entries;
  for (const auto& de : fs::directory_iterator(dir, ec))
    if (de.is_regular_file()) entries.push_back(de.path());
  std::sort(entries.begin(), entries.end());
  for (const auto& f : entries) {
    std::string n = f.filename().string();
    uint16_t segment, key;
    if (f.extension() == ".txt") {
      std::string text;
      if (!take(r, read_piece(f, text)) || !take(r, parse_lspci_text(text, f.string(), p))) return r;
    } else if (parse_bdf(n, segment, key)) {
      if (segment != 0) {
        r.notes.push_back(f.string() + ": left out (the simulated machine has PCI segment 0 only)");
        continue;
      }
      std::string data;
      if (!take(r, read_piece(f, data))) return r;
      if (data.empty() || data.size() > 4096) {
        take(r, fail(f.string(), 0, "a configuration image holds 1 to 4096 bytes, this one " + std::to_string(data.size())));
        return r;
      }
      if (p.pci.count(key)) {
        take(r, fail(f.string(), 0, "function " + bdf_text(key) + " given twice"));
        return r;
      }
      std::vector<uint8_t> image(4096, 0);
      std::copy(data.begin(), data.end(), image.begin());
      p.pci[key] = image;
    }
  }
  return r;
}

}  // namespace piece

using namespace piece;

load_result parse_lspci_text(const std::string& text, const std::string& name, platform_description& p) {
  load_result r;
  auto lines = split_lines(text);
  enum { none, taking, skipping } state = none;
  uint16_t key = 0;
  for (size_t i = 0; i < lines.size(); i++) {
    const std::string& l = lines[i];
    if (l.empty() || l[0] == ' ' || l[0] == '\t' || l[0] == '#') continue;  // lspci -v details, comments
    size_t sp = l.find(' ');
    std::string first = sp == std::string::npos ? l : l.substr(0, sp);
    uint16_t segment, k;
    if (parse_bdf(first, segment, k)) {
      if (segment != 0) {
        r.notes.push_back(name + ":" + std::to_string(i + 1) + ": function " + first +
                          " left out (the simulated machine has PCI segment 0 only)");
        state = skipping;
        continue;
      }
      state = taking;
      key = k;
      if (p.pci.count(key)) return fail(name, i + 1, "function " + first + " given twice");
      p.pci[key] = std::vector<uint8_t>(4096, 0);
      p.pci_names[key] = sp == std::string::npos ? "" : l.substr(sp + 1);
      continue;
    }
    uint64_t off;
    std::vector<uint8_t> data;
    if (parse_dump_line(l, off, data)) {
      if (state == skipping) continue;
      if (state == none) return fail(name, i + 1, "configuration bytes before any function line (\"BB:DD.F ...\")");
      if (off % 16 || off + data.size() > 4096)
        return fail(name, i + 1, "offset " + hex(off) + " outside the 4 KiB configuration space");
      std::copy(data.begin(), data.end(), p.pci[key].begin() + (long)off);
      continue;
    }
    return fail(name, i + 1, "neither a function line (\"BB:DD.F description\") nor configuration bytes (\"OFF: XX ...\")");
  }
  return r;
}

}  // namespace sim
