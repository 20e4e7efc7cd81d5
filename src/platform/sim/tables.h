// Builders of ACPI tables and SMBIOS structures for simulated platforms.
// Each builder yields the raw bytes, header and checksum included.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

using bytes = std::vector<uint8_t>;

void put_le(bytes& b, size_t offset, uint64_t value, unsigned width);
void append_le(bytes& b, uint64_t value, unsigned width);
// A 36-byte ACPI header with the given signature and revision; Length and
// Checksum are set by finish_table.
bytes acpi_header(const char* signature, uint8_t revision = 1, const char* oem_id = "IOVET ",
                  const char* oem_table_id = "SIMPLAT ");
// Sets Length to the size and fixes the checksum.
bytes& finish_table(bytes& table);

struct path_entry {
  uint8_t device;
  uint8_t function;
};

struct scope_spec {
  uint8_t type;
  uint8_t enumeration_id;
  uint8_t start_bus;
  std::vector<path_entry> path;
  int length = -1;  // -1: 6 + 2 * path entries
  uint8_t flags = 0;  // byte 2: the Flags byte of SATC and SIDP scopes (0 elsewhere)
};

bytes device_scope(const scope_spec& s);

struct dmar_builder {
  uint8_t host_address_width = 38;
  uint8_t flags = 1;
  uint8_t revision = 1;
  bytes reserved = bytes(10, 0);
  std::vector<bytes> structures;

  dmar_builder& drhd(uint8_t flags, uint16_t segment, uint64_t base, const std::vector<scope_spec>& scopes = {},
                     uint8_t reserved = 0);
  dmar_builder& rmrr(uint16_t segment, uint64_t base, uint64_t limit, const std::vector<scope_spec>& scopes = {},
                     uint16_t reserved = 0);
  dmar_builder& atsr(uint8_t flags, uint16_t segment, const std::vector<scope_spec>& scopes = {});
  dmar_builder& satc(uint8_t flags, uint16_t segment, const std::vector<scope_spec>& scopes = {});
  dmar_builder& sidp(uint16_t segment, const std::vector<scope_spec>& scopes = {}, uint16_t reserved = 0);
  dmar_builder& rhsa(uint64_t base, uint32_t proximity_domain);
  dmar_builder& andd(uint8_t device_number, const std::string& object_name, uint32_t reserved = 0);
  dmar_builder& raw(const bytes& structure);
  bytes build() const;
};

struct mcfg_allocation {
  uint64_t base;
  uint16_t segment;
  uint8_t start_bus;
  uint8_t end_bus;
};
bytes build_mcfg(const std::vector<mcfg_allocation>& allocations);

// MADT with a local APIC address, flags and raw interrupt controller
// structures; helpers for the common ones.
bytes madt_local_apic(uint8_t processor_id, uint8_t apic_id);
bytes madt_ioapic(uint8_t ioapic_id, uint32_t address, uint32_t gsi_base);
bytes build_madt(const std::vector<bytes>& structures, uint32_t local_apic = 0xFEE00000, uint32_t flags = 1);

bytes build_hpet(uint8_t hpet_number, uint64_t base = 0xFED00000, uint32_t block_id = 0x8086A701);

// SMBIOS structure: formatted area (type, length, handle filled in) and
// strings.
bytes smbios_structure(uint8_t type, uint16_t handle, const bytes& formatted_after_header,
                       const std::vector<std::string>& strings);
bytes smbios_end(uint16_t handle);

}  // namespace sim
