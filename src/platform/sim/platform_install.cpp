// The description installed into a fresh machine.
#include "platform/sim/platform_text.h"

namespace sim {

using namespace piece;

void install_platform(const platform_description& p, machine& m) {
  m.sources = p.sources;
  // ACPI: the machine lays out its own root pointer and RSDT/XSDT. DSDT and
  // FACS are reached through the FADT, not the RSDT, and stay out of it.
  std::vector<std::vector<uint8_t>> listed;
  for (const auto& t : p.acpi) {
    std::string sig = t.signature();
    if (sig == "DSDT" || sig == "FACS") continue;
    listed.push_back(t.bytes);
  }
  if (!listed.empty() || p.rsdp != rsdp_place::configuration_table) m.install_acpi(listed, p.rsdp);

  for (const auto& f : p.pci) {
    pci_function& fn = m.functions[f.first];
    fn.config = f.second;
    fn.config.resize(4096, 0);
  }

  if (p.ecam_set) {
    m.ecam_base = p.ecam_base;
    m.ecam_buses = p.ecam_buses;
  } else {
    // The memory-mapped window is where the first MCFG allocation puts it.
    for (const auto& t : p.acpi)
      if (t.signature() == "MCFG" && t.bytes.size() >= 56) {
        uint64_t base = get64(t.bytes, 44);
        if (base && !(base & 0xFFFFF) && base < (1ull << 52)) {
          m.ecam_base = base;
          m.ecam_buses = (uint16_t)(t.bytes[55] + 1);
        }
        break;
      }
  }

  for (const auto& v : p.mmio) {
    uint64_t a = v.address;
    if (m.ecam_base && a >= m.ecam_base && a - m.ecam_base < (uint64_t)m.ecam_buses << 20) {
      // Configuration space beyond an image: a register of the function.
      uint16_t key = (uint16_t)((a - m.ecam_base) >> 12);
      uint32_t off = (uint32_t)((a - m.ecam_base) & 0xFFF);
      auto it = m.functions.find(key);
      if (it != m.functions.end() && off + v.width <= 4096) {
        for (unsigned i = 0; i < v.width; i++) it->second.config[off + i] = (uint8_t)(v.value >> (8 * i));
        continue;
      }
    }
    uint8_t b[8];
    for (unsigned i = 0; i < v.width; i++) b[i] = (uint8_t)(v.value >> (8 * i));
    m.write_memory(a, b, v.width);
  }

  for (const auto& c : p.cpuid) m.cpuid_leaves[c.first] = c.second;
  for (const auto& msr : p.msrs) m.msrs[msr.first] = msr.second;
  m.memory_map = p.memory_map;

  install_smbios_piece(p, m);

  if (p.has_catalogue) m.add_file(u"zyr-tests", p.catalogue);
}

}  // namespace sim
