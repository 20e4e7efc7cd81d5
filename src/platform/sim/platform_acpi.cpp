// ACPI tables of a platform directory: acpidump text, and binary tables
// named by signature (sysfs, acpixtract and dump-archive names).
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "platform/sim/platform_text.h"

namespace sim {

using namespace piece;

namespace {

// Binary table names: SIG, SIGn, SIG.n, each with an optional .dat, .aml or
// .bin extension (sysfs, acpixtract and dump-archive conventions).
bool table_file_name(const std::string& name, std::string& signature, unsigned& instance) {
  std::string n = name;
  for (const char* ext : {".dat", ".DAT", ".aml", ".AML", ".bin", ".BIN"}) {
    size_t l = strlen(ext);
    if (n.size() > l && n.compare(n.size() - l, l, ext) == 0) {
      n.resize(n.size() - l);
      break;
    }
  }
  if (n.size() < 4) return false;
  for (size_t i = 0; i < 4; i++)
    if (!isalnum((unsigned char)n[i]) && n[i] != '_') return false;
  std::string rest = n.substr(4);
  if (!rest.empty() && rest[0] == '.') rest = rest.substr(1);
  instance = 1;
  if (!rest.empty()) {
    if (rest.size() > 4) return false;
    for (char c : rest)
      if (!isdigit((unsigned char)c)) return false;
    instance = (unsigned)std::stoul(rest);
  }
  signature = upper(n.substr(0, 4));
  return true;
}

void length_note(const acpi_table_file& t, const std::string& where, load_result& r) {
  if (t.bytes.size() < 8) return;
  uint32_t len = get32(t.bytes, 4);
  if (t.signature() != "FACS" && len != t.bytes.size())
    r.notes.push_back(where + ": the " + t.signature() + " Length field (" + hex(len) + ") differs from the " +
                      std::to_string(t.bytes.size()) + " bytes given; the bytes are served as given");
}

// Four characters of a table signature: letters, digits and '_'.
bool signature_like(const std::string& data) {
  if (data.size() < 4) return false;
  for (size_t i = 0; i < 4; i++)
    if (!isalnum((unsigned char)data[i]) && data[i] != '_') return false;
  return true;
}

// A whole binary table: a signature, and a Length that covers its header
// and that the bytes hold.
bool whole_table(const std::string& data) {
  if (!signature_like(data) || data.size() < 36) return false;
  uint32_t length = 0;
  for (int i = 3; i >= 0; i--) length = length << 8 | (uint8_t)data[4 + i];
  return length >= 36 && length <= data.size();
}

load_result load_binary_table(const fs::path& path, const std::string& signature, acpi_table_file& t) {
  std::string data, error;
  if (!read_whole_file(path, data, error)) return fail(path.string(), 0, error);
  if (data.size() < 4) return fail(path.string(), 0, "too short to hold a table signature");
  if (!signature_like(data)) return fail(path.string(), 0, "not an ACPI table: its first four bytes are no signature");
  t.name = path.filename().string();
  t.bytes.assign(data.begin(), data.end());
  load_result r;
  if (signature != t.signature())
    r.notes.push_back(path.string() + ": named " + signature + " but its signature is " + t.signature());
  length_note(t, path.string(), r);
  return r;
}

}  // namespace

std::string acpi_table_file::signature() const {
  std::string s;
  for (size_t i = 0; i < 4 && i < bytes.size(); i++) s += (char)bytes[i];
  return s;
}

// ---------------------------------------------------------------------------
// ACPI tables.

bool acpi_root_tables::lists_only_given() const {
  for (uint64_t entry : listed)
    if (!entry || std::find(addresses.begin(), addresses.end(), entry) == addresses.end()) return false;
  return true;
}

namespace {
// The entries of an RSDT (4 bytes each) or XSDT (8) from offset 36, within
// its Length and its bytes.
void take_root_entries(const acpi_table_file& t, acpi_root_tables& roots) {
  roots.given = true;
  size_t width = t.signature() == "XSDT" ? 8 : 4;
  size_t end = t.bytes.size() >= 8 ? std::min<size_t>(get32(t.bytes, 4), t.bytes.size()) : 0;
  for (size_t off = 36; off + width <= end; off += width) {
    uint64_t entry = get32(t.bytes, off);
    if (width == 8) entry |= (uint64_t)get32(t.bytes, off + 4) << 32;
    roots.listed.push_back(entry);
  }
}

bool root_table(const std::string& signature) { return signature == "RSDT" || signature == "XSDT"; }
}  // namespace

load_result parse_acpidump_text(const std::string& text, const std::string& name, std::vector<acpi_table_file>& out,
                               acpi_root_tables* roots) {
  load_result r;
  auto lines = split_lines(text);
  bool in_table = false;
  bool skip_table = false;
  acpi_table_file cur;
  uint64_t cur_address = 0;
  std::map<std::string, unsigned> seen;
  size_t table_line = 0;
  auto finish = [&]() {
    if (in_table && roots && root_table(cur.signature())) take_root_entries(cur, *roots);
    if (in_table && !skip_table) {
      length_note(cur, name + ":" + std::to_string(table_line), r);
      out.push_back(cur);
      if (roots && cur_address) roots->addresses.push_back(cur_address);
    }
    in_table = false;
    skip_table = false;
  };
  for (size_t i = 0; i < lines.size(); i++) {
    const std::string& l = lines[i];
    size_t s = l.find_first_not_of(" \t");
    if (s == std::string::npos) {
      finish();
      continue;
    }
    // Table header: "SIG @ 0xADDRESS".
    size_t at = l.find(" @ ");
    if (at != std::string::npos && at >= s + 4) {
      std::string sig = l.substr(s, at - s);
      while (!sig.empty() && sig.back() == ' ') sig.pop_back();
      if (sig.size() == 4) {
        finish();
        in_table = true;
        table_line = i + 1;
        skip_table = sig == "RSD " || sig == "RSDP" || sig == "RSDT" || sig == "XSDT";
        cur = acpi_table_file{};
        std::string address = l.substr(at + 3);
        address = address.substr(0, address.find_first_of(" \t"));
        if (address.size() < 3 || address.compare(0, 2, "0x") != 0 || !parse_hex_plain(address.substr(2), cur_address))
          cur_address = 0;
        unsigned n = ++seen[sig];
        cur.name = n == 1 ? sig : sig + std::to_string(n);
        continue;
      }
    }
    uint64_t off;
    std::vector<uint8_t> data;
    if (parse_dump_line(l, off, data)) {
      if (!in_table) return fail(name, i + 1, "dump line before any table header (\"SIG @ 0xADDRESS\")");
      if (off != cur.bytes.size())
        return fail(name, i + 1, "offset " + hex(off) + " does not follow the previous line (expected " +
                                     hex(cur.bytes.size()) + ")");
      if (cur.bytes.size() + data.size() > max_piece_bytes) return fail(name, i + 1, "table too large");
      cur.bytes.insert(cur.bytes.end(), data.begin(), data.end());
      continue;
    }
    if (in_table) return fail(name, i + 1, "not a dump line inside table " + cur.name);
    // Text around the tables (tool banners, comments) is ignored.
  }
  finish();
  for (const auto& t : out)
    if (t.bytes.size() < 4) return fail(name, 0, "table " + t.name + " holds fewer than 4 bytes");
  return r;
}

load_result read_acpi_tables(const std::string& path_text, std::vector<acpi_table_file>& tables,
                             acpi_root_tables* roots) {
  fs::path path(path_text);
  std::error_code ec;
  load_result r;
  if (fs::is_regular_file(path, ec)) {
    // One file: a whole binary table, or acpidump text.
    std::string data;
    load_result rp = read_piece(path, data);
    if (!rp.ok) return rp;
    if (whole_table(data)) {
      acpi_table_file t;
      t.bytes.assign(data.begin(), data.end());
      t.name = t.signature();
      length_note(t, path_text, r);
      tables.push_back(t);
      return r;
    }
    size_t before = tables.size();
    r = parse_acpidump_text(data, path_text, tables, roots);
    if (r.ok && tables.size() == before)
      return fail(path_text, 0, "neither an ACPI table nor acpidump text (no \"SIG @ 0xADDRESS\" table in it)");
    return r;
  }
  if (!fs::is_directory(path, ec)) return fail(path_text, 0, "no such file or directory");
  struct entry {
    std::string sig;
    unsigned instance;
    fs::path path;
  };
  std::vector<entry> binaries;
  std::vector<fs::path> dumps;
  for (const auto& de : fs::directory_iterator(path, ec)) {
    if (!de.is_regular_file()) continue;
    std::string n = de.path().filename().string();
    std::string sig;
    unsigned inst;
    if (n.rfind("acpidump", 0) == 0) dumps.push_back(de.path());
    else if (table_file_name(n, sig, inst)) binaries.push_back({sig, inst, de.path()});
  }
  if (ec) return fail(path_text, 0, "cannot list the directory");
  std::sort(dumps.begin(), dumps.end());
  std::sort(binaries.begin(), binaries.end(), [](const entry& a, const entry& b) {
    return a.sig != b.sig ? a.sig < b.sig : a.instance != b.instance ? a.instance < b.instance : a.path < b.path;
  });
  for (const auto& d : dumps) {
    std::string text;
    load_result rp = read_piece(d, text);
    if (!rp.ok) return rp;
    load_result one = parse_acpidump_text(text, d.string(), tables, roots);
    if (!one.ok) return one;
    merge_notes(r, one);
  }
  for (const auto& b : binaries) {
    if (b.sig == "RSDP") continue;  // the machine lays out its own root tables
    acpi_table_file t;
    load_result one = load_binary_table(b.path, b.sig, t);
    if (root_table(b.sig)) {
      // Binary tables do not say where they lay: no entry is known to be
      // given. A root table that does not read is left out, as before.
      if (roots && one.ok && t.signature() == b.sig) take_root_entries(t, *roots);
      continue;
    }
    if (!one.ok) return one;
    merge_notes(r, one);
    t.name = b.sig + (b.instance > 1 ? std::to_string(b.instance) : "");
    tables.push_back(t);
  }
  return r;
}

void replace_acpi_tables(platform_description& p, const std::vector<acpi_table_file>& tables) {
  std::vector<acpi_table_file> result;
  std::vector<std::string> replaced;
  for (const auto& t : tables) {
    replaced.push_back(t.signature());
    platform_source s;
    if (table_source(t.signature(), s)) p.sources[s] = SOURCE_KNOWN;
  }
  for (const auto& t : p.acpi) {
    std::string sig = t.signature();
    if (std::find(replaced.begin(), replaced.end(), sig) != replaced.end()) {
      // The first table of a replaced signature gives its place to the new ones.
      bool placed = false;
      for (const auto& r : result)
        if (r.signature() == sig) placed = true;
      if (!placed)
        for (const auto& n : tables)
          if (n.signature() == sig) result.push_back(n);
      continue;
    }
    result.push_back(t);
  }
  for (const auto& n : tables) {
    bool present = false;
    for (const auto& r : result)
      if (&r != &n && r.signature() == n.signature()) present = true;
    if (!present) result.push_back(n);
  }
  p.acpi = result;
}

void fix_acpi_checksums(platform_description& p) {
  for (auto& t : p.acpi) {
    if (t.signature() == "FACS" || t.bytes.size() < 36) continue;
    size_t len = std::min<size_t>(get32(t.bytes, 4), t.bytes.size());
    if (len < 10) continue;
    t.bytes[9] = 0;
    uint8_t sum = 0;
    for (size_t i = 0; i < len; i++) sum = (uint8_t)(sum + t.bytes[i]);
    t.bytes[9] = (uint8_t)(0 - sum);
  }
}

}  // namespace sim
