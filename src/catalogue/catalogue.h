// The test catalogue ("zyr-tests") and the test records.
#pragma once
#include <stdint.h>

#include "platform/list.h"
#include "platform/platform.h"

enum : uint64_t { TEST_PASS = 0, TEST_FAIL = 1, TEST_NA = 2, TEST_MISSING = 3, TEST_WARNING = 4 };

constexpr uint32_t TEST_TEXT_CHARS = 512;
// The first of the checks beyond the families' own (what an operating system
// checks at boot): on a family they run only when asked.
constexpr uint32_t FIRST_OS_CHECK = 101;

struct test_case_t {
  uint64_t id;
  uint64_t result;
  char16_t description[TEST_TEXT_CHARS];
  char16_t message[TEST_TEXT_CHARS];
};

struct test_case_node_t {
  list_entry link;
  test_case_t tc;
};

extern list_entry test_case_list;
extern const char* const test_result_names[5];

constexpr const char16_t* CATALOGUE_FILE_NAME = u"zyr-tests";

uint64_t load_test_cases();
test_case_t* find_test_case(uint64_t id);

// Set when an assertion found no record for its number: it then checked
// nothing, so the run cannot report PASS. Cleared by the load and the
// teardown.
extern bool test_record_missing;

// Line reader over an open file. encoding: in/out, 0 undetected, 1 8-bit,
// 2 UCS-2 (detected at position 0 and handed back by the caller).
enum : uint8_t { CATALOGUE_ENCODING_UNKNOWN = 0, CATALOGUE_ENCODING_ASCII = 1, CATALOGUE_ENCODING_UCS2 = 2 };
efi_status_t read_catalogue_line(shell_file_t file, char16_t* buffer, uint64_t* size, uint8_t* encoding);

// Record writes used by every assertion: a literal message is widened into
// the record (at most 512 characters), a formatted one bounded to 512 bytes.
void set_result(test_case_t* tc, uint64_t result, const char* message = nullptr);

#include "platform/print.h"
// Formatted message: at most 255 characters and the terminator.
template <class... A>
void set_result_fmt(test_case_t* tc, uint64_t result, const char* format, const A&... a) {
  tc->result = result;
  format_to(tc->message, MESSAGE_FORMAT_BYTES, format, a...);
}

#include "platform/text.h"
// Appends formatted text to the record's message, as far as the record holds.
template <class... A>
void append_message_fmt(test_case_t* tc, const char* format, const A&... a) {
  size_t n = str16_len(tc->message);
  if (n + 1 < TEST_TEXT_CHARS) format_to(tc->message + n, (TEST_TEXT_CHARS - n) * 2, format, a...);
}
