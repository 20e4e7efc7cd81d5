// A run's results as files for continuous integration: JUnit XML and JSON.
// Shared by the host runner (iovet-sim) and the report reader
// (iovet-results), so that both write the same bytes for the same results.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace results {

// The result codes of the records (the catalogue's TEST_* values).
constexpr uint64_t PASS = 0, FAIL = 1, NOT_APPLICABLE = 2, MISSING = 3, WARNING = 4;

struct record {
  uint64_t id;
  uint64_t result;
  std::string description;  // UTF-8, without its line end
  std::string message;      // UTF-8, whole, as the console shows it
  // When a run mixes sources of two platforms: the sources the record's
  // assertion uses, each with where it came from ("dmar", "tables X").
  std::vector<std::pair<std::string, std::string>> sources;
};

// The report's word for a result ("PASS", "Not Applicable for this
// platform", ...); "UNKNOWN" past the known codes.
const char* result_word(uint64_t result);

std::string without_line_end(std::string text);

// The files' text, and the files written (false when one cannot be).
// A run that ended without a report (an unsupported processor, a missing
// record that stops the run) is no pass: its JUnit file carries an error.
// A run on a processor of a later chipset profile names it (profile, e.g.
// "pek"; empty for the seven families and processors without a profile).
std::string junit_document(const std::vector<record>& records, const std::string& platform, bool reported = true,
                           const std::string& profile = "");
std::string json_document(const std::vector<record>& records, const std::string& status, const std::string& platform,
                          const std::string& profile = "");
bool write_junit(const std::string& file, const std::vector<record>& records, const std::string& platform,
                 bool reported = true, const std::string& profile = "");
bool write_json(const std::string& file, const std::vector<record>& records, const std::string& status,
                const std::string& platform, const std::string& profile = "");

}  // namespace results
