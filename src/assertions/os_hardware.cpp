// What an operating system finds on the hardware when it boots: tests 103
// (the engines' state at hand-off), 104 (functions an RMRR ties to the
// firmware) and 110 (SATC and SIDP content). Every register is only read:
// no fault is cleared and no engine is changed.
#include "assertions/assertions.h"
#include "assertions/engines.h"
#include "discovery/config_space.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t GSTS_TES = 1u << 31;  // translation enabled
constexpr uint32_t GSTS_IRES = 1u << 25;  // interrupt remapping enabled
constexpr uint32_t PMEN_PRS = 1u << 0;   // protected region status
constexpr uint32_t FSTS_PFO = 1u << 0;   // primary fault overflow
constexpr uint32_t FSTS_PPF = 1u << 1;   // primary pending fault
constexpr uint32_t FSTS_ERRORS = 0x70;   // invalidation queue, completion and time-out errors
constexpr uint64_t FRCD_FAULT = 1ULL << 63;  // in the upper half of a fault recording register

const char* on_off(bool on) { return on ? "on" : "off"; }

// What the engines show, from sound to worst; the record's verdict line is
// the first engine's of the worst kind.
enum engine_state : uint8_t { STATE_SOUND, STATE_UNPROTECTED, STATE_ERROR, STATE_FAULT };

// The console prints a message line of at most 320 characters: the verdict
// (about 100), the engines' states and the note on the DRHD engines (86).
constexpr size_t STATE_CHARS = 112;

struct handoff_t {
  bool protecting = false;
  engine_state worst = STATE_SOUND;
  char16_t verdict[TEST_TEXT_CHARS / 2] = {};
  char16_t state[STATE_CHARS] = {};
  uint32_t unlisted = 0;  // engines whose state line did not fit
};

// Reads one engine's state as an operating system finds it: its state line
// when it fits, and the verdict line when the engine is the first of the
// worst kind so far.
void read_engine_state(uint64_t base, handoff_t& h) {
  // Registers that read all ones: nothing answers there.
  uint64_t cap = MmioRead64(base + ZYRD_CAP_REG);
  uint32_t fsts = MmioRead32(base + ZYRD_FSTS_REG);
  bool answers = cap != ALL_ONES && fsts != (uint32_t)ALL_ONES;
  uint32_t gsts = answers ? MmioRead32(base + ZYRD_GSTS_REG) : 0;
  uint32_t pmen = answers ? MmioRead32(base + ZYRD_PMEN_REG) : 0;
  if (!answers) fsts = 0;
  bool translation = gsts & GSTS_TES, protected_region = pmen & PMEN_PRS;
  h.protecting = h.protecting || translation || protected_region;
  char16_t line[STATE_CHARS];
  size_t n = format_to(line, sizeof(line),
                       answers ? "0x%LX: translation %s, PMR %s, IR %s, FSTS 0x%X.\n" : "0x%LX: does not answer.\n",
                       base, on_off(translation), on_off(protected_region), on_off(gsts & GSTS_IRES), fsts);
  size_t used = str16_len(h.state);
  if (used + n + 1 < STATE_CHARS && !h.unlisted)
    str16_copy(h.state + used, STATE_CHARS - used, line);
  else
    h.unlisted++;

  engine_state s = fsts & FSTS_PPF ? STATE_FAULT : fsts & (FSTS_PFO | FSTS_ERRORS) ? STATE_ERROR : STATE_SOUND;
  if (s <= h.worst) return;
  h.worst = s;
  // The fault recording register the fault index names, when it lies in the
  // engine's register page.
  uint64_t record = ((cap >> 24) & 0x3FF) * 16 + ((fsts >> 8) & 0xFF) * 16;
  uint64_t upper = s == STATE_FAULT && record + 16 <= ZYRD_REGISTER_PAGE ? MmioRead64(base + record + 8) : 0;
  pci_location src = pci_location_of((uint16_t)upper);
  format_to(h.verdict, sizeof(h.verdict),
            s == STATE_ERROR           ? "Engine 0x%LX: fault overflow or invalidation error (FSTS 0x%X).\n"
            : (upper & FRCD_FAULT) != 0 ? "Engine 0x%LX has a pending DMA fault (FSTS 0x%X): source %02X:%02X.%X, "
                                          "fault reason 0x%02X.\n"
                                        : "Engine 0x%LX has a pending DMA fault (FSTS 0x%X).\n",
            base, fsts, src.bus, src.device, src.function, (upper >> 32) & 0xFF);
}

// The functions an operating system still assigns with an RMRR: USB
// controllers and display controllers. class_code: base class in 15:8,
// sub-class in 7:0.
bool rmrr_exempt(pci_location at, uint16_t* class_code) {
  *class_code = PciRead16(pci_config_address(at, PCI_OFF_SUB_CLASS));
  return *class_code >> 8 == PCI_CLASS_DISPLAY || *class_code == (PCI_CLASS_SERIAL_BUS << 8 | PCI_SUBCLASS_USB);
}

// The SATC and SIDP lists, which share their fixed part's layout.
struct soc_kind_t {
  list_entry* list;
  const char* name;
};
const soc_kind_t soc_kinds[] = {{&satc_list, "SATC"}, {&sidp_list, "SIDP"}};

// The configuration ports reach segment 0 only.
void set_unread_segment(test_case_t* tc, const char* kind, uint32_t segment) {
  if (segment)
    set_result_fmt(tc, TEST_WARNING, "%s scopes of segment %d not examined (the ports reach segment 0 only).\n", kind,
                   segment);
  else
    set_result(tc, TEST_PASS);
}

bool mcfg_has_segment(const acpi_tables_t* tables, uint16_t segment) {
  return !for_each_mcfg_allocation(mcfg_view(*tables), [&](const csbaas_t& a) { return a.pci_segment() != segment; });
}

}  // namespace

uint64_t assert_handoff_state(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(103, true);
  if (!tc) return 1;
  if (recorded_no_engines(tc, tinfo)) return 0;
  handoff_t h;
  for_each_engine(tinfo, [&](uint64_t base) {
    read_engine_state(base, h);
    return true;
  });
  if (h.worst == STATE_SOUND && !h.protecting) {
    format_to(h.verdict, sizeof(h.verdict),
              "No engine translates or protects memory before the OS boots.\n");
    h.worst = STATE_UNPROTECTED;
  }
  // The verdict line first, then each engine's state.
  tc->result = h.worst == STATE_SOUND ? TEST_PASS : TEST_WARNING;
  str16_copy(tc->message, TEST_TEXT_CHARS, h.verdict);
  append_message_fmt(tc, "%s", h.state);
  if (h.unlisted) append_message_fmt(tc, "(and %d more)\n", h.unlisted);
  note_drhd_engines(tc);
  return 0;
}

uint64_t assert_rmrr_assignable(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(104, true);
  if (!tc) return 1;
  // The scopes of segment 0 are read through the configuration ports; a
  // path that names no function is test 41's finding.
  uint32_t unread_segment = 0;
  for (remap_node_t* rmrr : each<remap_node_t>(rmrr_list)) {
    uint16_t segment = rmrr->SegmentNumber(RMRR_OFF_SEGMENT), class_code = 0;
    if (segment != 0) {
      unread_segment = segment;
      continue;
    }
    pci_location at{};
    bool exempt = for_each_scope(rmrr->view(), RMRR_FIXED_SIZE, [&](const device_scope_entry_t& scope) {
      return !scope_path_function(scope, &at) || rmrr_exempt(at, &class_code);
    });
    if (!exempt) {
      set_result_fmt(tc, TEST_WARNING,
                     "RMRR 0x%LX-0x%LX names %02X:%02X.%X (class %02Xh/%02Xh): the OS will not assign it to a VM.\n",
                     rmrr->view().u64(RMRR_OFF_BASE), rmrr->view().u64(RMRR_OFF_LIMIT), at.bus, at.device,
                     at.function, class_code >> 8, class_code & 0xFF);
      return 0;
    }
  }
  set_unread_segment(tc, "RMRR", unread_segment);
  return 0;
}

uint64_t assert_satc_sidp(acpi_tables_t* tables, test_info_t*) {
  test_case_t* tc = assertion_record(110, true);
  if (!tc) return 1;
  uint8_t bad_type = 0;
  bool endpoints = for_each_list_scope(satc_list, SATC_FIXED_SIZE, [&](remap_node_t*, const device_scope_entry_t& s) {
    bad_type = s.Type();
    return bad_type == SCOPE_PCI_ENDPOINT;
  });
  if (!endpoints) {
    set_result_fmt(tc, TEST_FAIL, "An SATC device scope has type %d, not a PCI endpoint.\n",
                   bad_type);
    note_general_rule(tc, scopes_by_length_rule);
    return 0;
  }
  if (list_empty(satc_list) && list_empty(sidp_list)) {
    set_result(tc, TEST_PASS);
    return 0;
  }
  if (recorded_unknown_sources(tc, FROM_MCFG)) return 0;
  // Segments first (MCFG), then the paths of segment 0 (PCI), when known.
  bool paths = source_known(SOURCE_PCI);
  uint32_t unread = 0;
  const char* unread_kind = nullptr;
  for (const soc_kind_t& k : soc_kinds)
    for (remap_node_t* n : each<remap_node_t>(*k.list)) {
      uint16_t segment = n->SegmentNumber(SATC_OFF_SEGMENT);
      pci_location at{};
      const char* fault = nullptr;
      if (!mcfg_has_segment(tables, segment))
        fault = "%s segment %d is not a PCI segment of the MCFG.\n";
      else if (paths && segment != 0) {
        unread = segment;
        unread_kind = k.name;
      }
      else if (paths && !for_each_scope(n->view(), SATC_FIXED_SIZE, [&](const device_scope_entry_t& s) {
                 return s.Type() != SCOPE_PCI_ENDPOINT || scope_path_function(s, &at);
               }))
        fault = "A %s scope path (segment %d) names no PCI function.\n";
      if (fault) {
        set_result_fmt(tc, TEST_FAIL, fault, k.name, segment);
        return 0;
      }
    }
  if (recorded_unknown_sources(tc, FROM_PCI)) return 0;
  set_unread_segment(tc, unread_kind, unread);
  return 0;
}
