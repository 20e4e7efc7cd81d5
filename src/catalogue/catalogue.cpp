#include "catalogue/catalogue.h"

#include "platform/print.h"
#include "platform/text.h"

list_entry test_case_list = LIST_HEAD_INIT(test_case_list);
bool test_record_missing = false;

const char* const test_result_names[5] = {"PASS", "FAIL", "Not Applicable for this platform",
                                              "Missing Data needed for test.", "WARNING"};

namespace {

constexpr uint16_t BYTE_ORDER_MARK = 0xFEFF;

// Sequential reader over the shell file through a small buffer, so a line
// costs a few shell reads rather than one per character. A failed read is
// remembered and ends the reading like the end of the file does.
struct file_reader {
  file_reader(shell_file_t f, uint8_t e) : file(f), encoding(e) {}
  shell_file_t file;
  uint8_t encoding;
  uint8_t chunk[256] = {};
  uint64_t chunk_size = 0;
  uint64_t chunk_pos = 0;
  uint64_t consumed = 0;  // bytes taken from the start position
  bool failed = false;

  bool next_byte(uint8_t* b) {
    if (chunk_pos == chunk_size) {
      chunk_size = sizeof(chunk);
      chunk_pos = 0;
      if (shell_read_file(file, &chunk_size, chunk) != EFI_SUCCESS) {
        chunk_size = 0;
        failed = true;
      }
      if (chunk_size == 0) return false;
    }
    *b = chunk[chunk_pos++];
    consumed++;
    return true;
  }

  // Next character of the file, or false at its end.
  bool next_char(char16_t* c) {
    uint8_t lo, hi;
    if (!next_byte(&lo)) return false;
    if (encoding != CATALOGUE_ENCODING_UCS2) {
      *c = lo;
      return true;
    }
    if (!next_byte(&hi)) return false;  // a lone trailing byte is no character
    *c = (char16_t)(lo | hi << 8);
    return true;
  }
};

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Fills a record from "number@description"; false when the line has no '@'.
bool parse_line(const char16_t* line, test_case_t* tc) {
  size_t at = 0;
  while (line[at] && line[at] != u'@') at++;
  if (line[at] != u'@') return false;
  size_t i = 0;
  while (i < at && (line[i] == u' ' || line[i] == u'\t')) i++;
  uint64_t id = 0;
  for (; i < at && is_digit(line[i]); i++) id = id * 10 + (uint64_t)(line[i] - u'0');
  tc->id = id;
  str16_copy(tc->description, TEST_TEXT_CHARS, line + at + 1);
  return true;
}

}  // namespace

// Every failing shell call (position, information, read) answers
// EFI_DEVICE_ERROR: the line is then unknown, and nothing is stored.
efi_status_t read_catalogue_line(shell_file_t file, char16_t* buffer, uint64_t* size, uint8_t* encoding) {
  if (!file || !size || !encoding) return EFI_INVALID_PARAMETER;
  uint64_t start = 0;
  if (shell_get_file_position(file, &start) != EFI_SUCCESS) return EFI_DEVICE_ERROR;
  if (start == 0) {
    uint64_t file_size = 0;
    if (shell_get_file_size(file, &file_size) != EFI_SUCCESS) return EFI_DEVICE_ERROR;
    *encoding = CATALOGUE_ENCODING_ASCII;
    if (file_size >= 2) {
      uint8_t mark[2] = {0, 0};
      uint64_t n = 2;
      if (shell_read_file(file, &n, mark) != EFI_SUCCESS) return EFI_DEVICE_ERROR;
      if (n == 2 && (mark[0] | mark[1] << 8) == BYTE_ORDER_MARK) {
        *encoding = CATALOGUE_ENCODING_UCS2;
        start = 2;  // the mark is not part of the first line
      }
    }
    if (shell_set_file_position(file, start) != EFI_SUCCESS) return EFI_DEVICE_ERROR;
  }

  // First pass: count the characters of the line (carriage returns and the
  // line feed excluded).
  file_reader reader{file, *encoding};
  uint64_t chars = 0;
  char16_t c;
  while (reader.next_char(&c) && c != u'\n')
    if (c != u'\r') chars++;
  if (reader.failed) return EFI_DEVICE_ERROR;
  uint64_t line_bytes = reader.consumed;
  uint64_t needed = (chars + 1) * sizeof(char16_t);
  if (!buffer || *size < needed) {
    *size = needed;
    if (shell_set_file_position(file, start) != EFI_SUCCESS) return EFI_DEVICE_ERROR;
    return EFI_BUFFER_TOO_SMALL;
  }

  // Second pass: store the characters.
  if (shell_set_file_position(file, start) != EFI_SUCCESS) return EFI_DEVICE_ERROR;
  file_reader fill{file, *encoding};
  uint64_t n = 0;
  while (n < chars && fill.next_char(&c) && c != u'\n')
    if (c != u'\r') buffer[n++] = c;
  buffer[n] = 0;
  if (fill.failed || n < chars) return EFI_DEVICE_ERROR;
  if (shell_set_file_position(file, start + line_bytes) != EFI_SUCCESS) return EFI_DEVICE_ERROR;
  return EFI_SUCCESS;
}

namespace {

// A load that cannot go on: the node and line in hand are freed, the file
// closed; the records loaded so far stay for the teardown.
uint64_t read_failure(shell_file_t file, test_case_node_t* node, char16_t* line) {
  if (line) FreePool(line);
  if (node) FreePool(node);
  shell_close_file(file);
  Print("ERROR -- Failed to read Zyr Test file (%s).\n", CATALOGUE_FILE_NAME);
  return 1;
}

}  // namespace

uint64_t load_test_cases() {
  debug_print(debug_mask, "DEBUG -- support Line# %d\n", 262);
  test_record_missing = false;
  shell_file_t file = nullptr;
  if (shell_open_file(CATALOGUE_FILE_NAME, &file) != EFI_SUCCESS || !file) {
    Print("Failed to open Zyr Test file (%s).\nPlease ensure it is located in same directory as application.\n",
          CATALOGUE_FILE_NAME);
    return 1;
  }
  uint8_t encoding = CATALOGUE_ENCODING_UNKNOWN;
  for (;;) {
    // Without the position or the size the end of the file cannot be told:
    // reading on could go on forever.
    uint64_t position = 0, file_size = 0;
    if (shell_get_file_position(file, &position) != EFI_SUCCESS ||
        shell_get_file_size(file, &file_size) != EFI_SUCCESS || shell_set_file_position(file, position) != EFI_SUCCESS)
      return read_failure(file, nullptr, nullptr);
    if (position >= file_size) break;

    test_case_node_t* node = static_cast<test_case_node_t*>(AllocateZeroPool(sizeof(test_case_node_t)));
    if (!node) {
      shell_close_file(file);
      return 1;
    }
    uint64_t size = 0;
    char16_t* line = nullptr;
    efi_status_t status = read_catalogue_line(file, nullptr, &size, &encoding);
    if (status != EFI_BUFFER_TOO_SMALL) return read_failure(file, node, nullptr);
    line = static_cast<char16_t*>(AllocateZeroPool(size));
    if (line && read_catalogue_line(file, line, &size, &encoding) != EFI_SUCCESS)
      return read_failure(file, node, line);
    uint64_t after = position;
    if (shell_get_file_position(file, &after) != EFI_SUCCESS || after <= position) {
      // The file did not move on (a read that gave fewer bytes than the
      // size promised): stop here rather than try the same line forever.
      return read_failure(file, node, line);
    }
    // A line without '@' (an empty line too) gives no record.
    if (line && parse_line(line, &node->tc)) {
      node->tc.result = TEST_NA;
      node->tc.message[0] = 0;
      list_append(test_case_list, &node->link);
    } else {
      FreePool(node);
    }
    if (line) FreePool(line);
  }
  shell_close_file(file);
  debug_print(debug_mask, "DEBUG -- support Line# %d\n", 310);
  return 0;
}

test_case_t* find_test_case(uint64_t id) {
  for (test_case_node_t* node : each<test_case_node_t>(test_case_list))
    if (node->tc.id == id) return &node->tc;
  return nullptr;
}

void set_result(test_case_t* tc, uint64_t result, const char* message) {
  tc->result = result;
  if (message) ascii_to_str16(tc->message, MESSAGE_COPY_CHARS, message);
}
