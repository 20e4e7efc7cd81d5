// Bounded little-endian access to a byte buffer: every read names its offset
// and is checked against the end of the buffer it belongs to. Bytes outside
// the buffer are never touched; they read as zero.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct byte_view {
  const uint8_t* data = nullptr;
  size_t size = 0;

  constexpr byte_view() = default;
  constexpr byte_view(const void* d, size_t n) : data(static_cast<const uint8_t*>(d)), size(d ? n : 0) {}

  bool empty() const { return size == 0; }
  // True when [offset, offset + count) lies inside the buffer.
  bool has(size_t offset, size_t count) const { return offset <= size && count <= size - offset; }

  uint8_t u8(size_t offset) const { return offset < size ? data[offset] : 0; }
  uint16_t u16(size_t offset) const { return (uint16_t)(u8(offset) | (u8(offset + 1) << 8)); }
  uint32_t u32(size_t offset) const { return (uint32_t)u16(offset) | ((uint32_t)u16(offset + 2) << 16); }
  uint64_t u64(size_t offset) const { return (uint64_t)u32(offset) | ((uint64_t)u32(offset + 4) << 32); }

  // The part of the buffer from offset on, at most count bytes (clipped).
  byte_view sub(size_t offset, size_t count = (size_t)-1) const {
    if (offset >= size) return byte_view();
    size_t rest = size - offset;
    return byte_view(data + offset, count < rest ? count : rest);
  }
};
