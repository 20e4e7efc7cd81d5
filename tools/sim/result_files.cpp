// JUnit XML and JSON result files (see result_files.h).
#include "result_files.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace results {

namespace {

std::string xml_escape(const std::string& s) {
  std::string o;
  for (unsigned char c : s) {
    switch (c) {
      case '&': o += "&amp;"; break;
      case '<': o += "&lt;"; break;
      case '>': o += "&gt;"; break;
      case '"': o += "&quot;"; break;
      case '\n': o += "&#10;"; break;
      default:
        if (c < 0x20 && c != '\t') o += ' ';
        else o += (char)c;
    }
  }
  return o;
}

std::string json_escape(const std::string& s) {
  std::string o;
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      o += '\\';
      o += (char)c;
    } else if (c == '\n') {
      o += "\\n";
    } else if (c == '\r') {
      o += "\\r";
    } else if (c < 0x20) {
      char b[8];
      snprintf(b, sizeof b, "\\u%04x", c);
      o += b;
    } else {
      o += (char)c;
    }
  }
  return o;
}

}  // namespace

const char* result_word(uint64_t r) {
  static const char* const words[] = {"PASS", "FAIL", "Not Applicable for this platform",
                                      "Missing Data needed for test.", "WARNING"};
  return r < 5 ? words[r] : "UNKNOWN";
}

std::string without_line_end(std::string t) {
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  return t;
}

std::string junit_document(const std::vector<record>& recs, const std::string& platform, bool reported,
                           const std::string& profile) {
  size_t failures = 0, skipped = 0;
  for (const auto& r : recs) {
    if (r.result == FAIL) failures++;
    if (r.result == NOT_APPLICABLE || r.result == MISSING) skipped++;
  }
  std::ostringstream f;
  f << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
  f << "  <testsuite name=\"iovet " << xml_escape(platform) << "\" tests=\"" << recs.size() + (reported ? 0 : 1)
    << "\" failures=\"" << failures << "\" errors=\"" << (reported ? 0 : 1) << "\" skipped=\"" << skipped << "\">\n";
  if (!profile.empty())
    f << "    <properties><property name=\"profile\" value=\"" << xml_escape(profile) << "\"/></properties>\n";
  if (!reported)
    f << "    <testcase classname=\"iovet\" name=\"report\"><error message=\"the run ended without a report\"/>"
         "</testcase>\n";
  for (const auto& r : recs) {
    char num[16];
    snprintf(num, sizeof num, "%02llu", (unsigned long long)r.id);
    f << "    <testcase classname=\"iovet\" name=\"" << num << ") " << xml_escape(r.description) << "\">";
    if (!r.sources.empty()) {
      f << "<properties>";
      for (const auto& s : r.sources)
        f << "<property name=\"source." << xml_escape(s.first) << "\" value=\"" << xml_escape(s.second) << "\"/>";
      f << "</properties>";
    }
    if (r.result == FAIL)
      f << "<failure message=\"" << xml_escape(without_line_end(r.message)) << "\">"
        << xml_escape(without_line_end(r.message)) << "</failure>";
    else if (r.result == NOT_APPLICABLE || r.result == MISSING)
      f << "<skipped message=\"" << xml_escape(result_word(r.result)) << "\"/>";
    else if (r.result == WARNING)
      f << "<system-out>WARNING: " << xml_escape(without_line_end(r.message)) << "</system-out>";
    f << "</testcase>\n";
  }
  f << "  </testsuite>\n</testsuites>\n";
  return f.str();
}

std::string json_document(const std::vector<record>& recs, const std::string& status, const std::string& platform,
                          const std::string& profile) {
  std::ostringstream f;
  f << "{\n  \"platform\": \"" << json_escape(platform) << "\",\n";
  if (!profile.empty()) f << "  \"profile\": \"" << json_escape(profile) << "\",\n";
  f << "  \"status\": \"" << json_escape(status)
    << "\",\n  \"results\": [";
  for (size_t i = 0; i < recs.size(); i++) {
    const auto& r = recs[i];
    f << (i ? ",\n" : "\n") << "    {\"number\": " << r.id << ", \"description\": \"" << json_escape(r.description)
      << "\", \"result\": \"" << result_word(r.result) << "\", \"message\": \"" << json_escape(r.message) << "\"";
    if (!r.sources.empty()) {
      f << ", \"sources\": {";
      for (size_t k = 0; k < r.sources.size(); k++)
        f << (k ? ", " : "") << "\"" << json_escape(r.sources[k].first) << "\": \"" << json_escape(r.sources[k].second)
          << "\"";
      f << "}";
    }
    f << "}";
  }
  f << (recs.empty() ? "]\n}\n" : "\n  ]\n}\n");
  return f.str();
}

namespace {

bool write_file(const std::string& file, const std::string& text) {
  std::ofstream f(file, std::ios::binary);
  f << text;
  return (bool)f;
}

}  // namespace

bool write_junit(const std::string& file, const std::vector<record>& records, const std::string& platform,
                 bool reported, const std::string& profile) {
  return write_file(file, junit_document(records, platform, reported, profile));
}

bool write_json(const std::string& file, const std::vector<record>& records, const std::string& status,
                const std::string& platform, const std::string& profile) {
  return write_file(file, json_document(records, status, platform, profile));
}

}  // namespace results
