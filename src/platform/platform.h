// Platform operations: the only way the core reaches hardware, firmware and
// physical memory. Two implementations stand behind this header, selected at
// link time: the UEFI firmware one (platform/efi) and the simulated machine
// (platform/sim, host only).
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef uint64_t efi_status_t;

constexpr efi_status_t EFI_SUCCESS = 0;
constexpr efi_status_t EFI_ERROR_BIT = 0x8000000000000000ULL;
constexpr efi_status_t EFI_LOAD_ERROR = EFI_ERROR_BIT | 1;
constexpr efi_status_t EFI_INVALID_PARAMETER = EFI_ERROR_BIT | 2;
constexpr efi_status_t EFI_UNSUPPORTED = EFI_ERROR_BIT | 3;
constexpr efi_status_t EFI_BUFFER_TOO_SMALL = EFI_ERROR_BIT | 5;
constexpr efi_status_t EFI_DEVICE_ERROR = EFI_ERROR_BIT | 7;
constexpr efi_status_t EFI_OUT_OF_RESOURCES = EFI_ERROR_BIT | 9;
constexpr efi_status_t EFI_NOT_FOUND = EFI_ERROR_BIT | 14;
constexpr efi_status_t EFI_END_OF_FILE = EFI_ERROR_BIT | 31;

inline bool efi_error(efi_status_t s) { return (s & EFI_ERROR_BIT) != 0; }

struct efi_guid_t {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

inline bool guid_equal(const efi_guid_t& a, const efi_guid_t& b) {
  if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
  for (int i = 0; i < 8; i++)
    if (a.data4[i] != b.data4[i]) return false;
  return true;
}

constexpr efi_guid_t ACPI_20_TABLE_GUID = {0x8868E871, 0xE4F1, 0x11D3, {0xBC, 0x22, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81}};
constexpr efi_guid_t SMBIOS_TABLE_GUID = {0xEB9D2D31, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};

// ---------------------------------------------------------------------------
// PCI configuration space through ports 0xCF8/0xCFC (segment 0 only).
// An absent function reads all ones.
constexpr uint64_t PCI_LIB_ADDRESS(uint64_t bus, uint64_t device, uint64_t function, uint64_t reg) {
  return (bus << 20) | (device << 15) | (function << 12) | reg;
}
uint8_t PciRead8(uint64_t address);
uint16_t PciRead16(uint64_t address);
uint32_t PciRead32(uint64_t address);
void PciWrite8(uint64_t address, uint8_t value);

// ---------------------------------------------------------------------------
// Memory-mapped registers and physical memory (identity mapped).
uint8_t MmioRead8(uint64_t address);
uint16_t MmioRead16(uint64_t address);
uint32_t MmioRead32(uint64_t address);
uint64_t MmioRead64(uint64_t address);
// Copies count bytes of physical memory starting at address into dest.
void PhysCopy(void* dest, uint64_t address, size_t count);

// ---------------------------------------------------------------------------
// Processor.
void AsmCpuid(uint32_t leaf, uint32_t* eax, uint32_t* ebx, uint32_t* ecx, uint32_t* edx);
uint64_t AsmReadMsr64(uint32_t index);

// ---------------------------------------------------------------------------
// What the platform can tell. Every fact an assertion uses comes from one of
// these sources. On the firmware every source is known: what it reads is
// this machine's (an absent table or function is a known absence). A
// recorded or tables-only platform on the host may not hold a source: its
// facts are then unknown, never absent, and nothing of it is read.
enum platform_source : uint8_t {
  SOURCE_DMAR,
  SOURCE_MCFG,
  SOURCE_MADT,
  SOURCE_HPET,
  SOURCE_CHIPSET,           // the chipset registers a setup routine reads (MCHBAR, PCH)
  SOURCE_PCI,               // PCI configuration space
  SOURCE_ENGINES,           // the remapping engines' registers
  SOURCE_DEVICE_REGISTERS,  // HPET timer and USB controller registers
  SOURCE_MEMORY_MAP,
  SOURCE_SMBIOS,
  SOURCE_CPUID,
  SOURCE_MSR,
  SOURCE_COUNT
};

enum source_state : uint8_t {
  SOURCE_KNOWN,
  SOURCE_NOT_RECORDED,  // a recording that does not hold it
  SOURCE_TABLES_ONLY,   // a run on ACPI tables alone
  SOURCE_NOT_GIVEN,     // a table a run on tables alone lacks, with nothing to say it is absent
};

source_state platform_source_state(platform_source source);

// ---------------------------------------------------------------------------
// Firmware services.

// Linear search of the system configuration table. Stores the table's
// physical address, or 0 with EFI_NOT_FOUND.
efi_status_t get_configuration_table(const efi_guid_t& guid, uint64_t* table);

// Boot service GetMemoryMap with the UEFI calling rules.
efi_status_t GetMemoryMap(uint64_t* map_size, void* map, uint64_t* map_key, uint64_t* descriptor_size,
                          uint32_t* descriptor_version);
constexpr uint32_t EFI_MEMORY_DESCRIPTOR_VERSION = 1;

// Pool memory (boot-services data), zero-filled. Null on failure.
void* AllocateZeroPool(size_t size);
void FreePool(void* buffer);

// Console: writes a NUL-terminated UCS-2 text as it stands ("\n" starts a new
// line at column 0).
void console_write(const char16_t* text);
// SetAttribute of the first Simple Text Output protocol; nothing when none.
void set_text_attribute(uint64_t attribute);
// Shell page-break mode (Shell protocol, else the older shell environment).
void enable_page_break();

// Shell files of the current directory.
typedef void* shell_file_t;
efi_status_t shell_open_file(const char16_t* name, shell_file_t* file);
efi_status_t shell_get_file_position(shell_file_t file, uint64_t* position);
efi_status_t shell_set_file_position(shell_file_t file, uint64_t position);
efi_status_t shell_get_file_size(shell_file_t file, uint64_t* size);
efi_status_t shell_read_file(shell_file_t file, uint64_t* size, void* buffer);
void shell_close_file(shell_file_t file);

// Image frame: library set-up has been done by the image entry; these give
// the argument vector and run the clean-up.
// Returns 0 and the vector, or 1 when no shell argument protocol is present.
uint64_t get_argument_vector(uint64_t* argc, char16_t*** argv);
// Closes the shell protocols that the set-up opened.
void library_cleanup();
// Library clean-up, then boot service Exit with the status; never returns.
[[noreturn]] void exit_application(efi_status_t status);
