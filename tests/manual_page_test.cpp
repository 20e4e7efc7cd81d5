// The shell's manual page Iovet.man (shown for "Iovet.efi -?", which the
// UEFI Shell turns into "help Iovet.efi"): its format, and its options held
// against the application's own usage text so that the two never drift.
#include <fstream>
#include <sstream>

#include "support/harness.h"

using namespace testing_support;

namespace {

std::string read_manual() {
  std::ifstream f(repo_path("Iovet.man"), std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::string> split_lines(const std::string& text, const std::string& end) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t next; (next = text.find(end, at)) != std::string::npos; at = next + end.size())
    lines.push_back(text.substr(at, next - at));
  if (at < text.size()) lines.push_back(text.substr(at));
  return lines;
}

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// The lines of each ".SH" section, by name, in file order.
std::vector<std::pair<std::string, std::vector<std::string>>> sections(const std::vector<std::string>& lines) {
  std::vector<std::pair<std::string, std::vector<std::string>>> out;
  for (const std::string& line : lines) {
    if (line.rfind(".SH ", 0) == 0)
      out.push_back({line.substr(4), {}});
    else if (!out.empty())
      out.back().second.push_back(line);
  }
  return out;
}

}  // namespace

TEST(ManualPage, FollowsTheShellFormat) {
  std::string text = read_manual();
  ASSERT_FALSE(text.empty()) << "Iovet.man missing";
  // The shell reads the page as 8-bit text with CR LF line ends.
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char c = (unsigned char)text[i];
    ASSERT_TRUE(c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7F)) << "byte " << (int)c << " at " << i;
    if (c == '\n') ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    if (c == '\r') ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
  }
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
  auto lines = split_lines(text, "\r\n");
  // The title line names the command as the shell's help looks it up.
  EXPECT_EQ(lines[0].rfind(".TH Iovet 0 \"", 0), 0u) << lines[0];
  std::vector<std::string> names;
  for (auto& s : sections(lines)) names.push_back(s.first);
  EXPECT_EQ(names, (std::vector<std::string>{"NAME", "SYNOPSIS", "OPTIONS", "DESCRIPTION", "EXAMPLES"}));
  for (size_t i = 1; i < lines.size(); i++)
    EXPECT_TRUE(lines[i].empty() || lines[i][0] != '.' || lines[i].rfind(".SH ", 0) == 0)
        << "only .TH and .SH lines are commands: " << lines[i];
}

TEST(ManualPage, SynopsisAndOptionsSayWhatTheUsageTextSays) {
  sim::machine m;
  auto usage = split_lines(run_iovet(m, {"-h"}).text, "\n");
  ASSERT_GE(usage.size(), 2u);
  ASSERT_EQ(usage[0].rfind("Usage:   ", 0), 0u);
  auto page = sections(split_lines(read_manual(), "\r\n"));
  ASSERT_EQ(page.size(), 5u);
  const auto& synopsis = page[1].second;
  const auto& options = page[2].second;
  EXPECT_NE(std::find(synopsis.begin(), synopsis.end(), usage[0].substr(9)), synopsis.end()) << usage[0];

  // Each option of the usage text, with its continuation lines, appears in
  // OPTIONS with the same words: "  -x      meaning" then the continuations.
  size_t checked = 0;
  for (size_t i = 1; i < usage.size(); i++) {
    std::string body = usage[i].substr(9);  // after "Options: " or its blanks
    if (body.empty() || body[0] != '-') continue;
    std::string option = body.substr(0, 2), meaning = trimmed(body.substr(2));
    auto at = std::find_if(options.begin(), options.end(), [&](const std::string& l) {
      return trimmed(l).rfind(option + " ", 0) == 0;
    });
    ASSERT_NE(at, options.end()) << option << " missing from OPTIONS";
    EXPECT_EQ(trimmed(trimmed(*at).substr(2)), meaning) << option;
    for (size_t k = i + 1; k < usage.size() && !usage[k].empty() && trimmed(usage[k].substr(0, 14)).empty(); k++) {
      ++at;
      ASSERT_NE(at, options.end());
      EXPECT_EQ(trimmed(*at), trimmed(usage[k])) << option << " continuation";
    }
    checked++;
  }
  EXPECT_EQ(checked, 7u) << "options -h -a -d -p -t -v -x";
  // --dbg is not in the usage text but the page lists it.
  EXPECT_TRUE(std::any_of(options.begin(), options.end(),
                          [](const std::string& l) { return trimmed(l).rfind("--dbg ", 0) == 0; }));
  const auto& examples = page[4].second;
  EXPECT_TRUE(std::any_of(examples.begin(), examples.end(), [](const std::string& l) {
    return l.find("Iovet.efi -v > result.txt") != std::string::npos;
  }));
}
