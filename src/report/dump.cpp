// ACPI table dumps (-d): DMAR, HPET, MCFG and MADT, printed field by field
// from the program's own copies. Every field is read through byte_view and
// only where it lies inside its table copy or structure; a field that does
// not fit is not read, and a clear line says where the data ran out.
#include "app/app.h"
#include "discovery/table_walks.h"
#include "platform/platform.h"
#include "platform/print.h"
#include "report/dump_fields.h"
#include "report/report.h"

namespace {

// Header characters: a zero byte as a blank (names padded with zeros),
// control bytes (0x01-0x1F, 0x7F) as '?' so that they never reach the
// console, every other byte widened to the UCS-2 character of its value.
char16_t printable(uint8_t c) {
  if (c == 0) return u' ';
  if (c < 0x20 || c == 0x7F) return u'?';
  return (char16_t)c;
}

void print_field(byte_view v, const dump_field_t& f) {
  switch (f.format) {
    case field_format::heading:
      Print("%s", f.label);
      break;
    case field_format::hex:
      if (f.width == 8)
        Print("%s0x%016LX\n", f.label, v.u64(f.offset));
      else if (f.width == 4)
        Print("%s0x%08X\n", f.label, v.u32(f.offset));
      else if (f.width == 2)
        Print("%s0x%04X\n", f.label, v.u16(f.offset));
      else
        Print("%s0x%02X\n", f.label, v.u8(f.offset));
      break;
    case field_format::chars: {
      char16_t text[9];
      size_t n = f.width < 8 ? f.width : 8;
      for (size_t i = 0; i < n; i++) text[i] = printable(v.u8(f.offset + i));
      text[n] = 0;
      Print("%s%s\n", f.label, text);
      break;
    }
    case field_format::bytes:
      Print("%s", f.label);
      dump_bytes(v.data + f.offset, f.width);
      break;
  }
}

// A list of fields, printed in order.
struct field_list_t {
  const dump_field_t* items;
  size_t count;
};

template <size_t N>
constexpr field_list_t fields_of(const dump_field_t (&fields)[N]) {
  return field_list_t{fields, N};
}

// Prints the fields in order. Returns false, having printed the fields
// before it, at the first field that does not lie inside v; *end then holds
// the offset just past that field.
bool print_field_list(byte_view v, field_list_t fields, size_t* end = nullptr) {
  for (size_t i = 0; i < fields.count; i++) {
    const dump_field_t& f = fields.items[i];
    if (f.format != field_format::heading && !v.has(f.offset, f.width)) {
      if (end) *end = (size_t)f.offset + f.width;
      return false;
    }
    print_field(v, f);
  }
  return true;
}

template <size_t N>
bool print_fields(byte_view v, const dump_field_t (&fields)[N]) {
  return print_field_list(v, fields_of(fields));
}

// Heading and common header of a table. False (with a line saying so) when
// the table is absent or too short for its header.
bool dump_heading(byte_view table, const char* name) {
  Print("-- %s --\n", name);
  if (table.empty()) {
    Print("%s table is not present.\n\n", name);
    return false;
  }
  if (!print_fields(table, header_fields)) {
    Print("Error -- %s Table: Length 0x%08X is too short for its fields.\n\n", name, (uint64_t)table.size);
    return false;
  }
  return true;
}

// Fields of a table past its header; false (with the line) when they do not
// fit.
template <size_t N>
bool dump_table_fields(byte_view table, const char* name, const dump_field_t (&fields)[N]) {
  if (print_fields(table, fields)) return true;
  Print("Error -- %s Table: Length 0x%08X is too short for its fields.\n\n", name, (uint64_t)table.size);
  return false;
}

void structure_too_short(const char* name, uint16_t length) {
  Print(" Error -- %s Length 0x%04X is too short for its fields.\n", name, length);
}

// A structure whose Length holds its fields but whose bytes the table's end
// cuts off.
void structure_cut_by_table(const char* name) {
  Print(" Error -- DMAR Table: the %s runs past the table's Length.\n", name);
}

[[noreturn]] void invalid_scope_path() {
  Print("ERROR -- PciPath of Device Scope appears to be invalid.\n");
  end_application(1);
}

// The object name of an ANDD: ASCII up to its zero byte, never beyond the
// structure, copied and widened in pool buffers. Left out when a buffer
// cannot be had.
void dump_andd_name(byte_view andd) {
  byte_view name = andd.sub(ANDD_OFF_OBJECT_NAME);
  size_t n = 0;
  while (n < name.size && name.u8(n) != 0) n++;
  char* ascii = static_cast<char*>(AllocateZeroPool(n + 1));
  char16_t* wide = static_cast<char16_t*>(AllocateZeroPool((n + 1) * sizeof(char16_t)));
  if (ascii && wide) {
    for (size_t i = 0; i < n; i++) ascii[i] = (char)name.u8(i);
    for (size_t i = 0; i < n; i++) wide[i] = (char16_t)(uint8_t)ascii[i];
    // The line end goes apart so that a long name cannot push it out.
    Print(" AcpiObjectName              %s", wide);
    Print("\n");
  }
  if (ascii) FreePool(ascii);
  if (wide) FreePool(wide);
}

struct remap_kind_t {
  uint16_t type;
  uint32_t fixed;      // fixed part before the device scopes; 0: none
  const char* name;    // printed as the heading " --name"
  field_list_t fields;
  field_list_t scope;  // the fields of each of its device scopes
  // Its fields under the general rules, where they name a field otherwise
  // reserved (DRHD byte 5, Size); empty: the same fields.
  field_list_t general_fields;
};

constexpr field_list_t no_fields{nullptr, 0};

constexpr remap_kind_t remap_kinds[] = {
    {DMAR_TYPE_DRHD, DRHD_FIXED_SIZE, "DRHD", fields_of(drhd_fields), fields_of(scope_fields),
     fields_of(drhd_general_fields)},
    {DMAR_TYPE_RMRR, RMRR_FIXED_SIZE, "RMRR", fields_of(rmrr_fields), fields_of(scope_fields), no_fields},
    {DMAR_TYPE_ATSR, ATSR_FIXED_SIZE, "ATSR", fields_of(atsr_fields), fields_of(scope_fields), no_fields},
    {DMAR_TYPE_RHSA, 0, "RHSA", fields_of(rhsa_fields), no_fields, no_fields},
    {DMAR_TYPE_ANDD, 0, "ANDD", fields_of(andd_fields), no_fields, no_fields},
    {DMAR_TYPE_SATC, SATC_FIXED_SIZE, "SATC", fields_of(satc_fields), fields_of(flagged_scope_fields), no_fields},
    {DMAR_TYPE_SIDP, SIDP_FIXED_SIZE, "SIDP", fields_of(sidp_fields), fields_of(flagged_scope_fields), no_fields},
};

const remap_kind_t* find_kind(uint16_t type) {
  for (const remap_kind_t& k : remap_kinds)
    if (k.type == type) return &k;
  return nullptr;
}

// One device scope: its fields, then its path entries. False, with a line
// saying so, when the table ends inside its fields. A path of three or more
// entries (even one whose later entries lie past the structure) is not
// accepted and ends the application.
bool dump_scope(const device_scope_entry_t& scope, field_list_t fields) {
  if (!print_field_list(scope.bytes, fields)) {
    Print("  Error -- DMAR Table: a Device Scope runs past the table's Length.\n");
    return false;
  }
  for_each_path_entry(scope, [](int32_t j, uint8_t device, uint8_t function, uint16_t) {
    Print("  PCI Path:                  D:%0d F:%0d\n", device, function);
    return j < 2;
  });
  if (scope.path_count() > 2) invalid_scope_path();
  return true;
}

// The device scopes after a structure's fixed part, as the scope walk finds
// them. structure: from the structure's start to the table's end. The scopes
// are counted from the structure's Length, each starting inside it; a path
// entry may lie past the structure and is read as long as it lies inside the
// table.
void dump_device_scopes(byte_view structure, uint32_t fixed, field_list_t fields) {
  for_each_scope_found(structure, fixed,
                       [&](const device_scope_entry_t& scope, size_t) { return dump_scope(scope, fields); });
}

// One remapping structure. header: the table from the structure's start to
// the table's end (Type and Length, and the path entries of the device
// scopes, which the dump reads as far as the table goes); s: the structure
// clipped to its Length. False when the walk cannot go on.
bool dump_remap_structure(byte_view header, byte_view s) {
  uint16_t type = remap_type(header);
  uint16_t length = remap_length(header);
  const remap_kind_t* k = find_kind(type);
  if (!k) {
    Print("Error -- DMAR Table: Detected invalid remapping structure type.\n");
    end_application(1);
  }
  Print(" --%s\n", k->name);
  if (!header.has(0, 4)) {
    // The table ends inside Type and Length.
    print_field_list(header, field_list_t{k->fields.items, 2});
    Print("Error -- DMAR Table: a remapping structure runs past the table's Length; stopped dumping the remapping "
          "structures.\n\n");
    return false;
  }
  if (length < 4) {
    // Shorter than its own Type and Length: the next structure cannot be
    // found.
    print_field_list(header, field_list_t{k->fields.items, 2});
    Print("Error -- DMAR Table: Remapping structure Length 0x%04X is below 4; stopped dumping the remapping structures.\n\n",
          length);
    return false;
  }
  size_t field_end = 0;
  field_list_t fields = dmar_general_rules && k->general_fields.count ? k->general_fields : k->fields;
  if (!print_field_list(s, fields, &field_end)) {
    // Blame whichever ended first: the structure's Length or the table.
    if (field_end <= length)
      structure_cut_by_table(k->name);
    else
      structure_too_short(k->name, length);
  } else if (type == DMAR_TYPE_ANDD) {
    dump_andd_name(s);
  } else if (k->fixed) {
    dump_device_scopes(header, k->fixed, k->scope);
  }
  Print("\n");
  return true;
}

}  // namespace

void dump_bytes(const uint8_t* bytes, uint64_t count) {
  for (uint64_t i = 0; i < count; i++) {
    if (i != 0 && i % 8 == 0) Print(" ");
    if (i != 0 && i % 16 == 0) Print("\n                     ");
    Print("%02X ", bytes[i]);
  }
  Print("\n");
}

void dump_header(byte_view table) { print_fields(table, header_fields); }

void dump_dmar(byte_view dmar) {
  if (!dump_heading(dmar, "DMAR")) return;
  if (!dump_table_fields(dmar, "DMAR", dmar_fields)) return;
  if (dmar.u32(DMAR_OFF_LENGTH) <= DMAR_HEADER_SIZE) return;
  byte_view table = dmar.sub(0, (size_t)acpi_table_extent(dmar));
  // Each step moves at least 4 bytes on, so the walk ends by itself; the
  // bound is only a second guard.
  for_each_remap_structure(dmar, (uint32_t)(table.size / 4 + 1), [&](byte_view s, uint32_t offset) {
    return dump_remap_structure(table.sub(offset), s);
  });
}

void dump_hpet(byte_view hpet) {
  if (!dump_heading(hpet, "HPET")) return;
  if (!dump_table_fields(hpet, "HPET", hpet_fields)) return;
  Print("\n");
}

void dump_mcfg(byte_view mcfg) {
  if (!dump_heading(mcfg, "MCFG")) return;
  if (!dump_table_fields(mcfg, "MCFG", mcfg_fields)) return;
  for_each_mcfg_allocation(mcfg, [](const csbaas_t& a) {
    if (print_fields(a.bytes, mcfg_allocation_fields)) return true;
    Print("Error -- MCFG Table: the last allocation structure runs past the table's Length.\n");
    return false;
  });
  Print("\n");
}

void dump_madt(byte_view madt) {
  if (!dump_heading(madt, "MADT")) return;
  if (!dump_table_fields(madt, "MADT", madt_fields)) return;
  uint32_t printed = 0;
  walk_madt(madt, [&](byte_view s) {
    if (!print_fields(s, madt_structure_fields)) {
      Print("Error -- MADT Table: an Interrupt Controller Structure runs past the table's Length.\n");
      return false;
    }
    uint8_t length = s.u8(MADT_STRUCT_OFF_LENGTH);
    if (length < 2) {
      Print("Error -- MADT Table: Interrupt Controller Structure Length 0x%02X is below 2; stopped dumping.\n", length);
      return false;
    }
    Print("%s", madt_binary_label);
    if (!s.has(0, length)) {
      dump_bytes(s.data + 2, s.size - 2);
      Print("Error -- MADT Table: an Interrupt Controller Structure runs past the table's Length.\n");
      return false;
    }
    dump_bytes(s.data + 2, length - 2u);
    if (++printed == MADT_DUMP_MAX_STRUCTURES) {
      Print("\nWarning: Stopped dumping the Interrupt Controller Structure(s). Data not appearing valid.\n");
      return false;
    }
    return true;
  });
  Print("\n");
}
