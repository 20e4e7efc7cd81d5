// Where each source of a run comes from: the platform (a directory, a
// reference platform or its generator), the --tables path, or nowhere (not
// known, and why). The runner names the origins on stderr when tables and a
// platform are mixed; the result files can carry the same per source.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "platform/sim/platform_dir.h"

struct source_origin {
  source_state state = SOURCE_KNOWN;
  std::string from;  // "platform DIR", "reference rav", "generated rav", "tables PATH"; empty when not known
};
using source_origins = std::array<source_origin, SOURCE_COUNT>;

// The run's sources: the description's states; a table source comes from
// `tables_from` when `tables` holds that table or when there is no platform
// (a run on tables alone, whose tables are complete), every other known
// source from `platform_from`.
source_origins origins_of(const sim::platform_description& p, const std::string& platform_from,
                          const std::string& tables_from, const std::vector<sim::acpi_table_file>& tables);

// One line per origin ("from tables PATH: dmar madt"), the sources not known
// closing the platform's line.
std::vector<std::string> origin_lines(const source_origins& origins);
