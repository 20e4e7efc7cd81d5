// The catalogue file and its records.
#include "catalogue/catalogue.h"
#include "discovery/acpi.h"
#include "discovery/remap_lists.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

struct loaded {
  uint64_t status;
  std::vector<std::pair<uint64_t, std::string>> records;  // id, description
  std::string console;
};

loaded load(const std::string& file_bytes, bool present = true) {
  sim::machine m;
  if (present) m.add_file(u"zyr-tests", file_bytes);
  sim::scoped_machine use(m);
  loaded l;
  l.status = load_test_cases();
  for (test_case_node_t* n : each<test_case_node_t>(test_case_list)) {
    EXPECT_EQ(n->tc.result, TEST_NA);
    EXPECT_EQ(n->tc.message[0], 0);
    l.records.push_back({n->tc.id, sim::to_utf8(n->tc.description)});
  }
  l.console = m.console_text();
  acpi_tables_t none{};
  free_test_data(&none);
  EXPECT_TRUE(m.live_allocations.empty());
  EXPECT_EQ(m.open_files, 0u);
  return l;
}

std::string ucs2(const std::u16string& s, bool mark = true) {
  std::string out;
  if (mark) out += "\xFF\xFE";
  for (char16_t c : s) {
    out += (char)(c & 0xFF);
    out += (char)(c >> 8);
  }
  return out;
}

using records = std::vector<std::pair<uint64_t, std::string>>;

}  // namespace

TEST(Catalogue, EightBitTextWithEveryLineForm) {
  loaded l = load("07@Seven\r\n  12@Twelve has a \r carriage return\n\t3@a@b\n4@\n5@last line without feed");
  EXPECT_EQ(l.status, 0u);
  EXPECT_EQ(l.records, (records{{7, "Seven"},
                                {12, "Twelve has a  carriage return"},
                                {3, "a@b"},
                                {4, ""},
                                {5, "last line without feed"}}));
}

TEST(Catalogue, Ucs2WithByteOrderMarkGivesTheSameRecords) {
  loaded l = load(ucs2(u"1@Caf\u00e9 \u2014 one\r\n2@two\n"));
  EXPECT_EQ(l.records, (records{{1, "Caf\xC3\xA9 \xE2\x80\x94 one"}, {2, "two"}}));
  // Without the mark the same bytes are 8-bit text.
  loaded raw = load(std::string("1@A\n"));
  EXPECT_EQ(raw.records, (records{{1, "A"}}));
  // 8-bit bytes are widened one by one, without code-page conversion.
  loaded high = load(std::string("9@\x97\xE9\n"));
  EXPECT_EQ(high.records, (records{{9, "\xC2\x97\xC3\xA9"}}));
}

TEST(Catalogue, LinesWithoutAtSignAndEmptyLinesGiveNoRecord) {
  loaded l = load("1@one\n\nno at sign here\r\n2@two\n");
  EXPECT_EQ(l.records, (records{{1, "one"}, {2, "two"}}));
}

TEST(Catalogue, DuplicateNumbersKeepBothRecordsAndLookupFindsTheFirst) {
  sim::machine m;
  m.add_file(u"zyr-tests", "8@first\n8@second\n");
  sim::scoped_machine use(m);
  ASSERT_EQ(load_test_cases(), 0u);
  EXPECT_EQ(list_count(test_case_list), 2u);
  test_case_t* tc = find_test_case(8);
  ASSERT_NE(tc, nullptr);
  EXPECT_EQ(sim::to_utf8(tc->description), "first");
  EXPECT_EQ(find_test_case(9), nullptr);
  acpi_tables_t none{};
  free_test_data(&none);
}

TEST(Catalogue, EmptyFileAndLongDescriptions) {
  loaded empty = load("");
  EXPECT_EQ(empty.status, 0u);
  EXPECT_TRUE(empty.records.empty());
  loaded long_line = load("6@" + std::string(700, 'x') + "\n7@next\n");
  ASSERT_EQ(long_line.records.size(), 2u);
  EXPECT_EQ(long_line.records[0].second.size(), 511u) << "the description is cut at 511 characters";
  EXPECT_EQ(long_line.records[1], (std::pair<uint64_t, std::string>{7, "next"}));
}

TEST(Catalogue, MissingFileMessageAndCollectionFailure) {
  loaded l = load("", false);
  EXPECT_EQ(l.status, 1u);
  EXPECT_EQ(l.console,
            "Failed to open Zyr Test file (zyr-tests).\nPlease ensure it is located in same directory as application.\n");
  sim::machine m;
  m.install_acpi({sim::dmar_builder().drhd(1, 0, 0xA000).build()});
  auto r = run_iovet(m);
  EXPECT_TRUE(contains(r.text, "application.\nApplication Exists. Error occurred collecting needed Zyr test data.\n"));
  EXPECT_EQ(r.status, 0u);
}

TEST(Catalogue, LineReaderTwoCallProtocol) {
  sim::machine m;
  m.add_file(u"zyr-tests", ucs2(u"12@ab\r\nx"));
  sim::scoped_machine use(m);
  shell_file_t f = nullptr;
  ASSERT_EQ(shell_open_file(u"zyr-tests", &f), EFI_SUCCESS);
  uint8_t enc = CATALOGUE_ENCODING_UNKNOWN;
  uint64_t size = 0;
  EXPECT_EQ(read_catalogue_line(f, nullptr, &size, &enc), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 12u) << "five characters and the terminator, two bytes each";
  EXPECT_EQ(enc, CATALOGUE_ENCODING_UCS2);
  uint64_t pos = 99;
  shell_get_file_position(f, &pos);
  EXPECT_EQ(pos, 2u) << "back at the start of the line, after the byte-order mark";
  char16_t small[2];
  uint64_t small_size = sizeof(small);
  EXPECT_EQ(read_catalogue_line(f, small, &small_size, &enc), EFI_BUFFER_TOO_SMALL);
  std::vector<char16_t> buf(size / 2);
  EXPECT_EQ(read_catalogue_line(f, buf.data(), &size, &enc), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(buf.data()), u"12@ab");
  size = 0;
  EXPECT_EQ(read_catalogue_line(f, nullptr, &size, &enc), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 4u);
  shell_close_file(f);
}

// A shell read, position change or file-information request that fails at
// any point of the load ends it with the read error, status 1, the file
// closed and every buffer freed; never a hang.
TEST(Catalogue, FailingShellCallsEndTheLoadWithReadError) {
  const std::string texts[] = {"1@one\r\n2@two\n\n3@three", ucs2(u"1@one\n2@two\n")};
  for (const std::string& text : texts) {
    for (int kind = 0; kind < 3; kind++) {
      for (int64_t n = 0;; n++) {
        SCOPED_TRACE(testing::Message() << "kind " << kind << ", failing call " << n);
        sim::machine m;
        m.add_file(u"zyr-tests", text);
        m.operation_limit = 100000;
        (kind == 0 ? m.fail_file_read_at : kind == 1 ? m.fail_file_seek_at : m.fail_file_info_at) = n;
        uint64_t status = 99;
        sim::run_result r = sim::call(m, [&] {
          status = load_test_cases();
          acpi_tables_t none{};
          free_test_data(&none);
        });
        ASSERT_FALSE(r.watchdog) << "the load did not end";
        EXPECT_TRUE(m.live_allocations.empty());
        EXPECT_EQ(m.open_files, 0u);
        uint64_t calls = kind == 0 ? m.file_reads : kind == 1 ? m.file_seeks : m.file_infos;
        if (status == 0) {
          EXPECT_LE(calls, (uint64_t)n) << "a failed call went unnoticed";
          break;
        }
        EXPECT_EQ(status, 1u);
        EXPECT_EQ(r.text, "ERROR -- Failed to read Zyr Test file (zyr-tests).\n");
      }
    }
  }
  // A whole run: collection fails after the error line, and nothing is left.
  sim::machine m;
  m.install_acpi({sim::dmar_builder().drhd(1, 0, 0xA000).build()});
  m.add_file(u"zyr-tests", "1@one\n2@two\n");
  m.fail_file_read_at = 2;
  auto r = run_iovet(m);
  EXPECT_TRUE(contains(r.text, "ERROR -- Failed to read Zyr Test file (zyr-tests).\n"
                               "Application Exists. Error occurred collecting needed Zyr test data.\n"));
}
