#include "platform/sim/platform_text.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace sim::piece {

load_result fail(const std::string& where, size_t line, const std::string& what) {
  load_result r;
  r.ok = false;
  r.error = line ? where + ":" + std::to_string(line) + ": " + what : where + ": " + what;
  return r;
}

bool take(load_result& into, const load_result& one) {
  merge_notes(into, one);
  if (!one.ok) {
    into.ok = false;
    into.error = one.error;
  }
  return one.ok;
}

void merge_notes(load_result& into, const load_result& from) {
  into.notes.insert(into.notes.end(), from.notes.begin(), from.notes.end());
}

std::string hex(uint64_t v, int digits) {
  char buf[32];
  snprintf(buf, sizeof buf, "0x%0*llX", digits, (unsigned long long)v);
  return buf;
}

std::string upper(std::string s) {
  for (char& c : s) c = (char)toupper((unsigned char)c);
  return s;
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

load_result read_piece(const fs::path& path, std::string& text) {
  std::string error;
  if (!read_whole_file(path, text, error)) return fail(path.string(), 0, error);
  return {};
}

std::vector<std::string> tokens_of(const std::string& line, std::string* comment) {
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

uint32_t get32(const std::vector<uint8_t>& b, size_t off) {
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) v |= (uint32_t)(off + i < b.size() ? b[off + i] : 0) << (8 * i);
  return v;
}
uint64_t get64(const std::vector<uint8_t>& b, size_t off) { return get32(b, off) | (uint64_t)get32(b, off + 4) << 32; }

}  // namespace sim::piece
