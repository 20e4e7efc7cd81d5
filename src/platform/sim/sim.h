// The simulated machine: a host-side platform behind platform.h. Physical
// memory as regions (plain bytes or register models), PCI configuration
// space per function (ports and ECAM, consistently), CPUID, MSRs, the
// configuration table, the UEFI memory map, shell files, a console that
// keeps attributes, a counted pool, and an Exit that unwinds to the runner.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

struct console_segment {
  uint64_t attribute;
  std::u16string text;
};

// A register model answers reads of [base, base + size); width in bytes.
struct register_model {
  uint64_t base;
  uint64_t size;
  std::function<uint64_t(uint64_t offset, unsigned width)> read;
};

// A function's key in machine::functions: bus << 8 | device << 3 | function.
inline uint16_t pci_key(uint64_t bus, uint64_t dev, uint64_t fn) {
  return (uint16_t)((bus & 0xFF) << 8 | (dev & 0x1F) << 3 | (fn & 7));
}

struct pci_write_record {
  uint64_t address;
  uint8_t value;
};

// Platform operations by kind. firmware: pool, console, configuration
// table, memory map and shell-file services.
struct operation_counts {
  uint64_t total = 0;
  uint64_t config_reads = 0;   // PciRead8/16/32
  uint64_t config_writes = 0;  // PciWrite8
  uint64_t mmio_reads = 0;     // MmioRead8/16/32/64
  uint64_t memory_copies = 0;  // PhysCopy
  uint64_t cpuid = 0;
  uint64_t msr = 0;
  uint64_t firmware() const { return total - config_reads - config_writes - mmio_reads - memory_copies - cpuid - msr; }
};

struct memory_descriptor {
  uint32_t type;
  uint64_t physical_start;
  uint64_t number_of_pages;
  uint64_t attribute;
};

struct pci_function {
  std::vector<uint8_t> config = std::vector<uint8_t>(4096, 0);
  void set8(uint32_t off, uint8_t v) { config.at(off) = v; }
  void set16(uint32_t off, uint16_t v) {
    set8(off, (uint8_t)v);
    set8(off + 1, (uint8_t)(v >> 8));
  }
  void set32(uint32_t off, uint32_t v) {
    set16(off, (uint16_t)v);
    set16(off + 2, (uint16_t)(v >> 16));
  }
  uint8_t get8(uint32_t off) const { return config.at(off); }
  uint16_t get16(uint32_t off) const { return (uint16_t)(get8(off) | get8(off + 1) << 8); }
  uint32_t get32(uint32_t off) const { return get16(off) | (uint32_t)get16(off + 2) << 16; }
};

// Where the firmware publishes the ACPI root pointer.
enum class rsdp_place { configuration_table, legacy_bios_area, ebda, none };

struct machine {
  // Physical memory.
  std::map<uint64_t, std::vector<uint8_t>> regions;
  std::vector<register_model> models;

  // PCI configuration space, keyed by bus << 8 | dev << 3 | fn (segment 0).
  std::map<uint16_t, pci_function> functions;
  uint64_t ecam_base = 0;  // 0: no memory-mapped window
  uint16_t ecam_buses = 256;
  std::vector<pci_write_record> pci_writes;

  // What the machine can tell: a source that is not known (a recording
  // that lacks it, a run on tables alone) is never to be read. Reads of an
  // unknown source that the machine can tell apart (configuration space,
  // CPUID, MSRs, the memory map, the SMBIOS entry) are counted.
  std::array<source_state, SOURCE_COUNT> sources{};
  uint64_t unknown_reads = 0;
  bool known(platform_source s) const { return sources[s] == SOURCE_KNOWN; }
  void set_unknown(platform_source s, source_state why) { sources[s] = why; }

  // Processor.
  std::map<uint32_t, std::array<uint32_t, 4>> cpuid_leaves;
  std::map<uint32_t, uint64_t> msrs;

  // Firmware.
  std::vector<std::pair<efi_guid_t, uint64_t>> configuration_table;
  std::vector<memory_descriptor> memory_map;
  uint64_t descriptor_size = 48;
  uint32_t descriptor_version = 1;
  efi_status_t memory_map_first_status = 0;   // non-zero: first call answers this
  efi_status_t memory_map_second_status = 0;  // non-zero: second call answers this
  std::map<std::u16string, std::vector<uint8_t>> files;
  // Shell file faults: the n-th call (0-based, counted over the run) of a
  // read, a position change or a file-information request answers
  // EFI_DEVICE_ERROR; -1 never.
  int64_t fail_file_read_at = -1;
  int64_t fail_file_seek_at = -1;
  int64_t fail_file_info_at = -1;
  uint64_t file_reads = 0;
  uint64_t file_seeks = 0;
  uint64_t file_infos = 0;
  bool shell_parameters = true;  // Shell Parameters protocol on the image
  bool shell_interface = false;  // older Shell Interface protocol
  bool text_output_protocol = true;
  bool shell_protocol = true;
  bool page_break = false;

  // Console.
  std::vector<console_segment> console;
  uint64_t attribute = 0x07;
  // Called with each piece of console text as it is written (host runner).
  std::function<void(uint64_t attribute, const char16_t* text)> console_echo;

  // Pool.
  std::map<void*, size_t> live_allocations;
  uint64_t allocations = 0;
  uint64_t frees = 0;
  uint64_t bad_frees = 0;
  uint64_t pool_bytes = 0;
  uint64_t pool_high_water = 0;
  int64_t fail_allocation_at = -1;  // the n-th allocation (0-based) fails

  // Files left open at the end of a run.
  uint64_t open_files = 0;

  // Watchdog: a run that makes more platform operations than this is ended.
  uint64_t operations = 0;
  uint64_t operation_limit = 200000000;
  // Every platform operation of the last run by kind (kept after the run;
  // direct calls outside a run add to them).
  operation_counts counts;

  // Argument vector storage (index 0: the program's name).
  std::vector<std::u16string> args;
  std::vector<char16_t*> argv;

  // ---- builder API --------------------------------------------------------
  void write_memory(uint64_t address, const void* data, size_t size);
  void write8(uint64_t a, uint8_t v) { write_memory(a, &v, 1); }
  void write16(uint64_t a, uint16_t v) { write_memory(a, &v, 2); }
  void write32(uint64_t a, uint32_t v) { write_memory(a, &v, 4); }
  void write64(uint64_t a, uint64_t v) { write_memory(a, &v, 8); }
  void add_model(uint64_t base, uint64_t size, std::function<uint64_t(uint64_t, unsigned)> read);

  // Creates (or returns) a function with vendor and device ID.
  pci_function& pci(uint8_t bus, uint8_t dev, uint8_t fn);
  pci_function& pci(uint8_t bus, uint8_t dev, uint8_t fn, uint16_t vendor, uint16_t device);
  bool has_pci(uint8_t bus, uint8_t dev, uint8_t fn) const;
  void remove_pci(uint8_t bus, uint8_t dev, uint8_t fn);

  void set_cpuid(uint32_t leaf, uint32_t eax, uint32_t ebx = 0, uint32_t ecx = 0, uint32_t edx = 0);
  void set_msr(uint32_t index, uint64_t value) { msrs[index] = value; }

  // Lays out an RSDP, an RSDT listing the tables in order (and an XSDT
  // listing xsdt_only_tables besides), and the tables themselves.
  void install_acpi(const std::vector<std::vector<uint8_t>>& tables, rsdp_place place = rsdp_place::configuration_table,
                    const std::vector<std::vector<uint8_t>>& xsdt_only_tables = {});
  // Publishes a 32-bit SMBIOS entry point and the structure table.
  void install_smbios(const std::vector<uint8_t>& structure_table);
  void add_memory(uint32_t type, uint64_t start, uint64_t pages, uint64_t attribute = 0);
  void add_file(const std::u16string& name, const std::string& bytes);

  // ---- after a run --------------------------------------------------------
  std::u16string console_u16() const;
  std::string console_text() const;  // UTF-8
  uint8_t config_byte(uint8_t bus, uint8_t dev, uint8_t fn, uint32_t off) const;

  // ---- platform side --------------------------------------------------------
  uint64_t read_phys(uint64_t address, unsigned width);
  bool function_visible(uint16_t key) const;
  uint64_t config_read(uint16_t key, uint32_t off, unsigned width) const;
};

struct run_result {
  efi_status_t status = 0;
  bool exited = false;    // left through Exit
  bool watchdog = false;  // the operation bound ended the run
  std::string text;       // console, UTF-8
  uint64_t leaked_allocations = 0;
  uint64_t leaked_files = 0;
};

// Runs the image entry on the machine with the given arguments (after the
// program's name) and returns what happened. The machine's console and pool
// statistics keep the run's results.
run_result run(machine& m, const std::vector<std::u16string>& args);

// Calls f on the machine as run does the image entry (Exit unwinds to here),
// for unit tests of code that may end the application.
run_result call(machine& m, const std::function<void()>& f);

// The machine that the platform operations serve.
machine* current_machine();

// Serves the platform operations from m for the scope's lifetime, for unit
// tests that call core functions directly (no Exit unwinding there).
struct scoped_machine {
  machine* previous;
  explicit scoped_machine(machine& m);
  ~scoped_machine();
  scoped_machine(const scoped_machine&) = delete;
  scoped_machine& operator=(const scoped_machine&) = delete;
};

std::string to_utf8(const std::u16string& s);
std::u16string from_utf8(const std::string& s);

}  // namespace sim
