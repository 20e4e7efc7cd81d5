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
#include "platform/sim/platform_dir.h"
#include "platform/sim/records.h"
#include "platform/sim/reference.h"
#include "platform/sim/sim.h"
#include "result_files.h"

static_assert(results::PASS == TEST_PASS && results::FAIL == TEST_FAIL && results::NOT_APPLICABLE == TEST_NA &&
                  results::MISSING == TEST_MISSING && results::WARNING == TEST_WARNING,
              "the result files take the records' result codes as they are");

namespace {

const char* const usage =
    "Usage: iovet-sim [--platform DIR | --reference FAMILY] [--tables PATH]\n"
    "                 [--junit FILE] [--json FILE] [--status-exit] [--fix-checksums] [--stats] [--save DIR]\n"
    "                 [--] [Iovet arguments]\n"
    "  --platform DIR     platform directory (docs/platform-format.md)\n"
    "  --reference FAMILY built-in healthy platform: qen, rav, mof, jix, yod, gux or wez\n"
    "  --tables PATH      ACPI tables replacing the platform's, signature by signature\n"
    "                     (a directory of binary tables or an acpidump text file)\n"
    "  --junit FILE       write the results as JUnit XML\n"
    "  --json FILE        write the results as JSON\n"
    "  --status-exit      exit 1 when the report's status is FAIL, else 0\n"
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

int run_main(int argc, char** argv) {
  std::string platform_dir, reference, generate, tables, junit, json, save;
  bool status_exit = false, fix_checksums = false, stats = false;
  std::vector<std::string> app_args;
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
    if (a == "--") {
      i++;
      break;
    } else if (a == "--platform") {
      if (!value(platform_dir)) return 2;
    } else if (a == "--reference") {
      if (!value(reference)) return 2;
    } else if (a == "--generate") {
      if (!value(generate)) return 2;
    } else if (a == "--tables") {
      if (!value(tables)) return 2;
    } else if (a == "--junit") {
      if (!value(junit)) return 2;
    } else if (a == "--json") {
      if (!value(json)) return 2;
    } else if (a == "--save") {
      if (!value(save)) return 2;
    } else if (a == "--stats") {
      stats = true;
    } else if (a == "--fix-checksums") {
      fix_checksums = true;
    } else if (a == "--status-exit") {
      status_exit = true;
    } else if (a == "--help") {
      fputs(usage, stdout);
      return 0;
    } else {
      break;
    }
  }
  for (; i < argc; i++) app_args.push_back(argv[i]);
  if ((!platform_dir.empty()) + (!reference.empty()) + (!generate.empty()) > 1) {
    fprintf(stderr, "iovet-sim: give at most one of --platform, --reference and --generate\n");
    return 2;
  }

  sim::platform_description p;
  std::string name = "empty platform";
  if (!platform_dir.empty()) {
    sim::load_result r = sim::load_platform_dir(platform_dir, p);
    for (const auto& n : r.notes) fprintf(stderr, "iovet-sim: note: %s\n", n.c_str());
    if (!r.ok) {
      fprintf(stderr, "iovet-sim: %s\n", r.error.c_str());
      return 2;
    }
    name = platform_dir;
  } else if (!reference.empty()) {
    std::string error;
    if (!sim::load_reference_description(reference, p, &error)) {
      fprintf(stderr, "iovet-sim: %s (families: qen, rav, mof, jix, yod, gux, wez)\n", error.c_str());
      return 2;
    }
    name = "reference " + reference;
  } else if (!generate.empty()) {
    if (!sim::make_reference_platform(generate, p)) {
      fprintf(stderr, "iovet-sim: unknown reference family \"%s\"\n", generate.c_str());
      return 2;
    }
    name = "generated " + generate;
  }
  if (!tables.empty()) {
    std::vector<sim::acpi_table_file> t;
    sim::load_result r = sim::read_acpi_tables(tables, t);
    for (const auto& n : r.notes) fprintf(stderr, "iovet-sim: note: %s\n", n.c_str());
    if (!r.ok) {
      fprintf(stderr, "iovet-sim: %s\n", r.error.c_str());
      return 2;
    }
    sim::replace_acpi_tables(p, t);
    name += " with tables " + tables;
  }
  if (fix_checksums) sim::fix_acpi_checksums(p);
  if (!save.empty()) {
    std::string error;
    if (!sim::write_platform_dir(p, save, error)) {
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
  for (const auto& s : app_args) a.push_back(sim::from_utf8(s));
  auto started = std::chrono::steady_clock::now();
  sim::run_result r = sim::run(m, a);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  if (colour && shown_attribute != 0x07) fputs("\x1b[0m", stdout);
  fflush(stdout);
  if (stats) {
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
  std::string status = report_status(r.text);
  if (!junit.empty() && !results::write_junit(junit, recs, name)) fprintf(stderr, "iovet-sim: cannot write %s\n", junit.c_str());
  if (!json.empty() && !results::write_json(json, recs, status, name)) fprintf(stderr, "iovet-sim: cannot write %s\n", json.c_str());
  if (status_exit) return status == "FAIL" ? 1 : 0;
  return (int)(r.status & 0xFF);
}

}  // namespace

int main(int argc, char** argv) { return run_main(argc, argv); }
