// The results report: listing, coloured status line, counts and lists.
#include <memory>

#include "catalogue/catalogue.h"
#include "platform/print.h"
#include "report/report.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

struct record_spec {
  uint64_t id;
  uint64_t result;
  const char16_t* message;
};

// Catalogue records ("Test N" descriptions) for the duration of a test.
struct catalogue {
  std::vector<std::unique_ptr<test_case_node_t>> nodes;
  explicit catalogue(std::initializer_list<record_spec> specs) {
    for (const auto& s : specs) {
      auto n = std::make_unique<test_case_node_t>();
      n->tc.id = s.id;
      n->tc.result = s.result;
      std::u16string d = u"Test " + sim::from_utf8(std::to_string(s.id));
      std::copy(d.begin(), d.end(), n->tc.description);
      std::u16string msg = s.message;
      std::copy(msg.begin(), msg.end(), n->tc.message);
      list_append(test_case_list, &n->link);
      nodes.push_back(std::move(n));
    }
  }
  ~catalogue() {
    for (auto& n : nodes) list_unlink(&n->link);
  }
};

std::string summary_after(const std::string& text) {
  size_t at = text.find("--------------------\nZyr Test Status");
  return at == std::string::npos ? "" : text.substr(at);
}

}  // namespace

TEST(ResultsSummary, CountsStatusInColourAndBothLists) {
  sim::machine m;
  sim::scoped_machine use(m);
  catalogue c({{1, TEST_PASS, u""},
               {3, TEST_FAIL, u"Bad base.\n"},
               {4, TEST_WARNING, u"Odd size.\n"},
               {5, TEST_NA, u""},
               {6, TEST_MISSING, u"No HPET.\n"},
               {7, 9, u"never counted"},
               {8, TEST_FAIL, u"Second failure.\n"}});
  display_test_report(0);
  EXPECT_EQ(m.console_text(),
            "--------------------\n"
            "Zyr Test Status: FAIL\n"
            "--------------------\n"
            "--------------------\n"
            "Pass    | 01\n"
            "Fail    | 02\n"
            "Warn    | 01\n"
            "NA      | 01\n"
            "Missing | 01\n"
            "Total | 06\n"
            "--------------------\n"
            "Errors:\n"
            "03) Test 3\n"
            "-- Bad base.\n\n"
            "08) Test 8\n"
            "-- Second failure.\n\n"
            "Warnings:\n"
            "04) WARNING\n"
            "-- Odd size.\n\n");
  // Attributes: white rule, gray label, red status, white rule, gray rest.
  ASSERT_GE(m.console.size(), 5u);
  const std::pair<uint64_t, std::u16string> expected[] = {{15, u"--------------------\n"},
                                                          {7, u"Zyr Test Status: "},
                                                          {4, u"FAIL\n"},
                                                          {15, u"--------------------\n"}};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(m.console[i].attribute, expected[i].first) << i;
    EXPECT_EQ(m.console[i].text, expected[i].second) << i;
  }
  EXPECT_EQ(m.console[4].attribute, 7u);
}

TEST(ResultsSummary, WarningsAloneKeepTheStatusGreen) {
  sim::machine m;
  sim::scoped_machine use(m);
  catalogue c({{1, TEST_PASS, u""}, {20, TEST_WARNING, u"Check it.\n"}});
  display_test_report(0);
  EXPECT_EQ(m.console[2].attribute, 2u);
  EXPECT_EQ(m.console[2].text, u"PASS\n");
  EXPECT_TRUE(contains(m.console_text(), "Warnings:\n20) WARNING\n-- Check it.\n"));
  EXPECT_FALSE(contains(m.console_text(), "Errors:"));
}

TEST(ResultsSummary, NoTextOutputProtocolOnlyLosesTheColours) {
  sim::machine m;
  m.text_output_protocol = false;
  sim::scoped_machine use(m);
  catalogue c({{2, TEST_FAIL, u"x\n"}});
  display_test_report(0);
  EXPECT_TRUE(contains(m.console_text(), "Zyr Test Status: FAIL\n"));
  for (const auto& seg : m.console) EXPECT_EQ(seg.attribute, 7u);
}

TEST(ResultsListing, MessagesOnlyForNonPassingAndStopAfterAFailedTestOne) {
  sim::machine m;
  sim::scoped_machine use(m);
  catalogue c({{2, TEST_PASS, u"stale"}, {62, TEST_NA, u""}, {1, TEST_FAIL, u"DMAR Table not present."},
               {3, TEST_NA, u""}});
  display_test_list();
  EXPECT_EQ(m.console_text(),
            "---------------\nTest Assertions\n---------------\n"
            "02) Test 2\nResult : PASS\n---------------\n"
            "62) Test 62\nResult : Not Applicable for this platform\n       : \n---------------\n"
            "01) Test 1\nResult : FAIL\n       : DMAR Table not present.\n---------------\n");
  m.console.clear();
  display_test_report(0);
  EXPECT_TRUE(contains(m.console_text(), "NA      | 02\n")) << "the summary still counts every record";
}

// Whole runs through the image entry.
TEST(ResultsRun, VerboseReportWhenTestOneFails) {
  sim::machine m;
  add_catalogue(m);
  m.set_cpuid(1, 0x906EA);
  m.pci(0, 0, 0, 0x8086, 0x3E30).set32(0x48, 0xFED10001);
  m.write64(0xFED10000 + 0x5410, 0xFED91001);
  m.install_acpi({sim::build_mcfg({{0xE0000000, 0, 0, 0}})});  // no DMAR
  auto r = run_iovet(m, {"-v"});
  EXPECT_TRUE(contains(r.text, "Platform Information\n")) << r.text;
  size_t list = r.text.find("Test Assertions\n");
  size_t status = r.text.find("Zyr Test Status: FAIL\n");
  ASSERT_NE(list, std::string::npos);
  ASSERT_NE(status, std::string::npos);
  std::string listing = r.text.substr(list, status - list);
  EXPECT_TRUE(contains(listing, "01) ")) << listing;
  EXPECT_FALSE(contains(listing, "02) ")) << "the listing ends with test 1";
  EXPECT_TRUE(contains(summary_after(r.text), "Errors:\n01) ")) << r.text;
}

TEST(ResultsRun, ShortReportHasNoVerboseSections) {
  sim::machine m;
  add_catalogue(m);
  m.set_cpuid(1, 0x906EA);
  m.pci(0, 0, 0, 0x8086, 0x3E30).set32(0x48, 0xFED10001);
  m.install_acpi({sim::build_mcfg({{0xE0000000, 0, 0, 0}})});
  m.install_smbios(sim::smbios_structure(0, 0, {1, 2, 0, 0, 3, 0}, {"Vendor", "1.0", "01/01/2026"}));
  auto r = run_iovet(m);
  EXPECT_FALSE(contains(r.text, "BIOS Information"));
  EXPECT_FALSE(contains(r.text, "Test Assertions"));
  EXPECT_TRUE(contains(r.text, "Zyr Test Status: "));
}
