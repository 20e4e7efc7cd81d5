// Type-checked formatting with the UEFI print conventions:
//   %s string of either width (an 8-bit one is widened), %c character,
//   %d decimal, %x and %X hexadecimal (digits A-F upper case for both),
//   '0' and a width pad with zeros, '-' justifies left, 'L' (or 'l') takes
//   the full 64-bit value; without it %d and %X use the low 32 bits.
// Every argument carries its own kind and width, so a 64-bit count given to
// %d is well defined and a string is never read from a number.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct fmt_arg {
  enum kind_t : uint8_t { integer, str16, str8, character } kind;
  union {
    uint64_t value;   // integer, character: sign-extended from its own width
    const void* ptr;  // str16, str8
  };

  fmt_arg(bool v) : kind(integer), value(v) {}
  fmt_arg(char v) : kind(character), value((uint8_t)v) {}
  fmt_arg(char16_t v) : kind(character), value(v) {}
  fmt_arg(signed char v) : kind(integer), value((uint64_t)(int64_t)v) {}
  fmt_arg(unsigned char v) : kind(integer), value(v) {}
  fmt_arg(short v) : kind(integer), value((uint64_t)(int64_t)v) {}
  fmt_arg(unsigned short v) : kind(integer), value(v) {}
  fmt_arg(int v) : kind(integer), value((uint64_t)(int64_t)v) {}
  fmt_arg(unsigned v) : kind(integer), value(v) {}
  fmt_arg(long v) : kind(integer), value((uint64_t)(int64_t)v) {}
  fmt_arg(unsigned long v) : kind(integer), value(v) {}
  fmt_arg(long long v) : kind(integer), value((uint64_t)v) {}
  fmt_arg(unsigned long long v) : kind(integer), value(v) {}
  fmt_arg(const char16_t* s) : kind(str16), ptr(s) {}
  fmt_arg(const char* s) : kind(str8), ptr(s) {}
};

// The variadic front ends below only pack their arguments and call one
// formatter; they are inlined at every call so that each argument list
// costs its stores and no function of its own.
#define IOVET_PACK_ARGS inline __attribute__((always_inline))

// Formats into out (out_chars UCS-2 characters including the terminator);
// the text is cut where it would not fit. Returns the characters written.
// Formats are 8-bit: each byte is widened to one UCS-2 character as it is
// (0x97 becomes U+0097).
size_t format_v8(char16_t* out, size_t out_chars, const char* format, const fmt_arg* args, size_t nargs);

constexpr size_t PRINT_MAX_CHARS = 320;      // Print
constexpr size_t DEBUG_BUFFER_CHARS = 128;   // debug_print: 127 reach the console
constexpr size_t MESSAGE_FORMAT_BYTES = 512; // formatted messages: 255 characters
constexpr size_t MESSAGE_COPY_CHARS = 512;   // copied messages

uint64_t print_v(const char* format, const fmt_arg* args, size_t nargs);
void debug_print_v(uint64_t mask, const char* format, const fmt_arg* args, size_t nargs);

// Print("...", args...) writes at most 320 characters to the console.
inline uint64_t Print(const char* format) { return print_v(format, nullptr, 0); }
template <class... A>
IOVET_PACK_ARGS uint64_t Print(const char* format, const A&... a) {
  const fmt_arg args[] = {fmt_arg(a)...};
  return print_v(format, args, sizeof...(A));
}

// Formats into a buffer of buffer_bytes bytes (UnicodeSPrint rules: a
// buffer of 512 bytes holds 255 characters and the terminator).
inline size_t format_to(char16_t* buffer, size_t buffer_bytes, const char* format) {
  return format_v8(buffer, buffer_bytes / 2, format, nullptr, 0);
}
template <class... A>
IOVET_PACK_ARGS size_t format_to(char16_t* buffer, size_t buffer_bytes, const char* format, const A&... a) {
  const fmt_arg args[] = {fmt_arg(a)...};
  return format_v8(buffer, buffer_bytes / 2, format, args, sizeof...(A));
}

// Diagnostic output, shown only with --dbg (bit 31 of the mask); 8-bit
// format, at most 127 characters reach the console.
extern uint64_t debug_mask;
inline void debug_print(uint64_t mask, const char* format) { debug_print_v(mask, format, nullptr, 0); }
template <class... A>
IOVET_PACK_ARGS void debug_print(uint64_t mask, const char* format, const A&... a) {
  const fmt_arg args[] = {fmt_arg(a)...};
  debug_print_v(mask, format, args, sizeof...(A));
}
