// Reads a board's Iovet report back into its results (see report_reader.h).
//
// The report, as the application prints it:
//   [-v only] "Test Assertions" between two 15-dash rules, then per record
//       "NN) description" / "Result : word" / ["       : message"] / 15-dash rule
//   a 20-dash rule, "Zyr Test Status: WORD", a 20-dash rule
//   a 20-dash rule, the counts "Name | NN", a 20-dash rule
//   lists: a heading "Errors:" / "Warnings:" (others are skipped), then per
//       entry "NN) text" / "-- message"
// A message is printed whole: its own line end, if it has one, shows as an
// empty line after it.
#include "report_reader.h"

#include <cstdint>
#include <cstdlib>

#include "platform/sim/utf8.h"

namespace results {

namespace {

const char STATUS_KEY[] = "Zyr Test Status: ";
const char PROFILE_KEY[] = "Chipset profile         ";
const char PAGE_PROMPT[] = "Press ENTER to continue or 'Q' break:";

// What the host runner's console shows in place of a UTF-16 surrogate
// left alone and of the noncharacters U+FFFE and U+FFFF.
uint32_t shown(uint32_t u) { return (u >= 0xD800 && u < 0xE000) || u == 0xFFFE || u == 0xFFFF ? 0xFFFD : u; }

std::u32string from_utf16(const std::string& b, size_t at, bool big_endian) {
  auto unit = [&](size_t i) -> uint32_t {
    uint32_t first = (uint8_t)b[i], second = (uint8_t)b[i + 1];
    return big_endian ? first << 8 | second : second << 8 | first;
  };
  std::u32string out;
  for (size_t i = at; i + 1 < b.size(); i += 2) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < b.size()) {
      uint32_t d = unit(i + 2);
      if (d >= 0xDC00 && d < 0xE000) {
        out += (char32_t)(0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00));
        i += 2;
        continue;
      }
    }
    out += (char32_t)shown(c);
  }
  return out;
}

// UTF-8 where it is well formed; any other byte is an 8-bit (Latin-1)
// character of its own.
std::u32string from_8bit(const std::string& b, size_t at) {
  static const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
  std::u32string out;
  for (size_t i = at; i < b.size();) {
    uint8_t c = (uint8_t)b[i];
    size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
    uint32_t u = c & (0x7F >> n);
    bool ok = n < 4 && n < b.size() - i;
    for (size_t k = 1; ok && k <= n; k++) {
      uint8_t t = (uint8_t)b[i + k];
      ok = (t & 0xC0) == 0x80;
      u = u << 6 | (t & 0x3F);
    }
    if (ok && (u < least[n] || u > 0x10FFFF)) ok = false;
    if (!ok) {
      out += (char32_t)c;
      i++;
    } else {
      out += (char32_t)shown(u);
      i += n + 1;
    }
  }
  return out;
}

// UCS-2 by its byte-order mark, or without one when more than half of the
// first code units have a zero high byte (text of the report is mostly ASCII).
std::u32string decode(const std::string& b) {
  auto starts = [&](const char* mark, size_t n) { return b.size() >= n && b.compare(0, n, mark, n) == 0; };
  if (starts("\xFF\xFE", 2)) return from_utf16(b, 2, false);
  if (starts("\xFE\xFF", 2)) return from_utf16(b, 2, true);
  if (starts("\xEF\xBB\xBF", 3)) return from_8bit(b, 3);
  size_t pairs = b.size() / 2 < 4096 ? b.size() / 2 : 4096, little = 0, big = 0;
  for (size_t i = 0; i < pairs; i++) {
    bool low_zero = b[2 * i] == 0, high_zero = b[2 * i + 1] == 0;
    if (high_zero && !low_zero) little++;
    if (low_zero && !high_zero) big++;
  }
  if (pairs && little * 2 > pairs) return from_utf16(b, 0, false);
  if (pairs && big * 2 > pairs) return from_utf16(b, 0, true);
  return from_8bit(b, 0);
}

// Index past the escape sequence that starts at t[i] (an ESC).
size_t past_escape(const std::u32string& t, size_t i) {
  size_t j = i + 1;
  if (j >= t.size()) return j;
  if (t[j] == '[') {  // control sequence: parameters, intermediates, one final character
    j++;
    while (j < t.size() && t[j] >= 0x30 && t[j] <= 0x3F) j++;
    while (j < t.size() && t[j] >= 0x20 && t[j] <= 0x2F) j++;
    return j < t.size() && t[j] >= 0x40 && t[j] <= 0x7E ? j + 1 : j;
  }
  if (t[j] == '(' || t[j] == ')') return j + 2 < t.size() ? j + 2 : t.size();  // character set choice
  return j + 1;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', from)) {
    lines.push_back(text.substr(from, at - from));
    from = at + 1;
  }
  lines.push_back(text.substr(from));
  return lines;
}

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool is_rule(const std::string& s, char c, size_t n) { return s.size() == n && s.find_first_not_of(c) == std::string::npos; }

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Up to nine digits from s[at]; false when there are none or more.
bool number_at(const std::string& s, size_t& at, unsigned long& value) {
  size_t from = at;
  while (at < s.size() && s[at] >= '0' && s[at] <= '9' && at - from < 10) at++;
  if (at == from || at - from > 9) return false;
  value = strtoul(s.substr(from, at - from).c_str(), nullptr, 10);
  return true;
}

// "NN) text"
bool entry_line(const std::string& s, uint64_t& id, std::string& text) {
  size_t at = 0;
  unsigned long value = 0;
  if (!number_at(s, at, value) || s.compare(at, 2, ") ") != 0) return false;
  id = value;
  text = s.substr(at + 2);
  return true;
}

bool entry_line(const std::string& s) {
  uint64_t id;
  std::string text;
  return entry_line(s, id, text);
}

// A list's heading: words and a colon, e.g. "Errors:".
bool list_heading(const std::string& s) {
  if (s.size() < 2 || s.size() > 40 || s.back() != ':' || !is_letter(s[0])) return false;
  for (size_t i = 0; i + 1 < s.size(); i++)
    if (!is_letter(s[i]) && s[i] != ' ') return false;
  return true;
}

// "Name    | NN"
bool count_line(const std::string& s, std::string& name, unsigned long& value) {
  size_t bar = s.find('|');
  if (bar == std::string::npos || bar == 0) return false;
  name = s.substr(0, s.find_last_not_of(' ', bar - 1) + 1);
  size_t at = s.find_first_not_of(' ', bar + 1);
  return is_letter(name[0]) && at != std::string::npos && number_at(s, at, value) && at == s.size();
}

bool result_code(const std::string& word, uint64_t& code) {
  for (uint64_t r = PASS; r <= WARNING; r++)
    if (word == result_word(r)) {
      code = r;
      return true;
    }
  return false;
}

std::string quoted(const std::string& s) { return "\"" + (s.size() > 60 ? s.substr(0, 60) + "..." : s) + "\""; }

std::string line_number(size_t index) { return "line " + std::to_string(index + 1); }

struct reading {
  const std::vector<std::string>& lines;
  report& out;
  std::string& error;

  bool fail(const std::string& message) {
    error = message;
    return false;
  }

  // The counts after the status line; i is left past their closing rule.
  bool counts(size_t& i) {
    struct known {
      const char* name;
      unsigned long* into;
    } names[] = {{"Pass", &out.pass},   {"Fail", &out.fail},       {"Warn", &out.warn},
                 {"NA", &out.not_applicable}, {"Missing", &out.missing}, {"Total", &out.total}};
    bool seen[6] = {};
    while (i < lines.size() && is_rule(lines[i], '-', 20)) i++;
    for (; i < lines.size() && !is_rule(lines[i], '-', 20); i++) {
      if (i + 1 == lines.size() && lines[i].empty()) i++;  // the file's last line end
      if (i == lines.size()) break;
      std::string name;
      unsigned long value = 0;
      if (!count_line(lines[i], name, value))
        return fail(line_number(i) + ": " + quoted(lines[i]) + " where the summary's counts (\"Fail    | 01\") belong");
      for (size_t k = 0; k < 6; k++)
        if (name == names[k].name) {
          *names[k].into = value;
          seen[k] = true;
        }
    }
    if (i >= lines.size()) return fail("the report is cut short in its summary's counts");
    i++;
    for (size_t k = 0; k < 6; k++)
      if (!seen[k]) return fail(std::string("the summary has no count of ") + names[k].name);
    return true;
  }

  // The lists after the counts, up to the first line that is neither a
  // heading nor an entry. Lists other than Errors and Warnings are skipped.
  bool lists(size_t i, std::vector<record>& errors, std::vector<record>& warnings) {
    std::vector<record> other;
    std::vector<record>* into = nullptr;
    uint64_t result = 0;
    while (i < lines.size()) {
      if (list_heading(lines[i])) {
        into = lines[i] == "Errors:" ? &errors : lines[i] == "Warnings:" ? &warnings : &other;
        result = into == &errors ? FAIL : WARNING;
        i++;
        continue;
      }
      record r{0, result, "", ""};
      if (!into || !entry_line(lines[i], r.id, r.description)) break;
      if (into == &warnings) r.description.clear();  // the list names the result in its place
      if (++i >= lines.size() || !(starts_with(lines[i], "-- ") || lines[i] == "--"))
        return fail(line_number(i) + ": the summary's entry " + std::to_string(r.id) + " has no \"-- \" message" +
                    (i >= lines.size() ? " (the report is cut short)" : ""));
      r.message = lines[i].size() > 3 ? lines[i].substr(3) : "";
      for (i++; i < lines.size(); i++) {
        if (lines[i].empty()) {  // the message's own line end
          r.message += '\n';
          i++;
          break;
        }
        if (entry_line(lines[i]) || list_heading(lines[i])) break;
        r.message += "\n" + lines[i];
      }
      into->push_back(r);
    }
    return true;
  }

  // The -v listing between the heading at h and the status block at stop.
  bool listing(size_t h, size_t stop) {
    for (size_t i = h + 2; i < stop;) {
      record r{0, PASS, "", ""};
      if (!entry_line(lines[i], r.id, r.description))
        return fail(line_number(i) + ": " + quoted(lines[i]) + " where a record (\"NN) description\") belongs");
      std::string what = "record " + std::to_string(r.id);
      if (++i >= stop || !starts_with(lines[i], "Result : "))
        return fail(line_number(i) + ": " + what + " has no \"Result : \" line");
      if (!result_code(lines[i].substr(9), r.result))
        return fail(line_number(i) + ": " + what + " has the unknown result " + quoted(lines[i].substr(9)));
      i++;
      // A passing record shows a message only when it has one.
      if (r.result != PASS || (i < stop && starts_with(lines[i], "       :"))) {
        if (i >= stop || !starts_with(lines[i], "       :"))
          return fail(line_number(i) + ": " + what + " (" + result_word(r.result) + ") has no message line");
        r.message = lines[i].substr(lines[i].size() > 8 && lines[i][8] == ' ' ? 9 : 8);
        for (i++; i < stop && !is_rule(lines[i], '-', 15); i++) r.message += "\n" + lines[i];
      }
      if (i >= stop || !is_rule(lines[i], '-', 15)) return fail(line_number(i) + ": " + what + " has no closing rule");
      i++;
      out.records.push_back(r);
    }
    return true;
  }
};

std::string numbers(const std::vector<record>& records, uint64_t result) {
  std::string s;
  for (const record& r : records)
    if (r.result == result) s += (s.empty() ? "" : " ") + std::to_string(r.id);
  return s.empty() ? "none" : s;
}

}  // namespace

std::string report_text(const std::string& bytes) {
  std::u32string t = decode(bytes);
  std::string text;
  for (size_t i = 0; i < t.size(); i++) {
    uint32_t c = t[i];
    if (c == 0x1B) {
      i = past_escape(t, i) - 1;
      continue;
    }
    // CR LF and a lone CR alike; a byte-order mark inside the text (files
    // joined together) too.
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0xFEFF) continue;
    sim::append_utf8(text, c);
  }
  std::string without;
  size_t from = 0;
  const size_t prompt = sizeof PAGE_PROMPT - 1;
  for (size_t at = text.find(PAGE_PROMPT); at != std::string::npos; at = text.find(PAGE_PROMPT, from)) {
    without.append(text, from, at - from);
    from = at + prompt + (text.compare(at + prompt, 1, "\n") == 0 ? 1 : 0);
  }
  return without + text.substr(from);
}

bool read_report(const std::string& bytes, report& out, std::string& error) {
  out = report{};
  std::vector<std::string> lines = split_lines(report_text(bytes));
  reading read{lines, out, error};

  size_t s = lines.size();
  for (size_t i = lines.size(); i-- > 0;)
    if (starts_with(lines[i], STATUS_KEY)) {
      s = i;
      break;
    }
  if (s == lines.size())
    return read.fail("no \"Zyr Test Status:\" line: not an Iovet report, or one cut short before its summary");
  const std::string& status_line = lines[s];
  size_t end = sizeof STATUS_KEY - 1;
  while (end < status_line.size() && is_letter(status_line[end])) end++;
  out.status = status_line.substr(sizeof STATUS_KEY - 1, end - (sizeof STATUS_KEY - 1));
  if (out.status.empty()) return read.fail(line_number(s) + ": the status line names no status");
  // A -v report of a later chipset profile names it among the platform
  // information, after the report before it.
  for (size_t k = s; k-- > 0 && !starts_with(lines[k], STATUS_KEY);)
    if (starts_with(lines[k], PROFILE_KEY)) {
      std::string rest = lines[k].substr(sizeof PROFILE_KEY - 1);
      out.profile = rest.substr(0, rest.find(' '));
      break;
    }

  size_t i = s + 1;
  std::vector<record> errors, warnings;
  if (!read.counts(i) || !read.lists(i, errors, warnings)) return false;
  if (errors.size() != out.fail || warnings.size() != out.warn) {
    bool short_list = errors.size() < out.fail || warnings.size() < out.warn;
    return read.fail((short_list ? "the report is cut short: " : "the summary disagrees with itself: ") +
                     std::to_string(errors.size()) + " failed and " + std::to_string(warnings.size()) +
                     " warned assertions listed for the counts Fail " + std::to_string(out.fail) + " and Warn " +
                     std::to_string(out.warn));
  }

  // The listing of this run: after the run's banner, before its summary.
  size_t from = 0, heading = s;
  for (size_t k = s; k-- > 0;)
    if (is_rule(lines[k], '*', 45)) {
      from = k + 1;
      break;
    }
  for (size_t k = from + 1; k + 1 < s; k++)
    if (lines[k] == "Test Assertions" && is_rule(lines[k - 1], '-', 15) && is_rule(lines[k + 1], '-', 15)) heading = k;
  if (heading == s) {
    out.records = errors;
    for (const record& w : warnings) {
      size_t at = 0;
      while (at < out.records.size() && out.records[at].id <= w.id) at++;
      out.records.insert(out.records.begin() + at, w);
    }
    return true;
  }
  out.listing = true;
  size_t stop = s > 0 && is_rule(lines[s - 1], '-', 20) ? s - 1 : s;
  if (!read.listing(heading, stop)) return false;
  std::string listed_fail = numbers(out.records, FAIL), listed_warn = numbers(out.records, WARNING);
  if (listed_fail != numbers(errors, FAIL) || listed_warn != numbers(warnings, WARNING))
    return read.fail("the listing and the summary disagree: the listing fails " + listed_fail + " and warns " +
                     listed_warn + ", the summary fails " + numbers(errors, FAIL) + " and warns " +
                     numbers(warnings, WARNING));
  return true;
}

}  // namespace results
