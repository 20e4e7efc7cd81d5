// UTF-8 for the host's text: one code point appended to a string. Header
// only, so that host tools without the simulated machine (the report reader
// of iovet-results) write the same bytes as its console.
#pragma once
#include <cstdint>
#include <string>

namespace sim {

inline void append_utf8(std::string& out, uint32_t u) {
  if (u < 0x80) {
    out += (char)u;
  } else if (u < 0x800) {
    out += (char)(0xC0 | (u >> 6));
    out += (char)(0x80 | (u & 0x3F));
  } else if (u < 0x10000) {
    out += (char)(0xE0 | (u >> 12));
    out += (char)(0x80 | ((u >> 6) & 0x3F));
    out += (char)(0x80 | (u & 0x3F));
  } else {
    out += (char)(0xF0 | (u >> 18));
    out += (char)(0x80 | ((u >> 12) & 0x3F));
    out += (char)(0x80 | ((u >> 6) & 0x3F));
    out += (char)(0x80 | (u & 0x3F));
  }
}

}  // namespace sim
