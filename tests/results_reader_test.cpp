// The report reader of iovet-results: a board's report in every form a
// shell or a serial console writes it, the summary's lists, and the reports
// it must refuse with their reason. (Its agreement with iovet-sim's own files
// is tests/results_round_trip.py.)
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "report_reader.h"

namespace {

const char* const SHORT_FAIL =
    "*********************************************\n"
    "Iovet v1.1.35\n"
    "*********************************************\n"
    "--------------------\nZyr Test Status: FAIL\n--------------------\n"
    "--------------------\nPass    | 51\nFail    | 02\nWarn    | 01\nNA      | 01\nMissing | 00\nTotal | 55\n"
    "--------------------\n"
    "Errors:\n40) RMRRs lie in reserved memory \xC3\xA9.\n-- Base 0x79E00000 is not reserved.\n\n"
    "47) Scopes are unique.\n-- two lines\nof message\n\n"
    "Warnings:\n19) WARNING\n-- no HPET scope, no line end\n";

const char* const VERBOSE_LISTING =
    "---------------\nTest Assertions\n---------------\n"
    "01) A DMAR table is present.\nResult : PASS\n---------------\n"
    "19) HPET scopes.\nResult : WARNING\n       : no HPET scope, no line end\n---------------\n"
    "40) RMRRs lie in reserved memory \xC3\xA9.\nResult : FAIL\n       : Base 0x79E00000 is not reserved.\n\n"
    "---------------\n"
    "47) Scopes are unique.\nResult : FAIL\n       : two lines\nof message\n\n---------------\n"
    "62) Under investigation.\nResult : Not Applicable for this platform\n       : \n---------------\n";

// The short report with the listing of -v between its banner and summary.
std::string verbose() {
  std::string s = SHORT_FAIL;
  return s.insert(s.find("--------------------\nZyr"), VERBOSE_LISTING);
}

// UTF-8 text (one- and two-byte characters) as the shell writes it: UCS-2,
// CR LF.
std::string ucs2(const std::string& text, bool big_endian, bool mark) {
  std::string out = mark ? (big_endian ? "\xFE\xFF" : "\xFF\xFE") : "";
  auto unit = [&](unsigned u) {
    char low = (char)(u & 0xFF), high = (char)(u >> 8);
    out += big_endian ? std::string{high, low} : std::string{low, high};
  };
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char c = (unsigned char)text[i];
    if (c == '\n') unit('\r');
    if (c >= 0xC0 && i + 1 < text.size()) unit((c & 0x1F) << 6 | ((unsigned char)text[++i] & 0x3F));
    else unit(c);
  }
  return out;
}

results::report read_ok(const std::string& bytes) {
  results::report r;
  std::string error;
  EXPECT_TRUE(results::read_report(bytes, r, error)) << error;
  return r;
}

std::string refusal(const std::string& bytes) {
  results::report r;
  std::string error;
  EXPECT_FALSE(results::read_report(bytes, r, error));
  return error;
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}

}  // namespace

TEST(ResultsReader, ShortReportGivesItsFailuresAndWarningsInNumberOrder) {
  results::report r = read_ok(SHORT_FAIL);
  EXPECT_EQ(r.status, "FAIL");
  EXPECT_FALSE(r.listing);
  EXPECT_EQ(r.pass, 51u);
  EXPECT_EQ(r.total, 55u);
  ASSERT_EQ(r.records.size(), 3u);
  EXPECT_EQ(r.records[0].id, 19u);
  EXPECT_EQ(r.records[0].result, results::WARNING);
  EXPECT_EQ(r.records[0].description, "") << "the list shows the result in the description's place";
  EXPECT_EQ(r.records[0].message, "no HPET scope, no line end\n") << "the file's last line end";
  EXPECT_EQ(r.records[1].description, "RMRRs lie in reserved memory \xC3\xA9.");
  EXPECT_EQ(r.records[1].message, "Base 0x79E00000 is not reserved.\n");
  EXPECT_EQ(r.records[2].message, "two lines\nof message\n");
}

TEST(ResultsReader, VerboseReportGivesEveryListedRecord) {
  results::report r = read_ok(verbose());
  EXPECT_TRUE(r.listing);
  ASSERT_EQ(r.records.size(), 5u);
  EXPECT_EQ(r.records[0].message, "");
  EXPECT_EQ(r.records[1].message, "no HPET scope, no line end");
  EXPECT_EQ(r.records[3].message, "two lines\nof message\n");
  EXPECT_EQ(r.records[4].result, results::NOT_APPLICABLE);
  EXPECT_EQ(r.records[4].message, "");
  EXPECT_EQ(r.profile, "");
  // A later chipset profile's line names it; the files carry it.
  results::report p = read_ok(replaced(verbose(), "---------------\nTest", "Chipset profile         pek (judged)\n---------------\nTest"));
  EXPECT_EQ(p.profile, "pek");
  EXPECT_TRUE(results::json_document(p.records, p.status, "b", p.profile).find("\"profile\": \"pek\",\n") !=
              std::string::npos);
}

TEST(ResultsReader, EveryEncodingAndLineEndGivesTheSameRecords) {
  std::vector<results::record> expected = read_ok(verbose()).records;
  for (const std::string& bytes : {ucs2(verbose(), false, true), ucs2(verbose(), false, false),
                                   ucs2(verbose(), true, true), replaced(verbose(), "\xC3\xA9", "\xE9")}) {
    std::vector<results::record> got = read_ok(bytes).records;
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); i++) {
      EXPECT_EQ(got[i].description, expected[i].description) << "record " << got[i].id;
      EXPECT_EQ(got[i].message, expected[i].message) << "record " << got[i].id;
    }
  }
}

TEST(ResultsReader, SerialLogKeepsTheLastReportWithoutEscapesPromptsOrNoise) {
  std::string coloured = replaced(verbose(), "Zyr Test Status: FAIL", "Zyr Test Status: \x1b[0;31mFAIL\x1b[0;37m");
  coloured = replaced(coloured, "01) A DMAR", "\x1b[=3h\x1b[2J\x1b[01;01H\x1b(B01) A DMAR");
  coloured = replaced(coloured, "47) Scopes", "Press ENTER to continue or 'Q' break:\n47) Scopes");
  std::string earlier = replaced(SHORT_FAIL, "Status: FAIL", "Status: PASS");
  std::string log = "BdsDxe: loading Boot0002\r\nShell> Iovet.efi\r\n" + earlier + "FS0:\\> " + coloured +
                    "    status 0x0\r\nFS0:\\> ";
  results::report r = read_ok(log);
  EXPECT_EQ(r.status, "FAIL");
  EXPECT_TRUE(r.listing);
  ASSERT_EQ(r.records.size(), 5u);
  EXPECT_EQ(r.records[0].description, "A DMAR table is present.");
  EXPECT_EQ(r.records[3].description, "Scopes are unique.");
  EXPECT_EQ(results::report_text("a\x1b[0;3"), "a") << "a sequence cut short by the end of the file";
}

TEST(ResultsReader, TextAfterTheStatusWordAndUnknownCountsAndListsAreSkipped) {
  std::string s = replaced(SHORT_FAIL, "Status: FAIL", "Status: FAIL (16 not evaluated)");
  s = replaced(s, "Total | 55\n", "Total | 55\nNot evaluated | 16\n");
  s += "\nNot evaluated:\n63) Graphics PASID.\n-- no graphics data\n\n";
  results::report r = read_ok(s);
  EXPECT_EQ(r.status, "FAIL");
  EXPECT_EQ(r.records.size(), 3u);
  EXPECT_EQ(r.records.back().id, 47u);
}

TEST(ResultsReader, FirstAssertionNotPassingEndsTheListing) {
  std::string s = std::string("---------------\nTest Assertions\n---------------\n") +
                  "01) A DMAR table is present.\nResult : FAIL\n       : No DMAR.\n\n---------------\n"
                  "--------------------\nZyr Test Status: FAIL\n--------------------\n--------------------\n"
                  "Pass    | 00\nFail    | 01\nWarn    | 00\nNA      | 54\nMissing | 00\nTotal | 55\n"
                  "--------------------\nErrors:\n01) A DMAR table is present.\n-- No DMAR.\n\n";
  results::report r = read_ok(ucs2(s, false, true));
  ASSERT_EQ(r.records.size(), 1u);
  EXPECT_EQ(r.records[0].message, "No DMAR.\n");
}

TEST(ResultsReader, UnreadableReportsAreRefusedWithTheirReason) {
  std::string counts_cut = std::string(SHORT_FAIL).substr(0, std::string(SHORT_FAIL).find("Missing"));
  std::string list_cut = std::string(SHORT_FAIL).substr(0, std::string(SHORT_FAIL).find("47)"));
  struct {
    std::string bytes, reason;
  } cases[] = {
      {"", "no \"Zyr Test Status:\" line"},
      {"-- DMAR --\nSignature                    DMAR\n", "no \"Zyr Test Status:\" line"},
      {ucs2(std::string(VERBOSE_LISTING), false, true), "no \"Zyr Test Status:\" line"},
      {counts_cut, "cut short in its summary's counts"},
      {replaced(SHORT_FAIL, "Warn    | 01\n", ""), "no count of Warn"},
      {replaced(SHORT_FAIL, "Fail    | 02", "Fail    | x"), "where the summary's counts"},
      {list_cut, "cut short: 1 failed and 0 warned assertions listed for the counts Fail 2 and Warn 1"},
      {replaced(SHORT_FAIL, "Status: FAIL", "Status: 42"), "names no status"},
      {replaced(verbose(), "Result : WARNING\n       : no HPET scope, no line end\n", "Result : PASS\n"),
       "the listing and the summary disagree: the listing fails 40 47 and warns none, the summary fails 40 47 and "
       "warns 19"},
      {replaced(verbose(), "Result : PASS", "Result : MAYBE"), "unknown result \"MAYBE\""},
      {replaced(verbose(), "Result : PASS\n", ""), "record 1 has no \"Result : \" line"},
      {replaced(verbose(), "01) A DMAR", "01 A DMAR"), "where a record (\"NN) description\") belongs"},
  };
  for (const auto& c : cases) EXPECT_NE(refusal(c.bytes).find(c.reason), std::string::npos) << refusal(c.bytes);
}

TEST(ResultsReader, TheLabsSerialLogAndItsShellFileGiveTheSameRecords) {
  // Two boots of the QEMU lab: Iovet.efi -v typed at the prompt (the raw
  // serial line), and the stick's report file (UCS-2, CR LF).
  auto corpus = [](const char* name) {
    std::ifstream f(std::string(IOVET_SOURCE_DIR) + "/tests/fuzz/corpus/results/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  };
  results::report serial = read_ok(corpus("lab-serial-log.txt")), file = read_ok(corpus("lab-verbose-ucs2.txt"));
  ASSERT_EQ(serial.records.size(), 55u);
  ASSERT_EQ(file.records.size(), 55u);
  for (size_t i = 0; i < 55; i++) {
    EXPECT_EQ(serial.records[i].description, file.records[i].description);
    EXPECT_EQ(serial.records[i].result, file.records[i].result);
    EXPECT_EQ(serial.records[i].message, file.records[i].message);
  }
}
