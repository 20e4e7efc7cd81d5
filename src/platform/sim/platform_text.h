// Pieces of the platform-directory reader and writer: the text and number
// helpers every piece shares, and each piece's entry points. Internal to
// the simulated platform; platform_dir.h is the interface.
//   platform_text.cpp     text lines, tokens, numbers, hex-dump lines, file reads
//   platform_numbers.cpp  platform.txt, mmio.txt, cpuid.txt, msr.txt, memmap.txt
//   platform_acpi.cpp     acpidump text and binary tables named by signature
//   platform_pci.cpp      lspci text and sysfs configuration images
//   platform_smbios.cpp   SMBIOS entry point and table
//   platform_install.cpp  the description installed into a machine
//   platform_save.cpp     the directory writer behind --save
//   platform_dir.cpp      the directory as a whole, the reference platforms
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sim/platform_dir.h"

namespace sim::piece {

namespace fs = std::filesystem;

constexpr uint64_t max_piece_bytes = 64ull << 20;  // no firmware piece is larger

extern const char* const memory_type_names[];
extern const uint32_t memory_type_count;

load_result fail(const std::string& where, size_t line, const std::string& what);
// Adds one piece's notes to `into`, and its error when it failed; returns one.ok.
bool take(load_result& into, const load_result& one);
void merge_notes(load_result& into, const load_result& from);
std::string hex(uint64_t v, int digits = 0);
std::string upper(std::string s);

bool read_whole_file(const fs::path& path, std::string& out, std::string& error);
load_result read_piece(const fs::path& path, std::string& text);
std::vector<std::string> split_lines(const std::string& text);
// Tokens of a line of the platform's own text formats; '#' starts a comment.
std::vector<std::string> tokens_of(const std::string& line, std::string* comment = nullptr);

bool hex_digit(char c, unsigned& v);
// 0x-prefixed hexadecimal or plain decimal, at most 64 bits.
bool parse_number(const std::string& s, uint64_t& v);
bool parse_hex_plain(const std::string& s, uint64_t& v);
bool parse_dump_line(const std::string& line, uint64_t& offset, std::vector<uint8_t>& data);
// Rows "OFF: XX XX ...", the inverse of parse_dump_line.
std::string dump_lines(const std::vector<uint8_t>& b, bool ascii, const char* indent, bool skip_zero_rows_after_64);

uint32_t get32(const std::vector<uint8_t>& b, size_t off);
uint64_t get64(const std::vector<uint8_t>& b, size_t off);

// platform_dir.cpp: the pieces of a directory and the sources each gives
// (a bit per platform_source); a missing piece leaves them not recorded.
constexpr uint16_t source_bit(platform_source s) { return (uint16_t)(1u << s); }
constexpr uint16_t table_sources =
    source_bit(SOURCE_DMAR) | source_bit(SOURCE_MCFG) | source_bit(SOURCE_MADT) | source_bit(SOURCE_HPET);
struct directory_piece {
  const char* name;
  bool directory;
  uint16_t sources;
};
extern const directory_piece directory_pieces[];
extern const size_t directory_piece_count;
bool any_source_known(const platform_description& p, uint16_t sources);

// platform_numbers.cpp
load_result parse_settings(const std::string& text, const std::string& name, platform_description& p);
load_result parse_mmio(const std::string& text, const std::string& name, platform_description& p);
load_result parse_cpuid(const std::string& text, const std::string& name, platform_description& p);
load_result parse_msr(const std::string& text, const std::string& name, platform_description& p);
load_result parse_memmap(const std::string& text, const std::string& name, platform_description& p);

// platform_pci.cpp
bool parse_bdf(const std::string& name, uint16_t& segment, uint16_t& key);
std::string bdf_text(uint16_t key);
const char* pci_class_name(uint8_t base, uint8_t sub);
load_result read_pci_dir(const fs::path& dir, platform_description& p);

// platform_smbios.cpp
load_result read_smbios_dir(const fs::path& dir, platform_description& p);
void install_smbios_piece(const platform_description& p, machine& m);

}  // namespace sim::piece
