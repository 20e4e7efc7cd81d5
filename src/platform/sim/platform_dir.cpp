#include "platform/sim/platform_dir.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/sim/reference.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr uint64_t max_piece_bytes = 64ull << 20;  // no firmware piece is larger

const char* const memory_type_names[] = {
    "EfiReservedMemoryType", "EfiLoaderCode",          "EfiLoaderData",        "EfiBootServicesCode",
    "EfiBootServicesData",   "EfiRuntimeServicesCode", "EfiRuntimeServicesData", "EfiConventionalMemory",
    "EfiUnusableMemory",     "EfiACPIReclaimMemory",   "EfiACPIMemoryNVS",     "EfiMemoryMappedIO",
    "EfiMemoryMappedIOPortSpace", "EfiPalCode",        "EfiPersistentMemory",  "EfiUnacceptedMemoryType"};
constexpr uint32_t memory_type_count = sizeof(memory_type_names) / sizeof(memory_type_names[0]);

load_result fail(const std::string& where, size_t line, const std::string& what) {
  load_result r;
  r.ok = false;
  r.error = line ? where + ":" + std::to_string(line) + ": " + what : where + ": " + what;
  return r;
}

std::string hex(uint64_t v, int digits = 0) {
  char buf[32];
  snprintf(buf, sizeof buf, "0x%0*llX", digits, (unsigned long long)v);
  return buf;
}

bool read_whole_file(const fs::path& path, std::string& out, std::string& error) {
  std::error_code ec;
  uint64_t size = fs::file_size(path, ec);
  if (ec) {
    error = "cannot read the file";
    return false;
  }
  if (size > max_piece_bytes) {
    error = "the file is larger than " + std::to_string(max_piece_bytes >> 20) + " MiB";
    return false;
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot open the file";
    return false;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  out = ss.str();
  return true;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      if (!cur.empty() && cur.back() == '\r') cur.pop_back();
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) {
    if (cur.back() == '\r') cur.pop_back();
    lines.push_back(cur);
  }
  return lines;
}

// Tokens of a line of the platform's own text formats; '#' starts a comment.
std::vector<std::string> tokens_of(const std::string& line, std::string* comment = nullptr) {
  std::string body = line;
  size_t hash = body.find('#');
  if (hash != std::string::npos) {
    if (comment) {
      size_t s = body.find_first_not_of(" \t", hash + 1);
      *comment = s == std::string::npos ? "" : body.substr(s);
    }
    body.resize(hash);
  }
  std::vector<std::string> t;
  std::istringstream in(body);
  std::string w;
  while (in >> w) t.push_back(w);
  return t;
}

bool hex_digit(char c, unsigned& v) {
  if (c >= '0' && c <= '9') v = (unsigned)(c - '0');
  else if (c >= 'a' && c <= 'f') v = (unsigned)(c - 'a' + 10);
  else if (c >= 'A' && c <= 'F') v = (unsigned)(c - 'A' + 10);
  else return false;
  return true;
}

// 0x-prefixed hexadecimal or plain decimal, at most 64 bits.
bool parse_number(const std::string& s, uint64_t& v) {
  v = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    if (s.size() > 18) return false;
    for (size_t i = 2; i < s.size(); i++) {
      unsigned d;
      if (s[i] == '_') continue;
      if (!hex_digit(s[i], d)) return false;
      v = v << 4 | d;
    }
    return true;
  }
  if (s.empty() || s.size() > 20) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    uint64_t next = v * 10 + (uint64_t)(c - '0');
    if (next / 10 != v) return false;
    v = next;
  }
  return true;
}

bool parse_hex_plain(const std::string& s, uint64_t& v) {
  v = 0;
  if (s.empty() || s.size() > 16) return false;
  for (char c : s) {
    unsigned d;
    if (!hex_digit(c, d)) return false;
    v = v << 4 | d;
  }
  return true;
}

// One hex-dump line "OFFSET: XX XX ... [ascii]": the bytes are read by
// position, three characters each, so that the ASCII column (which may hold
// spaces and hex-looking letters) is never taken for data. Returns false
// when the line is not a dump line.
bool parse_dump_line(const std::string& line, uint64_t& offset, std::vector<uint8_t>& data) {
  size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos) return false;
  size_t colon = line.find(':', i);
  if (colon == std::string::npos || colon == i) return false;
  if (!parse_hex_plain(line.substr(i, colon - i), offset)) return false;
  size_t p = colon + 1;
  if (p < line.size() && line[p] == ' ') p++;
  data.clear();
  while (data.size() < 16 && p + 1 < line.size() + 0) {
    unsigned hi, lo;
    if (!hex_digit(line[p], hi) || !hex_digit(line[p + 1], lo)) break;
    if (p + 2 < line.size() && line[p + 2] != ' ') break;
    data.push_back((uint8_t)(hi << 4 | lo));
    p += 3;
  }
  return !data.empty();
}

std::string upper(std::string s) {
  for (char& c : s) c = (char)toupper((unsigned char)c);
  return s;
}

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

uint32_t get32(const std::vector<uint8_t>& b, size_t off) {
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) v |= (uint32_t)(off + i < b.size() ? b[off + i] : 0) << (8 * i);
  return v;
}
uint64_t get64(const std::vector<uint8_t>& b, size_t off) { return get32(b, off) | (uint64_t)get32(b, off + 4) << 32; }

void length_note(const acpi_table_file& t, const std::string& where, load_result& r) {
  if (t.bytes.size() < 8) return;
  uint32_t len = get32(t.bytes, 4);
  if (t.signature() != "FACS" && len != t.bytes.size())
    r.notes.push_back(where + ": the " + t.signature() + " Length field (" + hex(len) + ") differs from the " +
                      std::to_string(t.bytes.size()) + " bytes given; the bytes are served as given");
}

load_result load_binary_table(const fs::path& path, const std::string& signature, acpi_table_file& t) {
  std::string data, error;
  if (!read_whole_file(path, data, error)) return fail(path.string(), 0, error);
  if (data.size() < 4) return fail(path.string(), 0, "too short to hold a table signature");
  t.name = path.filename().string();
  t.bytes.assign(data.begin(), data.end());
  load_result r;
  if (signature != t.signature())
    r.notes.push_back(path.string() + ": named " + signature + " but its signature is " + t.signature());
  length_note(t, path.string(), r);
  return r;
}

void merge_notes(load_result& into, const load_result& from) {
  into.notes.insert(into.notes.end(), from.notes.begin(), from.notes.end());
}

// Lines "KEY v1 v2 ..." of the small text pieces, each number checked.
load_result parse_numbers_file(const std::string& text, const std::string& name, size_t min_values,
                               size_t max_values,
                               const std::function<bool(const std::vector<std::string>&, size_t, std::string&)>& take) {
  auto lines = split_lines(text);
  for (size_t i = 0; i < lines.size(); i++) {
    auto t = tokens_of(lines[i]);
    if (t.empty()) continue;
    if (t.size() < min_values || t.size() > max_values)
      return fail(name, i + 1,
                  "expected " + (min_values == max_values ? std::to_string(min_values)
                                                          : std::to_string(min_values) + " to " +
                                                                std::to_string(max_values)) +
                      " fields, found " + std::to_string(t.size()));
    std::string error;
    if (!take(t, i + 1, error)) return fail(name, i + 1, error);
  }
  return {};
}

bool number_or_error(const std::string& token, const char* what, uint64_t& v, std::string& error) {
  if (parse_number(token, v)) return true;
  error = std::string("\"") + token + "\" is not a number (" + what + "; use 0x for hexadecimal)";
  return false;
}

load_result parse_mmio(const std::string& text, const std::string& name, platform_description& p) {
  auto lines = split_lines(text);
  for (size_t i = 0; i < lines.size(); i++) {
    std::string comment;
    auto t = tokens_of(lines[i], &comment);
    if (t.empty()) continue;
    if (t.size() != 3) return fail(name, i + 1, "expected ADDRESS WIDTH VALUE, found " + std::to_string(t.size()) + " fields");
    uint64_t a, w, v;
    std::string error;
    if (!number_or_error(t[0], "address", a, error) || !number_or_error(t[1], "width", w, error) ||
        !number_or_error(t[2], "value", v, error))
      return fail(name, i + 1, error);
    if (w != 8 && w != 16 && w != 32 && w != 64) return fail(name, i + 1, "width must be 8, 16, 32 or 64 (bits)");
    if (w < 64 && v >> w) return fail(name, i + 1, "value " + t[2] + " does not fit in " + t[1] + " bits");
    if (a + w / 8 - 1 < a) return fail(name, i + 1, "register runs past the end of the address space");
    p.mmio.push_back({a, (unsigned)(w / 8), v, comment});
  }
  return {};
}

load_result parse_memmap(const std::string& text, const std::string& name, platform_description& p) {
  return parse_numbers_file(text, name, 3, 4, [&](const std::vector<std::string>& t, size_t, std::string& error) {
    uint64_t type = memory_type_count;
    for (uint32_t k = 0; k < memory_type_count; k++)
      if (t[0] == memory_type_names[k]) type = k;
    if (type == memory_type_count && !number_or_error(t[0], "memory type", type, error)) return false;
    if (type > 0xFFFFFFFFull) {
      error = "memory type does not fit in 32 bits";
      return false;
    }
    uint64_t start, pages, attr = 0;
    if (!number_or_error(t[1], "physical start", start, error) || !number_or_error(t[2], "pages", pages, error) ||
        (t.size() == 4 && !number_or_error(t[3], "attribute", attr, error)))
      return false;
    p.memory_map.push_back({(uint32_t)type, start, pages, attr});
    return true;
  });
}

load_result parse_cpuid(const std::string& text, const std::string& name, platform_description& p) {
  return parse_numbers_file(text, name, 5, 5, [&](const std::vector<std::string>& t, size_t, std::string& error) {
    uint64_t v[5];
    for (int k = 0; k < 5; k++) {
      if (!number_or_error(t[k], k ? "register" : "leaf", v[k], error)) return false;
      if (v[k] > 0xFFFFFFFFull) {
        error = t[k] + " does not fit in 32 bits";
        return false;
      }
    }
    p.cpuid[(uint32_t)v[0]] = {(uint32_t)v[1], (uint32_t)v[2], (uint32_t)v[3], (uint32_t)v[4]};
    return true;
  });
}

load_result parse_msr(const std::string& text, const std::string& name, platform_description& p) {
  return parse_numbers_file(text, name, 2, 2, [&](const std::vector<std::string>& t, size_t, std::string& error) {
    uint64_t index, value;
    if (!number_or_error(t[0], "MSR index", index, error) || !number_or_error(t[1], "value", value, error)) return false;
    if (index > 0xFFFFFFFFull) {
      error = "MSR index does not fit in 32 bits";
      return false;
    }
    p.msrs[(uint32_t)index] = value;
    return true;
  });
}

load_result parse_settings(const std::string& text, const std::string& name, platform_description& p) {
  auto lines = split_lines(text);
  for (size_t i = 0; i < lines.size(); i++) {
    std::string comment;
    auto t = tokens_of(lines[i], &comment);
    if (t.empty()) {
      if (p.title.empty() && !comment.empty()) p.title = comment;
      continue;
    }
    std::string error;
    if (t[0] == "ecam") {
      uint64_t base, buses = 256;
      if (t.size() < 2 || t.size() > 3) return fail(name, i + 1, "expected: ecam BASE [BUSES]");
      if (!number_or_error(t[1], "ECAM base", base, error) ||
          (t.size() == 3 && !number_or_error(t[2], "bus count", buses, error)))
        return fail(name, i + 1, error);
      if (buses < 1 || buses > 256) return fail(name, i + 1, "bus count must be 1 to 256");
      if (base & 0xFFFFF) return fail(name, i + 1, "ECAM base must be 1 MiB aligned");
      p.ecam_set = true;
      p.ecam_base = base;
      p.ecam_buses = (uint16_t)buses;
    } else if (t[0] == "rsdp") {
      if (t.size() != 2) return fail(name, i + 1, "expected: rsdp configuration_table|legacy_bios_area|ebda|none");
      if (t[1] == "configuration_table") p.rsdp = rsdp_place::configuration_table;
      else if (t[1] == "legacy_bios_area") p.rsdp = rsdp_place::legacy_bios_area;
      else if (t[1] == "ebda") p.rsdp = rsdp_place::ebda;
      else if (t[1] == "none") p.rsdp = rsdp_place::none;
      else return fail(name, i + 1, "unknown RSDP place \"" + t[1] + "\"");
    } else {
      return fail(name, i + 1, "unknown setting \"" + t[0] + "\" (known: ecam, rsdp)");
    }
  }
  return {};
}

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

load_result read_piece(const fs::path& path, std::string& text) {
  std::string error;
  if (!read_whole_file(path, text, error)) return fail(path.string(), 0, error);
  return {};
}

}  // namespace

std::string acpi_table_file::signature() const {
  std::string s;
  for (size_t i = 0; i < 4 && i < bytes.size(); i++) s += (char)bytes[i];
  return s;
}

// ---------------------------------------------------------------------------
// ACPI tables.

load_result parse_acpidump_text(const std::string& text, const std::string& name, std::vector<acpi_table_file>& out) {
  load_result r;
  auto lines = split_lines(text);
  bool in_table = false;
  bool skip_table = false;
  acpi_table_file cur;
  std::map<std::string, unsigned> seen;
  size_t table_line = 0;
  auto finish = [&]() {
    if (in_table && !skip_table) {
      length_note(cur, name + ":" + std::to_string(table_line), r);
      out.push_back(cur);
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

load_result read_acpi_tables(const std::string& path_text, std::vector<acpi_table_file>& tables) {
  fs::path path(path_text);
  std::error_code ec;
  load_result r;
  if (fs::is_regular_file(path, ec)) {
    std::string sig;
    unsigned inst;
    if (table_file_name(path.filename().string(), sig, inst) && path.extension() != ".txt") {
      acpi_table_file t;
      load_result one = load_binary_table(path, sig, t);
      if (!one.ok) return one;
      tables.push_back(t);
      return one;
    }
    std::string text;
    load_result rp = read_piece(path, text);
    if (!rp.ok) return rp;
    return parse_acpidump_text(text, path.string(), tables);
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
    load_result one = parse_acpidump_text(text, d.string(), tables);
    if (!one.ok) return one;
    merge_notes(r, one);
  }
  for (const auto& b : binaries) {
    if (b.sig == "RSDP" || b.sig == "RSDT" || b.sig == "XSDT") continue;  // the machine lays out its own
    acpi_table_file t;
    load_result one = load_binary_table(b.path, b.sig, t);
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
  for (const auto& t : tables) replaced.push_back(t.signature());
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

// ---------------------------------------------------------------------------
// PCI configuration space.

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

// ---------------------------------------------------------------------------
// The directory.

load_result load_platform_dir(const std::string& dir_text, platform_description& p) {
  fs::path dir(dir_text);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return fail(dir_text, 0, "not a platform directory");
  load_result r;
  auto take = [&](const load_result& one) {
    merge_notes(r, one);
    if (!one.ok) {
      r.ok = false;
      r.error = one.error;
    }
    return one.ok;
  };
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

  if (fs::is_directory(dir / "pci", ec)) {
    std::vector<fs::path> entries;
    for (const auto& de : fs::directory_iterator(dir / "pci", ec))
      if (de.is_regular_file()) entries.push_back(de.path());
    std::sort(entries.begin(), entries.end());
    for (const auto& f : entries) {
      std::string n = f.filename().string();
      uint16_t segment, key;
      if (f.extension() == ".txt") {
        std::string text;
        if (!take(read_piece(f, text)) || !take(parse_lspci_text(text, f.string(), p))) return r;
      } else if (parse_bdf(n, segment, key)) {
        if (segment != 0) {
          r.notes.push_back(f.string() + ": left out (the simulated machine has PCI segment 0 only)");
          continue;
        }
        std::string data;
        if (!take(read_piece(f, data))) return r;
        if (data.empty() || data.size() > 4096)
        {
          take(fail(f.string(), 0, "a configuration image holds 1 to 4096 bytes, this one " + std::to_string(data.size())));
          return r;
        }
        if (p.pci.count(key)) { take(fail(f.string(), 0, "function " + bdf_text(key) + " given twice")); return r; }
        std::vector<uint8_t> image(4096, 0);
        std::copy(data.begin(), data.end(), image.begin());
        p.pci[key] = image;
      }
    }
  }

  if (!text_piece("mmio.txt", parse_mmio)) return r;
  if (!text_piece("cpuid.txt", parse_cpuid)) return r;
  if (!text_piece("msr.txt", parse_msr)) return r;
  if (!text_piece("memmap.txt", parse_memmap)) return r;

  fs::path sm = dir / "smbios";
  for (const char* piece : {"smbios_entry_point", "DMI"}) {
    std::vector<uint8_t>& out = std::string(piece) == "DMI" ? p.smbios_table : p.smbios_entry_point;
    fs::path bin = sm / piece, txt = sm / (std::string(piece) + ".txt");
    std::string data;
    if (fs::exists(bin, ec)) {
      if (!take(read_piece(bin, data))) return r;
      out.assign(data.begin(), data.end());
    } else if (fs::exists(txt, ec)) {
      if (!take(read_piece(txt, data)) || !take(parse_hex_lines(data, txt.string(), out))) return r;
    }
  }
  if (!p.smbios_entry_point.empty()) {
    const auto& ep = p.smbios_entry_point;
    bool sm2 = ep.size() >= 0x1F && memcmp(ep.data(), "_SM_", 4) == 0;
    bool sm3 = ep.size() >= 0x18 && memcmp(ep.data(), "_SM3_", 5) == 0;
    if (!sm2 && !sm3)
      { take(fail((sm / "smbios_entry_point").string(), 0, "neither a \"_SM_\" nor a \"_SM3_\" entry point")); return r; }
  }

  fs::path cat = dir / "zyr-tests";
  if (fs::exists(cat, ec)) {
    if (!take(read_piece(cat, p.catalogue))) return r;
    p.has_catalogue = true;
  }
  bool any = false;
  for (const char* piece : {"platform.txt", "acpi", "pci", "mmio.txt", "cpuid.txt", "msr.txt", "memmap.txt", "smbios",
                            "zyr-tests"})
    if (fs::exists(dir / piece, ec)) any = true;
  if (!any)
    r.notes.push_back(dir_text + ": no platform pieces here, the machine is empty (for a directory of ACPI tables, use "
                                 "--tables)");
  return r;
}

void install_platform(const platform_description& p, machine& m) {
  // ACPI: the machine lays out its own root pointer and RSDT/XSDT. DSDT and
  // FACS are reached through the FADT, not the RSDT, and stay out of it.
  std::vector<std::vector<uint8_t>> listed;
  for (const auto& t : p.acpi) {
    std::string sig = t.signature();
    if (sig == "DSDT" || sig == "FACS") continue;
    listed.push_back(t.bytes);
  }
  if (!listed.empty() || p.rsdp != rsdp_place::configuration_table) m.install_acpi(listed, p.rsdp);

  for (const auto& f : p.pci) {
    pci_function& fn = m.functions[f.first];
    fn.config = f.second;
    fn.config.resize(4096, 0);
  }

  if (p.ecam_set) {
    m.ecam_base = p.ecam_base;
    m.ecam_buses = p.ecam_buses;
  } else {
    // The memory-mapped window is where the first MCFG allocation puts it.
    for (const auto& t : p.acpi)
      if (t.signature() == "MCFG" && t.bytes.size() >= 56) {
        uint64_t base = get64(t.bytes, 44);
        if (base && !(base & 0xFFFFF) && base < (1ull << 52)) {
          m.ecam_base = base;
          m.ecam_buses = (uint16_t)(t.bytes[55] + 1);
        }
        break;
      }
  }

  for (const auto& v : p.mmio) {
    uint64_t a = v.address;
    if (m.ecam_base && a >= m.ecam_base && a - m.ecam_base < (uint64_t)m.ecam_buses << 20) {
      // Configuration space beyond an image: a register of the function.
      uint16_t key = (uint16_t)((a - m.ecam_base) >> 12);
      uint32_t off = (uint32_t)((a - m.ecam_base) & 0xFFF);
      auto it = m.functions.find(key);
      if (it != m.functions.end() && off + v.width <= 4096) {
        for (unsigned i = 0; i < v.width; i++) it->second.config[off + i] = (uint8_t)(v.value >> (8 * i));
        continue;
      }
    }
    uint8_t b[8];
    for (unsigned i = 0; i < v.width; i++) b[i] = (uint8_t)(v.value >> (8 * i));
    m.write_memory(a, b, v.width);
  }

  for (const auto& c : p.cpuid) m.cpuid_leaves[c.first] = c.second;
  for (const auto& msr : p.msrs) m.msrs[msr.first] = msr.second;
  m.memory_map = p.memory_map;

  if (!p.smbios_table.empty()) {
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

  if (p.has_catalogue) m.add_file(u"zyr-tests", p.catalogue);
}

// ---------------------------------------------------------------------------
// Writing.

namespace {

std::string dump_lines(const std::vector<uint8_t>& b, bool ascii, const char* indent, bool skip_zero_rows_after_64) {
  std::string out;
  char buf[128];
  for (size_t off = 0; off < b.size(); off += 16) {
    size_t n = std::min<size_t>(16, b.size() - off);
    if (skip_zero_rows_after_64 && off >= 64 &&
        std::all_of(b.begin() + (long)off, b.begin() + (long)(off + n), [](uint8_t c) { return c == 0; }))
      continue;
    out += indent;
    snprintf(buf, sizeof buf, ascii ? "%04zX:" : "%02zx:", off);
    out += buf;
    for (size_t i = 0; i < 16; i++) {
      if (i < n) {
        snprintf(buf, sizeof buf, ascii ? " %02X" : " %02x", b[off + i]);
        out += buf;
      } else if (ascii) {
        out += "   ";
      }
    }
    if (ascii) {
      out += "  ";
      for (size_t i = 0; i < n; i++) {
        uint8_t c = b[off + i];
        out += (c >= 0x20 && c < 0x7F) ? (char)c : '.';
      }
    }
    out += "\n";
  }
  return out;
}

bool write_text(const fs::path& path, const std::string& text, std::string& error) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  if (!f) {
    error = path.string() + ": cannot write";
    return false;
  }
  return true;
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
  if (!write_text(dir / "platform.txt", s, error)) return false;

  if (!p.acpi.empty()) {
    fs::create_directories(dir / "acpi", ec);
    s.clear();
    for (const auto& t : p.acpi) {
      s += t.signature() + " @ 0x0000000000000000\n";
      s += dump_lines(t.bytes, true, "    ", false);
      s += "\n";
    }
    if (!write_text(dir / "acpi" / "acpidump.txt", s, error)) return false;
  }

  if (!p.pci.empty()) {
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

  if (!p.mmio.empty()) {
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

  if (!p.cpuid.empty()) {
    s = "# CPUID: LEAF EAX EBX ECX EDX\n";
    for (const auto& c : p.cpuid) {
      snprintf(buf, sizeof buf, "0x%08X 0x%08X 0x%08X 0x%08X 0x%08X\n", c.first, c.second[0], c.second[1], c.second[2],
               c.second[3]);
      s += buf;
    }
    if (!write_text(dir / "cpuid.txt", s, error)) return false;
  }

  if (!p.msrs.empty()) {
    s = "# Model-specific registers: INDEX VALUE\n";
    for (const auto& msr : p.msrs) {
      snprintf(buf, sizeof buf, "0x%X 0x%llX\n", msr.first, (unsigned long long)msr.second);
      s += buf;
    }
    if (!write_text(dir / "msr.txt", s, error)) return false;
  }

  if (!p.memory_map.empty()) {
    s = "# UEFI memory map: TYPE START PAGES [ATTRIBUTE]\n";
    for (const auto& d : p.memory_map) {
      std::string type = d.type < memory_type_count ? memory_type_names[d.type] : hex(d.type);
      snprintf(buf, sizeof buf, "%-26s 0x%012llX 0x%08llX 0x%llX\n", type.c_str(), (unsigned long long)d.physical_start,
               (unsigned long long)d.number_of_pages, (unsigned long long)d.attribute);
      s += buf;
    }
    if (!write_text(dir / "memmap.txt", s, error)) return false;
  }

  if (!p.smbios_table.empty()) {
    fs::create_directories(dir / "smbios", ec);
    if (!p.smbios_entry_point.empty() &&
        !write_text(dir / "smbios" / "smbios_entry_point.txt", dump_lines(p.smbios_entry_point, true, "", false), error))
      return false;
    if (!write_text(dir / "smbios" / "DMI.txt", dump_lines(p.smbios_table, true, "", false), error)) return false;
  }

  if (p.has_catalogue && !write_text(dir / "zyr-tests", p.catalogue, error)) return false;
  return true;
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
