// A small healthy platform for the DMAR and interrupt-remapping assertions,
// and a bench that collects its tables and calls single assertions on it.
//
// The platform: two remapping engines (iGFX engine, then the default engine
// with INCLUDE_PCI_ALL), interrupt remapping on and supported by both, the
// iGFX function 00:02.0 in the first DRHD, the IOxAPIC (F0:1F.0, ID 2), the
// HPET (00:1F.0, number 0) and an ACPI namespace device in the second, one
// USB RMRR and one ANDD; MCFG segment 0 buses 0-0xFF, MADT with the IOxAPIC,
// HPET with eight edge-triggered timers; tinfo filled as a setup routine
// would fill it for such a chipset.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "assertions/assertions.h"
#include "discovery/acpi.h"
#include "engine/test_info.h"
#include "platform/sim/sim.h"
#include "platform/sim/tables.h"

namespace dmar_platform {

constexpr uint64_t IGFX_ENGINE = 0xFED90000;
constexpr uint64_t DEFAULT_ENGINE = 0xFED91000;
constexpr uint64_t HEALTHY_ECAP = 0x0000000000F0105E;  // interrupt remapping among others
constexpr uint32_t HPET_TIMER0 = 0xFED00100;
constexpr uint8_t IOAPIC_BUS = 0xF0;
constexpr uint16_t IOAPIC_RID = 0xF0F8;
constexpr uint16_t HPET_RID = 0x00F8;

struct platform {
  // Tables, as builders; absent tables are left out of the ACPI install.
  std::vector<sim::scope_spec> igfx_scopes;
  std::vector<sim::scope_spec> default_scopes;
  sim::dmar_builder dmar;  // built from the pieces below unless custom_dmar
  bool custom_dmar = false;
  std::vector<sim::mcfg_allocation> mcfg{{0xE0000000, 0, 0, 0xFF}};
  bool has_mcfg = true;
  std::vector<sim::bytes> madt;
  bool has_madt = true;
  sim::bytes hpet;  // empty: no HPET table
  bool has_dmar = true;
  test_info_t tinfo{};
  sim::machine m;

  // Engine i's ECAP.
  void set_ecap(uint64_t engine_base, uint64_t ecap) { m.write64(engine_base + 0x10, ecap); }
  // A function with a capability list: (id, bytes after the header) at
  // 0x40, 0x50, ... in order.
  sim::pci_function& pci_with_caps(uint8_t b, uint8_t d, uint8_t f, uint16_t vendor, uint16_t device,
                                   const std::vector<std::pair<uint8_t, uint16_t>>& caps);
  // The healthy DMAR from igfx_scopes and default_scopes.
  sim::dmar_builder healthy_dmar() const;
};

// A fresh healthy platform.
void make_healthy(platform& p);

struct outcome {
  uint64_t status = 0;
  uint64_t result = 99;  // 99: no record
  std::string message;
  std::string console;
};

// Collects the platform's tables, lists and catalogue (with tinfo taken
// from the platform, dmar_calc_len from the collection) and keeps them
// until destroyed. The machine serves the platform operations meanwhile.
class bench {
 public:
  explicit bench(platform& p, bool debug = false);
  ~bench();
  bench(const bench&) = delete;
  bench& operator=(const bench&) = delete;

  outcome run(assertion_fn f, uint64_t id);
  acpi_tables_t tables{};
  test_info_t tinfo{};
  uint64_t collect_status = 0;

 private:
  platform& p_;
  sim::scoped_machine use_;
  uint64_t saved_debug_mask_;
};

struct assertion_entry {
  uint64_t id;
  assertion_fn fn;
};
// The assertions of this family in the driver's order.
extern const std::vector<assertion_entry> dmar_assertions;

// Runs every assertion of dmar_assertions once on a fresh bench; id -> outcome.
std::map<uint64_t, outcome> run_all(platform& p);

}  // namespace dmar_platform
