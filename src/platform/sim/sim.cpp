#include "platform/sim/sim.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "platform/sim/utf8.h"

namespace sim {

namespace {

machine* active = nullptr;
std::jmp_buf run_exit;
efi_status_t exit_status = 0;
bool exit_by_watchdog = false;

struct open_file {
  const std::vector<uint8_t>* data;
  uint64_t position;
};

// True while run() or call() can take an unwind back; the watchdog and
// Exit only jump while it is set.
bool armed = false;

void tick() {
  if (!active) return;
  active->counts.total++;
  if (++active->operations > active->operation_limit && armed) {
    exit_by_watchdog = true;
    std::longjmp(run_exit, 2);
  }
}

uint16_t key_of(uint64_t bus, uint64_t dev, uint64_t fn) { return (uint16_t)((bus & 0xFF) << 8 | (dev & 0x1F) << 3 | (fn & 7)); }

bool same_name(const std::u16string& a, const char16_t* b) {
  size_t n = 0;
  while (b[n]) n++;
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; i++) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = (char16_t)(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = (char16_t)(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

machine* current_machine() { return active; }

scoped_machine::scoped_machine(machine& m) : previous(active) { active = &m; }
scoped_machine::~scoped_machine() { active = previous; }

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

pci_function& machine::pci(uint8_t bus, uint8_t dev, uint8_t fn) { return functions[key_of(bus, dev, fn)]; }

pci_function& machine::pci(uint8_t bus, uint8_t dev, uint8_t fn, uint16_t vendor, uint16_t device) {
  pci_function& f = pci(bus, dev, fn);
  f.set16(0, vendor);
  f.set16(2, device);
  return f;
}

bool machine::has_pci(uint8_t bus, uint8_t dev, uint8_t fn) const { return functions.count(key_of(bus, dev, fn)) != 0; }

void machine::remove_pci(uint8_t bus, uint8_t dev, uint8_t fn) { functions.erase(key_of(bus, dev, fn)); }

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
  auto it = functions.find(key_of(bus, dev, fn));
  return it == functions.end() ? 0xFF : it->second.get8(off);
}

bool machine::function_visible(uint16_t key) const {
  auto it = functions.find(key);
  if (it == functions.end()) return false;
  // The P2SB function (B0:D31:F1) answers nothing while its hide bit is set.
  if (key == key_of(0, 31, 1) && (it->second.get8(0xE1) & 1)) return false;
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

// ---------------------------------------------------------------------------
// Running.

namespace {

// Runs f on m with Exit and the watchdog unwinding back here.
run_result unwinding(machine& m, const std::function<efi_status_t()>& f) {
  run_result r;
  m.console.clear();
  m.operations = 0;
  m.counts = operation_counts{};
  uint64_t allocations_before = m.live_allocations.size();
  uint64_t files_before = m.open_files;
  machine* previous = active;
  bool was_armed = armed;
  active = &m;
  exit_status = 0;
  exit_by_watchdog = false;
  armed = true;
  int how = setjmp(run_exit);
  if (how == 0) {
    r.status = f();
  } else {
    r.exited = how == 1;
    r.watchdog = exit_by_watchdog;
    r.status = exit_status;
  }
  armed = was_armed;
  active = previous;
  // Calls on this machine after a watchdog stop count afresh.
  m.operations = 0;
  r.text = m.console_text();
  r.leaked_allocations = m.live_allocations.size() - allocations_before;
  r.leaked_files = m.open_files - files_before;
  return r;
}

}  // namespace

run_result run(machine& m, const std::vector<std::u16string>& args) {
  m.args.clear();
  m.args.push_back(u"Iovet.efi");
  for (const auto& a : args) m.args.push_back(a);
  m.argv.clear();
  for (auto& a : m.args) m.argv.push_back(&a[0]);
  m.argv.push_back(nullptr);
  return unwinding(m, [] { return image_entry(); });
}

run_result call(machine& m, const std::function<void()>& f) {
  return unwinding(m, [&] {
    f();
    return (efi_status_t)0;
  });
}

}  // namespace sim

// ---------------------------------------------------------------------------
// Platform operations served by the active machine.

using sim::active;
using sim::tick;

namespace sim {
namespace {
// The port mechanism (0xCF8/0xCFC) addresses registers 0x00-0xFF of buses
// 0-255 only: an access that reaches beyond reads all ones and a write
// there goes nowhere, as on the firmware side.
bool port_reachable(uint64_t a, unsigned width) { return (a & 0xFFF) + width <= 0x100 && (a >> 28) == 0; }

uint64_t port_read(uint64_t a, unsigned width) {
  tick();
  active->counts.config_reads++;
  if (!active->known(SOURCE_PCI)) active->unknown_reads++;
  if (!port_reachable(a, width)) return (1ULL << (8 * width)) - 1;
  return active->config_read(key_of(a >> 20, a >> 15, a >> 12), (uint32_t)(a & 0xFFF), width);
}
}  // namespace
}  // namespace sim

uint8_t PciRead8(uint64_t a) { return (uint8_t)sim::port_read(a, 1); }
uint16_t PciRead16(uint64_t a) { return (uint16_t)sim::port_read(a, 2); }
uint32_t PciRead32(uint64_t a) { return (uint32_t)sim::port_read(a, 4); }
void PciWrite8(uint64_t a, uint8_t value) {
  tick();
  active->counts.config_writes++;
  if (!sim::port_reachable(a, 1)) return;
  active->pci_writes.push_back({a, value});
  uint16_t key = sim::key_of(a >> 20, a >> 15, a >> 12);
  auto it = active->functions.find(key);
  // The hide register stays writable while its function is hidden.
  if (it != active->functions.end()) it->second.set8((uint32_t)(a & 0xFFF), value);
}

uint8_t MmioRead8(uint64_t a) {
  tick();
  active->counts.mmio_reads++;
  return (uint8_t)active->read_phys(a, 1);
}
uint16_t MmioRead16(uint64_t a) {
  tick();
  active->counts.mmio_reads++;
  return (uint16_t)active->read_phys(a, 2);
}
uint32_t MmioRead32(uint64_t a) {
  tick();
  active->counts.mmio_reads++;
  return (uint32_t)active->read_phys(a, 4);
}
uint64_t MmioRead64(uint64_t a) {
  tick();
  active->counts.mmio_reads++;
  return active->read_phys(a, 8);
}
namespace sim {
namespace {
// Bytes from a (at most max) that are plain memory or a gap, inside one
// region or one gap and clear of register models and the configuration
// window; 0 when a itself is not plain.
size_t plain_run(const machine& m, uint64_t a, size_t max) {
  uint64_t limit = max;
  if (a + limit < a) limit = 0 - a;  // no wrap past the top of the address space
  auto clip = [&](uint64_t base, uint64_t size) {
    if (a >= base && a - base < size) limit = 0;
    else if (base > a && base - a < limit) limit = base - a;
  };
  for (const auto& r : m.models) clip(r.base, r.size);
  if (m.ecam_base) clip(m.ecam_base, (uint64_t)m.ecam_buses << 20);
  auto it = m.regions.upper_bound(a);
  if (it != m.regions.end() && it->first - a < limit) limit = it->first - a;
  if (it != m.regions.begin()) {
    auto prev = std::prev(it);
    uint64_t in = a - prev->first;
    if (in < prev->second.size() && prev->second.size() - in < limit) limit = prev->second.size() - in;
  }
  return (size_t)limit;
}
}  // namespace
}  // namespace sim

void PhysCopy(void* dest, uint64_t address, size_t count) {
  tick();
  active->counts.memory_copies++;
  uint8_t* d = static_cast<uint8_t*>(dest);
  // Plain memory is copied a region (or a gap, all ones) at a time: byte by
  // byte, a corrupt Length of megabytes would take seconds to copy.
  for (size_t i = 0; i < count;) {
    uint64_t a = address + i;
    size_t n = sim::plain_run(*active, a, count - i);
    if (n == 0) {
      d[i++] = (uint8_t)active->read_phys(a, 1);
      continue;
    }
    auto it = active->regions.upper_bound(a);
    const std::vector<uint8_t>* region = nullptr;
    uint64_t in = 0;
    if (it != active->regions.begin()) {
      auto prev = std::prev(it);
      in = a - prev->first;
      if (in < prev->second.size()) region = &prev->second;
    }
    if (region)
      memcpy(d + i, region->data() + in, n);
    else
      memset(d + i, 0xFF, n);
    i += n;
  }
}

void AsmCpuid(uint32_t leaf, uint32_t* eax, uint32_t* ebx, uint32_t* ecx, uint32_t* edx) {
  tick();
  active->counts.cpuid++;
  if (!active->known(SOURCE_CPUID)) active->unknown_reads++;
  std::array<uint32_t, 4> v{0, 0, 0, 0};
  auto it = active->cpuid_leaves.find(leaf);
  if (it != active->cpuid_leaves.end()) v = it->second;
  if (eax) *eax = v[0];
  if (ebx) *ebx = v[1];
  if (ecx) *ecx = v[2];
  if (edx) *edx = v[3];
}

uint64_t AsmReadMsr64(uint32_t index) {
  tick();
  active->counts.msr++;
  if (!active->known(SOURCE_MSR)) active->unknown_reads++;
  auto it = active->msrs.find(index);
  return it == active->msrs.end() ? 0 : it->second;
}

source_state platform_source_state(platform_source source) {
  return source < SOURCE_COUNT ? active->sources[source] : SOURCE_KNOWN;
}

efi_status_t get_configuration_table(const efi_guid_t& guid, uint64_t* table) {
  tick();
  if (guid_equal(guid, SMBIOS_TABLE_GUID) && !active->known(SOURCE_SMBIOS)) active->unknown_reads++;
  for (const auto& e : active->configuration_table)
    if (guid_equal(e.first, guid)) {
      *table = e.second;
      return EFI_SUCCESS;
    }
  *table = 0;
  return EFI_NOT_FOUND;
}

efi_status_t GetMemoryMap(uint64_t* map_size, void* map, uint64_t* map_key, uint64_t* descriptor_size,
                          uint32_t* descriptor_version) {
  tick();
  if (!active->known(SOURCE_MEMORY_MAP)) active->unknown_reads++;
  if (!map_size) return EFI_INVALID_PARAMETER;
  bool first = map == nullptr;
  if (first && active->memory_map_first_status) return active->memory_map_first_status;
  if (!first && active->memory_map_second_status) return active->memory_map_second_status;
  uint64_t ds = active->descriptor_size < 40 ? 40 : active->descriptor_size;
  uint64_t needed = ds * active->memory_map.size();
  if (descriptor_size) *descriptor_size = ds;
  if (descriptor_version) *descriptor_version = active->descriptor_version;
  if (map_key) *map_key = 0x1234;
  if (*map_size < needed || !map) {
    *map_size = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  uint8_t* out = static_cast<uint8_t*>(map);
  memset(out, 0, needed);
  for (size_t i = 0; i < active->memory_map.size(); i++) {
    const auto& d = active->memory_map[i];
    uint8_t* p = out + i * ds;
    memcpy(p + 0, &d.type, 4);
    memcpy(p + 8, &d.physical_start, 8);
    memcpy(p + 16, &d.physical_start, 8);
    memcpy(p + 24, &d.number_of_pages, 8);
    memcpy(p + 32, &d.attribute, 8);
  }
  *map_size = needed;
  return EFI_SUCCESS;
}

void* AllocateZeroPool(size_t size) {
  tick();
  int64_t n = (int64_t)active->allocations++;
  if (active->fail_allocation_at >= 0 && n == active->fail_allocation_at) return nullptr;
  void* p = calloc(1, size ? size : 1);
  if (!p) return nullptr;
  active->live_allocations[p] = size;
  active->pool_bytes += size;
  if (active->pool_bytes > active->pool_high_water) active->pool_high_water = active->pool_bytes;
  return p;
}

void FreePool(void* buffer) {
  tick();
  auto it = active->live_allocations.find(buffer);
  if (it == active->live_allocations.end()) {
    active->bad_frees++;
    return;
  }
  active->pool_bytes -= it->second;
  active->live_allocations.erase(it);
  active->frees++;
  free(buffer);
}

void console_write(const char16_t* text) {
  tick();
  if (active->console.empty() || active->console.back().attribute != active->attribute)
    active->console.push_back({active->attribute, u""});
  active->console.back().text += text;
  if (active->console_echo) active->console_echo(active->attribute, text);
}

void set_text_attribute(uint64_t attribute) {
  tick();
  if (active->text_output_protocol) active->attribute = attribute;
}

void enable_page_break() {
  tick();
  active->page_break = true;
}

efi_status_t shell_open_file(const char16_t* name, shell_file_t* file) {
  tick();
  *file = nullptr;
  for (const auto& f : active->files)
    if (sim::same_name(f.first, name)) {
      *file = new sim::open_file{&f.second, 0};
      active->open_files++;
      return EFI_SUCCESS;
    }
  return EFI_NOT_FOUND;
}

efi_status_t shell_get_file_position(shell_file_t file, uint64_t* position) {
  tick();
  *position = static_cast<sim::open_file*>(file)->position;
  return EFI_SUCCESS;
}

efi_status_t shell_set_file_position(shell_file_t file, uint64_t position) {
  tick();
  if ((int64_t)active->file_seeks++ == active->fail_file_seek_at) return EFI_DEVICE_ERROR;
  auto* f = static_cast<sim::open_file*>(file);
  f->position = position == ~0ULL ? f->data->size() : position;
  return EFI_SUCCESS;
}

efi_status_t shell_get_file_size(shell_file_t file, uint64_t* size) {
  tick();
  if ((int64_t)active->file_infos++ == active->fail_file_info_at) return EFI_DEVICE_ERROR;
  *size = static_cast<sim::open_file*>(file)->data->size();
  return EFI_SUCCESS;
}

efi_status_t shell_read_file(shell_file_t file, uint64_t* size, void* buffer) {
  tick();
  if ((int64_t)active->file_reads++ == active->fail_file_read_at) {
    *size = 0;
    return EFI_DEVICE_ERROR;
  }
  auto* f = static_cast<sim::open_file*>(file);
  uint64_t avail = f->position < f->data->size() ? f->data->size() - f->position : 0;
  uint64_t n = *size < avail ? *size : avail;
  if (n) memcpy(buffer, f->data->data() + f->position, n);
  f->position += n;
  *size = n;
  return EFI_SUCCESS;
}

void shell_close_file(shell_file_t file) {
  tick();
  delete static_cast<sim::open_file*>(file);
  active->open_files--;
}

uint64_t get_argument_vector(uint64_t* argc, char16_t*** argv) {
  if (!active->shell_parameters && !active->shell_interface) return 1;
  *argc = active->args.size();
  *argv = active->argv.data();
  return 0;
}

void library_cleanup() {}

void exit_application(efi_status_t status) {
  library_cleanup();
  if (!sim::armed) {
    // Exit outside sim::run or sim::call has nowhere to unwind to.
    fprintf(stderr, "simulated machine: Exit(0x%llx) outside a run; use sim::run or sim::call\n",
            (unsigned long long)status);
    std::abort();
  }
  sim::exit_status = status;
  std::longjmp(sim::run_exit, 1);
}
