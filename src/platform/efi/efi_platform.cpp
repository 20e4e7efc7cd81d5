// Platform operations on UEFI firmware: the image entry, the library set-up
// and clean-up, and every operation of platform/platform.h. This file and its
// neighbours in platform/efi are the only ones that see the UEFI headers.
//
// The core's own headers come first: they declare EFI_SUCCESS and friends as
// constants, which the UEFI headers would otherwise replace by macros.
#include "app/app.h"
#include "platform/platform.h"

// The UEFI headers declare their own fixed-width integers unless told that
// the compiler already has them.
#ifndef __STDC_VERSION__
#define __STDC_VERSION__ 199901L
#define IOVET_UNDEF_STDC_VERSION
#endif
extern "C" {
#include <efi.h>
#include <efishell.h>
#include <efishellintf.h>
}
#ifdef IOVET_UNDEF_STDC_VERSION
#undef __STDC_VERSION__
#endif

namespace {

EFI_HANDLE image_handle = nullptr;
EFI_SYSTEM_TABLE* system_table = nullptr;
EFI_BOOT_SERVICES* boot_services = nullptr;
EFI_RUNTIME_SERVICES* runtime_services = nullptr;

EFI_GUID shell_protocol_guid = EFI_SHELL_PROTOCOL_GUID;
EFI_GUID shell_parameters_guid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
EFI_GUID shell_interface_guid = SHELL_INTERFACE_PROTOCOL_GUID;
EFI_GUID text_output_guid = EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL_GUID;

// The older shell's environment protocol. Only the part up to its
// name-to-device-path resolution is described; the page-break switch and the
// resolution exist only in the second version, which carries the extension
// signature checked below.
constexpr EFI_GUID shell_environment_guid = {
    0x47c7b221, 0xc42a, 0x11d2, {0x8e, 0x57, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b}};
constexpr EFI_GUID shell_environment2_signature = {
    0xd2c18636, 0x40e5, 0x4eb5, {0xa3, 0x1b, 0x36, 0x69, 0x5f, 0xd4, 0x2c, 0x87}};
typedef VOID(EFIAPI* shell_env_enable_page_break_t)(INT32 start_row, BOOLEAN auto_wrap);
struct shell_environment2_t {
  VOID* services[12];  // Execute ... FreeResources
  EFI_GUID signature;
  UINT32 major_version;
  UINT32 minor_version;
  shell_env_enable_page_break_t EnablePageBreak;
  // DisablePageBreak ... CloseConsoleProxy (9), the handle enumerator (6
  // entries), the protocol-information enumerator (5), GetDeviceName and
  // GetShellMode.
  VOID* more_services[22];
  // A name as the shell's command line takes it (relative names against the
  // shell's current directory) to a device path; null when it cannot.
  EFI_DEVICE_PATH*(EFIAPI* NameToPath)(CHAR16* name);
};

// The older shell's environment, second version; null without it.
shell_environment2_t* older_shell_environment();

// What the set-up found and opened.
EFI_SHELL_PROTOCOL* shell = nullptr;
EFI_SHELL_PARAMETERS_PROTOCOL* shell_parameters = nullptr;
EFI_SHELL_INTERFACE* shell_interface = nullptr;

bool same_guid(const EFI_GUID& a, const EFI_GUID& b) {
  const uint8_t* x = reinterpret_cast<const uint8_t*>(&a);
  const uint8_t* y = reinterpret_cast<const uint8_t*>(&b);
  for (unsigned i = 0; i < sizeof(EFI_GUID); i++)
    if (x[i] != y[i]) return false;
  return true;
}

// The interface of a protocol on a handle, opened for this image; null when
// the handle does not carry it.
void* protocol_on(EFI_HANDLE handle, EFI_GUID* guid) {
  void* interface = nullptr;
  EFI_STATUS s = boot_services->OpenProtocol(handle, guid, &interface, image_handle, nullptr,
                                             EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  return EFI_ERROR(s) ? nullptr : interface;
}

void* open_on_image(EFI_GUID* guid) { return protocol_on(image_handle, guid); }

void library_setup(EFI_HANDLE image, EFI_SYSTEM_TABLE* table) {
  image_handle = image;
  system_table = table;
  boot_services = table->BootServices;
  runtime_services = table->RuntimeServices;

  void* interface = nullptr;
  if (!EFI_ERROR(boot_services->LocateProtocol(&shell_protocol_guid, nullptr, &interface)))
    shell = static_cast<EFI_SHELL_PROTOCOL*>(interface);
  shell_parameters = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL*>(open_on_image(&shell_parameters_guid));
  if (!shell_parameters) shell_interface = static_cast<EFI_SHELL_INTERFACE*>(open_on_image(&shell_interface_guid));
}

// ---------------------------------------------------------------------------
// Port I/O with interrupts held off.

inline uint64_t read_flags() {
  uint64_t flags;
  __asm__ volatile("pushfq; popq %0" : "=r"(flags)::"memory");
  return flags;
}
inline void interrupts_off() { __asm__ volatile("cli" ::: "memory"); }
inline void interrupts_on() { __asm__ volatile("sti" ::: "memory"); }
inline uint32_t in32(uint16_t port) {
  uint32_t v;
  __asm__ volatile("inl %1, %0" : "=a"(v) : "Nd"(port));
  return v;
}
inline uint16_t in16(uint16_t port) {
  uint16_t v;
  __asm__ volatile("inw %1, %0" : "=a"(v) : "Nd"(port));
  return v;
}
inline uint8_t in8(uint16_t port) {
  uint8_t v;
  __asm__ volatile("inb %1, %0" : "=a"(v) : "Nd"(port));
  return v;
}
inline void out32(uint16_t port, uint32_t v) { __asm__ volatile("outl %0, %1" ::"a"(v), "Nd"(port)); }
inline void out8(uint16_t port, uint8_t v) { __asm__ volatile("outb %0, %1" ::"a"(v), "Nd"(port)); }

constexpr uint16_t PCI_CONFIG_ADDRESS = 0xCF8;
constexpr uint16_t PCI_CONFIG_DATA = 0xCFC;
constexpr uint64_t IF_FLAG = 1u << 9;

// The port mechanism reaches registers 0x00-0xFF only; a register beyond
// cannot be addressed and is treated as absent.
bool config_reachable(uint64_t address, unsigned width) {
  uint64_t reg = address & 0xFFF;
  return reg + width <= 0x100 && (address >> 28) == 0;
}

uint32_t config_port_address(uint64_t address) {
  uint32_t bus = (uint32_t)(address >> 20) & 0xFF;
  uint32_t device = (uint32_t)(address >> 15) & 0x1F;
  uint32_t function = (uint32_t)(address >> 12) & 0x7;
  uint32_t reg = (uint32_t)address & 0xFC;
  return 0x80000000u | (bus << 16) | (device << 11) | (function << 8) | reg;
}

// One access of width bytes that stays inside one aligned doubleword.
uint32_t config_read(uint64_t address, unsigned width) {
  uint16_t data_port = (uint16_t)(PCI_CONFIG_DATA + (address & 3));
  uint64_t flags = read_flags();
  interrupts_off();
  uint32_t saved = in32(PCI_CONFIG_ADDRESS);
  out32(PCI_CONFIG_ADDRESS, config_port_address(address));
  uint32_t value = width == 4 ? in32(data_port) : width == 2 ? in16(data_port) : in8(data_port);
  out32(PCI_CONFIG_ADDRESS, saved);
  if (flags & IF_FLAG) interrupts_on();
  return value;
}

// Reads that would straddle a doubleword are put together from bytes.
uint32_t config_read_any(uint64_t address, unsigned width) {
  if (!config_reachable(address, width)) return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
  if ((address & 3) + width <= 4 && (address & (width - 1)) == 0) return config_read(address, width);
  uint32_t value = 0;
  for (unsigned i = 0; i < width; i++) value |= config_read(address + i, 1) << (8 * i);
  return value;
}

template <typename T>
T mmio_read(uint64_t address) {
  return *reinterpret_cast<volatile const T*>(static_cast<uintptr_t>(address));
}

EFI_SIMPLE_TEXT_OUT_PROTOCOL* console_out() { return system_table ? system_table->ConOut : nullptr; }

}  // namespace

// ---------------------------------------------------------------------------
// Image entry.

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* table) {
  library_setup(image, table);
  return image_entry();
}

uint64_t get_argument_vector(uint64_t* argc, char16_t*** argv) {
  if (shell_parameters) {
    *argc = shell_parameters->Argc;
    *argv = reinterpret_cast<char16_t**>(shell_parameters->Argv);
    return 0;
  }
  if (shell_interface) {
    *argc = shell_interface->Argc;
    *argv = reinterpret_cast<char16_t**>(shell_interface->Argv);
    return 0;
  }
  return 1;
}

void library_cleanup() {
  if (shell_parameters)
    boot_services->CloseProtocol(image_handle, &shell_parameters_guid, image_handle, nullptr);
  if (shell_interface) boot_services->CloseProtocol(image_handle, &shell_interface_guid, image_handle, nullptr);
  shell_parameters = nullptr;
  shell_interface = nullptr;
  shell = nullptr;
}

void exit_application(efi_status_t status) {
  library_cleanup();
  boot_services->Exit(image_handle, status, 0, nullptr);
  // Exit does not come back for a running image; should a firmware return
  // anyway, there is nowhere left to go.
  for (;;) __asm__ volatile("pause");
}

// ---------------------------------------------------------------------------
// PCI configuration space.

uint8_t PciRead8(uint64_t address) { return (uint8_t)config_read_any(address, 1); }
uint16_t PciRead16(uint64_t address) { return (uint16_t)config_read_any(address, 2); }
uint32_t PciRead32(uint64_t address) { return config_read_any(address, 4); }

void PciWrite8(uint64_t address, uint8_t value) {
  if (!config_reachable(address, 1)) return;
  uint64_t flags = read_flags();
  interrupts_off();
  uint32_t saved = in32(PCI_CONFIG_ADDRESS);
  out32(PCI_CONFIG_ADDRESS, config_port_address(address));
  out8((uint16_t)(PCI_CONFIG_DATA + (address & 3)), value);
  out32(PCI_CONFIG_ADDRESS, saved);
  if (flags & IF_FLAG) interrupts_on();
}

// ---------------------------------------------------------------------------
// Memory-mapped registers and physical memory (identity mapped under boot
// services).

uint8_t MmioRead8(uint64_t address) { return mmio_read<uint8_t>(address); }
uint16_t MmioRead16(uint64_t address) { return mmio_read<uint16_t>(address); }
uint32_t MmioRead32(uint64_t address) { return mmio_read<uint32_t>(address); }
uint64_t MmioRead64(uint64_t address) { return mmio_read<uint64_t>(address); }

void PhysCopy(void* dest, uint64_t address, size_t count) {
  volatile uint8_t* d = static_cast<volatile uint8_t*>(dest);
  for (size_t i = 0; i < count; i++) d[i] = mmio_read<uint8_t>(address + i);
}

// ---------------------------------------------------------------------------
// Processor.

void AsmCpuid(uint32_t leaf, uint32_t* eax, uint32_t* ebx, uint32_t* ecx, uint32_t* edx) {
  uint32_t a, b, c, d;
  __asm__ volatile("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(leaf), "c"(0));
  if (eax) *eax = a;
  if (ebx) *ebx = b;
  if (ecx) *ecx = c;
  if (edx) *edx = d;
}

uint64_t AsmReadMsr64(uint32_t index) {
  uint32_t low, high;
  __asm__ volatile("rdmsr" : "=a"(low), "=d"(high) : "c"(index));
  return ((uint64_t)high << 32) | low;
}

// The firmware reads this machine itself: every source is known.
source_state platform_source_state(platform_source) { return SOURCE_KNOWN; }

// ---------------------------------------------------------------------------
// Firmware services.

efi_status_t get_configuration_table(const efi_guid_t& guid, uint64_t* table) {
  *table = 0;
  if (!system_table || !system_table->ConfigurationTable) return EFI_NOT_FOUND;
  for (UINTN i = 0; i < system_table->NumberOfTableEntries; i++) {
    const EFI_CONFIGURATION_TABLE& entry = system_table->ConfigurationTable[i];
    if (same_guid(entry.VendorGuid, reinterpret_cast<const EFI_GUID&>(guid))) {
      *table = reinterpret_cast<uintptr_t>(entry.VendorTable);
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

efi_status_t GetMemoryMap(uint64_t* map_size, void* map, uint64_t* map_key, uint64_t* descriptor_size,
                          uint32_t* descriptor_version) {
  if (!map_size) return EFI_INVALID_PARAMETER;
  UINTN size = *map_size;
  UINTN key = 0, dsize = 0;
  UINT32 version = 0;
  EFI_STATUS s =
      boot_services->GetMemoryMap(&size, static_cast<EFI_MEMORY_DESCRIPTOR*>(map), &key, &dsize, &version);
  *map_size = size;
  if (map_key) *map_key = key;
  if (descriptor_size) *descriptor_size = dsize;
  if (descriptor_version) *descriptor_version = version;
  return s;
}

void* AllocateZeroPool(size_t size) {
  void* buffer = nullptr;
  if (EFI_ERROR(boot_services->AllocatePool(EfiBootServicesData, size ? size : 1, &buffer)) || !buffer)
    return nullptr;
  volatile uint8_t* p = static_cast<volatile uint8_t*>(buffer);
  for (size_t i = 0; i < size; i++) p[i] = 0;
  return buffer;
}

void FreePool(void* buffer) {
  if (buffer) boot_services->FreePool(buffer);
}

// Writes the text in pieces, turning each lone "\n" into "\r\n" so that
// every line starts at column 0 on the firmware console.
void console_write(const char16_t* text) {
  EFI_SIMPLE_TEXT_OUT_PROTOCOL* out = console_out();
  if (!out || !text) return;
  CHAR16 piece[130];
  size_t n = 0;
  char16_t previous = 0;
  for (const char16_t* p = text; *p; p++) {
    if (*p == u'\n' && previous != u'\r') piece[n++] = u'\r';
    piece[n++] = *p;
    previous = *p;
    if (n >= 128) {
      piece[n] = 0;
      out->OutputString(out, piece);
      n = 0;
    }
  }
  if (n) {
    piece[n] = 0;
    out->OutputString(out, piece);
  }
}

void set_text_attribute(uint64_t attribute) {
  void* interface = nullptr;
  if (EFI_ERROR(boot_services->LocateProtocol(&text_output_guid, nullptr, &interface)) || !interface) return;
  EFI_SIMPLE_TEXT_OUT_PROTOCOL* out = static_cast<EFI_SIMPLE_TEXT_OUT_PROTOCOL*>(interface);
  out->SetAttribute(out, attribute);
}

namespace {
shell_environment2_t* older_shell_environment() {
  void* interface = nullptr;
  EFI_GUID guid = shell_environment_guid;
  if (EFI_ERROR(boot_services->LocateProtocol(&guid, nullptr, &interface)) || !interface) return nullptr;
  shell_environment2_t* environment = static_cast<shell_environment2_t*>(interface);
  if (!same_guid(environment->signature, shell_environment2_signature)) return nullptr;
  return environment;
}
}  // namespace

void enable_page_break() {
  if (shell) {
    shell->EnablePageBreak();
    return;
  }
  shell_environment2_t* environment = older_shell_environment();
  if (!environment || !environment->EnablePageBreak) return;
  environment->EnablePageBreak(1, FALSE);
}

// ---------------------------------------------------------------------------
// Shell files: through the UEFI Shell protocol, which resolves the name
// against the shell's current directory. Under an older shell that lacks it,
// the older shell environment turns the name into a device path (again
// against its current directory) and the file is opened through the file
// system protocols; where that resolution is not offered or finds nothing,
// a bare name is looked up in the directory the application was loaded from,
// on the same volume.

namespace {

EFI_GUID loaded_image_guid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
EFI_GUID file_system_guid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
EFI_GUID file_info_guid = EFI_FILE_INFO_ID;

constexpr size_t PATH_CHARS = 260;
constexpr unsigned MAX_PATH_NODES = 64;

// Joins the file-path nodes of a device path into one path of at most
// chars - 1 characters; false when it does not fit. *joined: its length.
bool join_file_path(const void* device_path, CHAR16* out, size_t chars, size_t* joined) {
  size_t n = 0;
  out[0] = 0;
  const uint8_t* node = static_cast<const uint8_t*>(device_path);
  for (unsigned count = 0; node && count < MAX_PATH_NODES; count++) {
    uint8_t type = node[0], subtype = node[1];
    uint16_t length = (uint16_t)(node[2] | (node[3] << 8));
    if (type == END_DEVICE_PATH_TYPE || length < 4) break;
    if (type == MEDIA_DEVICE_PATH && subtype == MEDIA_FILEPATH_DP) {
      const uint8_t* text = node + 4;
      size_t text_chars = (size_t)(length - 4) / 2;
      for (size_t i = 0; i < text_chars; i++) {
        CHAR16 c = (CHAR16)(text[2 * i] | (text[2 * i + 1] << 8));
        if (!c) break;
        // One separator between nodes, whichever side carries it.
        if (i == 0 && n > 0 && out[n - 1] != u'\\' && c != u'\\') {
          if (n + 1 >= chars) return false;
          out[n++] = u'\\';
        }
        if (c == u'\\' && n > 0 && out[n - 1] == u'\\') continue;
        if (n + 1 >= chars) return false;
        out[n++] = c;
      }
    }
    node += length;
  }
  out[n] = 0;
  *joined = n;
  return true;
}

// The directory part (up to and with the last backslash) of the image's
// file path. False when the path does not fit or names no directory.
bool image_directory(const EFI_LOADED_IMAGE* image, CHAR16* out, size_t chars) {
  size_t n = 0;
  if (!join_file_path(image->FilePath, out, chars, &n)) return false;
  // The image's own name goes.
  size_t cut = 0;
  for (size_t i = 0; i < n; i++)
    if (out[i] == u'\\') cut = i + 1;
  if (cut == 0) return false;
  out[cut] = 0;
  return true;
}

// Opens path for reading on the volume behind the file system handle.
efi_status_t open_on_volume(EFI_HANDLE device, CHAR16* path, shell_file_t* file) {
  void* interface = protocol_on(device, &file_system_guid);
  if (!interface) return EFI_UNSUPPORTED;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* volume = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL*>(interface);
  EFI_FILE_HANDLE root = nullptr;
  EFI_STATUS s = volume->OpenVolume(volume, &root);
  if (EFI_ERROR(s) || !root) return EFI_ERROR(s) ? s : EFI_DEVICE_ERROR;
  EFI_FILE_HANDLE handle = nullptr;
  s = root->Open(root, &handle, path, EFI_FILE_MODE_READ, 0);
  root->Close(root);
  if (EFI_ERROR(s) || !handle) return EFI_ERROR(s) ? s : EFI_NOT_FOUND;
  *file = handle;
  return EFI_SUCCESS;
}

// The older shell's own resolution: name to device path (current directory
// and mappings as its command line uses them), then the volume that path
// leads to and the file-path rest on it. EFI_UNSUPPORTED when the shell
// does not offer it.
efi_status_t open_through_older_shell(const char16_t* name, shell_file_t* file) {
  shell_environment2_t* environment = older_shell_environment();
  if (!environment || !environment->NameToPath) return EFI_UNSUPPORTED;
  CHAR16 copy[PATH_CHARS];
  size_t n = 0;
  for (; name[n]; n++) {
    if (n + 1 >= PATH_CHARS) return EFI_INVALID_PARAMETER;
    copy[n] = name[n];
  }
  copy[n] = 0;
  // The path is the shell's allocation; it is left to the shell (freeing
  // memory of unknown origin is worse than keeping a few bytes).
  EFI_DEVICE_PATH* path = environment->NameToPath(copy);
  if (!path) return EFI_NOT_FOUND;
  EFI_DEVICE_PATH* rest = path;
  EFI_HANDLE device = nullptr;
  if (EFI_ERROR(boot_services->LocateDevicePath(&file_system_guid, &rest, &device)) || !device || !rest)
    return EFI_NOT_FOUND;
  CHAR16 file_path[PATH_CHARS];
  size_t length = 0;
  if (!join_file_path(rest, file_path, PATH_CHARS, &length) || length == 0) return EFI_NOT_FOUND;
  return open_on_volume(device, file_path, file);
}

efi_status_t open_beside_image(const char16_t* name, shell_file_t* file) {
  void* interface = open_on_image(&loaded_image_guid);
  if (!interface) return EFI_UNSUPPORTED;
  EFI_LOADED_IMAGE* image = static_cast<EFI_LOADED_IMAGE*>(interface);

  CHAR16 path[PATH_CHARS];
  size_t n = 0;
  if (name[0] != u'\\') {
    if (!image_directory(image, path, PATH_CHARS)) {
      path[0] = u'\\';
      path[1] = 0;
    }
    while (path[n]) n++;
  }
  for (const char16_t* c = name; *c; c++) {
    if (n + 1 >= PATH_CHARS) return EFI_INVALID_PARAMETER;
    path[n++] = *c;
  }
  path[n] = 0;
  return open_on_volume(image->DeviceHandle, path, file);
}

EFI_FILE_HANDLE volume_file(shell_file_t file) { return static_cast<EFI_FILE_HANDLE>(file); }

}  // namespace

efi_status_t shell_open_file(const char16_t* name, shell_file_t* file) {
  *file = nullptr;
  if (!name) return EFI_INVALID_PARAMETER;
  if (!shell) {
    if (open_through_older_shell(name, file) == EFI_SUCCESS) return EFI_SUCCESS;
    return open_beside_image(name, file);
  }
  SHELL_FILE_HANDLE handle = nullptr;
  EFI_STATUS s = shell->OpenFileByName(reinterpret_cast<const CHAR16*>(name), &handle, EFI_FILE_MODE_READ);
  if (EFI_ERROR(s)) return s;
  *file = handle;
  return EFI_SUCCESS;
}

efi_status_t shell_get_file_position(shell_file_t file, uint64_t* position) {
  if (!file) return EFI_INVALID_PARAMETER;
  if (!shell) return volume_file(file)->GetPosition(volume_file(file), position);
  return shell->GetFilePosition(file, position);
}

efi_status_t shell_set_file_position(shell_file_t file, uint64_t position) {
  if (!file) return EFI_INVALID_PARAMETER;
  if (!shell) return volume_file(file)->SetPosition(volume_file(file), position);
  return shell->SetFilePosition(file, position);
}

efi_status_t shell_get_file_size(shell_file_t file, uint64_t* size) {
  *size = 0;
  if (!file) return EFI_INVALID_PARAMETER;
  EFI_FILE_INFO* info = nullptr;
  if (shell) {
    info = shell->GetFileInfo(file);
    if (!info) return EFI_DEVICE_ERROR;
  } else {
    EFI_FILE_HANDLE f = volume_file(file);
    UINTN bytes = 0;
    EFI_STATUS s = f->GetInfo(f, &file_info_guid, &bytes, nullptr);
    if (s != EFI_BUFFER_TOO_SMALL || bytes < sizeof(EFI_FILE_INFO)) return EFI_ERROR(s) ? s : EFI_DEVICE_ERROR;
    void* buffer = nullptr;
    if (EFI_ERROR(boot_services->AllocatePool(EfiBootServicesData, bytes, &buffer)) || !buffer)
      return EFI_OUT_OF_RESOURCES;
    s = f->GetInfo(f, &file_info_guid, &bytes, buffer);
    if (EFI_ERROR(s)) {
      boot_services->FreePool(buffer);
      return s;
    }
    info = static_cast<EFI_FILE_INFO*>(buffer);
  }
  *size = info->FileSize;
  boot_services->FreePool(info);
  return EFI_SUCCESS;
}

efi_status_t shell_read_file(shell_file_t file, uint64_t* size, void* buffer) {
  if (!file) return EFI_INVALID_PARAMETER;
  UINTN n = *size;
  EFI_STATUS s = shell ? shell->ReadFile(file, &n, buffer) : volume_file(file)->Read(volume_file(file), &n, buffer);
  *size = n;
  return s;
}

void shell_close_file(shell_file_t file) {
  if (!file) return;
  if (shell)
    shell->CloseFile(file);
  else
    volume_file(file)->Close(volume_file(file));
}
