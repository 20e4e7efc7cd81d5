// Fuzz target: the report reader of iovet-results over any file a board or
// a serial console could have written, then the JSON and JUnit text of what
// it read. Host code alone, no simulated machine.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "report_reader.h"
#include "result_files.h"

namespace {

// Where text is not UTF-8, or holds a control character other than the
// line ends and tabs allowed (npos: nowhere).
size_t bad_text_at(const std::string& s, bool tabs) {
  for (size_t i = 0; i < s.size();) {
    uint8_t c = (uint8_t)s[i];
    if (c < 0x20 && c != '\n' && !(tabs && c == '\t')) return i;
    size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
    if (n == 4 || (n && c < 0xC2) || n >= s.size() - i) return i;
    for (size_t k = 1; k <= n; k++)
      if (((uint8_t)s[i + k] & 0xC0) != 0x80) return i;
    i += n + 1;
  }
  return std::string::npos;
}

void finding(const std::string& what) {
  fprintf(stderr, "\n==iovet== FINDING: %s\n", what.c_str());
  fflush(stderr);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bad_text_at(results::report_text(bytes), true) != std::string::npos)
    finding("the report's text is not UTF-8 without control characters");
  results::report r;
  std::string error;
  if (!results::read_report(bytes, r, error)) {
    if (error.empty()) finding("a report refused without a message");
    return 0;
  }
  if (r.status.empty()) finding("a report read without its status");
  if (!r.listing && r.records.size() != r.fail + r.warn)
    finding("a plain run's records are not its failures and warnings");
  std::string json = results::json_document(r.records, r.status, "fuzz");
  std::string junit = results::junit_document(r.records, "fuzz");
  if (bad_text_at(json, false) != std::string::npos) finding("the JSON is not UTF-8 without raw control characters");
  if (bad_text_at(junit, true) != std::string::npos) finding("the JUnit XML is not UTF-8 without control characters");
  return 0;
}
