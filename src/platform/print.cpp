#include "platform/print.h"

#include "platform/platform.h"

uint64_t debug_mask = 0;

namespace {

struct sink {
  char16_t* out;
  size_t cap;  // characters, terminator excluded
  size_t n;
  void put(char16_t c) {
    if (n < cap) out[n++] = c;
  }
};

void put_padded(sink& s, const char16_t* digits, size_t len, size_t width, bool zero, bool left, bool negative) {
  size_t total = len + (negative ? 1 : 0);
  size_t pad = width > total ? width - total : 0;
  if (!left && !zero)
    for (size_t i = 0; i < pad; i++) s.put(u' ');
  if (negative) s.put(u'-');
  if (!left && zero)
    for (size_t i = 0; i < pad; i++) s.put(u'0');
  for (size_t i = 0; i < len; i++) s.put(digits[i]);
  if (left)
    for (size_t i = 0; i < pad; i++) s.put(u' ');
}

}  // namespace

size_t format_v8(char16_t* out, size_t out_chars, const char* format_bytes, const fmt_arg* args, size_t nargs) {
  // The format is read one byte at a time, each widened as it is.
  const uint8_t* format = reinterpret_cast<const uint8_t*>(format_bytes);
  if (out_chars == 0) return 0;
  sink s{out, out_chars - 1, 0};
  size_t next_arg = 0;
  auto take = [&]() -> const fmt_arg* { return next_arg < nargs ? &args[next_arg++] : nullptr; };
  size_t p = 0;
  while (format && format[p]) {
    char16_t c = format[p];
    if (c != u'%') {
      s.put(c);
      p++;
      continue;
    }
    p++;
    bool zero = false, left = false, wide = false;
    size_t width = 0;
    for (;; p++) {
      char16_t f = format[p];
      if (f == u'0' && width == 0)
        zero = true;
      else if (f == u'-')
        left = true;
      else if (f == u' ' || f == u'+' || f == u',')
        ;
      else if (f >= u'1' && f <= u'9') {
        width = 0;
        while (format[p] >= u'0' && format[p] <= u'9') width = width * 10 + (size_t)(format[p++] - u'0');
        p--;
      } else if (f == u'*') {
        const fmt_arg* a = take();
        width = a && a->kind == fmt_arg::integer ? (size_t)(uint32_t)a->value : 0;
      } else if (f == u'L' || f == u'l')
        wide = true;
      else
        break;
    }
    if (width > 512) width = 512;
    char16_t t = format[p];
    if (t == 0) break;
    p++;
    char16_t digits[24];
    size_t len = 0;
    switch (t) {
      case u'%':
        s.put(u'%');
        break;
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X': {
        const fmt_arg* a = take();
        uint64_t v = (a && a->kind != fmt_arg::str16 && a->kind != fmt_arg::str8) ? a->value : 0;
        bool negative = false;
        if (t == u'd' || t == u'i') {
          int64_t sv = wide ? (int64_t)v : (int64_t)(int32_t)(uint32_t)v;
          if (sv < 0) {
            negative = true;
            v = (uint64_t)0 - (uint64_t)sv;
          } else {
            v = (uint64_t)sv;
          }
        } else if (!wide) {
          v = (uint32_t)v;
        }
        unsigned base = (t == u'x' || t == u'X') ? 16 : 10;
        char16_t rev[24];
        do {
          unsigned d = (unsigned)(v % base);
          rev[len++] = (char16_t)(d < 10 ? u'0' + d : u'A' + d - 10);
          v /= base;
        } while (v);
        for (size_t i = 0; i < len; i++) digits[i] = rev[len - 1 - i];
        put_padded(s, digits, len, width, zero && !left, left, negative);
        break;
      }
      case u'c': {
        const fmt_arg* a = take();
        char16_t ch = a && a->kind != fmt_arg::str16 && a->kind != fmt_arg::str8 ? (char16_t)a->value : u'?';
        digits[0] = ch;
        put_padded(s, digits, 1, width, false, left, false);
        break;
      }
      case u's':
      case u'S':
      case u'a': {
        const fmt_arg* a = take();
        const char16_t* text16 = nullptr;
        const char* text8 = nullptr;
        if (a && a->kind == fmt_arg::str16) text16 = static_cast<const char16_t*>(a->ptr);
        if (a && a->kind == fmt_arg::str8) text8 = static_cast<const char*>(a->ptr);
        if (!text16 && !text8) text8 = (a && a->kind == fmt_arg::integer) ? "<bad argument>" : "<null string>";
        size_t n = 0;
        if (text16)
          while (text16[n]) n++;
        else
          while (text8[n]) n++;
        size_t pad = width > n ? width - n : 0;
        if (!left)
          for (size_t i = 0; i < pad; i++) s.put(u' ');
        for (size_t i = 0; i < n && s.n < s.cap; i++) s.put(text16 ? text16[i] : (char16_t)(uint8_t)text8[i]);
        if (left)
          for (size_t i = 0; i < pad; i++) s.put(u' ');
        break;
      }
      default:
        s.put(t);
        break;
    }
  }
  out[s.n] = 0;
  return s.n;
}

uint64_t print_v(const char* format, const fmt_arg* args, size_t nargs) {
  char16_t buffer[PRINT_MAX_CHARS + 1];
  size_t n = format_v8(buffer, PRINT_MAX_CHARS + 1, format, args, nargs);
  console_write(buffer);
  return n;
}

void debug_print_v(uint64_t mask, const char* format, const fmt_arg* args, size_t nargs) {
  if (!(mask & 0x80000000ULL)) return;
  char16_t buffer[DEBUG_BUFFER_CHARS];
  format_v8(buffer, DEBUG_BUFFER_CHARS, format, args, nargs);
  console_write(buffer);
}
