#include "discovery/remap_lists.h"
#include "discovery/table_walks.h"

#include "catalogue/catalogue.h"
#include "discovery/pci_inventory.h"
#include "facts/known.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "platform/text.h"

list_entry drhd_list = LIST_HEAD_INIT(drhd_list);
list_entry rmrr_list = LIST_HEAD_INIT(rmrr_list);
list_entry atsr_list = LIST_HEAD_INIT(atsr_list);
list_entry rhsa_list = LIST_HEAD_INIT(rhsa_list);
list_entry andd_list = LIST_HEAD_INIT(andd_list);
list_entry satc_list = LIST_HEAD_INIT(satc_list);
list_entry sidp_list = LIST_HEAD_INIT(sidp_list);
uint32_t scope_reads_outside = 0;

scope_form scope_form_at(byte_view structure, size_t offset) {
  size_t end = remap_length(structure) < structure.size ? remap_length(structure) : structure.size;
  if (offset + SCOPE_OFF_LENGTH >= end) return SCOPE_PAST_STRUCTURE;
  uint8_t length = structure.u8(offset + SCOPE_OFF_LENGTH);
  if (length < SCOPE_MIN_LENGTH) return SCOPE_TOO_SHORT;
  if (length % 2) return SCOPE_ODD_PATH;
  return offset + length > end ? SCOPE_PAST_STRUCTURE : SCOPE_WELL_FORMED;
}

__attribute__((noinline)) uint8_t device_scope_entry_t::at(size_t offset) const {
  if (offset < bytes.size) return bytes.data[offset];
  if (own_length) scope_reads_outside++;
  return 0;
}

path_entry path_entry_at(const device_scope_entry_t& scope, int32_t j) {
  return path_entry{scope.path_device(j), scope.path_function(j), scope.path_request_id(j)};
}

// ---------------------------------------------------------------------------
// The steps of the scope walks (table_walks.h).

namespace {
// True while the cursor is at a scope of the structure.
bool at_scope(const scope_cursor& c) {
  if (c.offset >= c.structure.size) return false;
  if (!dmar_general_rules) return c.index < c.count;
  // By Length: a scope starts inside the structure's Length.
  return c.offset < remap_length(c.structure);
}

// One step by the rule of the run.
void step_scope(scope_cursor& c) {
  c.index++;
  if (!dmar_general_rules) {
    c.offset += SCOPE_STEP;
    return;
  }
  // A scope shorter than its own header cannot be stepped over: the walk
  // ends after it.
  uint8_t length = c.structure.u8(c.offset + SCOPE_OFF_LENGTH);
  c.offset = length < SCOPE_OFF_PATH ? c.structure.size : c.offset + length;
}

// Under the general rules the assertions' walks pass over malformed scopes
// (the structural check names them); then the scope at the cursor is
// viewed, to its own Length where the walk gives well formed ones only.
void settle_scope(scope_cursor& c) {
  bool own = dmar_general_rules && !c.every;
  if (own)
    while (at_scope(c) && scope_form_at(c.structure, c.offset) != SCOPE_WELL_FORMED) step_scope(c);
  c.at = at_scope(c);
  if (!c.at) return;
  c.scope = device_scope_entry_t{
      c.structure.sub(c.offset, own ? c.structure.u8(c.offset + SCOPE_OFF_LENGTH) : (size_t)-1), c.index, own};
}

// From the cursor's node on, the first node that has a scope at or after
// the cursor's scope.
void settle(list_scope_cursor& c) {
  while (c.node && !c.scope.at) {
    list_entry* next = c.node->link.next;
    c.node = next == c.list ? nullptr : reinterpret_cast<remap_node_t*>(next);
    if (c.node) first_scope(c.scope, c.node->view(), c.fixed);
  }
}
}  // namespace

void first_scope(scope_cursor& c, const byte_view& structure, uint32_t fixed, bool every) {
  c = scope_cursor{structure, fixed, 0, dmar_general_rules ? 0 : scope_count(structure, fixed), every, false, {}};
  settle_scope(c);
}

void next_scope(scope_cursor& c) {
  step_scope(c);
  settle_scope(c);
}

void first_list_scope(list_scope_cursor& c, list_entry& list, uint32_t fixed) {
  c = list_scope_cursor{&list, fixed, nullptr, {}};
  if (!list_empty(list)) {
    c.node = reinterpret_cast<remap_node_t*>(list.next);
    first_scope(c.scope, c.node->view(), fixed);
  }
  settle(c);
}

void next_list_scope(list_scope_cursor& c) {
  next_scope(c.scope);
  settle(c);
}

malformed_scope first_malformed_scope;

namespace {
// Notes the structure's first malformed scope, unless one was noted before:
// the walk of every scope as found, by their Length.
void note_malformed_scope(byte_view s, uint32_t at) {
  uint16_t type = remap_type(s);
  uint32_t fixed = scope_fixed_size(type);
  if (!fixed || first_malformed_scope.form != SCOPE_WELL_FORMED) return;
  for_each_scope_found(s, fixed, [&](const device_scope_entry_t& scope, size_t offset) {
    scope_form form = scope_form_at(s, offset);
    if (form != SCOPE_WELL_FORMED) first_malformed_scope = {type, at, at + (uint32_t)offset, scope.Length(), form};
    return form == SCOPE_WELL_FORMED;
  });
}
}  // namespace

// ---------------------------------------------------------------------------
// The structure walk, the teardown and the RMRR query.

namespace {

void print_out_of_memory() { Print("ERROR -- DMAR Table: Out of memory while collecting remapping structures.\n"); }

// A node owning a copy of Length bytes; only the bytes that lie inside the
// table are copied, the rest of the zero-filled copy stays zero.
uint64_t take_structure(list_entry& list, byte_view rest, uint16_t length) {
  remap_node_t* node = static_cast<remap_node_t*>(AllocateZeroPool(sizeof(remap_node_t)));
  if (!node) return 1;
  uint8_t* copy = static_cast<uint8_t*>(AllocateZeroPool(length ? length : 1));
  if (!copy) {
    FreePool(node);
    return 1;
  }
  mem_copy(copy, rest.data, length < rest.size ? length : rest.size);
  node->remap = copy;
  node->length = length;
  list_append(list, &node->link);
  return 0;
}

uint64_t take_rhsa(byte_view rest) {
  rhsa_node_t* node = static_cast<rhsa_node_t*>(AllocateZeroPool(sizeof(rhsa_node_t)));
  if (!node) return 1;
  mem_copy(node->rhsa, rest.data, RHSA_SIZE < rest.size ? RHSA_SIZE : rest.size);
  list_append(rhsa_list, &node->link);
  return 0;
}

// Frees every node of the list, after release(node) frees what the node
// owns (nodes that own nothing take no release).
template <class Node>
void empty_list(list_entry& list, void (*release)(Node*) = nullptr) {
  while (!list_empty(list)) {
    Node* node = reinterpret_cast<Node*>(list.next);
    list_unlink(&node->link);
    if (release) release(node);
    FreePool(node);
  }
}

void release_remap(remap_node_t* node) {
  if (node->remap) FreePool(node->remap);
}

}  // namespace

uint64_t parse_remap_structures(byte_view dmar, uint64_t* calc_len) {
  *calc_len = DMAR_HEADER_SIZE;
  first_malformed_scope = malformed_scope{};
  uint64_t failed = 0;
  uint32_t taken = 0;
  byte_view table = dmar.sub(0, (size_t)acpi_table_extent(dmar));
  // One step more than a DMAR may hold, so that the walk reaches the
  // structure that is one too many (a zero Length repeats one structure).
  for_each_remap_structure(dmar, DMAR_MAX_STRUCTURES + 1, [&](byte_view structure, uint32_t offset) {
    // The list of each type with its own copies; RHSA nodes hold theirs.
    list_entry* const lists[] = {&drhd_list, &rmrr_list, &atsr_list, nullptr, &andd_list, &satc_list, &sidp_list};
    uint16_t type = remap_type(structure);
    uint16_t length = remap_length(structure);
    if (type > DMAR_TYPE_SIDP) {
      Print("Error -- DMAR Table: Detected invalid remapping structure type.\n");
      failed = 1;
      return false;
    }
    if (dmar_general_rules) note_malformed_scope(structure, offset);
    if (type == DMAR_TYPE_RHSA)
      failed = take_rhsa(table.sub(offset));  // 20 bytes, whatever its Length says
    else
      failed = take_structure(*lists[type], structure, length);
    if (failed) {
      print_out_of_memory();
      return false;
    }
    *calc_len += length;
    if (++taken > DMAR_MAX_STRUCTURES) {
      Print("ERROR -- DMAR Table: Remapping structures collection timed out.\n");
      failed = 1;
      return false;
    }
    return true;
  });
  return failed;
}

void free_test_data(acpi_tables_t* tables) {
  uint8_t** copies[] = {&tables->dmar, &tables->mcfg, &tables->madt, &tables->hpet};
  for (uint8_t** copy : copies) {
    if (*copy) FreePool(*copy);
    *copy = nullptr;
  }
  tables->dmar_len = tables->mcfg_len = tables->madt_len = tables->hpet_len = 0;
  list_entry* const owning[] = {&drhd_list, &rmrr_list, &atsr_list, &andd_list, &satc_list, &sidp_list};
  for (list_entry* list : owning) empty_list<remap_node_t>(*list, release_remap);
  empty_list<rhsa_node_t>(rhsa_list);
  empty_list<pci_dev_t>(pci_dev_list);
  empty_list<test_case_node_t>(test_case_list);
  test_record_missing = false;
  mcfg_absence_told = false;
  reset_sources();
}

bool rmrr_scope_has_rid(uint16_t rid) {
  return any_list_scope(rmrr_list, RMRR_FIXED_SIZE,
                        [&](remap_node_t*, const device_scope_entry_t& scope) { return scope_names_rid(scope, rid); });
}
