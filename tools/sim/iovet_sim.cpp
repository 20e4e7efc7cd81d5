// iovet-sim: runs the application's own entry on a simulated machine that
// serves a platform directory or a built-in reference platform, so that a
// platform can be checked from a Linux host.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "engine/sources.h"
#include "platform/sim/platform_dir.h"
#include "platform/sim/records.h"
#include "platform/sim/reference.h"
#include "platform/sim/sim.h"
#include "result_files.h"
#include "run_sources.h"

static_assert(results::PASS == TEST_PASS && results::FAIL == TEST_FAIL && results::NOT_APPLICABLE == TEST_NA &&
                  results::MISSING == TEST_MISSING && results::WARNING == TEST_WARNING,
              "the result files take the records' result codes as they are");

namespace {

const char* const usage =
    "Usage: iovet-sim [--platform DIR | --reference FAMILY | --generate FAMILY] [--tables PATH]\n"
    "                 [--junit FILE] [--json FILE] [--status-exit] [--fix-checksums] [--stats] [--save DIR]\n"
    "                 [--] [Iovet arguments]\n"
    "  --platform DIR     platform directory (docs/platform-format.md)\n"
    "  --reference FAMILY built-in healthy platform: qen, rav, mof, jix, yod, gux or wez\n"
    "  --tables PATH      ACPI tables (a directory of binary tables, an acpidump text file or\n"
    "                     one binary table): alone, a run on these tables only; with a\n"
    "                     platform, they replace its tables signature by signature\n"
    "  --junit FILE       write the results as JUnit XML\n"
    "  --json FILE        write the results as JSON\n"
    "  --status-exit      exit 1 when the report's status is FAIL or the run ended without a\n"
    "                     report, else 0\n"
    "  --fix-checksums    recompute the checksum of every ACPI table (after hand edits)\n"
    "  --stats            print on stderr the run's time, its platform operations by kind, its\n"
    "                     pool use, and what the MCFG-driven PCI scan must cost\n"
    "  --save DIR         write the platform (after --tables) as a directory and exit\n"
    "  --generate FAMILY  build the reference platform from its generator (for --save)\n"
    "Arguments after the options (or after --) go to Iovet; the catalogue defaults to the\n"
    "repository's zyr-tests.\n";

// A record's text (at most max characters) as UTF-8, as the console shows it.
std::string utf8(const char16_t* s, size_t max) {
  size_t n = 0;
  while (n < max && s[n]) n++;
  return sim::to_utf8(std::u16string(s, n));
}

// What the PCI function scan must cost on this machine: per allocation
// structure the MCFG's Length counts ((Length - 36) / 16, structures from
// offset 44, bytes past the table reading zero), 32 reads of register 0x0C
// per bus from 0 to the structure's end bus, plus one read of register 0x00
// for every function looked at: 8 for a device whose function 0 has the
// multi-function bit, else 1.
struct scan_cost {
  bool mcfg = false;
  uint64_t allocations = 0;
  uint64_t reads = 0;
};

scan_cost expected_scan_cost(const sim::platform_description& p, const sim::machine& m) {
  scan_cost c;
  for (const auto& t : p.acpi) {
    if (t.signature() != "MCFG") continue;
    auto byte = [&](size_t at) -> uint64_t { return at < t.bytes.size() ? t.bytes[at] : 0; };
    uint64_t length = byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24;
    if (length > t.bytes.size()) length = t.bytes.size();
    c.mcfg = true;
    c.allocations = length >= 36 ? (length - 36) / 16 : 0;
    for (uint64_t a = 0; a < c.allocations; a++) {
      uint64_t end_bus = byte(44 + 16 * a + 11);
      for (uint64_t bus = 0; bus <= end_bus; bus++) {
        c.reads += 32;
        for (uint64_t dev = 0; dev < 32; dev++) {
          uint32_t header = (uint32_t)m.config_read((uint16_t)(bus << 8 | dev << 3), 0x0C, 4);
          if (header != 0xFFFFFFFF) c.reads += (header & (1u << 23)) ? 8 : 1;
        }
      }
    }
    break;  // the first MCFG in RSDT order is the one the program copies
  }
  return c;
}

// UEFI text attributes as ANSI colours.
std::string ansi(uint64_t attribute) {
  static const int fg[8] = {30, 34, 32, 36, 31, 35, 33, 37};
  int f = fg[attribute & 7] + ((attribute & 8) ? 60 : 0);
  int b = (int)((attribute >> 4) & 7);
  char buf[32];
  if (b) snprintf(buf, sizeof buf, "\x1b[0;%d;%dm", f, 40 + fg[b] - 30);
  else snprintf(buf, sizeof buf, "\x1b[0;%dm", f);
  return buf;
}

// The status word of the report's "Zyr Test Status: " line, if there is one.
std::string report_status(const std::string& text) {
  const std::string key = "Zyr Test Status: ";
  size_t at = text.rfind(key);
  if (at == std::string::npos) return "";
  size_t s = at + key.size();
  size_t e = s;
  while (e < text.size() && isalpha((unsigned char)text[e])) e++;
  return text.substr(s, e - s);
}

struct options {
  std::string platform_dir, reference, generate, tables, junit, json, save;
  bool status_exit = false, fix_checksums = false, stats = false;
  std::vector<std::string> app_args;
  // One machine's tables on another's hardware: each source says whose it is.
  bool mixed() const { return !tables.empty() && (!platform_dir.empty() || !reference.empty() || !generate.empty()); }
};

// The runner's options, then Iovet's arguments. 0 to go on, else the exit
// status (after --help, or a line on stderr).
int parse_options(int argc, char** argv, options& o) {
  int i = 1;
  for (; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) {
        fprintf(stderr, "iovet-sim: %s needs a value\n%s", a.c_str(), usage);
        return false;
      }
      into = argv[++i];
      return true;
    };
    std::string* valued = a == "--platform"    ? &o.platform_dir
                          : a == "--reference" ? &o.reference
                          : a == "--generate"  ? &o.generate
                          : a == "--tables"    ? &o.tables
                          : a == "--junit"     ? &o.junit
                          : a == "--json"      ? &o.json
                          : a == "--save"      ? &o.save
                                               : nullptr;
    if (a == "--") {
      i++;
      break;
    } else if (valued) {
      if (!value(*valued)) return 2;
    } else if (a == "--stats") {
      o.stats = true;
    } else if (a == "--fix-checksums") {
      o.fix_checksums = true;
    } else if (a == "--status-exit") {
      o.status_exit = true;
    } else if (a == "--help") {
      fputs(usage, stdout);
      return -1;
    } else if (a.compare(0, 2, "--") == 0 && a.compare(0, 5, "--dbg") != 0 && a.compare(0, 5, "--DBG") != 0) {
      // Iovet's own options begin with one dash (and --dbg); a typo of the
      // runner's must not run anything.
      fprintf(stderr, "iovet-sim: unknown option %s (iovet-sim --help lists the runner's options)\n", a.c_str());
      return 2;
    } else {
      break;
    }
  }
  for (; i < argc; i++) o.app_args.push_back(argv[i]);
  if ((!o.platform_dir.empty()) + (!o.reference.empty()) + (!o.generate.empty()) > 1) {
    fprintf(stderr, "iovet-sim: give at most one of --platform, --reference and --generate\n");
    return 2;
  }
  if (o.platform_dir.empty() && o.reference.empty() && o.generate.empty() && o.tables.empty()) {
    fprintf(stderr, "iovet-sim: nothing to check: give --platform DIR, --reference FAMILY or --tables PATH\n");
    return 2;
  }
  return 0;
}

// The platform the options name, its tables replaced by or made of those of
// --tables; its name and where each source comes from. False after a line
// on stderr.
bool load_platform(const options& o, sim::platform_description& p, std::string& name, source_origins& origins) {
  std::string from;
  if (!o.platform_dir.empty()) {
    sim::load_result r = sim::load_platform_dir(o.platform_dir, p);
    for (const auto& n : r.notes) fprintf(stderr, "iovet-sim: note: %s\n", n.c_str());
    if (!r.ok) {
      fprintf(stderr, "iovet-sim: %s\n", r.error.c_str());
      return false;
    }
    name = o.platform_dir;
    from = "platform " + o.platform_dir;
  } else if (!o.reference.empty()) {
    std::string error;
    if (!sim::load_reference_description(o.reference, p, &error)) {
      fprintf(stderr, "iovet-sim: %s (families: qen, rav, mof, jix, yod, gux, wez)\n", error.c_str());
      return false;
    }
    name = from = "reference " + o.reference;
  } else if (!o.generate.empty()) {
    if (!sim::make_reference_platform(o.generate, p)) {
      fprintf(stderr, "iovet-sim: unknown reference family \"%s\"\n", o.generate.c_str());
      return false;
    }
    name = from = "generated " + o.generate;
  }
  std::vector<sim::acpi_table_file> t;
  if (!o.tables.empty()) {
    sim::acpi_root_tables roots;
    sim::load_result r = sim::read_acpi_tables(o.tables, t, &roots);
    for (const auto& n : r.notes) fprintf(stderr, "iovet-sim: note: %s\n", n.c_str());
    if (r.ok && t.empty()) r = sim::load_result{false, o.tables + ": no ACPI table here", {}};
    if (!r.ok) {
      fprintf(stderr, "iovet-sim: %s\n", r.error.c_str());
      return false;
    }
    if (from.empty()) {
      sim::tables_only_platform(t, p, roots);
      name = "tables " + o.tables;
      std::string not_given;
      for (uint32_t s = 0; s < SOURCE_COUNT; s++)
        if (p.sources[s] == SOURCE_NOT_GIVEN) not_given += std::string(" ") + sim::source_name((platform_source)s);
      if (!not_given.empty())
        fprintf(stderr, "iovet-sim: note: not given, so not known:%s (%s)\n", not_given.c_str(),
                roots.given ? "the RSDT or XSDT lists tables that were not given"
                            : "no RSDT or XSDT among the tables says what the machine has");
    } else {
      sim::replace_acpi_tables(p, t);
      name += " with tables " + o.tables;
    }
  }
  origins = origins_of(p, from, o.tables.empty() ? "" : "tables " + o.tables, t);
  if (o.mixed())
    for (const auto& line : origin_lines(origins)) fprintf(stderr, "iovet-sim: %s\n", line.c_str());
  return true;
}

int run_main(int argc, char** argv) {
  options o;
  if (int status = parse_options(argc, argv, o)) return status < 0 ? 0 : status;
  sim::platform_description p;
  std::string name;
  source_origins origins;
  if (!load_platform(o, p, name, origins)) return 2;
  if (o.fix_checksums) sim::fix_acpi_checksums(p);
  if (!o.save.empty()) {
    std::string error;
    if (!sim::write_platform_dir(p, o.save, error)) {
      fprintf(stderr, "iovet-sim: %s\n", error.c_str());
      return 2;
    }
    return 0;
  }
  if (!p.has_catalogue) {
    std::ifstream f(std::string(IOVET_SOURCE_DIR) + "/zyr-tests", std::ios::binary);
    if (f) {
      p.catalogue.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
      p.has_catalogue = true;
    }
  }

  sim::machine m;
  sim::install_platform(p, m);
  // Taken before the run, from the machine as the scan will find it.
  scan_cost scan = expected_scan_cost(p, m);
  bool colour = isatty(STDOUT_FILENO);
  uint64_t shown_attribute = 0x07;
  m.console_echo = [&](uint64_t attribute, const char16_t* text) {
    if (colour && attribute != shown_attribute) {
      fputs(ansi(attribute).c_str(), stdout);
      shown_attribute = attribute;
    }
    fputs(sim::to_utf8(text).c_str(), stdout);
  };

  std::vector<test_case_t> kept;
  sim::keep_records(m, kept);
  std::vector<std::u16string> a;
  for (const auto& s : o.app_args) a.push_back(sim::from_utf8(s));
  auto started = std::chrono::steady_clock::now();
  sim::run_result r = sim::run(m, a);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  if (colour && shown_attribute != 0x07) fputs("\x1b[0m", stdout);
  fflush(stdout);
  if (o.stats) {
    const sim::operation_counts& c = m.counts;
    auto u = [](uint64_t v) { return (unsigned long long)v; };
    fprintf(stderr,
            "iovet-sim: run %.3f ms, %llu platform operations (%llu configuration reads, %llu configuration writes, "
            "%llu MMIO reads, %llu physical-memory copies, %llu CPUID, %llu MSR, %llu firmware services), "
            "pool high-water %llu bytes in %llu allocations\n",
            ms, u(c.total), u(c.config_reads), u(c.config_writes), u(c.mmio_reads), u(c.memory_copies), u(c.cpuid),
            u(c.msr), u(c.firmware()), u(m.pool_high_water), u(m.allocations));
    if (scan.mcfg)
      fprintf(stderr, "iovet-sim: PCI scan: %llu MCFG allocation structures, %llu configuration reads\n",
              u(scan.allocations), u(scan.reads));
    else
      fprintf(stderr, "iovet-sim: PCI scan: no MCFG\n");
  }
  if (r.watchdog) fprintf(stderr, "iovet-sim: the run did not end within its operation bound and was stopped\n");

  // A run the watchdog stopped never reached its teardown: it leaves no results.
  std::vector<results::record> recs;
  if (!r.watchdog)
    for (const test_case_t& tc : kept)
      recs.push_back({tc.id, tc.result, results::without_line_end(utf8(tc.description, TEST_TEXT_CHARS)),
                      utf8(tc.message, TEST_TEXT_CHARS)});
  // A run that mixes two machines says, per record, which sources its
  // assertion uses and whose each is.
  for (results::record& rec : recs) {
    const assertion_sources_t* used = o.mixed() ? sources_of(rec.id) : nullptr;
    for (uint32_t s = 0; used && s < SOURCE_COUNT; s++)
      if ((used->needs | used->later) & from((platform_source)s))
        rec.sources.push_back({sim::source_name((platform_source)s),
                               origins[s].from.empty() ? "not known" : origins[s].from});
  }
  std::string status = report_status(r.text);
  // A processor of a later chipset profile: the files name it.
  std::string profile;
  auto leaf = m.cpuid_leaves.find(1);
  if (m.sources[SOURCE_CPUID] == SOURCE_KNOWN && leaf != m.cpuid_leaves.end())
    if (const chipset_profile_t* p = processor_profile(leaf->second[0]))
      if (p->general_rules) profile = p->name;
  if (!o.junit.empty() && !results::write_junit(o.junit, recs, name, !status.empty(), profile))
    fprintf(stderr, "iovet-sim: cannot write %s\n", o.junit.c_str());
  if (!o.json.empty() && !results::write_json(o.json, recs, status, name, profile))
    fprintf(stderr, "iovet-sim: cannot write %s\n", o.json.c_str());
  if (o.status_exit && status.empty()) {
    fprintf(stderr, "iovet-sim: the run ended without a report (no \"Zyr Test Status\" line)\n");
    return 1;
  }
  if (o.status_exit) return status == "FAIL" ? 1 : 0;
  return (int)(r.status & 0xFF);
}

}  // namespace

int main(int argc, char** argv) { return run_main(argc, argv); }
