#include "survey.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "catalogue/catalogue.h"
#include "platform/sim/platform_dir.h"
#include "platform/sim/records.h"

namespace survey {

namespace {

constexpr size_t EXAMPLES = 3;

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<std::string> corpus_machines(const std::string& corpus) {
  std::vector<std::string> names;
  if (DIR* d = opendir(corpus.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name[0] != '.' && file_exists(corpus + "/" + name + "/DMAR.dat")) names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

machine_result check_machine(const std::string& corpus, const std::string& name, const std::string& catalogue) {
  machine_result out;
  out.name = name;
  const std::string dir = corpus + "/" + name;
  std::vector<sim::acpi_table_file> tables;
  sim::read_acpi_tables(dir, tables);
  sim::platform_description p;
  // The corpus keeps no root table: a table a dump lacks is not given, never
  // absent.
  sim::tables_only_platform(tables, p);
  p.has_catalogue = true;
  p.catalogue = catalogue;

  sim::machine m;
  m.operation_limit = 20000000;
  sim::install_platform(p, m);
  std::vector<test_case_t> kept;
  sim::keep_records(m, kept);
  sim::run_result r = sim::run(m, {u"-t"});
  out.collected = r.text.find("Error occurred collecting needed Zyr test data") == std::string::npos;
  out.clean = !r.watchdog && r.leaked_allocations == 0 && m.bad_frees == 0;
  out.unknown_reads = m.unknown_reads;
  if (out.collected)
    for (const test_case_t& tc : kept) out.results.push_back({tc.id, tc.result});
  return out;
}

tables summarize(const std::vector<machine_result>& machines) {
  struct row {
    uint64_t count[5] = {0, 0, 0, 0, 0};
    std::vector<std::string> examples[5];
  };
  std::map<uint64_t, row> rows;
  size_t collected = 0;
  for (const machine_result& m : machines) {
    if (m.collected) collected++;
    for (const auto& r : m.results) {
      if (r.second >= 5) continue;
      row& w = rows[r.first];
      w.count[r.second]++;
      if (w.examples[r.second].size() < EXAMPLES) w.examples[r.second].push_back(m.name);
    }
  }
  auto names = [](const std::vector<std::string>& v, const char* joint) {
    std::string s;
    for (const std::string& n : v) s += (s.empty() ? "" : joint) + n;
    return s;
  };
  std::ostringstream md, tsv;
  md << "Each of the " << machines.size() << " machines of the corpus on its own tables alone (" << collected
     << " collected); per assertion, how many machines ended in each result, and up to " << EXAMPLES
     << " of those that failed or warned.\n\n";
  md << "| Test | PASS | FAIL | WARNING | N/A | Missing | FAIL on | WARNING on |\n";
  md << "|---|---|---|---|---|---|---|---|\n";
  tsv << "test\tpass\tfail\twarning\tna\tmissing\tfail_on\twarning_on\n";
  for (const auto& r : rows) {
    const row& w = r.second;
    md << "| " << r.first << " | " << w.count[TEST_PASS] << " | " << w.count[TEST_FAIL] << " | "
       << w.count[TEST_WARNING] << " | " << w.count[TEST_NA] << " | " << w.count[TEST_MISSING] << " | "
       << names(w.examples[TEST_FAIL], ", ") << " | " << names(w.examples[TEST_WARNING], ", ") << " |\n";
    tsv << r.first << "\t" << w.count[TEST_PASS] << "\t" << w.count[TEST_FAIL] << "\t" << w.count[TEST_WARNING]
        << "\t" << w.count[TEST_NA] << "\t" << w.count[TEST_MISSING] << "\t" << names(w.examples[TEST_FAIL], " ")
        << "\t" << names(w.examples[TEST_WARNING], " ") << "\n";
  }
  return tables{md.str(), tsv.str()};
}

}  // namespace survey
