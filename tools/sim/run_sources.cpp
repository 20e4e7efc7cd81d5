#include "run_sources.h"

#include <algorithm>

source_origins origins_of(const sim::platform_description& p, const std::string& platform_from,
                          const std::string& tables_from, const std::vector<sim::acpi_table_file>& tables) {
  source_origins o;
  for (uint32_t s = 0; s < SOURCE_COUNT; s++) o[s].state = p.sources[s];
  if (!tables_from.empty() && platform_from.empty())
    for (const char* sig : {"DMAR", "MCFG", "APIC", "HPET"}) {
      platform_source s;
      if (sim::table_source(sig, s)) o[s].from = tables_from;
    }
  for (const auto& t : tables) {
    platform_source s;
    if (sim::table_source(t.signature(), s)) o[s].from = tables_from;
  }
  for (uint32_t s = 0; s < SOURCE_COUNT; s++)
    if (o[s].from.empty() && o[s].state == SOURCE_KNOWN) o[s].from = platform_from;
  return o;
}

std::vector<std::string> origin_lines(const source_origins& origins) {
  std::vector<std::string> froms, lines;
  for (const auto& o : origins)
    if (!o.from.empty() && std::find(froms.begin(), froms.end(), o.from) == froms.end()) froms.push_back(o.from);
  for (const auto& from : froms) {
    std::string line = "from " + from + ":";
    for (uint32_t s = 0; s < SOURCE_COUNT; s++)
      if (origins[s].from == from) line += std::string(" ") + sim::source_name((platform_source)s);
    lines.push_back(line);
  }
  std::string unknown;
  for (uint32_t s = 0; s < SOURCE_COUNT; s++)
    if (origins[s].from.empty()) unknown += std::string(" ") + sim::source_name((platform_source)s);
  if (!unknown.empty()) {
    if (lines.empty()) lines.push_back("");
    lines.back() += (lines.back().empty() ? "not known:" : "; not known:") + unknown;
  }
  return lines;
}
