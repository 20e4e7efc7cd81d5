#include "discovery/acpi.h"

#include "catalogue/catalogue.h"
#include "discovery/pci_inventory.h"
#include "discovery/remap_lists.h"
#include "facts/known.h"
#include "facts/test_info.h"
#include "platform/platform.h"
#include "platform/print.h"

namespace {

constexpr uint64_t LEGACY_BIOS_START = 0xE0000;
constexpr uint64_t LEGACY_BIOS_END = 0xFFFFF;
constexpr uint64_t EBDA_SEGMENT_POINTER = 0x40E;
constexpr uint64_t EBDA_SCAN_BYTES = 1024;
constexpr uint32_t RSDP_OFF_RSDT_ADDRESS = 16;
// More RSDT entries than any firmware publishes; bounds the walk over a
// corrupt Length.
constexpr uint32_t RSDT_MAX_ENTRIES = 4096;
// Larger than any table this program reads; a Length beyond it is corrupt
// and the copy is refused.
constexpr uint32_t ACPI_TABLE_MAX_LENGTH = 16 * 1024 * 1024;

bool rsdp_signature_at(uint64_t address) {
  static const char signature[8] = {'R', 'S', 'D', ' ', 'P', 'T', 'R', ' '};
  for (int i = 0; i < 8; i++)
    if (MmioRead8(address + (uint64_t)i) != (uint8_t)signature[i]) return false;
  return true;
}

uint64_t scan_for_rsdp(uint64_t start, uint64_t end) {
  for (uint64_t a = start; a < end; a += 16)
    if (rsdp_signature_at(a)) return a;
  return 0;
}

// The RSDP: configuration table first, then the legacy BIOS area, then the
// extended BIOS data area. 0 when there is none.
uint64_t find_rsdp() {
  uint64_t rsdp = 0;
  if (get_configuration_table(ACPI_20_TABLE_GUID, &rsdp) == EFI_SUCCESS && rsdp != 0) return rsdp;
  rsdp = scan_for_rsdp(LEGACY_BIOS_START, LEGACY_BIOS_END);
  if (rsdp) return rsdp;
  uint64_t ebda = (uint64_t)MmioRead16(EBDA_SEGMENT_POINTER) * 16;
  return scan_for_rsdp(ebda, ebda + EBDA_SCAN_BYTES);
}

// A listed table that cannot be copied is not absent: the collection fails
// with one of these lines, so no check reports on a table it never saw.
void print_not_copied(uint32_t signature, uint32_t length, bool too_long) {
  char16_t sig[4] = {(char16_t)(signature & 0xFF), (char16_t)((signature >> 8) & 0xFF),
                     (char16_t)((signature >> 16) & 0xFF), (char16_t)(signature >> 24)};
  if (too_long)
    Print("ERROR -- ACPI table %c%c%c%c has an invalid Length (0x%X), above the 16 MiB a table copy may take.\n",
          sig[0], sig[1], sig[2], sig[3], length);
  else
    Print("ERROR -- ACPI table %c%c%c%c: Out of memory while copying its 0x%X bytes.\n", sig[0], sig[1], sig[2],
          sig[3], length);
}

}  // namespace

bool mcfg_absence_told = false;

uint64_t find_acpi_table(uint32_t signature, uint32_t* length, uint8_t** table) {
  if (!table || *table || !length) return 1;
  uint64_t rsdp = find_rsdp();
  if (!rsdp) return 1;
  uint64_t rsdt = MmioRead32(rsdp + RSDP_OFF_RSDT_ADDRESS);
  if (!rsdt) return 1;
  uint32_t rsdt_length = MmioRead32(rsdt + 4);
  if (rsdt_length < ACPI_HEADER_SIZE) return 1;
  uint32_t count = (rsdt_length - ACPI_HEADER_SIZE) / 4;
  if (count > RSDT_MAX_ENTRIES) count = RSDT_MAX_ENTRIES;
  for (uint32_t i = 0; i < count; i++) {
    uint64_t address = MmioRead32(rsdt + ACPI_HEADER_SIZE + 4 * (uint64_t)i);
    if (!address || MmioRead32(address) != signature) continue;
    // A Length shorter than the header still names the table's bytes: they
    // are copied as it says, and the readers' bounded views keep every read
    // inside the copy (the size assertions report the short table).
    uint32_t table_length = MmioRead32(address + 4);
    if (table_length > ACPI_TABLE_MAX_LENGTH) {
      print_not_copied(signature, table_length, true);
      return ACPI_TABLE_NOT_COPIED;
    }
    uint8_t* copy = static_cast<uint8_t*>(AllocateZeroPool(table_length));
    if (!copy) {
      print_not_copied(signature, table_length, false);
      return ACPI_TABLE_NOT_COPIED;
    }
    PhysCopy(copy, address, table_length);
    *table = copy;
    *length = table_length;
    return 0;
  }
  return 1;
}

uint64_t collect_test_data(acpi_tables_t* tables, test_info_t* tinfo) {
  tables->dmar_len = tables->mcfg_len = tables->madt_len = tables->hpet_len = 0;
  tables->dmar = tables->mcfg = tables->madt = tables->hpet = nullptr;
  read_platform_sources();

  // An absent table is not itself a failure: its pointer stays null and the
  // assertions that need it say so in their own words.
  // A listed table that could not be copied fails the collection.
  bool not_copied = false;
  not_copied |= find_acpi_table(ACPI_SIG_DMAR, &tables->dmar_len, &tables->dmar) == ACPI_TABLE_NOT_COPIED;
  not_copied |= find_acpi_table(ACPI_SIG_MCFG, &tables->mcfg_len, &tables->mcfg) == ACPI_TABLE_NOT_COPIED;
  not_copied |= find_acpi_table(ACPI_SIG_APIC, &tables->madt_len, &tables->madt) == ACPI_TABLE_NOT_COPIED;
  not_copied |= find_acpi_table(ACPI_SIG_HPET, &tables->hpet_len, &tables->hpet) == ACPI_TABLE_NOT_COPIED;

  tinfo->dmar_calc_len = 0;
  uint64_t calc_len = 0;
  uint64_t walk = parse_remap_structures(dmar_view(*tables), &calc_len);
  if (walk == 0) tinfo->dmar_calc_len = calc_len;
  // Without configuration space (or the MCFG's bus ranges) there is nothing
  // to scan: the inventory stays empty and the assertions that need it say
  // why.
  uint64_t inventory = 0;
  if (sources_known(FROM_INVENTORY))
    inventory = build_pci_inventory(mcfg_view(*tables));
  else
    pcie_base = 0;
  uint64_t catalogue = load_test_cases();
  return (!not_copied && walk == 0 && inventory == 0 && catalogue == 0) ? 0 : 1;
}
