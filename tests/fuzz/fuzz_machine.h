// A simulated machine described by a byte string, and the checks that every
// fuzzed run must pass. Shared by the fuzz targets, their plain replay
// driver, the seed writer and the robustness tests.
//
// The input is one settings byte followed by records:
//   tag (1 byte), payload length (2 bytes, little-endian), payload.
// A record cut short by the end of the input is dropped. Unknown tags are
// skipped, so any byte string is a valid machine.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace fuzz {

// Settings byte.
enum : uint8_t {
  SET_MODE_MASK = 0x07,        // which command line (run_modes below)
  SET_RSDP_SHIFT = 3,          // 2 bits: configuration table, legacy area, EBDA, none
  SET_RSDP_MASK = 0x18,
  SET_FIX_LENGTHS = 0x20,      // ACPI Length and Checksum follow the bytes given
  SET_ECAM_FROM_MCFG = 0x40,   // serve memory-mapped configuration at the MCFG base
  SET_NO_CATALOGUE = 0x80,     // no catalogue file unless a record gives one
};

enum : uint8_t {
  TAG_ACPI = 1,        // one ACPI table, in RSDT order
  TAG_SMBIOS = 2,      // SMBIOS structure table
  TAG_MEMORY = 3,      // memory descriptor: type u32, start u64, pages u64, attribute u64
  TAG_CATALOGUE = 4,   // the catalogue file's bytes
  TAG_PCI = 5,         // bus u8, device u8 (low 5 bits), function u8 (low 3 bits), configuration bytes from 0
  TAG_MEMORY_BYTES = 6,  // address u64, then bytes of physical memory
  TAG_CPUID = 7,       // leaf u32, eax, ebx, ecx, edx
  TAG_MSR = 8,         // index u32, value u64
  TAG_MAP_SETTINGS = 9,  // descriptor size u16, descriptor version u32, first status u8, second status u8
  TAG_XSDT_ONLY = 10,  // an ACPI table listed only in the XSDT
  TAG_SOURCES = 11,    // unknown sources: mask u16 (bit per platform_source), flags u8 (SOURCES_*)
  TAG_RUN_MODE = 12,   // u8: the command line, run_modes[value % size], in place of the settings' bits
};

enum : uint8_t {
  // A run on the tables alone: every other source unknown for that reason,
  // and the machine holds only the tables and the catalogue. The sources of
  // the mask are not recorded.
  SOURCES_TABLES_ONLY = 0x01,
};

// The command lines a run is made with: the first eight by the settings'
// mode bits, the others (-a runs) only through a TAG_RUN_MODE record.
extern const std::vector<std::vector<std::u16string>> run_modes;

struct description {
  uint8_t settings = 0;
  std::vector<std::vector<uint8_t>> acpi;
  std::vector<std::vector<uint8_t>> xsdt_only;
  bool has_smbios = false;
  std::vector<uint8_t> smbios;
  std::vector<sim::memory_descriptor> memory;
  bool has_catalogue = false;
  std::string catalogue;
  struct pci_function {
    uint8_t bus, dev, fn;
    std::vector<uint8_t> config;
  };
  std::vector<pci_function> pci;
  struct memory_bytes {
    uint64_t address;
    std::vector<uint8_t> bytes;
  };
  std::vector<memory_bytes> memory_bytes;
  struct cpuid_leaf {
    uint32_t leaf, eax, ebx, ecx, edx;
  };
  std::vector<cpuid_leaf> cpuid;
  std::vector<std::pair<uint32_t, uint64_t>> msrs;
  bool has_map_settings = false;
  uint16_t descriptor_size = 48;
  uint32_t descriptor_version = 1;
  uint8_t map_first_status = 0, map_second_status = 0;
  bool has_sources = false;
  uint16_t unknown_sources = 0;
  uint8_t source_flags = 0;
  bool has_run_mode = false;
  uint8_t run_mode = 0;
};

// Input bytes -> description -> machine, and back to bytes for seeds.
description decode(const uint8_t* data, size_t size);
std::vector<uint8_t> encode(const description& d);
void install(const description& d, sim::machine& m);
// The command line of the description's run.
const std::vector<std::u16string>& run_args(const description& d);

// The repository's catalogue file (read once).
const std::string& repository_catalogue();

// What a finished run must show. Each check returns an empty string when it
// holds, else what went wrong.
struct p2sb_state {
  bool present = false;
  uint8_t hide = 0;     // configuration byte 0xE1
  uint16_t vendor = 0;  // configuration word 0
};
p2sb_state p2sb_before(const sim::machine& m);

// The writes the platform setup routine chosen by the machine's processor
// makes to the P2SB hide register, when it gets that far.
std::vector<uint8_t> expected_hide_writes(const sim::machine& m, const p2sb_state& before);

std::string check_pool_and_files(const sim::machine& m, const sim::run_result& r);
std::string check_platform_writes(const sim::machine& m, const p2sb_state& before);
std::string check_lists_empty();
// A run never reads a source the machine does not know.
std::string check_unknown_sources(const sim::machine& m);

// Prints the problem and aborts (a finding for libFuzzer and the replay).
[[noreturn]] void finding(const std::string& what, const sim::run_result* r);

}  // namespace fuzz
