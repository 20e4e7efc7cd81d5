// Reads a board's Iovet report back into its results: the console text of
// "Iovet.efi -v" or of a plain run, as the UEFI Shell writes it into a file
// (UCS-2 with or without a byte-order mark, or 8-bit text) or as a serial
// console logged it (escape sequences, CR LF or LF line ends, other output
// around it). Host code only; the results are the records iovet-sim writes.
#pragma once
#include <string>
#include <vector>

#include "result_files.h"

namespace results {

struct report {
  std::string status;           // the status word of "Zyr Test Status: ", e.g. PASS or FAIL
  bool listing = false;         // the report lists its records (-v)
  std::string profile;          // a -v report's later chipset profile ("pek"), else empty
  std::vector<record> records;  // with a listing, every record listed; else the summary's failures and warnings
  // The summary's counts (Pass, Fail, Warn, NA, Missing, Total).
  unsigned long pass = 0, fail = 0, warn = 0, not_applicable = 0, missing = 0, total = 0;
};

// The text of a file as UTF-8 with LF line ends, without escape sequences,
// other control characters but tabs, and the shell's page-break prompts.
std::string report_text(const std::string& bytes);

// Reads the last report in bytes. False, with a message in error, when
// bytes hold no complete report: no summary, a summary cut short, or a
// listing that disagrees with its summary.
bool read_report(const std::string& bytes, report& out, std::string& error);

}  // namespace results
