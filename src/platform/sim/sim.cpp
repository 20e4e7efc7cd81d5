// The simulated machine itself: building it (memory, register models, PCI
// functions, ACPI and SMBIOS tables, memory map, files) and reading it
// back (console text, configuration space, physical memory). The platform
// operations that serve a run from it are in sim_services.cpp.
#include "platform/sim/sim.h"

#include <cstring>

#include "platform/sim/utf8.h"

namespace sim {

// ---------------------------------------------------------------------------
// Builder.

void machine::write_memory(uint64_t address, const void* data, size_t size) {
  const uint8_t* src = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; i++) {
    uint64_t a = address + i;
    // Find a region that holds or can be extended to hold a.
    auto it = regions.upper_bound(a);
    bool placed = false;
    if (it != regions.begin()) {
      auto prev = std::prev(it);
      uint64_t end = prev->first + prev->second.size();
      if (a < end) {
        prev->second[a - prev->first] = src[i];
        placed = true;
      } else if (a == end && (it == regions.end() || it->first > a)) {
        prev->second.push_back(src[i]);
        placed = true;
      }
    }
    if (!placed) regions[a] = std::vector<uint8_t>(1, src[i]);
  }
}

void machine::add_model(uint64_t base, uint64_t size, std::function<uint64_t(uint64_t, unsigned)> read) {
  models.push_back(register_model{base, size, std::move(read)});
}

pci_function& machine::pci(uint8_t bus, uint8_t dev, uint8_t fn) { return functions[pci_key(bus, dev, fn)]; }

pci_function& machine::pci(uint8_t bus, uint8_t dev, uint8_t fn, uint16_t vendor, uint16_t device) {
  pci_function& f = pci(bus, dev, fn);
  f.set16(0, vendor);
  f.set16(2, device);
  return f;
}

bool machine::has_pci(uint8_t bus, uint8_t dev, uint8_t fn) const { return functions.count(pci_key(bus, dev, fn)) != 0; }

void machine::remove_pci(uint8_t bus, uint8_t dev, uint8_t fn) { functions.erase(pci_key(bus, dev, fn)); }

void machine::set_cpuid(uint32_t leaf, uint32_t eax, uint32_t ebx, uint32_t ecx, uint32_t edx) {
  cpuid_leaves[leaf] = {eax, ebx, ecx, edx};
}

namespace {
void put32(std::vector<uint8_t>& v, size_t off, uint32_t x) {
  for (int i = 0; i < 4; i++) v[off + i] = (uint8_t)(x >> (8 * i));
}
void put64(std::vector<uint8_t>& v, size_t off, uint64_t x) {
  for (int i = 0; i < 8; i++) v[off + i] = (uint8_t)(x >> (8 * i));
}
void fix_checksum(std::vector<uint8_t>& v, size_t len, size_t at) {
  v[at] = 0;
  uint8_t sum = 0;
  for (size_t i = 0; i < len && i < v.size(); i++) sum = (uint8_t)(sum + v[i]);
  v[at] = (uint8_t)(0 - sum);
}
std::vector<uint8_t> sdt(const char* sig, const std::vector<uint64_t>& entries, unsigned entry_size) {
  std::vector<uint8_t> t(36 + entries.size() * entry_size, 0);
  memcpy(t.data(), sig, 4);
  put32(t, 4, (uint32_t)t.size());
  t[8] = 1;
  memcpy(t.data() + 10, "IOVET ", 6);
  memcpy(t.data() + 16, "SIMULATE", 8);
  for (size_t i = 0; i < entries.size(); i++) {
    if (entry_size == 4)
      put32(t, 36 + i * 4, (uint32_t)entries[i]);
    else
      put64(t, 36 + i * 8, entries[i]);
  }
  fix_checksum(t, t.size(), 9);
  return t;
}
}  // namespace

void machine::install_acpi(const std::vector<std::vector<uint8_t>>& tables, rsdp_place place,
                           const std::vector<std::vector<uint8_t>>& xsdt_only_tables) {
  uint64_t at = 0x7F000000;
  std::vector<uint64_t> rsdt_entries, xsdt_entries;
  for (const auto& t : tables) {
    write_memory(at, t.data(), t.size());
    rsdt_entries.push_back(at);
    xsdt_entries.push_back(at);
    at += (t.size() + 0xFFF) & ~0xFFFULL;
    if (t.empty()) at += 0x1000;
  }
  for (const auto& t : xsdt_only_tables) {
    write_memory(at, t.data(), t.size());
    xsdt_entries.push_back(at);
    at += (t.size() + 0xFFF) & ~0xFFFULL;
  }
  std::vector<uint8_t> rsdt = sdt("RSDT", rsdt_entries, 4);
  uint64_t rsdt_at = at;
  write_memory(rsdt_at, rsdt.data(), rsdt.size());
  at += 0x1000;
  std::vector<uint8_t> xsdt = sdt("XSDT", xsdt_entries, 8);
  uint64_t xsdt_at = at;
  write_memory(xsdt_at, xsdt.data(), xsdt.size());

  std::vector<uint8_t> rsdp(36, 0);
  memcpy(rsdp.data(), "RSD PTR ", 8);
  memcpy(rsdp.data() + 9, "IOVET ", 6);
  rsdp[15] = 2;
  put32(rsdp, 16, (uint32_t)rsdt_at);
  put32(rsdp, 20, 36);
  put64(rsdp, 24, xsdt_at);
  fix_checksum(rsdp, 20, 8);
  fix_checksum(rsdp, 36, 32);
  switch (place) {
    case rsdp_place::configuration_table:
      write_memory(0x7EFFF000, rsdp.data(), rsdp.size());
      configuration_table.push_back({ACPI_20_TABLE_GUID, 0x7EFFF000});
      break;
    case rsdp_place::legacy_bios_area:
      write_memory(0xF5A30, rsdp.data(), rsdp.size());
      break;
    case rsdp_place::ebda:
      write16(0x40E, 0x9FC0);
      write_memory(0x9FC00 + 0x40, rsdp.data(), rsdp.size());
      break;
    case rsdp_place::none:
      break;
  }
}

void machine::install_smbios(const std::vector<uint8_t>& structure_table) {
  const uint64_t table_at = 0x7EF00000, entry_at = 0x7EFFE000;
  write_memory(table_at, structure_table.data(), structure_table.size());
  std::vector<uint8_t> ep(31, 0);
  memcpy(ep.data(), "_SM_", 4);
  ep[5] = 0x1F;
  ep[6] = 2;
  ep[7] = 8;
  memcpy(ep.data() + 0x10, "_DMI_", 5);
  ep[0x16] = (uint8_t)structure_table.size();
  ep[0x17] = (uint8_t)(structure_table.size() >> 8);
  put32(ep, 0x18, (uint32_t)table_at);
  fix_checksum(ep, 31, 4);
  write_memory(entry_at, ep.data(), ep.size());
  configuration_table.push_back({SMBIOS_TABLE_GUID, entry_at});
}

void machine::add_memory(uint32_t type, uint64_t start, uint64_t pages, uint64_t attr) {
  memory_map.push_back({type, start, pages, attr});
}

void machine::add_file(const std::u16string& name, const std::string& bytes) {
  files[name] = std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// ---------------------------------------------------------------------------
// Reading back.

std::u16string machine::console_u16() const {
  std::u16string s;
  for (const auto& seg : console) s += seg.text;
  return s;
}

// Surrogate pairs are joined; a lone surrogate and the non-characters
// U+FFFE and U+FFFF become U+FFFD, so that the text is always valid UTF-8.
std::string to_utf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      append_utf8(out, 0x10000 + ((c - 0xD800) << 10) + (uint32_t)(s[i + 1] - 0xDC00));
      i++;
    } else {
      append_utf8(out, (c >= 0xD800 && c < 0xE000) || c >= 0xFFFE ? 0xFFFD : c);
    }
  }
  return out;
}

std::u16string from_utf8(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    uint8_t c = (uint8_t)s[i];
    if (c < 0x80) {
      out += (char16_t)c;
      i++;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
      out += (char16_t)(((c & 0x1F) << 6) | (s[i + 1] & 0x3F));
      i += 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < s.size()) {
      out += (char16_t)(((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F));
      i += 3;
    } else {
      out += (char16_t)c;
      i++;
    }
  }
  return out;
}

std::string machine::console_text() const { return to_utf8(console_u16()); }

uint8_t machine::config_byte(uint8_t bus, uint8_t dev, uint8_t fn, uint32_t off) const {
  auto it = functions.find(pci_key(bus, dev, fn));
  return it == functions.end() ? 0xFF : it->second.get8(off);
}

bool machine::function_visible(uint16_t key) const {
  auto it = functions.find(key);
  if (it == functions.end()) return false;
  // The P2SB function (B0:D31:F1) answers nothing while its hide bit is set.
  if (key == pci_key(0, 31, 1) && (it->second.get8(0xE1) & 1)) return false;
  return true;
}

uint64_t machine::config_read(uint16_t key, uint32_t off, unsigned width) const {
  if (!function_visible(key)) return width == 8 ? ~0ULL : ((1ULL << (8 * width)) - 1);
  const pci_function& f = functions.at(key);
  uint64_t v = 0;
  for (unsigned i = 0; i < width; i++) v |= (uint64_t)f.get8((off + i) & 0xFFF) << (8 * i);
  return v;
}

uint64_t machine::read_phys(uint64_t address, unsigned width) {
  for (const auto& m : models)
    if (address >= m.base && address - m.base < m.size) return m.read(address - m.base, width);
  if (ecam_base && address >= ecam_base && address - ecam_base < (uint64_t)ecam_buses << 20) {
    uint64_t off = address - ecam_base;
    if (!known(SOURCE_PCI)) unknown_reads++;
    return config_read((uint16_t)(off >> 12), (uint32_t)(off & 0xFFF), width);
  }
  uint64_t v = 0;
  for (unsigned i = 0; i < width; i++) {
    uint64_t a = address + i;
    uint8_t b = 0xFF;
    auto it = regions.upper_bound(a);
    if (it != regions.begin()) {
      auto prev = std::prev(it);
      if (a - prev->first < prev->second.size()) b = prev->second[a - prev->first];
    }
    v |= (uint64_t)b << (8 * i);
  }
  return v;
}

}  // namespace sim
