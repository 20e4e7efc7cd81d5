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

void worse(handoff_t& h, engine_state s) {
  if (s > h.worst) h.worst = s;
}

// Appends an engine's state line when it fits, else counts it.
template <class... A>
void add_state(handoff_t& h, const char* format, const A&... a) {
  char16_t line[STATE_CHARS];
  size_t n = format_to(line, sizeof(line), format, a...), used = str16_len(h.state);
  if (used + n + 1 < STATE_CHARS && !h.unlisted)
    str16_copy(h.state + used, STATE_CHARS - used, line);
  else
    h.unlisted++;
}

// Reads one engine's state as an operating system finds it.
void read_engine_state(uint64_t base, handoff_t& h) {
  uint64_t cap = MmioRead64(base + ZYRD_CAP_REG);
  if (cap == ALL_ONES) {
    add_state(h, "0x%LX: does not answer.\n", base);
    return;
  }
  uint32_t gsts = MmioRead32(base + ZYRD_GSTS_REG);
  uint32_t pmen = MmioRead32(base + ZYRD_PMEN_REG);
  uint32_t fsts = MmioRead32(base + ZYRD_FSTS_REG);
  bool translation = gsts & GSTS_TES, protected_region = pmen & PMEN_PRS;
  h.protecting = h.protecting || translation || protected_region;
  add_state(h, "0x%LX: translation %s, PMR %s, IR %s, FSTS 0x%X.\n", base, on_off(translation),
            on_off(protected_region), on_off(gsts & GSTS_IRES), fsts);
  if (fsts & FSTS_PPF) {
    // The fault recording register the fault index names, when it lies in
    // the engine's register page.
    uint64_t record = ((cap >> 24) & 0x3FF) * 16 + ((fsts >> 8) & 0xFF) * 16;
    uint64_t upper = record + 16 <= ZYRD_REGISTER_PAGE ? MmioRead64(base + record + 8) : 0;
    if (h.worst < STATE_FAULT && (upper & FRCD_FAULT)) {
      pci_location src = pci_location_of((uint16_t)upper);
      format_to(h.verdict, sizeof(h.verdict),
                "Engine 0x%LX has a pending DMA fault: source %02X:%02X.%X, fault reason 0x%02X.\n", base, src.bus,
                src.device, src.function, (upper >> 32) & 0xFF);
    } else if (h.worst < STATE_FAULT) {
      format_to(h.verdict, sizeof(h.verdict), "Engine 0x%LX has a pending DMA fault (FSTS 0x%X).\n", base, fsts);
    }
    worse(h, STATE_FAULT);
  } else if ((fsts & (FSTS_PFO | FSTS_ERRORS)) && h.worst < STATE_ERROR) {
    format_to(h.verdict, sizeof(h.verdict),
              "Engine 0x%LX reports a fault overflow or an invalidation error (FSTS 0x%X).\n", base, fsts);
    worse(h, STATE_ERROR);
  }
}

// The RMRR scopes of segment 0 are read through the configuration ports;
// another segment's are not.
bool rmrr_reachable(remap_node_t* rmrr) { return rmrr->SegmentNumber(RMRR_OFF_SEGMENT) == 0; }

// The functions an operating system may leave tied to their RMRR: USB
// controllers and display controllers.
bool rmrr_exempt(pci_location at) {
  uint8_t base_class = PciRead8(pci_config_address(at, PCI_OFF_BASE_CLASS));
  uint8_t sub_class = PciRead8(pci_config_address(at, PCI_OFF_SUB_CLASS));
  return base_class == PCI_CLASS_DISPLAY || (base_class == PCI_CLASS_SERIAL_BUS && sub_class == PCI_SUBCLASS_USB);
}

bool mcfg_has_segment(const acpi_tables_t* tables, uint16_t segment) {
  return !for_each_mcfg_allocation(mcfg_view(*tables), [&](const csbaas_t& a) { return a.pci_segment() != segment; });
}

}  // namespace

uint64_t assert_handoff_state(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(103, true);
  if (!tc) return 1;
  handoff_t h;
  for_each_engine(tinfo, [&](uint64_t base) {
    read_engine_state(base, h);
    return true;
  });
  if (h.worst == STATE_SOUND && !h.protecting) {
    format_to(h.verdict, sizeof(h.verdict),
              "No engine has translation or a protected memory region on: no DMA protection before the OS boots.\n");
    h.worst = STATE_UNPROTECTED;
  }
  // The verdict line first, then each engine's state.
  tc->result = h.worst == STATE_SOUND ? TEST_PASS : TEST_WARNING;
  str16_copy(tc->message, TEST_TEXT_CHARS, h.verdict);
  append_message_fmt(tc, "%s", h.state);
  if (h.unlisted) append_message_fmt(tc, "(%d more engines)\n", h.unlisted);
  note_drhd_engines(tc);
  return 0;
}

uint64_t assert_rmrr_assignable(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(104, true);
  if (!tc) return 1;
  uint16_t unread_segment = 0;
  bool unread = false;
  for (remap_node_t* rmrr : each<remap_node_t>(rmrr_list)) {
    if (!rmrr_reachable(rmrr)) {
      unread_segment = rmrr->SegmentNumber(RMRR_OFF_SEGMENT);
      unread = true;
      continue;
    }
    pci_location at{};
    // A path that names no function is test 41's finding.
    bool tied = !for_each_scope(rmrr->view(), RMRR_FIXED_SIZE, [&](const device_scope_entry_t& scope) {
      return !scope_path_function(scope, &at) || rmrr_exempt(at);
    });
    if (tied) {
      set_result_fmt(tc, TEST_WARNING,
                     "RMRR 0x%LX-0x%LX names %02X:%02X.%X (class %02Xh/%02Xh), neither a USB nor a display "
                     "controller: an operating system refuses to assign it to a virtual machine.\n",
                     rmrr->view().u64(RMRR_OFF_BASE), rmrr->view().u64(RMRR_OFF_LIMIT), at.bus, at.device,
                     at.function, PciRead8(pci_config_address(at, PCI_OFF_BASE_CLASS)),
                     PciRead8(pci_config_address(at, PCI_OFF_SUB_CLASS)));
      return 0;
    }
  }
  if (unread)
    set_result_fmt(tc, TEST_WARNING,
                   "The RMRR scopes of PCI segment %d were not examined (the configuration ports reach segment 0 "
                   "only).\n",
                   unread_segment);
  else
    set_result(tc, TEST_PASS);
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
    set_result_fmt(tc, TEST_FAIL, "An SATC device scope has type %d: SATC scopes name PCI endpoints only.\n",
                   bad_type);
    note_general_rule(tc, scopes_by_length_rule);
    return 0;
  }
  if (list_empty(satc_list) && list_empty(sidp_list)) {
    set_result(tc, TEST_PASS);
    return 0;
  }
  struct kind_t {
    list_entry* list;
    const char* name;
    uint32_t fixed;
  };
  const kind_t kinds[] = {{&satc_list, "SATC", SATC_FIXED_SIZE}, {&sidp_list, "SIDP", SIDP_FIXED_SIZE}};
  if (recorded_unknown_sources(tc, FROM_MCFG)) return 0;
  for (const kind_t& k : kinds)
    for (remap_node_t* n : each<remap_node_t>(*k.list))
      if (!mcfg_has_segment(tables, n->SegmentNumber(SATC_OFF_SEGMENT))) {
        set_result_fmt(tc, TEST_FAIL, "%s segment %d is not a PCI segment of the platform (MCFG).\n", k.name,
                       n->SegmentNumber(SATC_OFF_SEGMENT));
        return 0;
      }
  if (recorded_unknown_sources(tc, FROM_PCI)) return 0;
  bool unread = false;
  for (const kind_t& k : kinds)
    for (remap_node_t* n : each<remap_node_t>(*k.list)) {
      if (n->SegmentNumber(SATC_OFF_SEGMENT) != 0) {
        unread = true;
        continue;
      }
      pci_location at{};
      bool named = for_each_scope(n->view(), k.fixed, [&](const device_scope_entry_t& s) {
        return s.Type() != SCOPE_PCI_ENDPOINT || scope_path_function(s, &at);
      });
      if (!named) {
        set_result_fmt(tc, TEST_FAIL, "A %s device scope path names no existing PCI function.\n", k.name);
        return 0;
      }
    }
  if (unread)
    set_result(tc, TEST_WARNING,
               "SATC and SIDP paths outside PCI segment 0 were not examined (the configuration ports reach segment "
               "0 only).\n");
  else
    set_result(tc, TEST_PASS);
  return 0;
}
