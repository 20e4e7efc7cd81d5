// What `iasl -d` decoded from a table: its fields by offset, and the bytes
// its values give. The corpus dump test holds the dumps against it.
#pragma once
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

struct decoded_field {
  std::string label;
  size_t width;
  std::string value;
};

struct decoded_table {
  std::multimap<size_t, decoded_field> fields;
  std::map<size_t, uint8_t> bytes;         // from numeric and byte-list values
  std::map<size_t, std::string> strings;   // quoted values
  bool has_label_at(size_t offset, const std::set<std::string>& labels) const {
    auto range = fields.equal_range(offset);
    for (auto it = range.first; it != range.second; ++it)
      if (labels.count(it->second.label)) return true;
    return false;
  }
  std::string labels_at(size_t offset) const {
    std::string s;
    auto range = fields.equal_range(offset);
    for (auto it = range.first; it != range.second; ++it) s += (s.empty() ? "" : "/") + it->second.label;
    return s.empty() ? "(nothing)" : s;
  }
};

inline bool is_hex(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return isxdigit((unsigned char)c); });
}

inline std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(' ');
  return s.substr(a, b - a + 1);
}

// The lines of a text, without their line ends.
std::vector<std::string> split_lines(const std::string& text);

// Reads iasl's text output (lines "[02Ch 0044   8]   Label : Value").
decoded_table parse_iasl(const std::string& text);

}  // namespace testing_support
