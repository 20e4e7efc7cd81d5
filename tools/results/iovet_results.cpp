// iovet-results: turns the reports a board wrote (Iovet.efi -v > file, a
// plain run's report, or a serial console's log) into the JUnit and JSON
// files that iovet-sim writes for a simulated run, for continuous
// integration.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "report_reader.h"
#include "result_files.h"

namespace {

const char* const usage =
    "Usage: iovet-results [--json FILE] [--junit FILE] [--out DIR] [--platform NAME] REPORT...\n"
    "Reads Iovet reports (Iovet.efi -v or a plain run, as the UEFI Shell writes them with > or >a,\n"
    "or a serial console's log) and writes each one's results as JSON and JUnit XML, the files\n"
    "iovet-sim --json/--junit writes.\n"
    "  --json FILE      the JSON file (one report only)\n"
    "  --junit FILE     the JUnit XML file (one report only)\n"
    "  --out DIR        for each report NAME.txt, DIR/NAME.json and DIR/NAME.junit.xml; without\n"
    "                   --json, --junit and --out they go beside the report\n"
    "  --platform NAME  the platform's name in the files (default: the report's file name without\n"
    "                   its extension)\n"
    "A plain run's report lists only its failed and warned assertions (with a warning's number,\n"
    "not its description), so its files hold only those; Iovet.efi -v lists them all.\n"
    "Prints one line per report. Exit status: 2 when a report cannot be read or on a usage error,\n"
    "else 1 when a report's status is FAIL, else 0.\n";

std::string base_name(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string directory_of(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

struct job {
  std::string report, json, junit, platform;
};

// One report: read, written, summed up on stdout. Returns its exit status.
int convert(const job& j) {
  std::ifstream in(j.report, std::ios::binary);
  if (!in) {
    fprintf(stderr, "iovet-results: %s: cannot open it\n", j.report.c_str());
    return 2;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  results::report r;
  std::string error;
  if (!results::read_report(bytes, r, error)) {
    fprintf(stderr, "iovet-results: %s: not a readable Iovet report: %s\n", j.report.c_str(), error.c_str());
    return 2;
  }
  if (!j.json.empty() && !results::write_json(j.json, r.records, r.status, j.platform, r.profile)) {
    fprintf(stderr, "iovet-results: cannot write %s\n", j.json.c_str());
    return 2;
  }
  if (!j.junit.empty() && !results::write_junit(j.junit, r.records, j.platform, true, r.profile)) {
    fprintf(stderr, "iovet-results: cannot write %s\n", j.junit.c_str());
    return 2;
  }
  std::string files = j.json + (j.json.empty() || j.junit.empty() ? "" : ", ") + j.junit;
  printf("%s: %s, %lu pass, %lu fail, %lu warning, %lu not applicable, %lu missing; %zu %s -> %s\n",
         j.report.c_str(), r.status.c_str(), r.pass, r.fail, r.warn, r.not_applicable, r.missing, r.records.size(),
         r.listing ? "records" : "records of a plain run's summary", files.c_str());
  return r.status == "FAIL" ? 1 : 0;
}

int run_main(int argc, char** argv) {
  std::string json, junit, out, platform;
  std::vector<std::string> reports;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    std::string* into = a == "--json" ? &json : a == "--junit" ? &junit : a == "--out" ? &out
                        : a == "--platform" ? &platform : nullptr;
    if (into) {
      if (i + 1 >= argc) {
        fprintf(stderr, "iovet-results: %s needs a value\n%s", a.c_str(), usage);
        return 2;
      }
      *into = argv[++i];
    } else if (a == "--help" || a == "-h") {
      fputs(usage, stdout);
      return 0;
    } else if (a == "--") {
      reports.insert(reports.end(), argv + i + 1, argv + argc);
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      fprintf(stderr, "iovet-results: unknown option %s\n%s", a.c_str(), usage);
      return 2;
    } else {
      reports.push_back(a);
    }
  }
  if (reports.empty()) {
    fprintf(stderr, "iovet-results: no report given\n%s", usage);
    return 2;
  }
  if ((!json.empty() || !junit.empty()) && (reports.size() > 1 || !out.empty())) {
    fprintf(stderr, "iovet-results: --json and --junit name one report's files; use --out for several\n");
    return 2;
  }

  std::vector<job> jobs;
  std::map<std::string, std::string> written_by;
  for (const std::string& report : reports) {
    std::string name = base_name(report);
    std::string dir = out.empty() ? directory_of(report) : out;
    job j{report, json, junit, platform.empty() ? name : platform};
    if (j.json.empty() && j.junit.empty()) {
      j.json = dir + "/" + name + ".json";
      j.junit = dir + "/" + name + ".junit.xml";
    }
    const std::string& file = j.json.empty() ? j.junit : j.json;
    if (!written_by.emplace(file, report).second) {
      fprintf(stderr, "iovet-results: %s and %s would both write %s\n", written_by[file].c_str(), report.c_str(),
              file.c_str());
      return 2;
    }
    jobs.push_back(j);
  }
  int status = 0;
  for (const job& j : jobs) {
    int s = convert(j);
    if (s > status) status = s;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) { return run_main(argc, argv); }
