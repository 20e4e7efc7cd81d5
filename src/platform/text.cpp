#include "platform/text.h"

size_t str16_len(const char16_t* s) {
  size_t n = 0;
  if (s)
    while (s[n]) n++;
  return n;
}

int str16_ncmp(const char16_t* a, const char16_t* b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (a[i] == 0) return 0;
  }
  return 0;
}

bool str16_contains(const char16_t* haystack, const char16_t* needle) {
  size_t n = str16_len(needle);
  if (n == 0) return true;
  for (const char16_t* h = haystack; *h; h++)
    if (str16_ncmp(h, needle, n) == 0) return true;
  return false;
}

void str16_copy(char16_t* dest, size_t dest_chars, const char16_t* src) {
  if (dest_chars == 0) return;
  size_t i = 0;
  if (src)
    for (; i + 1 < dest_chars && src[i]; i++) dest[i] = src[i];
  dest[i] = 0;
}

void ascii_to_str16(char16_t* dest, size_t dest_chars, const char* src) {
  if (dest_chars == 0) return;
  size_t i = 0;
  if (src)
    for (; i + 1 < dest_chars && src[i]; i++) dest[i] = (uint8_t)src[i];
  dest[i] = 0;
}

void mem_set(void* dest, uint8_t value, size_t n) {
  volatile uint8_t* d = static_cast<uint8_t*>(dest);
  for (size_t i = 0; i < n; i++) d[i] = value;
}

void mem_copy(void* dest, const void* src, size_t n) {
  uint8_t* d = static_cast<uint8_t*>(dest);
  const uint8_t* s = static_cast<const uint8_t*>(src);
  for (size_t i = 0; i < n; i++) d[i] = s[i];
}
