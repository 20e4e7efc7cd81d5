// iovet-sim as a user runs it (options, exit statuses, result files), the
// reference platform under every table set of the corpus, and the capture
// tool on the machine that runs the tests.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/sim/platform_dir.h"
#include "support/harness.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct outcome {
  int status;
  std::string out;
};

outcome sh(const std::string& command) {
  outcome o{-1, ""};
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return o;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
  int st = pclose(p);
  o.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return o;
}

std::string sim_bin() { return IOVET_SIM_BINARY; }

std::string temp_path(const std::string& name) {
  return (fs::temp_directory_path() / ("iovet-runner-" + name + "-" + std::to_string(getpid()))).string();
}

}  // namespace

TEST(SimRunner, StatusExitFollowsTheReportAndPlainExitTheApplication) {
  auto pass = sh(sim_bin() + " --reference rav --status-exit");
  EXPECT_EQ(pass.status, 0) << pass.out;
  EXPECT_TRUE(contains(pass.out, "Zyr Test Status: PASS"));
  EXPECT_FALSE(contains(pass.out, "\x1b[")) << "no colours when the output is not a terminal";

  std::string failing = repo_path("tests/data/platforms/rav-hpet-timer-level");
  auto fail = sh(sim_bin() + " --platform " + failing + " --status-exit");
  EXPECT_EQ(fail.status, 1);
  EXPECT_TRUE(contains(fail.out, "Zyr Test Status: FAIL"));
  EXPECT_EQ(sh(sim_bin() + " --platform " + failing).status, 0) << "without --status-exit, the application's status";

  // A processor without a setup routine: no report, which is no PASS.
  std::string unlisted = temp_path("unlisted");
  fs::copy(repo_path("platforms/rav"), unlisted, fs::copy_options::recursive);
  std::ofstream(unlisted + "/cpuid.txt") << "0x1 0xB06D1 0 0 0\n";
  auto no_report = sh(sim_bin() + " --platform " + unlisted + " --status-exit");
  EXPECT_EQ(no_report.status, 1);
  EXPECT_TRUE(contains(no_report.out, "CPU not supported 0xB06D0"));
  EXPECT_TRUE(contains(no_report.out, "iovet-sim: the run ended without a report")) << no_report.out;
  EXPECT_EQ(sh(sim_bin() + " --platform " + unlisted).status, 0) << "the application's own status";
  fs::remove_all(unlisted);

  // A DMAR by itself, as bug reports attach it: a report, the other tables
  // not known and said so once.
  std::string dmar = repo_path("../shared/corpus/linuxhw-336D5712545D/DMAR.dat");
  if (fs::exists(dmar)) {
    auto alone = sh(sim_bin() + " --tables " + dmar + " -- -v");
    EXPECT_TRUE(contains(alone.out, "Zyr Test Status: PASS (44 not evaluated)")) << alone.out;
    EXPECT_TRUE(contains(alone.out, "not given, so not known: mcfg madt hpet")) << alone.out;
    EXPECT_TRUE(contains(alone.out, "Needs the MCFG table, which is not among the tables given"));
    EXPECT_FALSE(contains(alone.out, "Missing MCFG"));
  }

  auto dbg = sh(sim_bin() + " --reference gux --dbg");
  EXPECT_TRUE(contains(dbg.out, "DEBUG : testsetup_gux():  MCHBAR = 0xFED10001")) << "Iovet options pass through";
  auto help = sh(sim_bin() + " --reference rav -- -h");
  EXPECT_TRUE(contains(help.out, "Usage:   Iovet.efi"));
}

TEST(SimRunner, BadInvocationsAndPlatformsAreRefusedWithTheirPlace) {
  auto unknown = sh(sim_bin() + " --reference zen");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(contains(unknown.out, "unknown reference family \"zen\""));
  auto both = sh(sim_bin() + " --reference rav --platform /tmp");
  EXPECT_EQ(both.status, 2);
  auto missing_value = sh(sim_bin() + " --tables");
  EXPECT_EQ(missing_value.status, 2);
  EXPECT_TRUE(contains(missing_value.out, "--tables needs a value"));

  std::string dir = temp_path("bad");
  fs::create_directories(dir + "/empty");
  std::ofstream(dir + "/random.bin") << std::string("\x01\xFE\x80\x7F\xC3\x00\x11", 7) + std::string(200, '\x9A');
  std::string junit = dir + "/t.xml";
  // Bad input: one line, exit 2, nothing run and no file written.
  const std::pair<std::string, std::string> refused[] = {
      {"--platfrom " + repo_path("platforms/rav") + " --status-exit --junit " + junit,
       "iovet-sim: unknown option --platfrom"},
      {"--reference rav --Dbg", "iovet-sim: unknown option --Dbg"},
      {"--platform " + dir + "/empty --junit " + junit, dir + "/empty: no platform piece here"},
      {"--tables " + dir + "/random.bin --junit " + junit, "random.bin: neither an ACPI table nor acpidump text"},
      {"--reference rav --tables " + dir + "/empty --junit " + junit, "/empty: no ACPI table here"},
      {"--junit " + junit, "iovet-sim: nothing to check"},
  };
  for (const auto& c : refused) {
    auto r = sh(sim_bin() + " " + c.first);
    EXPECT_EQ(r.status, 2) << c.first;
    EXPECT_TRUE(contains(r.out, c.second)) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_FALSE(fs::exists(junit)) << c.first;
  }
  std::ofstream(dir + "/mmio.txt") << "0xFED90000 32 0x1\n0xFED90004 thirty-two 0x1\n";
  auto bad = sh(sim_bin() + " --platform " + dir);
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(contains(bad.out, dir + "/mmio.txt:2: \"thirty-two\" is not a number")) << bad.out;
  fs::remove_all(dir);
}

TEST(SimRunner, ResultFilesHoldOneEntryPerCatalogueRecord) {
  std::string junit = temp_path("junit.xml"), json = temp_path("results.json");
  auto r = sh(sim_bin() + " --platform " + repo_path("tests/data/platforms/rav-rmrr-limit-past-reserved") +
              " --junit " + junit + " --json " + json);
  EXPECT_EQ(r.status, 0);
  std::string x = read_file(junit), j = read_file(json);
  EXPECT_TRUE(contains(x, "tests=\"55\" failures=\"1\" errors=\"0\" skipped=\"1\""));
  EXPECT_TRUE(contains(x, "<testcase classname=\"iovet\" name=\"40) Every RMRR is 4 KiB aligned"));
  EXPECT_TRUE(contains(x, "<failure message=\"RMRR Base Address(0x79E00000) Limit Adress(0x79E21FFF) is not marked as "
                          "reserved or runtime in system memory map.\">"));
  EXPECT_TRUE(contains(x, "<skipped message=\"Not Applicable for this platform\"/>"));
  EXPECT_TRUE(contains(j, "\"status\": \"FAIL\""));
  EXPECT_TRUE(contains(j, "{\"number\": 40, \"description\": \"Every RMRR is 4 KiB aligned"));
  EXPECT_TRUE(contains(j, "\"result\": \"FAIL\", \"message\": \"RMRR Base Address(0x79E00000)"));
  EXPECT_TRUE(contains(j, "{\"number\": 62, "));
  size_t entries = 0;
  for (size_t at = j.find("\"number\""); at != std::string::npos; at = j.find("\"number\"", at + 1)) entries++;
  EXPECT_EQ(entries, 55u);
  fs::remove(junit);
  fs::remove(json);
}

TEST(SimRunner, TablesReplaceThePlatformsSignatureBySignature) {
  // The corpus machine's DMAR on the rav platform: its engines are not rav's.
  std::string corpus = repo_path("../shared/corpus/clover-aquigni_ESP");
  if (!fs::exists(corpus)) GTEST_SKIP() << "corpus not present";
  auto r = sh(sim_bin() + " --reference rav --tables " + corpus + " -- -d");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "RegisterBaseAddress         0x00000000FBFFF000")) << "the corpus DMAR is dumped";
  auto t = sh(sim_bin() + " --reference rav --tables " + corpus + " --status-exit");
  EXPECT_EQ(t.status, 1) << "the rav chipset does not have the corpus machine's engines";
  // One binary table; stderr says which source is whose.
  auto one = sh(sim_bin() + " --reference rav --tables " + corpus + "/DMAR.dat -- -d");
  EXPECT_EQ(one.status, 0) << one.out;
  EXPECT_TRUE(contains(one.out, "iovet-sim: from tables " + corpus + "/DMAR.dat: dmar\n")) << one.out;
  EXPECT_TRUE(contains(one.out, "iovet-sim: from reference rav: mcfg madt hpet chipset pci engines device-registers "
                                "memory-map smbios cpuid msr\n"));
}

TEST(SimRunner, NotRecordedSourcesSurviveSave) {
  std::string dir = temp_path("partial"), saved = temp_path("saved");
  fs::copy(repo_path("platforms/rav"), dir, fs::copy_options::recursive);
  fs::remove(dir + "/mmio.txt");
  std::ofstream(dir + "/platform.txt", std::ios::app) << "not-recorded msr\n";
  auto r = sh(sim_bin() + " --platform " + dir + " --save " + saved);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(fs::exists(saved + "/mmio.txt")) << "nothing recorded, nothing written";
  EXPECT_TRUE(contains(read_file(saved + "/platform.txt"), "\nnot-recorded chipset engines device-registers msr\n"));
  sim::platform_description before, after;
  ASSERT_TRUE(sim::load_platform_dir(dir, before).ok);
  ASSERT_TRUE(sim::load_platform_dir(saved, after).ok);
  EXPECT_EQ(after.sources, before.sources);
  EXPECT_EQ(after.msrs, before.msrs) << "a piece not recorded as a whole is kept";
  fs::remove_all(dir);
  fs::remove_all(saved);
}

TEST(SimRunner, CaptureOfThisMachineLoads) {
  if (sh("command -v python3").status != 0) GTEST_SKIP() << "python3 not available";
  std::string dir = temp_path("capture");
  auto cap = sh(repo_path("tools/iovet-capture") + " " + dir);
  ASSERT_EQ(cap.status, 0) << cap.out;
  EXPECT_TRUE(fs::exists(dir + "/MISSING.txt"));
  auto run = sh(sim_bin() + " --platform " + dir);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(contains(run.out, "Iovet v")) << run.out;
  EXPECT_FALSE(contains(run.out, "iovet-sim: ")) << "the captured directory loads without complaint";
  fs::remove_all(dir);
}

// Where /dev/mem is closed the engines' CAP and ECAP come from sysfs, and
// what could not be read is not recorded; a machine without a DMAR is named.
TEST(SimRunner, CaptureTakesEngineRegistersFromSysfsAndMarksTheRestNotRecorded) {
  if (sh("command -v python3").status != 0) GTEST_SKIP() << "python3 not available";
  std::string root = temp_path("root"), out = temp_path("captured"), json = temp_path("captured.json");
  std::string capture = "IOVET_CAPTURE_ROOT=" + root + " " + repo_path("tools/iovet-capture") + " " + out;
  fs::create_directories(root + "/sys/firmware/acpi/tables");
  auto no_dmar = sh(capture);
  EXPECT_EQ(no_dmar.status, 0) << no_dmar.out;
  EXPECT_TRUE(contains(no_dmar.out, "iovet-capture: this machine has no DMAR table")) << no_dmar.out;
  fs::remove_all(out);

  sim::platform_description rav;
  ASSERT_TRUE(sim::load_reference_description("rav", rav));
  for (const auto& t : rav.acpi)
    std::ofstream(root + "/sys/firmware/acpi/tables/" + t.name, std::ios::binary)
        .write(reinterpret_cast<const char*>(t.bytes.data()), (std::streamsize)t.bytes.size());
  const char* const engines[][3] = {{"fed90000", "1c0000c40660462", "7e3ff0505e"},
                                    {"fed91000", "1c0000c40660462", "f050da"}};
  for (int i = 0; i < 2; i++) {
    std::string d = root + "/sys/class/iommu/dmar" + std::to_string(i) + "/intel-iommu/";
    fs::create_directories(d);
    for (int f = 0; f < 3; f++) std::ofstream(d + (f == 0 ? "address" : f == 1 ? "cap" : "ecap")) << engines[i][f] << "\n";
  }
  auto cap = sh(capture);
  ASSERT_EQ(cap.status, 0) << cap.out;
  std::string mmio = read_file(out + "/mmio.txt");
  EXPECT_TRUE(contains(mmio, "0xFED90008 64 0x01C0000C40660462  # engine 0xFED90000 CAP_REG (sysfs)")) << mmio;
  EXPECT_TRUE(contains(mmio, "0xFED91010 64 0x0000000000F050DA  # engine 0xFED91000 ECAP_REG (sysfs)")) << mmio;
  EXPECT_TRUE(contains(read_file(out + "/platform.txt"), "\nnot-recorded chipset device-registers\n"));
  EXPECT_TRUE(contains(read_file(out + "/MISSING.txt"), "/dev/mem"));

  // The engines' own assertions run on the DRHD structures' bases.
  auto run = sh(sim_bin() + " --platform " + out + " --json " + json);
  EXPECT_EQ(run.status, 0) << run.out;
  std::string j = read_file(json);
  for (const char* id : {"8", "9", "10", "52"}) {
    size_t at = j.find(std::string("{\"number\": ") + id + ", ");
    ASSERT_NE(at, std::string::npos) << id;
    EXPECT_EQ(j.substr(j.find("\"result\": ", at), 16), "\"result\": \"PASS\"") << id << "\n" << run.out;
  }
  fs::remove_all(root);
  fs::remove_all(out);
  fs::remove(json);
}

// Every table set of the corpus on the rav platform, dumped: no crash, no
// leak, no endless walk, and every run ends in its dumps or an error end.
TEST(SimCorpus, ReferencePlatformWithEveryCorpusTableSetDumps) {
  fs::path corpus = repo_path("../shared/corpus");
  if (!fs::exists(corpus)) GTEST_SKIP() << "corpus not present";
  sim::platform_description rav;
  ASSERT_TRUE(sim::load_reference_description("rav", rav));
  rav.has_catalogue = true;
  rav.catalogue = read_file(repo_path("zyr-tests"));
  std::vector<fs::path> dirs;
  for (const auto& de : fs::directory_iterator(corpus))
    if (de.is_directory()) dirs.push_back(de.path());
  std::sort(dirs.begin(), dirs.end());
  ASSERT_GT(dirs.size(), 600u);
  size_t dumped = 0;
  for (const auto& d : dirs) {
    sim::platform_description p = rav;
    std::vector<sim::acpi_table_file> t;
    auto lr = sim::read_acpi_tables(d.string(), t);
    ASSERT_TRUE(lr.ok) << lr.error;
    sim::replace_acpi_tables(p, t);
    sim::machine m;
    sim::install_platform(p, m);
    auto r = run_iovet(m, {"-d"});
    ASSERT_FALSE(r.watchdog) << d;
    EXPECT_TRUE(r.status == 0 || r.status == 1) << d;
    // Dumps, or the collection's own error end (a structure type the DMAR
    // walk refuses, such as SATC).
    EXPECT_TRUE(contains(r.text, "-- DMAR --") ||
                contains(r.text, "Application Exists. Error occurred collecting needed Zyr test data."))
        << d;
    if (r.status == 0 && contains(r.text, "-- MADT --")) dumped++;
  }
  EXPECT_GT(dumped, dirs.size() * 9 / 10);
}

// --stats counts every platform operation of the run by kind, and the
// configuration reads of a dump run (the inventory scan's only) are what the
// scan must cost on the platform.
TEST(SimRunner, StatsCountOperationsByKindAndTheScanCostsWhatItMust) {
  for (const char* family : {"rav", "jix"}) {
    SCOPED_TRACE(family);
    unsigned long long v[11] = {};
    auto parse = [&](const std::string& out) {
      size_t at = out.find("iovet-sim: run ");
      return at != std::string::npos &&
             sscanf(out.c_str() + at,
                    "iovet-sim: run %*f ms, %llu platform operations (%llu configuration reads, %llu configuration "
                    "writes, %llu MMIO reads, %llu physical-memory copies, %llu CPUID, %llu MSR, %llu firmware services)",
                    &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]) == 8;
    };
    auto full = sh(sim_bin() + " --reference " + family + " --stats");
    ASSERT_TRUE(parse(full.out)) << full.out;
    EXPECT_GT(v[1], 8192u) << "the scan alone reads register 0x0C of 256 buses";
    EXPECT_GT(v[3], 0u);
    EXPECT_GT(v[5], 0u);
    EXPECT_GT(v[6], 0u);
    EXPECT_GT(v[7], 0u);
    EXPECT_EQ(v[0], v[1] + v[2] + v[3] + v[4] + v[5] + v[6] + v[7]);

    auto dump = sh(sim_bin() + " --reference " + family + " --stats -- -d");
    ASSERT_TRUE(parse(dump.out)) << dump.out;
    unsigned long long allocations = 0, cost = 0;
    size_t at = dump.out.find("iovet-sim: PCI scan: ");
    ASSERT_NE(at, std::string::npos) << dump.out;
    ASSERT_EQ(sscanf(dump.out.c_str() + at, "iovet-sim: PCI scan: %llu MCFG allocation structures, %llu configuration reads",
                     &allocations, &cost),
              2);
    EXPECT_EQ(allocations, 1u);
    EXPECT_EQ(v[1], cost);
    EXPECT_EQ(v[2], 0u) << "a dump run writes nothing";
  }
}
