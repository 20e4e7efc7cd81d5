// The small text pieces of a platform directory: platform.txt (settings),
// mmio.txt, cpuid.txt, msr.txt and memmap.txt, lines of numbers each.
#include <functional>

#include "platform/sim/platform_text.h"

namespace sim::piece {

const char* const memory_type_names[] = {
    "EfiReservedMemoryType", "EfiLoaderCode",          "EfiLoaderData",        "EfiBootServicesCode",
    "EfiBootServicesData",   "EfiRuntimeServicesCode", "EfiRuntimeServicesData", "EfiConventionalMemory",
    "EfiUnusableMemory",     "EfiACPIReclaimMemory",   "EfiACPIMemoryNVS",     "EfiMemoryMappedIO",
    "EfiMemoryMappedIOPortSpace", "EfiPalCode",        "EfiPersistentMemory",  "EfiUnacceptedMemoryType"};
const uint32_t memory_type_count = sizeof(memory_type_names) / sizeof(memory_type_names[0]);

namespace {

// Lines "KEY v1 v2 ..." of the small text pieces, each number checked.
load_result parse_numbers_file(const std::string& text, const std::string& name, size_t min_values,
                               size_t max_values,
                               const std::function<bool(const std::vector<std::string>&, size_t, std::string&)>& take) {
  auto lines = split_lines(text);
  for (size_t i = 0; i < lines.size(); i++) {
    auto t = tokens_of(lines[i]);
    if (t.empty()) continue;
    if (t.size() < min_values || t.size() > max_values)
      return fail(name, i + 1,
                  "expected " + (min_values == max_values ? std::to_string(min_values)
                                                          : std::to_string(min_values) + " to " +
                                                                std::to_string(max_values)) +
                      " fields, found " + std::to_string(t.size()));
    std::string error;
    if (!take(t, i + 1, error)) return fail(name, i + 1, error);
  }
  return {};
}

bool number_or_error(const std::string& token, const char* what, uint64_t& v, std::string& error) {
  if (parse_number(token, v)) return true;
  error = std::string("\"") + token + "\" is not a number (" + what + "; use 0x for hexadecimal)";
  return false;
}

}  // namespace

load_result parse_mmio(const std::string& text, const std::string& name, platform_description& p) {
  auto lines = split_lines(text);
  for (size_t i = 0; i < lines.size(); i++) {
    std::string comment;
    auto t = tokens_of(lines[i], &comment);
    if (t.empty()) continue;
    if (t.size() != 3) return fail(name, i + 1, "expected ADDRESS WIDTH VALUE, found " + std::to_string(t.size()) + " fields");
    uint64_t a, w, v;
    std::string error;
    if (!number_or_error(t[0], "address", a, error) || !number_or_error(t[1], "width", w, error) ||
        !number_or_error(t[2], "value", v, error))
      return fail(name, i + 1, error);
    if (w != 8 && w != 16 && w != 32 && w != 64) return fail(name, i + 1, "width must be 8, 16, 32 or 64 (bits)");
    if (w < 64 && v >> w) return fail(name, i + 1, "value " + t[2] + " does not fit in " + t[1] + " bits");
    if (a + w / 8 - 1 < a) return fail(name, i + 1, "register runs past the end of the address space");
    p.mmio.push_back({a, (unsigned)(w / 8), v, comment});
  }
  return {};
}

load_result parse_memmap(const std::string& text, const std::string& name, platform_description& p) {
  return parse_numbers_file(text, name, 3, 4, [&](const std::vector<std::string>& t, size_t, std::string& error) {
    uint64_t type = memory_type_count;
    for (uint32_t k = 0; k < memory_type_count; k++)
      if (t[0] == memory_type_names[k]) type = k;
    if (type == memory_type_count && !number_or_error(t[0], "memory type", type, error)) return false;
    if (type > 0xFFFFFFFFull) {
      error = "memory type does not fit in 32 bits";
      return false;
    }
    uint64_t start, pages, attr = 0;
    if (!number_or_error(t[1], "physical start", start, error) || !number_or_error(t[2], "pages", pages, error) ||
        (t.size() == 4 && !number_or_error(t[3], "attribute", attr, error)))
      return false;
    p.memory_map.push_back({(uint32_t)type, start, pages, attr});
    return true;
  });
}

load_result parse_cpuid(const std::string& text, const std::string& name, platform_description& p) {
  return parse_numbers_file(text, name, 5, 5, [&](const std::vector<std::string>& t, size_t, std::string& error) {
    uint64_t v[5];
    for (int k = 0; k < 5; k++) {
      if (!number_or_error(t[k], k ? "register" : "leaf", v[k], error)) return false;
      if (v[k] > 0xFFFFFFFFull) {
        error = t[k] + " does not fit in 32 bits";
        return false;
      }
    }
    p.cpuid[(uint32_t)v[0]] = {(uint32_t)v[1], (uint32_t)v[2], (uint32_t)v[3], (uint32_t)v[4]};
    return true;
  });
}

load_result parse_msr(const std::string& text, const std::string& name, platform_description& p) {
  return parse_numbers_file(text, name, 2, 2, [&](const std::vector<std::string>& t, size_t, std::string& error) {
    uint64_t index, value;
    if (!number_or_error(t[0], "MSR index", index, error) || !number_or_error(t[1], "value", value, error)) return false;
    if (index > 0xFFFFFFFFull) {
      error = "MSR index does not fit in 32 bits";
      return false;
    }
    p.msrs[(uint32_t)index] = value;
    return true;
  });
}

load_result parse_settings(const std::string& text, const std::string& name, platform_description& p) {
  auto lines = split_lines(text);
  for (size_t i = 0; i < lines.size(); i++) {
    std::string comment;
    auto t = tokens_of(lines[i], &comment);
    if (t.empty()) {
      if (p.title.empty() && !comment.empty()) p.title = comment;
      continue;
    }
    std::string error;
    if (t[0] == "ecam") {
      uint64_t base, buses = 256;
      if (t.size() < 2 || t.size() > 3) return fail(name, i + 1, "expected: ecam BASE [BUSES]");
      if (!number_or_error(t[1], "ECAM base", base, error) ||
          (t.size() == 3 && !number_or_error(t[2], "bus count", buses, error)))
        return fail(name, i + 1, error);
      if (buses < 1 || buses > 256) return fail(name, i + 1, "bus count must be 1 to 256");
      if (base & 0xFFFFF) return fail(name, i + 1, "ECAM base must be 1 MiB aligned");
      p.ecam_set = true;
      p.ecam_base = base;
      p.ecam_buses = (uint16_t)buses;
    } else if (t[0] == "rsdp") {
      if (t.size() != 2) return fail(name, i + 1, "expected: rsdp configuration_table|legacy_bios_area|ebda|none");
      if (t[1] == "configuration_table") p.rsdp = rsdp_place::configuration_table;
      else if (t[1] == "legacy_bios_area") p.rsdp = rsdp_place::legacy_bios_area;
      else if (t[1] == "ebda") p.rsdp = rsdp_place::ebda;
      else if (t[1] == "none") p.rsdp = rsdp_place::none;
      else return fail(name, i + 1, "unknown RSDP place \"" + t[1] + "\"");
    } else if (t[0] == "not-recorded") {
      // Sources the recording does not hold, even where their piece is present.
      if (t.size() < 2) return fail(name, i + 1, "expected: not-recorded SOURCE...");
      for (size_t k = 1; k < t.size(); k++) {
        platform_source s;
        if (!source_by_name(t[k], s)) {
          std::string known;
          for (uint32_t n = 0; n < SOURCE_COUNT; n++) known += std::string(n ? " " : "") + source_name((platform_source)n);
          return fail(name, i + 1, "unknown source \"" + t[k] + "\" (known: " + known + ")");
        }
        p.sources[s] = SOURCE_NOT_RECORDED;
      }
    } else {
      return fail(name, i + 1, "unknown setting \"" + t[0] + "\" (known: ecam, rsdp, not-recorded)");
    }
  }
  return {};
}

}  // namespace sim::piece
