// The few C library functions the compiler may call on its own (to clear or
// copy records). The loops go through volatile pointers so that the compiler
// does not recognise them and turn them back into calls to themselves.
#include <stddef.h>
#include <stdint.h>

extern "C" {

void* memset(void* dest, int value, size_t count) {
  volatile uint8_t* d = static_cast<volatile uint8_t*>(dest);
  for (size_t i = 0; i < count; i++) d[i] = (uint8_t)value;
  return dest;
}

void* memcpy(void* dest, const void* src, size_t count) {
  volatile uint8_t* d = static_cast<volatile uint8_t*>(dest);
  const volatile uint8_t* s = static_cast<const volatile uint8_t*>(src);
  for (size_t i = 0; i < count; i++) d[i] = s[i];
  return dest;
}

void* memmove(void* dest, const void* src, size_t count) {
  volatile uint8_t* d = static_cast<volatile uint8_t*>(dest);
  const volatile uint8_t* s = static_cast<const volatile uint8_t*>(src);
  if (d < s) {
    for (size_t i = 0; i < count; i++) d[i] = s[i];
  } else {
    for (size_t i = count; i > 0; i--) d[i - 1] = s[i - 1];
  }
  return dest;
}

int memcmp(const void* a, const void* b, size_t count) {
  const volatile uint8_t* x = static_cast<const volatile uint8_t*>(a);
  const volatile uint8_t* y = static_cast<const volatile uint8_t*>(b);
  for (size_t i = 0; i < count; i++)
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  return 0;
}

// Set by the compiler's start-up code when floating point is used; the
// image has no such code and uses no floating point, but the linker asks for
// the symbol if any object mentions it.
int _fltused = 0;
}
