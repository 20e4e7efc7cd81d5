// Platform information of the verbose report: BIOS and firmware version
// from SMBIOS, then processor and chipset identity.
//
// The SMBIOS structure table is read in place through PhysCopy, one byte at
// a time, and every read is checked against the table's end as the 32-bit
// entry point gives it: no walk leaves the table, and a structure that runs
// past the end ends the walk.
#include "facts/known.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "platform/text.h"
#include "report/report.h"

namespace {

constexpr uint32_t EP_TABLE_LENGTH = 0x16;
constexpr uint32_t EP_TABLE_ADDRESS = 0x18;
constexpr uint32_t EP_SIZE = 0x1F;
constexpr uint32_t HEADER_SIZE = 4;  // Type, Length, Handle

constexpr uint8_t TYPE_BIOS = 0;
constexpr uint8_t TYPE_GROUP = 14;
constexpr uint8_t TYPE_OEM_CAPABILITY = 131;
constexpr uint32_t OEM_SIGNATURE_OFFSET = 0x38;

constexpr uint32_t STRING_BYTES = 512;  // the terminator included
constexpr uint32_t GROUP_NAME_BYTES = 25;
constexpr uint32_t FW_RECORD_SIZE = 7;

struct smbios_table {
  uint64_t start = 0;
  uint64_t end = 0;  // 0: no table

  bool present() const { return end > start; }
  bool inside(uint64_t a, uint64_t n = 1) const { return a >= start && a <= end && n <= end - a; }
  uint8_t u8(uint64_t a) const {
    if (!inside(a)) return 0;
    uint8_t b = 0;
    PhysCopy(&b, a, 1);
    return b;
  }
  uint16_t u16(uint64_t a) const { return (uint16_t)(u8(a) | (u8(a + 1) << 8)); }
  uint32_t u32(uint64_t a) const { return (uint32_t)u16(a) | ((uint32_t)u16(a + 2) << 16); }

  // A field of the formatted area: 0 when the structure is too short for it.
  uint8_t field8(uint64_t s, uint32_t off) const { return off < u8(s + 1) ? u8(s + off) : 0; }

  // The address of the structure after s: past the formatted area, then
  // past the first pair of NUL bytes. 0 when the table ends first.
  uint64_t next(uint64_t s) const {
    uint64_t a = s + u8(s + 1);
    for (; inside(a, 2); a++)
      if (u8(a) == 0 && u8(a + 1) == 0) return a + 2;
    return 0;
  }
  // A structure whose header lies inside the table.
  bool structure_at(uint64_t s) const { return s != 0 && inside(s, HEADER_SIZE); }
};

smbios_table locate_smbios() {
  smbios_table t;
  uint64_t ep = 0;
  // Tables the platform cannot give are not looked for: they are unknown,
  // not absent (the verbose sections then print nothing).
  if (!source_known(SOURCE_SMBIOS)) return t;
  if (efi_error(get_configuration_table(SMBIOS_TABLE_GUID, &ep)) || ep == 0) return t;
  uint8_t entry[EP_SIZE];
  PhysCopy(entry, ep, sizeof(entry));
  uint16_t length = (uint16_t)(entry[EP_TABLE_LENGTH] | (entry[EP_TABLE_LENGTH + 1] << 8));
  uint32_t address = (uint32_t)entry[EP_TABLE_ADDRESS] | ((uint32_t)entry[EP_TABLE_ADDRESS + 1] << 8) |
                     ((uint32_t)entry[EP_TABLE_ADDRESS + 2] << 16) | ((uint32_t)entry[EP_TABLE_ADDRESS + 3] << 24);
  t.start = address;
  t.end = (uint64_t)address + length;
  return t;
}

// A type-131 structure that carries the maker's signature: the four bytes
// at offset 0x38 read "wKam" and lie inside the table (whatever the
// structure's Length says).
bool has_oem_signature(const smbios_table& t, uint64_t s) {
  uint64_t a = s + OEM_SIGNATURE_OFFSET;
  if (!t.inside(a, 4)) return false;
  return t.u8(a) == 'w' && t.u8(a + 1) == 'K' && t.u8(a + 2) == 'a' && t.u8(a + 3) == 'm';
}

uint64_t find_in(const smbios_table& t, uint8_t type, uint64_t instance, uint16_t handle, uint8_t match_handle) {
  for (uint64_t s = t.start; t.structure_at(s); s = t.next(s)) {
    if (t.u8(s) != type) continue;
    if (type == TYPE_OEM_CAPABILITY && has_oem_signature(t, s)) return s;
    if (instance > 0) {
      instance--;
      continue;
    }
    if (match_handle == 0 || t.u16(s + 2) == handle) return s;
  }
  return 0;
}

// Copies string `number` of structure s (up to 511 bytes of it; a longer
// string is cut) into out, each byte sign-extended to one character.
bool string_in(const smbios_table& t, uint64_t s, uint8_t number, char16_t* out) {
  out[0] = 0;
  if (number == 0 || !t.structure_at(s)) return false;
  uint64_t a = s + t.u8(s + 1);
  for (uint32_t k = 1; k <= number; k++) {
    if (!t.inside(a)) return false;
    if (t.u8(a) == 0 && t.u8(a - 1) == 0) return false;  // the string area has ended
    uint32_t n = 0;
    while (t.inside(a) && t.u8(a) != 0) {
      if (k == number && n < STRING_BYTES - 1) out[n] = (char16_t)(int16_t)(int8_t)t.u8(a);
      n++;
      a++;
    }
    if (!t.inside(a)) {  // no terminator before the table's end
      out[0] = 0;
      return false;
    }
    if (k == number) {
      out[n < STRING_BYTES - 1 ? n : STRING_BYTES - 1] = 0;
      return true;
    }
    a++;  // past the NUL
  }
  return false;
}

}  // namespace

uint64_t find_smbios_structure(uint8_t type, uint64_t instance, uint16_t handle, uint8_t match_handle) {
  smbios_table t = locate_smbios();
  if (!t.present()) return 0;
  return find_in(t, type, instance, handle, match_handle);
}

bool read_smbios_bytes(uint64_t address, uint8_t* out, uint32_t count) {
  smbios_table t = locate_smbios();
  if (!t.present() || !t.inside(address, count)) return false;
  for (uint32_t i = 0; i < count; i++) out[i] = t.u8(address + i);
  return true;
}

bool get_smbios_string(uint64_t structure, uint8_t number, char16_t* out) {
  smbios_table t = locate_smbios();
  if (!t.present()) {
    out[0] = 0;
    return false;
  }
  return string_in(t, structure, number, out);
}

void display_bios_info() {
  smbios_table t = locate_smbios();
  if (!t.present()) return;
  uint64_t s = find_in(t, TYPE_BIOS, 0, 0, 0);
  if (!s) return;
  static char16_t vendor[STRING_BYTES], version[STRING_BYTES], date[STRING_BYTES];
  char16_t* fields[3] = {vendor, version, date};
  const uint32_t offsets[3] = {4, 5, 8};
  for (int i = 0; i < 3; i++) {
    uint8_t number = t.field8(s, offsets[i]);
    fields[i][0] = 0;
    if (number >= 1 && number <= 3) string_in(t, s, number, fields[i]);
  }
  Print("----------------\n");
  Print("BIOS Information\n");
  Print("----------------\n");
  Print("Vendor                  %s\n", vendor);
  Print("Version                 %s\n", version);
  Print("Date                    %s\n", date);
}

namespace {

// Prints the "Reference Code" components of one firmware version record
// structure.
void print_reference_code_records(const smbios_table& t, uint64_t s) {
  // Only the records that lie inside the formatted area are read.
  uint32_t count = t.u8(s + 4);
  uint32_t length = t.u8(s + 1);
  uint32_t fit = length > 5 ? (length - 5) / FW_RECORD_SIZE : 0;
  if (count > fit) count = fit;
  if (count == 0) return;
  uint8_t* records = static_cast<uint8_t*>(AllocateZeroPool(count * FW_RECORD_SIZE));
  if (!records) return;
  for (uint32_t i = 0; i < count * FW_RECORD_SIZE; i++) records[i] = t.u8(s + 5 + i);

  static char16_t name[STRING_BYTES], version[STRING_BYTES];
  for (uint32_t r = 0; r < count; r++) {
    const uint8_t* rec = records + r * FW_RECORD_SIZE;
    uint8_t component_name = rec[0], version_string = rec[1];
    if (component_name == 0 || !string_in(t, s, component_name, name)) continue;
    bool have_version = version_string != 0 && string_in(t, s, version_string, version);
    if (!str16_contains(name, u"Reference Code")) continue;
    Print("%s\n", name);
    Print(" Component Name     = %d\n", component_name);
    if (have_version) Print("%s\n", version);
    Print(" Version String     = %d\n", version_string);
    Print(" Major Version      = 0x%X\n", rec[2]);
    Print(" Minor Version      = 0x%X\n", rec[3]);
    Print(" Revision           = 0x%X\n", rec[4]);
    Print(" Build Number       = 0x%X\n", (uint16_t)(rec[5] | (rec[6] << 8)));
  }
  FreePool(records);
}

}  // namespace

void display_fw_ver_info() {
  smbios_table t = locate_smbios();
  if (!t.present()) return;
  // The group structures in table order; instance i is the i-th of them.
  uint64_t instance = 0;
  for (uint64_t g = t.start; t.structure_at(g); g = t.next(g)) {
    if (t.u8(g) != TYPE_GROUP) continue;
    debug_print(debug_mask, "DEBUG -- : display_fw_ver_info() : Table 14 index= %0d, addr = 0x%X\n", instance++, g);
    static char16_t group_name[STRING_BYTES];
    string_in(t, g, 1, group_name);
    group_name[GROUP_NAME_BYTES] = 0;
    debug_print(debug_mask, "DEBUG -- : display_fw_ver_info() : Type 14 Group Name: %s\n", group_name);
    if (str16_ncmp(group_name, u"Firmware Version Info", 21) != 0) continue;

    Print("----------------------------\n");
    Print("Firmware Version Information\n");
    Print("----------------------------\n");
    int32_t items = ((int32_t)t.u8(g + 1) - 5) / 3;
    for (int32_t j = 0; j < items; j++) {
      uint8_t item_type = t.u8(g + 5 + 3 * (uint64_t)j);
      uint16_t item_handle = t.u16(g + 6 + 3 * (uint64_t)j);
      uint64_t s = find_in(t, item_type, 0, item_handle, 1);
      debug_print(debug_mask,
                  "DEBUG -- : display_fw_ver_info() : gs->ItemType = 0x%X : gs->ItemHandle = 0x%X : addr = 0x%X\n",
                  item_type, item_handle, s);
      if (!s) return;
      print_reference_code_records(t, s);
    }
    return;
  }
}

void display_platform_info() {
  Print("--------------------\n");
  Print("Platform Information\n");
  Print("--------------------\n");

  // What the platform cannot tell is said, never printed as a value.
  if (source_known(SOURCE_CPUID)) {
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    AsmCpuid(1, &eax, &ebx, &ecx, &edx);
    Print("CPUID1.EAX              0x%08X\n", eax);
    Print("CPUID1.EBX              0x%08X\n", ebx);
    Print("CPUID1.ECX              0x%08X\n", ecx);
    Print(" [6] SMX                %X\n", (ecx >> 6) & 1);
    Print(" [5] VMX                %X\n", (ecx >> 5) & 1);
    Print("CPUID1.EDX              0x%08X\n", edx);
  } else {
    Print("CPUID1                  not known\n");
  }
  if (const chipset_profile_t* profile = later_profile())
    Print("Chipset profile         %s (judged by the general rules)\n", profile->name);

  if (source_known(SOURCE_MSR)) {
    uint64_t fc = AsmReadMsr64(0x3A);
    Print("IA32_FEATURE_CONTROL    0x%016LX\n", fc);
    Print(" [2] En VMX outside SMX %X\n", (uint32_t)(fc >> 2) & 1);
    Print(" [1] En VMX inside SMX  %X\n", (uint32_t)(fc >> 1) & 1);
    Print(" [0] Lock bit           %X\n", (uint32_t)fc & 1);
  } else {
    Print("IA32_FEATURE_CONTROL    not known\n");
  }

  if (!source_known(SOURCE_PCI)) {
    Print("PCI configuration       not known\n");
    return;
  }
  Print("B0:D0:F0:0x02           0x%04X\n", PciRead16(PCI_LIB_ADDRESS(0, 0, 0, 0x02)));
  Print("B0:D0:F0:0x08           0x%02X\n", PciRead8(PCI_LIB_ADDRESS(0, 0, 0, 0x08)));
  Print("B0:D31:F0:0x02          0x%04X\n", PciRead16(PCI_LIB_ADDRESS(0, 31, 0, 0x02)));
  Print("B0:D31:F0:0x08          0x%02X\n", PciRead8(PCI_LIB_ADDRESS(0, 31, 0, 0x08)));
  if (PciRead32(PCI_LIB_ADDRESS(0, 31, 1, 0)) != 0xFFFFFFFF) {
    Print("B0:D31:F1:0x02          0x%04X\n", PciRead16(PCI_LIB_ADDRESS(0, 31, 1, 0x02)));
    Print("B0:D31:F1:0x08          0x%02X\n", PciRead8(PCI_LIB_ADDRESS(0, 31, 1, 0x08)));
  }
}
