#include "platform/sim/tables.h"

#include <cstring>

namespace sim {

void put_le(bytes& b, size_t offset, uint64_t value, unsigned width) {
  if (b.size() < offset + width) b.resize(offset + width, 0);
  for (unsigned i = 0; i < width; i++) b[offset + i] = (uint8_t)(value >> (8 * i));
}

void append_le(bytes& b, uint64_t value, unsigned width) { put_le(b, b.size(), value, width); }

bytes acpi_header(const char* signature, uint8_t revision, const char* oem_id, const char* oem_table_id) {
  bytes t(36, 0);
  memcpy(t.data(), signature, 4);
  t[8] = revision;
  for (int i = 0; i < 6 && oem_id[i]; i++) t[10 + i] = (uint8_t)oem_id[i];
  for (int i = 0; i < 8 && oem_table_id[i]; i++) t[16 + i] = (uint8_t)oem_table_id[i];
  put_le(t, 24, 1, 4);
  memcpy(t.data() + 28, "IOVT", 4);
  put_le(t, 32, 1, 4);
  return t;
}

bytes& finish_table(bytes& table) {
  put_le(table, 4, table.size(), 4);
  table[9] = 0;
  uint8_t sum = 0;
  for (uint8_t c : table) sum = (uint8_t)(sum + c);
  table[9] = (uint8_t)(0 - sum);
  return table;
}

bytes device_scope(const scope_spec& s) {
  bytes b;
  b.push_back(s.type);
  b.push_back((uint8_t)(s.length >= 0 ? s.length : 6 + 2 * s.path.size()));
  b.push_back(s.flags);
  b.push_back(0);
  b.push_back(s.enumeration_id);
  b.push_back(s.start_bus);
  for (const auto& p : s.path) {
    b.push_back(p.device);
    b.push_back(p.function);
  }
  return b;
}

namespace {
bytes with_scopes(bytes head, const std::vector<scope_spec>& scopes) {
  for (const auto& s : scopes) {
    bytes d = device_scope(s);
    head.insert(head.end(), d.begin(), d.end());
  }
  put_le(head, 2, head.size(), 2);
  return head;
}

// The 8-byte fixed part of an ATSR, SATC or SIDP: Type, Length (set by
// with_scopes), bytes 4 and 5, Segment Number.
bytes eight_byte_head(uint16_t type, uint8_t byte4, uint8_t byte5, uint16_t segment) {
  bytes h(8, 0);
  put_le(h, 0, type, 2);
  h[4] = byte4;
  h[5] = byte5;
  put_le(h, 6, segment, 2);
  return h;
}
}  // namespace

dmar_builder& dmar_builder::drhd(uint8_t f, uint16_t segment, uint64_t base, const std::vector<scope_spec>& scopes,
                                 uint8_t res) {
  bytes h(16, 0);
  put_le(h, 0, 0, 2);
  h[4] = f;
  h[5] = res;
  put_le(h, 6, segment, 2);
  put_le(h, 8, base, 8);
  structures.push_back(with_scopes(h, scopes));
  return *this;
}

dmar_builder& dmar_builder::rmrr(uint16_t segment, uint64_t base, uint64_t limit, const std::vector<scope_spec>& scopes,
                                 uint16_t res) {
  bytes h(24, 0);
  put_le(h, 0, 1, 2);
  put_le(h, 4, res, 2);
  put_le(h, 6, segment, 2);
  put_le(h, 8, base, 8);
  put_le(h, 16, limit, 8);
  structures.push_back(with_scopes(h, scopes));
  return *this;
}

dmar_builder& dmar_builder::atsr(uint8_t f, uint16_t segment, const std::vector<scope_spec>& scopes) {
  structures.push_back(with_scopes(eight_byte_head(2, f, 0, segment), scopes));
  return *this;
}

dmar_builder& dmar_builder::satc(uint8_t f, uint16_t segment, const std::vector<scope_spec>& scopes) {
  structures.push_back(with_scopes(eight_byte_head(5, f, 0, segment), scopes));
  return *this;
}

dmar_builder& dmar_builder::sidp(uint16_t segment, const std::vector<scope_spec>& scopes, uint16_t res) {
  structures.push_back(with_scopes(eight_byte_head(6, res & 0xFF, res >> 8, segment), scopes));
  return *this;
}

dmar_builder& dmar_builder::rhsa(uint64_t base, uint32_t proximity_domain) {
  bytes h(20, 0);
  put_le(h, 0, 3, 2);
  put_le(h, 2, 20, 2);
  put_le(h, 8, base, 8);
  put_le(h, 16, proximity_domain, 4);
  structures.push_back(h);
  return *this;
}

dmar_builder& dmar_builder::andd(uint8_t device_number, const std::string& object_name, uint32_t res) {
  bytes h(8, 0);
  put_le(h, 0, 4, 2);
  put_le(h, 4, res, 3);
  h[7] = device_number;
  for (char c : object_name) h.push_back((uint8_t)c);
  h.push_back(0);
  put_le(h, 2, h.size(), 2);
  structures.push_back(h);
  return *this;
}

dmar_builder& dmar_builder::raw(const bytes& structure) {
  structures.push_back(structure);
  return *this;
}

bytes dmar_builder::build() const {
  bytes t = acpi_header("DMAR", revision);
  t.push_back(host_address_width);
  t.push_back(flags);
  for (size_t i = 0; i < 10; i++) t.push_back(i < reserved.size() ? reserved[i] : 0);
  for (const auto& s : structures) t.insert(t.end(), s.begin(), s.end());
  return finish_table(t);
}

bytes build_mcfg(const std::vector<mcfg_allocation>& allocations) {
  bytes t = acpi_header("MCFG", 1);
  t.resize(44, 0);
  for (const auto& a : allocations) {
    append_le(t, a.base, 8);
    append_le(t, a.segment, 2);
    t.push_back(a.start_bus);
    t.push_back(a.end_bus);
    append_le(t, 0, 4);
  }
  return finish_table(t);
}

bytes madt_local_apic(uint8_t processor_id, uint8_t apic_id) { return bytes{0, 8, processor_id, apic_id, 1, 0, 0, 0}; }

bytes madt_ioapic(uint8_t ioapic_id, uint32_t address, uint32_t gsi_base) {
  bytes b{1, 12, ioapic_id, 0};
  append_le(b, address, 4);
  append_le(b, gsi_base, 4);
  return b;
}

bytes build_madt(const std::vector<bytes>& structures, uint32_t local_apic, uint32_t flags) {
  bytes t = acpi_header("APIC", 3);
  append_le(t, local_apic, 4);
  append_le(t, flags, 4);
  for (const auto& s : structures) t.insert(t.end(), s.begin(), s.end());
  return finish_table(t);
}

bytes build_hpet(uint8_t hpet_number, uint64_t base, uint32_t block_id) {
  bytes t = acpi_header("HPET", 1);
  append_le(t, block_id, 4);
  t.push_back(0);   // system memory
  t.push_back(64);  // register bit width
  t.push_back(0);
  t.push_back(0);
  append_le(t, base, 8);
  t.push_back(hpet_number);
  append_le(t, 0x0080, 2);  // minimum clock tick
  t.push_back(0);           // page protection
  return finish_table(t);
}

bytes smbios_structure(uint8_t type, uint16_t handle, const bytes& formatted_after_header,
                       const std::vector<std::string>& strings) {
  bytes b{type, (uint8_t)(4 + formatted_after_header.size())};
  append_le(b, handle, 2);
  b.insert(b.end(), formatted_after_header.begin(), formatted_after_header.end());
  for (const auto& s : strings) {
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
  }
  if (strings.empty()) b.push_back(0);
  b.push_back(0);
  return b;
}

bytes smbios_end(uint16_t handle) { return smbios_structure(127, handle, {}, {}); }

}  // namespace sim
