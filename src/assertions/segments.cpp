// PCI segments of the DMAR structures against the MCFG, the starting buses
// of their device scopes against the segments' bus ranges, and the
// uniqueness of the request IDs that the DRHD scopes name.
#include "assertions/assertions.h"
#include "discovery/table_walks.h"
#include "engine/sources.h"
#include "platform/print.h"

namespace {

// True when every structure of the list carries the segment (at the
// list's SegmentNumber offset).
bool list_all_in_segment(list_entry& list, uint32_t at, uint16_t segment) {
  for (remap_node_t* node : each<remap_node_t>(list))
    if (node->SegmentNumber(at) != segment) return false;
  return true;
}

struct scope_kind {
  list_entry* list;
  uint32_t fixed;
  uint32_t segment_at;
  const char* header_line;
  const char* segment_line;
  const char* failure;          // test 13
  const char* segment_failure;  // test 12
};

const scope_kind scope_kinds[] = {
    {&drhd_list, DRHD_FIXED_SIZE, DRHD_OFF_SEGMENT, "DEBUG -- #%d : DRHD DeviceScope(%d):\n",
     "DEBUG -- #%d : drnode->remap->SegmentNumber=%d\n",
     "PCI device(s) reported in DRHD Device Scope Structure(s) is (are) not valid.\n",
     "PCI segment reported in DRHD is not valid.\n"},
    {&rmrr_list, RMRR_FIXED_SIZE, RMRR_OFF_SEGMENT, "DEBUG -- #%d : RMRR DeviceScope(%d):\n",
     "DEBUG -- #%d : rmnode->remap->SegmentNumber=%d\n",
     "PCI device(s) reported in RMRR Device Scope Structure(s) is (are) not valid.\n",
     "PCI segment reported in RMRR is not valid.\n"},
    {&atsr_list, ATSR_FIXED_SIZE, ATSR_OFF_SEGMENT, "DEBUG -- #%d : ASTR DeviceScope(%d):\n",
     "DEBUG -- #%d : atnode->remap->SegmentNumber=%d\n",
     "PCI device(s) reported in ATSR Device Scope Structure(s) is (are) not valid.\n",
     "PCI segment reported in ATSR is not valid.\n"},
};

// The general rules of tests 12 and 13 judge each segment on its own: a
// structure names a segment that some MCFG allocation has, and a PCI
// scope's starting bus lies in the bus range of some allocation of its
// structure's segment. One pass over the MCFG marks, for each segment the
// structures name, whether it has an allocation and which buses; the lists
// hold at most DMAR_MAX_STRUCTURES + 1 structures, so that many segments at
// the most.
struct segment_buses {
  uint16_t segment;
  bool allocated;
  uint8_t buses[256 / 8];
  bool has_bus(uint8_t bus) const { return (buses[bus / 8] >> (bus % 8)) & 1; }
};

struct segment_map {
  segment_buses segments[DMAR_MAX_STRUCTURES + 1];
  uint32_t count = 0;

  const segment_buses* find(uint16_t segment) const {
    for (uint32_t i = 0; i < count; i++)
      if (segments[i].segment == segment) return &segments[i];
    return nullptr;
  }
  explicit segment_map(byte_view mcfg) {
    for (const scope_kind& kind : scope_kinds)
      for (remap_node_t* node : each<remap_node_t>(*kind.list)) {
        uint16_t segment = node->SegmentNumber(kind.segment_at);
        if (find(segment) || count == DMAR_MAX_STRUCTURES + 1) continue;
        segments[count++] = segment_buses{segment, false, {}};
      }
    for_each_mcfg_allocation(mcfg, [&](const csbaas_t& a) {
      if (segment_buses* s = const_cast<segment_buses*>(find(a.pci_segment()))) {
        s->allocated = true;
        for (uint32_t bus = a.start_bus(); bus <= a.end_bus(); bus++) s->buses[bus / 8] |= (uint8_t)(1u << (bus % 8));
      }
      return true;
    });
  }
  bool allocated(uint16_t segment) const {
    const segment_buses* s = find(segment);
    return s && s->allocated;
  }
};

// The first kind with a structure in a segment without allocation.
const char* structure_outside_mcfg(const segment_map& map) {
  for (const scope_kind& kind : scope_kinds)
    for (remap_node_t* node : each<remap_node_t>(*kind.list))
      if (!map.allocated(node->SegmentNumber(kind.segment_at))) return kind.segment_failure;
  return nullptr;
}

// The first kind with a PCI scope outside its segment's bus ranges (a
// segment without allocation is test 12's finding).
const char* scope_bus_outside_segment(const segment_map& map) {
  for (const scope_kind& kind : scope_kinds) {
    bool inside = for_each_list_scope(*kind.list, kind.fixed, [&](remap_node_t* node, const device_scope_entry_t& sc) {
      const segment_buses* s = map.find(node->SegmentNumber(kind.segment_at));
      return sc.Type() > SCOPE_PCI_SUBHIERARCHY || !s || !s->allocated || s->has_bus(sc.StartingBusNumber());
    });
    if (!inside) return kind.failure;
  }
  return nullptr;
}

}  // namespace

bool missing_mcfg(const acpi_tables_t* tables) {
  if (tables->mcfg) return false;
  // Under the general rules one line tells it, however many checks need it.
  if (!general_rules() || !mcfg_absence_told) Print("ERROR -- Missing MCFG Table.\n");
  mcfg_absence_told = true;
  return true;
}

// Every MCFG allocation's segment is named by some DRHD.
uint64_t assert_segments_reported(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(11, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 11)) return 0;
  if (missing_mcfg(tables)) return 1;
  uint32_t allocations = 0, reported = 0;
  for_each_mcfg_allocation(mcfg_view(*tables), [&](const csbaas_t& a) {
    allocations++;
    for (remap_node_t* node : each<remap_node_t>(drhd_list)) {
      if (node->SegmentNumber() == a.pci_segment()) {
        reported++;
        break;
      }
    }
    return true;
  });
  if (allocations != 0 && reported != allocations)
    set_result(tc, TEST_FAIL, "All PCI segments in platform are not reported in the DMAR table.\n");
  else
    set_result(tc, TEST_PASS);
  return 0;
}

// Every DRHD, RMRR and ATSR carries the segment of every allocation.
uint64_t assert_segments_valid(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(12, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 12)) return 0;
  if (missing_mcfg(tables)) return 1;
  const char* failure = nullptr;
  byte_view mcfg = mcfg_view(*tables);
  if (general_rules()) {
    // Each structure names a segment of the platform, whichever it is.
    failure = structure_outside_mcfg(segment_map(mcfg));
  } else {
    for_each_mcfg_allocation(mcfg, [&](const csbaas_t& a) {
      for (const scope_kind& kind : scope_kinds)
        if (!failure && !list_all_in_segment(*kind.list, kind.segment_at, a.pci_segment()))
          failure = kind.segment_failure;
      return failure == nullptr;
    });
  }
  set_result(tc, failure ? TEST_FAIL : TEST_PASS, failure);
  note_general_rule(tc, "every DRHD, RMRR and ATSR names a PCI segment of the MCFG.");
  return 0;
}

namespace {

// The lowest and highest starting bus of the PCI scopes (types 0 to 2) of
// one kind's structures in one segment. A scope of the segment lies outside
// an allocation's range exactly when the lowest lies below it or the
// highest above it. The spans are kept kind by kind, in kind order.
struct bus_span {
  uint8_t kind;
  uint8_t lowest, highest;
  uint16_t segment;
};
// The lists hold at most 102 structures, so they name fewer segments than
// this; a list built otherwise that names more is walked scope by scope.
constexpr uint32_t MAX_BUS_SPANS = 128;

// Widens the kind's span of the segment to the bus; false when a new span
// does not fit.
bool widen_span(bus_span* spans, uint32_t& count, uint8_t kind, uint16_t segment, uint8_t bus) {
  for (uint32_t i = 0; i < count; i++) {
    bus_span& b = spans[i];
    if (b.kind != kind || b.segment != segment) continue;
    if (bus < b.lowest) b.lowest = bus;
    if (bus > b.highest) b.highest = bus;
    return true;
  }
  if (count == MAX_BUS_SPANS) return false;
  spans[count++] = bus_span{kind, bus, bus, segment};
  return true;
}

}  // namespace

// Debug lines are printed for this many (allocation, scope) pairs; the pairs
// after them are checked all the same, silently. Far more than a platform
// has, and a table of a million allocations cannot flood the console.
constexpr uint32_t SCOPE_BUS_DEBUG_PAIRS = 4096;

// The starting bus of every PCI scope (types 1 and 2, and the undefined 0)
// of a structure in an allocation's segment lies in that allocation's range.
uint64_t assert_scope_buses_valid(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(13, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 13)) return 0;
  if (missing_mcfg(tables)) return 1;
  if (general_rules()) {
    const char* outside = scope_bus_outside_segment(segment_map(mcfg_view(*tables)));
    set_result(tc, outside ? TEST_FAIL : TEST_PASS, outside);
    note_general_rule(tc, "a scope's starting bus lies in a bus range of an MCFG allocation of its segment.");
    return 0;
  }
  const char* failure = nullptr;
  uint32_t pairs = 0;
  const csbaas_t* at = nullptr;  // the allocation being checked
  uint8_t k = 0;                 // the kind being walked
  // Once the debug lines are done, each allocation is held against the bus
  // spans taken in one walk over the scopes, not against every scope again:
  // the same verdict and message, in allocation order, then kind order.
  bus_span spans[MAX_BUS_SPANS];
  uint32_t span_count = 0;
  bool building = false, overflow = false, spans_tried = false;
  auto visit = [&](remap_node_t* node, const device_scope_entry_t& s) {
    const scope_kind& kind = scope_kinds[k];
    const csbaas_t& a = *at;
    uint16_t segment = node->SegmentNumber(kind.segment_at);
    if (building) {
      if (s.Type() > SCOPE_PCI_SUBHIERARCHY || widen_span(spans, span_count, k, segment, s.StartingBusNumber()))
        return true;
      overflow = true;
      return false;
    }
    if (pairs < SCOPE_BUS_DEBUG_PAIRS) {
      debug_print(debug_mask, kind.header_line, 13, s.index);
      debug_print(debug_mask, kind.segment_line, 13, segment);
      debug_print(debug_mask, "DEBUG -- #%d : ((csbaas_t*)loc)->pci_segment)=%d\n", 13, a.pci_segment());
      debug_print(debug_mask, "DEBUG -- #%d : ((((device_scope_entry_t*)ds_loc)->StartingBusNumber=%d\n", 13,
                  s.StartingBusNumber());
      debug_print(debug_mask, "DEBUG -- #%d : ((csbaas_t*)loc)->start_bus=%d\n", 13, a.start_bus());
      debug_print(debug_mask, "DEBUG -- #%d : ((csbaas_t*)loc)->end_bus=%d\n", 13, a.end_bus());
    } else if (pairs == SCOPE_BUS_DEBUG_PAIRS) {
      debug_print(debug_mask, "DEBUG -- #%d : further allocation and scope pairs are checked without debug lines\n",
                  13);
    }
    if (pairs <= SCOPE_BUS_DEBUG_PAIRS) pairs++;
    if (s.Type() <= SCOPE_PCI_SUBHIERARCHY && segment == a.pci_segment() &&
        (s.StartingBusNumber() < a.start_bus() || s.StartingBusNumber() > a.end_bus())) {
      failure = kind.failure;
      return false;
    }
    return true;
  };
  auto walk_kinds = [&] {
    for (k = 0; k < 3; k++)
      if (!for_each_list_scope(*scope_kinds[k].list, scope_kinds[k].fixed, visit)) return false;
    return true;
  };
  for_each_mcfg_allocation(mcfg_view(*tables), [&](const csbaas_t& a) {
    at = &a;
    for (;;) {
      if (spans_tried && !overflow) {
        for (uint32_t i = 0; i < span_count; i++) {
          const bus_span& b = spans[i];
          if (b.segment == a.pci_segment() && (b.lowest < a.start_bus() || b.highest > a.end_bus())) {
            failure = scope_kinds[b.kind].failure;
            return false;
          }
        }
        return true;
      }
      // The first allocation after the debug lines takes the spans instead.
      building = !spans_tried && pairs > SCOPE_BUS_DEBUG_PAIRS;
      bool go_on = walk_kinds();
      if (!building) return go_on;
      building = false;
      spans_tried = true;
    }
  });
  set_result(tc, failure ? TEST_FAIL : TEST_PASS, failure);
  return 0;
}

// No two path entries of the DRHD scopes (any type, any DRHD) name the same
// request ID.
uint64_t assert_request_ids_unique(acpi_tables_t* tables, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(14, false);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 14)) return 0;
  // Under the general rules each segment is judged on its own, a scope by
  // the device it names.
  bool duplicate = false;
  if (general_rules()) {
    duplicate = drhd_scopes_name_a_device_twice();
  } else {
    request_id_set seen;
    seen.clear();
    uint32_t k = 0;
    for_each_list_scope(drhd_list, DRHD_FIXED_SIZE, [&](remap_node_t*, const device_scope_entry_t& s) {
      return for_each_path_entry(s, [&](int32_t, uint8_t, uint8_t, uint16_t rid) {
        debug_print(debug_mask, "DEBUG -- #%d : reqid[%d].raw = %0x\n", 14, k, rid);
        debug_print(debug_mask, "DEBUG -- #%d : b:%d d:%d f:%d\n", 14, rid >> 8, (rid >> 3) & 0x1F, rid & 7);
        k++;
        if (!seen.add(rid)) duplicate = true;
        return true;
      });
    });
  }
  if (duplicate)
    set_result(tc, TEST_FAIL, "All Request ID for DRHD must be unique.\n");
  else
    set_result(tc, TEST_PASS);
  note_general_rule(tc, "the scopes name distinct devices in each PCI segment.");
  return 0;
}
