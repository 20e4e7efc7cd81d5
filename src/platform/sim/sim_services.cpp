// The run on a simulated machine (Exit and the watchdog unwinding back to
// the caller) and the platform operations of platform.h, served by the
// active machine.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "platform/sim/sim.h"

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
  return active->config_read(pci_key(a >> 20, a >> 15, a >> 12), (uint32_t)(a & 0xFFF), width);
}

uint64_t mmio_read(uint64_t a, unsigned width) {
  tick();
  active->counts.mmio_reads++;
  return active->read_phys(a, width);
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
  uint16_t key = sim::pci_key(a >> 20, a >> 15, a >> 12);
  auto it = active->functions.find(key);
  // The hide register stays writable while its function is hidden.
  if (it != active->functions.end()) it->second.set8((uint32_t)(a & 0xFFF), value);
}

uint8_t MmioRead8(uint64_t a) { return (uint8_t)sim::mmio_read(a, 1); }
uint16_t MmioRead16(uint64_t a) { return (uint16_t)sim::mmio_read(a, 2); }
uint32_t MmioRead32(uint64_t a) { return (uint32_t)sim::mmio_read(a, 4); }
uint64_t MmioRead64(uint64_t a) { return sim::mmio_read(a, 8); }

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
