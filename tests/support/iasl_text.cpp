#include "support/iasl_text.h"

#include <cstdio>
#include <cstdlib>

namespace testing_support {

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    lines.push_back(text.substr(pos, eol - pos));
    pos = eol + 1;
  }
  return lines;
}

decoded_table parse_iasl(const std::string& text) {
  decoded_table t;
  for (const std::string& line : split_lines(text)) {
    if (line.size() < 16 || line[0] != '[') continue;
    size_t close = line.find(']');
    size_t colon = line.find(" : ", close == std::string::npos ? 0 : close);
    if (close == std::string::npos || colon == std::string::npos) continue;
    unsigned hex_off = 0, dec_off = 0, width = 0;
    if (sscanf(line.c_str(), "[%xh %u %u]", &hex_off, &dec_off, &width) != 3) continue;
    decoded_field f{trim(line.substr(close + 1, colon - close - 1)), width, line.substr(colon + 3)};
    t.fields.emplace(dec_off, f);
    const std::string& v = f.value;
    if (!v.empty() && v[0] == '"') {
      size_t q = v.find('"', 1);
      t.strings[dec_off] = v.substr(1, q == std::string::npos ? std::string::npos : q - 1);
      continue;
    }
    std::vector<std::string> tokens;
    size_t p = 0;
    while (p < v.size()) {
      size_t e = v.find(' ', p);
      if (e == std::string::npos) e = v.size();
      if (e > p) tokens.push_back(v.substr(p, e - p));
      p = e + 1;
    }
    if (tokens.empty()) continue;
    if (tokens[0].find(',') != std::string::npos) {  // PCI path "1C,04"
      std::string d = tokens[0].substr(0, tokens[0].find(',')), fn = tokens[0].substr(tokens[0].find(',') + 1);
      if (is_hex(d) && is_hex(fn)) {
        t.bytes[dec_off] = (uint8_t)strtoul(d.c_str(), nullptr, 16);
        t.bytes[dec_off + 1] = (uint8_t)strtoul(fn.c_str(), nullptr, 16);
      }
    } else if (width > 1 && tokens.size() >= width && tokens[0].size() == 2 && is_hex(tokens[0]) &&
               tokens[1].size() == 2) {  // byte list
      for (size_t i = 0; i < width; i++)
        if (is_hex(tokens[i])) t.bytes[dec_off + i] = (uint8_t)strtoul(tokens[i].c_str(), nullptr, 16);
    } else if (width <= 8 && is_hex(tokens[0]) && tokens[0].size() == 2 * width) {
      uint64_t n = strtoull(tokens[0].c_str(), nullptr, 16);
      for (size_t i = 0; i < width; i++) t.bytes[dec_off + i] = (uint8_t)(n >> (8 * i));
    }
  }
  return t;
}

}  // namespace testing_support
