// SMBIOS of a platform directory: the entry point and the structure table,
// binary (as /sys/firmware/dmi/tables holds them) or hex-dump text.
#include <cstring>

#include "platform/sim/platform_text.h"

namespace sim::piece {

namespace {

// Hex-dump text of one binary piece (used for SMBIOS): "OFFSET: XX ..."
// lines in order, '#' comments and blank lines allowed.
load_result parse_hex_lines(const std::string& text, const std::string& name, std::vector<uint8_t>& out) {
  auto lines = split_lines(text);
  out.clear();
  for (size_t i = 0; i < lines.size(); i++) {
    std::string l = lines[i];
    size_t hash = l.find('#');
    if (hash != std::string::npos) l.resize(hash);
    if (l.find_first_not_of(" \t") == std::string::npos) continue;
    uint64_t off;
    std::vector<uint8_t> data;
    if (!parse_dump_line(l, off, data)) return fail(name, i + 1, "not a dump line (OFFSET: XX XX ...)");
    if (off != out.size()) return fail(name, i + 1, "offset " + hex(off) + " does not follow the previous line");
    if (out.size() + data.size() > max_piece_bytes) return fail(name, i + 1, "too large");
    out.insert(out.end(), data.begin(), data.end());
  }
  return {};
}

}  // namespace

load_result read_smbios_dir(const fs::path& dir, platform_description& p) {
  std::error_code ec;
  load_result r;
  for (const char* part : {"smbios_entry_point", "DMI"}) {
    std::vector<uint8_t>& out = std::string(part) == "DMI" ? p.smbios_table : p.smbios_entry_point;
    fs::path bin = dir / part, txt = dir / (std::string(part) + ".txt");
    std::string data;
    if (fs::exists(bin, ec)) {
      if (!take(r, read_piece(bin, data))) return r;
      out.assign(data.begin(), data.end());
    } else if (fs::exists(txt, ec)) {
      if (!take(r, read_piece(txt, data)) || !take(r, parse_hex_lines(data, txt.string(), out))) return r;
    }
  }
  if (!p.smbios_entry_point.empty()) {
    const auto& ep = p.smbios_entry_point;
    bool sm2 = ep.size() >= 0x1F && memcmp(ep.data(), "_SM_", 4) == 0;
    bool sm3 = ep.size() >= 0x18 && memcmp(ep.data(), "_SM3_", 5) == 0;
    if (!sm2 && !sm3) {
      take(r, fail((dir / "smbios_entry_point").string(), 0, "neither a \"_SM_\" nor a \"_SM3_\" entry point"));
      return r;
    }
  }
  return r;
}

void install_smbios_piece(const platform_description& p, machine& m) {
  if (p.smbios_table.empty()) return;
  const auto& ep = p.smbios_entry_point;
  uint64_t table_at = 0;
  if (ep.size() >= 0x1F && memcmp(ep.data(), "_SM_", 4) == 0) table_at = get32(ep, 0x18);
  else if (ep.size() >= 0x18 && memcmp(ep.data(), "_SM3_", 5) == 0) table_at = get64(ep, 0x10);
  if (table_at && table_at + p.smbios_table.size() <= 0x100000000ull && p.smbios_table.size() <= 0xFFFF &&
      ep.size() >= 0x1F && memcmp(ep.data(), "_SM_", 4) == 0) {
    // The recorded 32-bit entry point, published as the firmware did.
    const uint64_t entry_at = 0x7EFFE000;
    m.write_memory(table_at, p.smbios_table.data(), p.smbios_table.size());
    m.write_memory(entry_at, ep.data(), ep.size());
    m.configuration_table.push_back({SMBIOS_TABLE_GUID, entry_at});
  } else if (table_at && table_at + p.smbios_table.size() <= 0x100000000ull && p.smbios_table.size() <= 0xFFFF) {
    // Only a 64-bit entry point was recorded (Linux shows the newest one);
    // firmware publishes a 32-bit one beside it for the same table.
    std::vector<uint8_t> t = p.smbios_table;
    m.write_memory(table_at, t.data(), t.size());
    std::vector<uint8_t> e(31, 0);
    memcpy(e.data(), "_SM_", 4);
    e[5] = 0x1F;
    e[6] = ep.size() > 7 ? ep[7] : 3;
    e[7] = ep.size() > 8 ? ep[8] : 0;
    memcpy(e.data() + 0x10, "_DMI_", 5);
    e[0x16] = (uint8_t)t.size();
    e[0x17] = (uint8_t)(t.size() >> 8);
    for (int i = 0; i < 4; i++) e[0x18 + i] = (uint8_t)(table_at >> (8 * i));
    uint8_t sum = 0;
    for (int i = 0x10; i < 0x1F; i++) sum = (uint8_t)(sum + e[i]);
    e[0x15] = (uint8_t)(0 - sum);
    sum = 0;
    for (int i = 0; i < 0x1F; i++) sum = (uint8_t)(sum + e[i]);
    e[4] = (uint8_t)(0 - sum);
    const uint64_t entry_at = 0x7EFFE000;
    m.write_memory(entry_at, e.data(), e.size());
    m.configuration_table.push_back({SMBIOS_TABLE_GUID, entry_at});
  } else {
    m.install_smbios(p.smbios_table);
  }
}

}  // namespace sim::piece
