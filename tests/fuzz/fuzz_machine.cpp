#include "fuzz/fuzz_machine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "catalogue/catalogue.h"
#include "discovery/pci_inventory.h"
#include "discovery/remap_lists.h"
#include "platform/sim/platform_dir.h"

namespace fuzz {

const std::vector<std::vector<std::u16string>> run_modes = {
    {u"-t", u"-v", u"--dbg"},  // the full verbose run with every debug line
    {u"-d"},                   // dumps only
    {u"-d", u"-t", u"-v", u"--dbg"},
    {},                        // the default run, short report
    {u"-v"},
    {u"-d", u"--dbg"},
    {u"-t", u"-p"},
    {u"/D", u"-T", u"--DBG"},
    {u"-a"},  // a processor without a setup routine checked as far as no chipset view is needed
    {u"-a", u"-v", u"--dbg"},
    {u"-d", u"-A", u"-t"},
    {u"/a", u"-V"},
    {u"-x", u"-v", u"--dbg"},  // a known family with what an operating system checks at boot
    {u"-a", u"-x", u"-v"},
};

namespace {

struct reader {
  const uint8_t* p;
  size_t n;
  size_t at = 0;
  bool take(size_t count, const uint8_t** out) {
    if (count > n - at) return false;
    *out = p + at;
    at += count;
    return true;
  }
};

uint64_t le(const uint8_t* p, unsigned width) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width; i++) v |= (uint64_t)p[i] << (8 * i);
  return v;
}

void put(std::vector<uint8_t>& out, uint64_t v, unsigned width) {
  for (unsigned i = 0; i < width; i++) out.push_back((uint8_t)(v >> (8 * i)));
}

void record(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& payload) {
  size_t n = payload.size() > 0xFFFF ? 0xFFFF : payload.size();
  out.push_back(tag);
  put(out, n, 2);
  out.insert(out.end(), payload.begin(), payload.begin() + (long)n);
}

void fix_table(std::vector<uint8_t>& t) {
  if (t.size() < 10) return;
  uint32_t n = (uint32_t)t.size();
  memcpy(&t[4], &n, 4);
  t[9] = 0;
  uint8_t sum = 0;
  for (uint8_t c : t) sum = (uint8_t)(sum + c);
  t[9] = (uint8_t)(0 - sum);
}

// Physical memory the simulated firmware itself lays out; fuzzed bytes
// written there would only break the layout, not test the program.
bool reserved_range(uint64_t a, size_t n) {
  uint64_t end = a + n;
  if (end < a) return true;
  return end > 0x7EF00000 && a < 0x80000000;
}

}  // namespace

description decode(const uint8_t* data, size_t size) {
  description d;
  if (size == 0) return d;
  d.settings = data[0];
  reader r{data, size, 1};
  const uint8_t* head;
  while (r.take(3, &head)) {
    uint8_t tag = head[0];
    size_t len = (size_t)le(head + 1, 2);
    const uint8_t* p;
    if (!r.take(len, &p)) break;
    std::vector<uint8_t> payload(p, p + len);
    switch (tag) {
      case TAG_ACPI:
      case TAG_XSDT_ONLY:
        if (d.settings & SET_FIX_LENGTHS) fix_table(payload);
        (tag == TAG_ACPI ? d.acpi : d.xsdt_only).push_back(payload);
        break;
      case TAG_SMBIOS:
        d.has_smbios = true;
        d.smbios = payload;
        break;
      case TAG_MEMORY:
        if (len >= 28) d.memory.push_back({(uint32_t)le(p, 4), le(p + 4, 8), le(p + 12, 8), le(p + 20, 8)});
        break;
      case TAG_CATALOGUE:
        d.has_catalogue = true;
        d.catalogue.assign(payload.begin(), payload.end());
        break;
      case TAG_PCI:
        if (len >= 3) {
          size_t n = len - 3 > 4096 ? 4096 : len - 3;
          d.pci.push_back({p[0], (uint8_t)(p[1] & 0x1F), (uint8_t)(p[2] & 7), std::vector<uint8_t>(p + 3, p + 3 + n)});
        }
        break;
      case TAG_MEMORY_BYTES:
        if (len >= 8 && !reserved_range(le(p, 8), len - 8))
          d.memory_bytes.push_back({le(p, 8), std::vector<uint8_t>(p + 8, p + len)});
        break;
      case TAG_CPUID:
        if (len >= 20)
          d.cpuid.push_back({(uint32_t)le(p, 4), (uint32_t)le(p + 4, 4), (uint32_t)le(p + 8, 4),
                             (uint32_t)le(p + 12, 4), (uint32_t)le(p + 16, 4)});
        break;
      case TAG_MSR:
        if (len >= 12) d.msrs.push_back({(uint32_t)le(p, 4), le(p + 4, 8)});
        break;
      case TAG_MAP_SETTINGS:
        if (len >= 8) {
          d.has_map_settings = true;
          d.descriptor_size = (uint16_t)le(p, 2);
          d.descriptor_version = (uint32_t)le(p + 2, 4);
          d.map_first_status = p[6];
          d.map_second_status = p[7];
        }
        break;
      case TAG_SOURCES:
        if (len >= 3) {
          d.has_sources = true;
          d.unknown_sources = (uint16_t)le(p, 2);
          d.source_flags = p[2];
        }
        break;
      case TAG_RUN_MODE:
        if (len >= 1) {
          d.has_run_mode = true;
          d.run_mode = p[0];
        }
        break;
      default:
        break;
    }
  }
  return d;
}

std::vector<uint8_t> encode(const description& d) {
  std::vector<uint8_t> out;
  out.push_back(d.settings);
  for (const auto& t : d.acpi) record(out, TAG_ACPI, t);
  for (const auto& t : d.xsdt_only) record(out, TAG_XSDT_ONLY, t);
  if (d.has_smbios) record(out, TAG_SMBIOS, d.smbios);
  for (const auto& m : d.memory) {
    std::vector<uint8_t> p;
    put(p, m.type, 4);
    put(p, m.physical_start, 8);
    put(p, m.number_of_pages, 8);
    put(p, m.attribute, 8);
    record(out, TAG_MEMORY, p);
  }
  if (d.has_catalogue) record(out, TAG_CATALOGUE, std::vector<uint8_t>(d.catalogue.begin(), d.catalogue.end()));
  for (const auto& f : d.pci) {
    std::vector<uint8_t> p{f.bus, f.dev, f.fn};
    // Trailing zero bytes of a configuration image add nothing.
    size_t n = f.config.size();
    while (n > 0 && f.config[n - 1] == 0) n--;
    p.insert(p.end(), f.config.begin(), f.config.begin() + (long)n);
    record(out, TAG_PCI, p);
  }
  for (const auto& b : d.memory_bytes) {
    std::vector<uint8_t> p;
    put(p, b.address, 8);
    p.insert(p.end(), b.bytes.begin(), b.bytes.end());
    record(out, TAG_MEMORY_BYTES, p);
  }
  for (const auto& c : d.cpuid) {
    std::vector<uint8_t> p;
    for (uint32_t v : {c.leaf, c.eax, c.ebx, c.ecx, c.edx}) put(p, v, 4);
    record(out, TAG_CPUID, p);
  }
  for (const auto& m : d.msrs) {
    std::vector<uint8_t> p;
    put(p, m.first, 4);
    put(p, m.second, 8);
    record(out, TAG_MSR, p);
  }
  if (d.has_map_settings) {
    std::vector<uint8_t> p;
    put(p, d.descriptor_size, 2);
    put(p, d.descriptor_version, 4);
    p.push_back(d.map_first_status);
    p.push_back(d.map_second_status);
    record(out, TAG_MAP_SETTINGS, p);
  }
  if (d.has_sources) {
    std::vector<uint8_t> p;
    put(p, d.unknown_sources, 2);
    p.push_back(d.source_flags);
    record(out, TAG_SOURCES, p);
  }
  if (d.has_run_mode) record(out, TAG_RUN_MODE, {d.run_mode});
  return out;
}

const std::vector<std::u16string>& run_args(const description& d) {
  return d.has_run_mode ? run_modes[d.run_mode % run_modes.size()] : run_modes[d.settings & SET_MODE_MASK];
}

const std::string& repository_catalogue() {
  static const std::string text = [] {
    std::ifstream f(std::string(IOVET_SOURCE_DIR) + "/zyr-tests", std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }();
  return text;
}

namespace {

void install_given(const description& d, sim::machine& m) {
  static const sim::rsdp_place places[4] = {sim::rsdp_place::configuration_table, sim::rsdp_place::legacy_bios_area,
                                            sim::rsdp_place::ebda, sim::rsdp_place::none};
  // Memory records go first: the firmware's own layout wins where they meet.
  for (const auto& b : d.memory_bytes) m.write_memory(b.address, b.bytes.data(), b.bytes.size());
  if (!d.acpi.empty() || !d.xsdt_only.empty())
    m.install_acpi(d.acpi, places[(d.settings & SET_RSDP_MASK) >> SET_RSDP_SHIFT], d.xsdt_only);
  if (d.has_smbios) m.install_smbios(d.smbios);
  for (const auto& md : d.memory) m.add_memory(md.type, md.physical_start, md.number_of_pages, md.attribute);
  if (d.has_catalogue)
    m.add_file(u"zyr-tests", d.catalogue);
  else if (!(d.settings & SET_NO_CATALOGUE))
    m.add_file(u"zyr-tests", repository_catalogue());
  for (const auto& f : d.pci) {
    sim::pci_function& fn = m.pci(f.bus, f.dev, f.fn);
    for (size_t i = 0; i < f.config.size() && i < fn.config.size(); i++) fn.config[i] = f.config[i];
  }
  for (const auto& c : d.cpuid) m.set_cpuid(c.leaf, c.eax, c.ebx, c.ecx, c.edx);
  for (const auto& msr : d.msrs) m.set_msr(msr.first, msr.second);
  if (d.has_map_settings) {
    m.descriptor_size = d.descriptor_size;
    m.descriptor_version = d.descriptor_version;
    // Statuses the firmware may answer: success, too small, invalid parameter.
    static const efi_status_t statuses[4] = {0, EFI_BUFFER_TOO_SMALL, EFI_INVALID_PARAMETER, EFI_DEVICE_ERROR};
    m.memory_map_first_status = statuses[d.map_first_status & 3];
    m.memory_map_second_status = statuses[d.map_second_status & 3];
  }
  if (d.settings & SET_ECAM_FROM_MCFG) {
    for (const auto& t : d.acpi)
      if (t.size() >= 52 && memcmp(t.data(), "MCFG", 4) == 0) {
        uint64_t base = le(t.data() + 44, 8);
        // Only a window that stays clear of the firmware's tables.
        if (base && !reserved_range(base, 256u << 20)) m.ecam_base = base;
        break;
      }
  }
}

}  // namespace

void install(const description& d, sim::machine& m) {
  // A fuzzed run that needs more platform operations than this is hung
  // for practical purposes: a real run takes far fewer.
  m.operation_limit = 20000000;
  bool tables_only = d.has_sources && (d.source_flags & SOURCES_TABLES_ONLY);
  for (uint32_t s = 0; s < SOURCE_COUNT; s++) {
    bool table = s == SOURCE_DMAR || s == SOURCE_MCFG || s == SOURCE_MADT || s == SOURCE_HPET;
    if (tables_only && !table)
      m.set_unknown((platform_source)s, SOURCE_TABLES_ONLY);
    else if (d.has_sources && (d.unknown_sources >> s & 1))
      m.set_unknown((platform_source)s, SOURCE_NOT_RECORDED);
  }
  if (tables_only) {
    // Only the tables (and the catalogue): nothing else was given.
    description only;
    only.settings = d.settings;
    only.acpi = d.acpi;
    only.xsdt_only = d.xsdt_only;
    only.has_catalogue = d.has_catalogue;
    only.catalogue = d.catalogue;
    install_given(only, m);
    return;
  }
  install_given(d, m);
}

p2sb_state p2sb_before(const sim::machine& m) {
  p2sb_state s;
  s.present = m.has_pci(0, 31, 1);
  s.hide = m.config_byte(0, 31, 1, 0xE1);
  s.vendor = (uint16_t)(m.config_byte(0, 31, 1, 0) | m.config_byte(0, 31, 1, 1) << 8);
  return s;
}

namespace {

enum class variant { none, restoring, hiding };

// The processor dispatch of the test driver, as far as the P2SB goes.
variant p2sb_variant(const sim::machine& m) {
  uint32_t eax = 0;
  auto it = m.cpuid_leaves.find(1);
  if (it != m.cpuid_leaves.end()) eax = it->second[0];
  uint32_t sig = eax & 0x0FFF3FF0;
  switch (sig) {
    case 0x406E0:
    case 0x506E0:
      return ((eax - 0x406E8) & 0xFFFEFFFF) == 0 ? variant::hiding : variant::restoring;
    case 0x50650:
    case 0x90670: case 0x906A0: case 0xB06E0: case 0xB06A0:                // pek
      return variant::restoring;
    case 0x60660: case 0x60670:                                            // wez
    case 0x706D0: case 0x706E0: case 0x806C0: case 0x806D0: case 0x90660: case 0x906C0:  // jix
    case 0x806A0:                                                          // yod
    case 0x806E0: case 0x906E0: case 0xA0650: case 0xA0660:                // mof
      return variant::hiding;
    default:
      return variant::none;
  }
}

}  // namespace

std::vector<uint8_t> expected_hide_writes(const sim::machine& m, const p2sb_state& b) {
  // A hidden or missing function reads all ones, its hide register included.
  uint8_t found = b.present && !(b.hide & 1) ? b.hide : 0xFF;
  // Only a register found with its hide bit set is unhidden (a write of 0,
  // its other bits being unreadable); it is hidden again whether or not the
  // function then answers, with the other bits as read after the unhide
  // (still 0: the simulated register keeps what was written). A function
  // found answering is left as it was: no write.
  if (p2sb_variant(m) == variant::none || !(found & 1)) return {};
  return {0, 1};
}

std::string check_pool_and_files(const sim::machine& m, const sim::run_result& r) {
  std::ostringstream s;
  if (r.watchdog) s << "the run did not end within " << m.operation_limit << " platform operations; ";
  if (r.leaked_allocations) s << r.leaked_allocations << " pool blocks left after the run; ";
  if (m.bad_frees) s << m.bad_frees << " frees of unknown pool blocks; ";
  if (r.leaked_files) s << r.leaked_files << " files left open; ";
  return s.str();
}

std::string check_platform_writes(const sim::machine& m, const p2sb_state& before) {
  const uint64_t hide = PCI_LIB_ADDRESS(0, 31, 1, 0xE1);
  std::ostringstream s;
  std::vector<uint8_t> values;
  for (const auto& w : m.pci_writes) {
    if (w.address != hide) {
      s << "configuration write to 0x" << std::hex << w.address << " (value 0x" << (unsigned)w.value << "); ";
      continue;
    }
    values.push_back(w.value);
  }
  if (!values.empty()) {
    std::vector<uint8_t> expected = expected_hide_writes(m, before);
    if (values != expected) {
      s << "P2SB hide register written";
      for (uint8_t v : values) s << " 0x" << std::hex << (unsigned)v;
      s << ", expected";
      for (uint8_t v : expected) s << " 0x" << std::hex << (unsigned)v;
      s << "; ";
    }
  }
  return s.str();
}

std::string check_lists_empty() {
  std::string s;
  const struct {
    list_entry* head;
    const char* name;
  } lists[] = {{&drhd_list, "drhd_list"}, {&rmrr_list, "rmrr_list"},       {&atsr_list, "atsr_list"},
               {&rhsa_list, "rhsa_list"}, {&andd_list, "andd_list"},       {&satc_list, "satc_list"},
               {&sidp_list, "sidp_list"}, {&pci_dev_list, "pci_dev_list"}, {&test_case_list, "test_case_list"}};
  for (const auto& l : lists)
    if (!list_empty(*l.head)) s += std::string(l.name) + " not empty after the teardown; ";
  return s;
}

std::string check_unknown_sources(const sim::machine& m) {
  if (!m.unknown_reads) return "";
  std::ostringstream s;
  s << m.unknown_reads << " reads of a source the machine does not know (not known:";
  for (uint32_t k = 0; k < SOURCE_COUNT; k++)
    if (!m.known((platform_source)k)) s << " " << sim::source_name((platform_source)k);
  s << "); ";
  return s.str();
}

void finding(const std::string& what, const sim::run_result* r) {
  fprintf(stderr, "\n==iovet== FINDING: %s\n", what.c_str());
  if (r) {
    const std::string& t = r->text;
    size_t from = t.size() > 3000 ? t.size() - 3000 : 0;
    fprintf(stderr, "==iovet== status 0x%llx%s; console (last %zu bytes):\n%s\n", (unsigned long long)r->status,
            r->exited ? " (through Exit)" : "", t.size() - from, t.c_str() + from);
  }
  fflush(stderr);
  abort();
}

}  // namespace fuzz
