// The dumps against the real-firmware corpus and an independent decoder:
// every DMAR, MCFG, MADT and HPET of ../shared/corpus is dumped, and every
// field the dump prints must hold the value that `iasl -d` decodes at the
// same table offset, under a label that names the same field. The SATC and
// SIDP structures, which the iasl of Debian 12 (20200925) does not decode,
// are held against the table's own bytes instead. Differences that follow
// from the dump's own rules are counted apart, by rule; any other
// difference fails the test and is listed per table.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <set>

#include "report/report.h"
#include "support/harness.h"
#include "support/iasl_text.h"

using namespace testing_support;

namespace {

// ---------------------------------------------------------------------------
// Where each line of our dump comes from: for every label, the field's
// offset inside its table or structure, its width, and the names iasl gives
// that field.

enum class value_kind { hex, chars, bytes, path };

struct field_ref {
  size_t offset;
  size_t width;
  value_kind kind;
  std::set<std::string> iasl_labels;
};

using field_map = std::map<std::string, field_ref>;

const field_map header_map = {
    {"Signature", {0, 4, value_kind::chars, {"Signature"}}},
    {"Length", {4, 4, value_kind::hex, {"Table Length"}}},
    {"Revision", {8, 1, value_kind::hex, {"Revision"}}},
    {"Checksum", {9, 1, value_kind::hex, {"Checksum"}}},
    {"OEMID", {10, 6, value_kind::chars, {"Oem ID"}}},
    {"OEMTableID", {16, 8, value_kind::chars, {"Oem Table ID"}}},
    {"OEMRevision", {24, 4, value_kind::hex, {"Oem Revision"}}},
    {"CreatorID", {28, 4, value_kind::chars, {"Asl Compiler ID"}}},
    {"CreatorRevision", {32, 4, value_kind::hex, {"Asl Compiler Revision"}}},
    // DMAR
    {"HostAddressWidth", {36, 1, value_kind::hex, {"Host Address Width"}}},
    {"Flags@DMAR", {37, 1, value_kind::hex, {"Flags"}}},
    {"Reserved@DMAR", {38, 10, value_kind::bytes, {"Reserved"}}},
    // HPET
    {"Event_Timer_Block_ID", {36, 4, value_kind::hex, {"Hardware Block ID"}}},
    {" Address_Space_ID", {40, 1, value_kind::hex, {"Space ID"}}},
    {" Register_Bit_Width", {41, 1, value_kind::hex, {"Bit Width"}}},
    {" Register_Bit_Offset", {42, 1, value_kind::hex, {"Bit Offset"}}},
    {" Reserved@HPET", {43, 1, value_kind::hex, {"Encoded Access Width"}}},
    {" 64-bit address", {44, 8, value_kind::hex, {"Address"}}},
    {"HPET Number", {52, 1, value_kind::hex, {"Sequence Number"}}},
    {"Clock_tick", {53, 2, value_kind::hex, {"Minimum Clock Ticks"}}},
    {"Page Protection", {55, 1, value_kind::hex, {"Flags (decoded below)"}}},
    // MCFG
    {"Reserved@MCFG", {36, 8, value_kind::bytes, {"Reserved"}}},
    // MADT
    {"Local APIC Address", {36, 4, value_kind::hex, {"Local Apic Address"}}},
    {"Flags@APIC", {40, 4, value_kind::hex, {"Flags (decoded below)"}}},
};

const field_ref type16{0, 2, value_kind::hex, {"Subtable Type"}};
const field_ref length16{2, 2, value_kind::hex, {"Length"}};

const std::map<std::string, field_map> remap_maps = {
    {"DRHD",
     {{" Type", type16},
      {" Length", length16},
      {" Flags", {4, 1, value_kind::hex, {"Flags"}}},
      {" Reserved", {5, 1, value_kind::hex, {"Reserved"}}},
      {" SegmentNumber", {6, 2, value_kind::hex, {"PCI Segment Number"}}},
      {" RegisterBaseAddress", {8, 8, value_kind::hex, {"Register Base Address"}}}}},
    {"RMRR",
     {{" Type", type16},
      {" Length", length16},
      {" Reserved", {4, 2, value_kind::hex, {"Reserved"}}},
      {" SegmentNumber", {6, 2, value_kind::hex, {"PCI Segment Number"}}},
      {" RMR Base Address", {8, 8, value_kind::hex, {"Base Address"}}},
      {" RMR Limit Address", {16, 8, value_kind::hex, {"End Address (limit)"}}}}},
    {"ATSR",
     {{" Type", type16},
      {" Length", length16},
      {" Flags", {4, 1, value_kind::hex, {"Flags"}}},
      {" Reserved", {5, 1, value_kind::hex, {"Reserved"}}},
      {" SegmentNumber", {6, 2, value_kind::hex, {"PCI Segment Number"}}}}},
    {"RHSA",
     {{" Type", type16},
      {" Length", length16},
      {" Reserved", {4, 4, value_kind::hex, {"Reserved"}}},
      {" Register Base Address", {8, 8, value_kind::hex, {"Base Address"}}},
      {" Proximity Domain", {16, 4, value_kind::hex, {"Proximity Domain"}}}}},
    {"ANDD",
     {{" Type", type16},
      {" Length", length16},
      {" Reserved", {4, 3, value_kind::bytes, {"Reserved"}}},
      {" AcpiDevNum", {7, 1, value_kind::hex, {"Device Number"}}},
      {" AcpiObjectName", {8, 0, value_kind::chars, {"Device Name"}}}}},
    // No iasl names: held against the table's bytes.
    {"SATC",
     {{" Type", {0, 2, value_kind::hex, {}}},
      {" Length", {2, 2, value_kind::hex, {}}},
      {" Flags", {4, 1, value_kind::hex, {}}},
      {" Reserved", {5, 1, value_kind::hex, {}}},
      {" SegmentNumber", {6, 2, value_kind::hex, {}}}}},
    {"SIDP",
     {{" Type", {0, 2, value_kind::hex, {}}},
      {" Length", {2, 2, value_kind::hex, {}}},
      {" Reserved", {4, 2, value_kind::hex, {}}},
      {" SegmentNumber", {6, 2, value_kind::hex, {}}}}},
};
const std::map<std::string, size_t> scope_start = {{"DRHD", 16}, {"RMRR", 24}, {"ATSR", 8}, {"SATC", 8}, {"SIDP", 8}};
// The structure kinds held against the table's bytes, not iasl.
const std::set<std::string> raw_kinds = {"SATC", "SIDP"};

const field_map scope_map = {
    {"  Type", {0, 1, value_kind::hex, {"Device Scope Type"}}},
    {"  Length", {1, 1, value_kind::hex, {"Entry Length"}}},
    {"  Reserved", {2, 2, value_kind::hex, {"Reserved"}}},
    {"  Enumeration ID", {4, 1, value_kind::hex, {"Enumeration ID"}}},
    {"  Start Bus Number", {5, 1, value_kind::hex, {"PCI Bus Number"}}},
};

// Device scopes of SATC and SIDP: byte 2 is their Flags byte.
const field_map flagged_scope_map = {
    {"  Type", {0, 1, value_kind::hex, {}}},
    {"  Length", {1, 1, value_kind::hex, {}}},
    {"  Flags", {2, 1, value_kind::hex, {}}},
    {"  Reserved", {3, 1, value_kind::hex, {}}},
    {"  Enumeration ID", {4, 1, value_kind::hex, {}}},
    {"  Start Bus Number", {5, 1, value_kind::hex, {}}},
};

const field_map mcfg_allocation_map = {
    {" Base Address", {0, 8, value_kind::hex, {"Base Address"}}},
    {" PCI Segment Group Number", {8, 2, value_kind::hex, {"Segment Group Number"}}},
    {" Start Bus Number", {10, 1, value_kind::hex, {"Start Bus Number"}}},
    {" End Bus Number", {11, 1, value_kind::hex, {"End Bus Number"}}},
    {" Reserved", {12, 4, value_kind::hex, {"Reserved"}}},
};

const field_map madt_structure_map = {
    {" Type", {0, 1, value_kind::hex, {"Subtable Type"}}},
    {" Length", {1, 1, value_kind::hex, {"Length"}}},
    {" Binary Data:", {2, 0, value_kind::bytes, {}}},  // bytes only: iasl splits them into fields
};

// ---------------------------------------------------------------------------
// The comparison of one table.

// The rules of the dump under which it parts from a decoder that follows
// every Length.
enum rule_id {
  rule_scope_stride,    // device scopes are taken 8 bytes apart, whatever their Length
  rule_unknown_type,    // a remapping structure type above 6 ends the application
  rule_path_length,     // a device-scope path of three entries ends the application
  rule_madt_cut,        // the MADT dump stops after 51 structures
  rule_iasl_stops,      // iasl stops at the first SATC or SIDP, which the dump prints
  rule_count
};
const char* const rule_names[rule_count] = {
    "device scopes taken 8 bytes apart (Length other than 8 before them)",
    "remapping structure type above 6 ends the application",
    "device-scope path of three or more entries ends the application",
    "MADT dump stops after 51 interrupt controller structures",
    "iasl stops at a SATC or SIDP (Unknown Subtable Type); the dump goes on, held against the table's bytes",
};

struct table_report {
  std::string name;
  std::vector<std::string> unexplained;
  size_t documented[rule_count] = {};
  size_t compared = 0;
  size_t raw_compared = 0;  // SATC and SIDP fields, against the table's bytes
  size_t iasl_unknown = 0;
};

struct our_line {
  std::string label;  // the 29-character label column, right blanks removed
  std::string value;
};

std::string hex_string(const std::vector<uint8_t>& b) {
  std::string s;
  char buf[4];
  for (uint8_t c : b) {
    snprintf(buf, sizeof buf, "%02X ", c);
    s += buf;
  }
  return s;
}

// The table's own bytes, as a reference without labels.
decoded_table raw_reference(const std::string& table) {
  decoded_table t;
  for (size_t i = 0; i < table.size(); i++) t.bytes[i] = (uint8_t)table[i];
  return t;
}

struct comparer {
  const decoded_table& iasl;  // or the table's bytes (raw_reference)
  table_report& report;
  size_t& counted;
  const char* source;  // names the reference in the messages

  void differ(const std::string& what, int rule) {
    if (rule >= 0)
      report.documented[rule]++;
    else
      report.unexplained.push_back(what);
  }

  // Compares one printed field at absolute offset off.
  void field(const std::string& label, const field_ref& ref, size_t off, const std::string& value, int rule_if_wrong,
             size_t width_override = 0) {
    counted++;
    size_t width = width_override ? width_override : ref.width;
    char where[64];
    snprintf(where, sizeof where, "@0x%zX ", off);
    if (!ref.iasl_labels.empty() && !iasl.has_label_at(off, ref.iasl_labels)) {
      differ(where + label + ": iasl has " + iasl.labels_at(off) + " there", rule_if_wrong);
      return;
    }
    if (ref.kind == value_kind::chars) {
      auto it = iasl.strings.find(off);
      std::string theirs = it == iasl.strings.end() ? "" : it->second;
      // iasl ends a name at its first zero byte; the dump shows zeros as
      // blanks. The dump's column is the full field.
      std::string ours = value;
      if (ref.width == 0) {
        if (ours != theirs) differ(where + label + ": '" + ours + "' vs iasl '" + theirs + "'", rule_if_wrong);
        return;
      }
      // Ours widens bytes 0x80-0xFF to their characters (two UTF-8 bytes
      // here); iasl shows those, like control bytes, as blanks.
      std::vector<unsigned> chars;
      for (size_t i = 0; i < ours.size(); i++) {
        unsigned char c = (unsigned char)ours[i];
        if ((c == 0xC2 || c == 0xC3) && i + 1 < ours.size()) {
          chars.push_back(((c & 0x1Fu) << 6) | ((unsigned char)ours[++i] & 0x3Fu));
        } else {
          chars.push_back(c);
        }
      }
      bool same = chars.size() == ref.width;
      for (size_t i = 0; same && i < ref.width; i++) {
        char expect = i < theirs.size() ? theirs[i] : ' ';
        same = chars[i] == (unsigned char)expect || ((chars[i] == '?' || chars[i] >= 0x80) && expect == ' ');
      }
      if (!same) differ(where + label + ": '" + ours + "' vs iasl '" + theirs + "'", rule_if_wrong);
      return;
    }
    std::vector<uint8_t> ours;
    if (ref.kind == value_kind::hex) {
      if (value.compare(0, 2, "0x") != 0 || value.size() != 2 + 2 * width || !is_hex(value.substr(2))) {
        differ(where + label + ": malformed value '" + value + "'", -1);
        return;
      }
      uint64_t n = strtoull(value.c_str() + 2, nullptr, 16);
      for (size_t i = 0; i < width; i++) ours.push_back((uint8_t)(n >> (8 * i)));
    } else if (ref.kind == value_kind::path) {
      unsigned d = 0, f = 0;
      if (sscanf(value.c_str(), "D:%u F:%u", &d, &f) != 2) {
        differ(where + label + ": malformed value '" + value + "'", -1);
        return;
      }
      ours = {(uint8_t)d, (uint8_t)f};
    } else {
      size_t p = 0;
      while (p + 2 <= value.size()) {
        if (value[p] == ' ') {
          p++;
          continue;
        }
        ours.push_back((uint8_t)strtoul(value.substr(p, 2).c_str(), nullptr, 16));
        p += 2;
      }
      if (ours.size() != width) {
        differ(where + label + ": " + std::to_string(ours.size()) + " bytes printed, " + std::to_string(width) +
                   " expected",
               -1);
        return;
      }
    }
    std::vector<uint8_t> theirs;
    for (size_t i = 0; i < ours.size(); i++) {
      auto it = iasl.bytes.find(off + i);
      if (it == iasl.bytes.end()) {
        char b[80];
        snprintf(b, sizeof b, "%s has no value for byte 0x%zX", source, off + i);
        differ(where + label + ": " + b, rule_if_wrong);
        return;
      }
      theirs.push_back(it->second);
    }
    if (ours != theirs) differ(where + label + ": " + hex_string(ours) + "vs " + source + " " + hex_string(theirs), rule_if_wrong);
  }
};

// Splits our dump into (label, value) lines, joining hex-dump continuations.
std::vector<our_line> parse_dump(const std::string& text) {
  std::vector<our_line> out;
  for (const std::string& line : split_lines(text)) {
    if (line.size() > 21 && line.compare(0, 21, std::string(21, ' ')) == 0 && line[21] != ' ' && !out.empty()) {
      out.back().value += " " + line.substr(21);
      continue;
    }
    our_line l;
    if (line.size() > 29 && line[28] == ' ' && line.find("Error") == std::string::npos &&
        line.find("ERROR") == std::string::npos && line.compare(0, 8, "Warning:") != 0) {
      l.label = line.substr(0, 29);
      l.label.erase(l.label.find_last_not_of(' ') + 1);
      l.value = line.substr(29);
    } else {
      l.label = line;
    }
    out.push_back(l);
  }
  return out;
}

std::string key_for(const std::string& label, const std::string& sig) {
  if (label == "Flags" || label == "Reserved" || label == " Reserved") {
    if (sig == "HPET" && label == " Reserved") return " Reserved@HPET";
    if (label != " Reserved") return label + "@" + sig;
  }
  return label;
}

// Walks our dump of one table beside iasl's decoding.
void compare_table(const std::string& sig, const std::string& dump, bool ended, const decoded_table& iasl,
                   const decoded_table& raw, table_report& report) {
  comparer by_iasl{iasl, report, report.compared, "iasl"};
  comparer by_bytes{raw, report, report.raw_compared, "the table's bytes"};
  comparer* c = &by_iasl;  // by_bytes inside a SATC or SIDP
  std::vector<our_line> lines = parse_dump(dump);
  std::string context = "table";  // table, a DMAR structure kind, scope, mcfg, madt
  std::string kind;
  size_t base = 0, length = 0, next = 0, scope_index = 0, scope_base = 0, path_index = 0;
  bool stride_broken = false;
  size_t madt_count = 0;
  std::vector<size_t> our_structures;
  std::vector<std::string> our_kinds;  // of the DMAR's structures
  for (const our_line& l : lines) {
    if (l.value.empty()) {
      const std::string& h = l.label;
      if (h.size() > 3 && h.compare(0, 3, " --") == 0 && remap_maps.count(h.substr(3))) {
        kind = h.substr(3);
        context = kind;
        base = our_structures.empty() ? 48 : next;
        our_structures.push_back(base);
        our_kinds.push_back(kind);
        c = raw_kinds.count(kind) ? &by_bytes : &by_iasl;
        scope_index = 0;
        stride_broken = false;
      } else if (h == "  --Device Scope") {
        scope_base = base + scope_start.at(kind) + 8 * scope_index++;
        path_index = 0;
        context = "scope";
      } else if (h == "-- Configuration Space Base Address Allocation Structure(s)") {
        context = "mcfg";
        next = 44;
      } else if (h == "-- Interrupt Controller Structure(s)") {
        context = "madt";
        next = 44;
      }
      continue;
    }
    if (context == "table") {
      auto it = header_map.find(key_for(l.label, sig));
      if (it == header_map.end()) {
        report.unexplained.push_back("unknown table line '" + l.label + "'");
        continue;
      }
      c->field(l.label, it->second, it->second.offset, l.value, -1);
    } else if (context == "scope" && l.label == "  PCI Path:") {
      field_ref path{6 + 2 * path_index++, 2, value_kind::path, {}};
      if (c == &by_iasl) path.iasl_labels = {"PCI Path"};
      c->field(l.label, path, scope_base + path.offset, l.value, stride_broken ? rule_scope_stride : -1);
    } else if (context == "scope") {
      const field_map& m = c == &by_iasl ? scope_map : flagged_scope_map;
      auto it = m.find(l.label);
      if (it == m.end()) {
        report.unexplained.push_back("unknown " + kind + " scope line '" + l.label + "'");
        continue;
      }
      c->field(l.label, it->second, scope_base + it->second.offset, l.value, stride_broken ? rule_scope_stride : -1);
      if (l.label == "  Length" && l.value != "0x08") stride_broken = true;
    } else if (context == "mcfg" || context == "madt") {
      const field_map& m = context == "mcfg" ? mcfg_allocation_map : madt_structure_map;
      auto it = m.find(l.label);
      if (it == m.end()) {
        report.unexplained.push_back("unknown line '" + l.label + "'");
        continue;
      }
      if (it->second.offset == 0) {
        base = next;
        our_structures.push_back(base);
        next = base + (context == "mcfg" ? 16 : 0);
        madt_count++;
      }
      if (context == "madt" && l.label == " Length") {
        length = strtoul(l.value.c_str() + 2, nullptr, 16);
        next = base + length;
      }
      size_t width = l.label == " Binary Data:" ? (length >= 2 ? length - 2 : 0) : 0;
      if (width && iasl.fields.count(base) &&
          iasl.fields.find(base)->second.value.find("[Unknown Subtable Type]") != std::string::npos) {
        report.iasl_unknown++;  // iasl leaves the bytes of a type it does not know undecoded
        continue;
      }
      c->field(l.label, it->second, base + it->second.offset, l.value, -1, width);
    } else {
      auto it = remap_maps.at(kind).find(l.label);
      if (it == remap_maps.at(kind).end()) {
        report.unexplained.push_back("unknown " + kind + " line '" + l.label + "'");
        continue;
      }
      c->field(l.label, it->second, base + it->second.offset, l.value, -1);
      if (l.label == " Length") next = base + strtoul(l.value.c_str() + 2, nullptr, 16);
    }
  }

  // Every structure iasl found was dumped, unless one of the dump's rules
  // stopped it.
  if (sig == "HPET") return;
  std::vector<size_t> theirs;
  const char* first_label = sig == "MCFG" ? "Base Address" : "Subtable Type";
  for (const auto& f : iasl.fields)
    if (f.second.label == first_label && f.first >= 44) theirs.push_back(f.first);
  if (our_structures == theirs && !ended) return;
  bool prefix = our_structures.size() <= theirs.size() &&
                std::equal(our_structures.begin(), our_structures.end(), theirs.begin());
  std::string last_line;
  for (const our_line& l : lines)
    if (!l.label.empty() || !l.value.empty()) last_line = l.label + l.value;
  if (ended && prefix && last_line == "Error -- DMAR Table: Detected invalid remapping structure type.") {
    // The structure of unknown type is the one after the last one printed.
    size_t at = our_structures.empty() ? 48 : next;
    auto it = iasl.fields.find(at);
    std::string type = it == iasl.fields.end() ? "" : it->second.value.substr(0, 4);
    if (is_hex(type) && strtoul(type.c_str(), nullptr, 16) > 6) {
      report.documented[rule_unknown_type]++;
      return;
    }
  }
  // iasl stops at the first SATC or SIDP (naming its Type and Length only);
  // the dump printed it and went on, and all it printed from there on is a
  // SATC or SIDP, held against the table's bytes above.
  if (!ended && !theirs.empty() && theirs.size() < our_structures.size() &&
      std::equal(theirs.begin(), theirs.end(), our_structures.begin()) &&
      iasl.fields.find(theirs.back())->second.value.find("[Unknown Subtable Type]") != std::string::npos &&
      std::all_of(our_kinds.begin() + (theirs.size() - 1), our_kinds.end(),
                  [](const std::string& k) { return raw_kinds.count(k) != 0; })) {
    report.documented[rule_iasl_stops]++;
    return;
  }
  if (ended && prefix && last_line == "ERROR -- PciPath of Device Scope appears to be invalid.") {
    report.documented[rule_path_length]++;
    return;
  }
  if (!ended && sig == "APIC" && our_structures.size() == 51 && prefix &&
      dump.find("\nWarning: Stopped dumping the Interrupt Controller Structure(s). Data not appearing valid.\n") !=
          std::string::npos) {
    report.documented[rule_madt_cut]++;
    return;
  }
  report.unexplained.push_back("dumped " + std::to_string(our_structures.size()) + " structures, iasl decodes " +
                               std::to_string(theirs.size()) + (ended ? "; the dump ended the application" : ""));
}

bool is_directory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> directory_entries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct corpus_table {
  std::string name;  // directory/file
  std::string path;
  std::string sig;
};

}  // namespace

TEST(DumpCorpus, EveryPrintedFieldHasTheValueIaslDecodes) {
  const std::string corpus = IOVET_SOURCE_DIR "/../shared/corpus";
  if (!is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  if (std::system("iasl -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "iasl (acpica-tools) is not installed";

  std::vector<corpus_table> tables;
  for (const std::string& dir : directory_entries(corpus)) {
    if (!is_directory(corpus + "/" + dir)) continue;
    for (const std::string& file : directory_entries(corpus + "/" + dir)) {
      if (file.size() < 8 || file.compare(file.size() - 4, 4, ".dat") != 0) continue;
      std::string sig = file.substr(0, 4);
      if (sig != "DMAR" && sig != "MCFG" && sig != "APIC" && sig != "HPET") continue;
      tables.push_back({dir + "/" + file, corpus + "/" + dir + "/" + file, sig});
    }
  }
  ASSERT_FALSE(tables.empty());

  // Decode every table once, in one iasl run over copies in the build tree
  // (iasl writes its output beside its input).
  const std::string work = IOVET_DUMP_WORK_DIR;
  ASSERT_EQ(std::system(("rm -rf " + shell_quote(work) + " && mkdir -p " + shell_quote(work)).c_str()), 0);
  for (size_t i = 0; i < tables.size(); i++)
    std::ofstream(work + "/" + std::to_string(i) + ".dat", std::ios::binary) << read_file(tables[i].path);
  // A table iasl cannot decode is listed below, not failed.
  (void)std::system(("cd " + shell_quote(work) + " && iasl -d *.dat >/dev/null 2>&1").c_str());

  size_t fields = 0, raw_fields = 0, raw_tables = 0, iasl_unknown = 0, documented[rule_count] = {}, tables_with_rule[rule_count] = {};
  std::string rule_tables[rule_count];
  std::vector<std::string> undecoded, failures;
  for (size_t i = 0; i < tables.size(); i++) {
    const corpus_table& t = tables[i];
    std::string dsl = read_file(work + "/" + std::to_string(i) + ".dsl");
    if (dsl.find("[000h 0000") == std::string::npos) {
      undecoded.push_back(t.name);
      continue;
    }
    decoded_table iasl = parse_iasl(dsl);
    std::string raw = read_file(t.path);
    decoded_table bytes = raw_reference(raw);
    std::vector<uint8_t> copy(raw.begin(), raw.end());  // exactly the table's size
    void (*dump)(byte_view) = t.sig == "DMAR" ? dump_dmar : t.sig == "MCFG" ? dump_mcfg : t.sig == "APIC" ? dump_madt
                                                                                                          : dump_hpet;
    sim::machine m;
    sim::run_result r = sim::call(m, [&] { dump(byte_view(copy.data(), copy.size())); });
    table_report report;
    report.name = t.name;
    if (r.leaked_allocations) report.unexplained.push_back("pool memory left allocated");
    if (r.exited && r.status != 1) report.unexplained.push_back("ended with status " + std::to_string(r.status));
    compare_table(t.sig, r.text, r.exited, iasl, bytes, report);
    fields += report.compared;
    raw_fields += report.raw_compared;
    raw_tables += report.raw_compared ? 1 : 0;
    iasl_unknown += report.iasl_unknown;
    for (int k = 0; k < rule_count; k++) {
      documented[k] += report.documented[k];
      tables_with_rule[k] += report.documented[k] ? 1 : 0;
      if (report.documented[k] && tables_with_rule[k] <= 3) rule_tables[k] += " " + t.name;
    }
    if (!report.unexplained.empty()) {
      std::string f = t.name + ":";
      for (size_t k = 0; k < report.unexplained.size() && k < 12; k++) f += "\n    " + report.unexplained[k];
      if (report.unexplained.size() > 12) f += "\n    ... " + std::to_string(report.unexplained.size() - 12) + " more";
      failures.push_back(f);
    }
  }

  std::cout << "[ corpus   ] " << tables.size() << " tables, " << fields << " printed fields compared with iasl\n";
  for (int k = 0; k < rule_count; k++)
    std::cout << "[ rule     ] " << rule_names[k] << ": " << documented[k] << " differences in " << tables_with_rule[k]
              << " tables" << (rule_tables[k].empty() ? "" : ", e.g.") << rule_tables[k] << "\n";
  std::cout << "[ bytes    ] " << raw_fields << " printed SATC and SIDP fields in " << raw_tables
            << " tables compared with the table's bytes\n";
  std::cout << "[ iasl     ] " << iasl_unknown << " interrupt controller structures of a type iasl does not decode\n";
  for (const std::string& u : undecoded) std::cout << "[ no iasl  ] " << u << "\n";
  for (const std::string& f : failures) ADD_FAILURE() << f;
  EXPECT_TRUE(failures.empty()) << failures.size() << " tables differ from iasl beyond the dump's rules";
}
