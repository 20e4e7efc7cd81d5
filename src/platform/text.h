// UCS-2 text helpers for the console path and the records.
#pragma once
#include <stddef.h>
#include <stdint.h>

size_t str16_len(const char16_t* s);
// Compares at most n characters; 0 when equal.
int str16_ncmp(const char16_t* a, const char16_t* b, size_t n);
// True when needle occurs anywhere in haystack.
bool str16_contains(const char16_t* haystack, const char16_t* needle);
// Copies src into dest of dest_chars characters, always terminated.
void str16_copy(char16_t* dest, size_t dest_chars, const char16_t* src);
// Widens ASCII into dest of dest_chars characters, always terminated.
void ascii_to_str16(char16_t* dest, size_t dest_chars, const char* src);

void mem_set(void* dest, uint8_t value, size_t n);
void mem_copy(void* dest, const void* src, size_t n);
