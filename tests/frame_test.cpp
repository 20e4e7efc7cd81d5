// The application frame: options, usage, banner, debug output, formatter.
#include "app/app.h"
#include "catalogue/catalogue.h"
#include "discovery/remap_lists.h"
#include "platform/print.h"
#include "support/harness.h"

using namespace testing_support;

namespace {

const char* const usage_text =
    "Usage:   Iovet.efi [-h] [-a] [-d] [-p] [-t] [-v] [-x]\n"
    "Options: -h   Display command line options.\n"
    "         -a   Also on a processor without a chipset profile: check what\n"
    "              needs no chipset view; the rest is reported as missing data.\n"
    "         -d   Display ACPI Tables (DMAR, HPET, MADT, MCFG).\n"
    "         -p   Pause output after each screen.\n"
    "              Do not use when output is redirected to file.\n"
    "         -t   Run Zyr tests.\n"
    "         -v   Verbose option.\n"
    "         -x   Also on the seven known families: what an operating system\n"
    "              checks at boot (tests 101 on).\n";

std::string fmt(const char* format, std::initializer_list<fmt_arg> args, size_t chars = 321) {
  std::vector<char16_t> buf(chars);
  format_v8(buf.data(), chars, format, args.begin(), args.size());
  return sim::to_utf8(buf.data());
}

}  // namespace

TEST(Usage, HelpFormsPrintExactlyTheUsageText) {
  for (const char* form : {"-h", "-?", "/H", "/h", "-H", "-help"}) {
    sim::machine m;
    auto r = run_iovet(m, {form});
    EXPECT_EQ(r.text, usage_text) << form;
    EXPECT_EQ(r.status, 0u);
  }
}

TEST(Usage, HelpAfterOtherOptionsStillStopsAndLaterArgumentsAreIgnored) {
  sim::machine m;
  auto r = run_iovet(m, {"-t", "-h", "--dbg"});
  EXPECT_EQ(r.text, usage_text);
  sim::machine m2;
  auto r2 = run_iovet(m2, {"-p", "-h"});
  EXPECT_EQ(r2.text, usage_text);
  EXPECT_TRUE(m2.page_break) << "-p switches page break before -h stops parsing";
  sim::machine m3;
  run_iovet(m3, {"-h", "-p"});
  EXPECT_FALSE(m3.page_break);
}

TEST(Usage, MissingShellArgumentProtocolsGiveMinusOneWithoutOutput) {
  sim::machine m;
  m.shell_parameters = false;
  m.shell_interface = false;
  auto r = run_iovet(m, {"-h"});
  EXPECT_EQ(r.status, (efi_status_t)-1);
  EXPECT_EQ(r.text, "");
  sim::machine m2;
  m2.shell_parameters = false;
  m2.shell_interface = true;
  EXPECT_EQ(run_iovet(m2, {"-h"}).text, usage_text);
}

TEST(Banner, PlainRunPrintsTheBannerFirst) {
  sim::machine m;
  add_catalogue(m);
  auto r = run_iovet(m);
  ASSERT_TRUE(contains(r.text, "*********************************************\nIovet v1.1.35\nBuilt: ")) << r.text;
  EXPECT_EQ(r.text.rfind("*********************************************\nIovet v1.1.35\n", 0), 0u);
}

TEST(Options, FormsAndDefaults) {
  sim::machine m;
  sim::run_result dummy;
  // parse_options talks to the platform only for -p; run it inside a machine.
  std::vector<std::u16string> storage;
  auto check = [&](std::vector<std::u16string> args, uint8_t t, uint8_t d, uint8_t v, uint64_t dbg) {
    std::vector<std::u16string> all{u"Iovet.efi"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char16_t*> argv;
    for (auto& a : all) argv.push_back(&a[0]);
    options_t o{9, 9, 9};
    EXPECT_EQ(parse_options(argv.size(), argv.data(), &o), 0u);
    EXPECT_EQ(o.run_tests, t);
    EXPECT_EQ(o.dump_tables, d);
    EXPECT_EQ(o.verbose, v);
    EXPECT_EQ(debug_mask, dbg);
  };
  check({}, 1, 0, 0, 0);
  check({u"-d"}, 0, 1, 0, 0);
  check({u"/D", u"-T"}, 1, 1, 0, 0);
  check({u"-v"}, 1, 0, 1, 0);
  check({u"/Vx"}, 1, 0, 1, 0);         // two characters compared
  check({u"-z", u"foo"}, 1, 0, 0, 0);  // unknown arguments ignored
  check({u"--dbg"}, 1, 0, 0, 0xFFFFFFFF);
  check({u"--DBGextra"}, 1, 0, 0, 0xFFFFFFFF);
  check({u"--Dbg"}, 1, 0, 0, 0);
  check({u"--dBG"}, 1, 0, 0, 0);
}

TEST(Formatter, Conventions) {
  EXPECT_EQ(fmt("%d|%x|%X|%02d|%08X", {5, 255, 0xabcU, 7, 0x1234U}), "5|FF|ABC|07|00001234");
  EXPECT_EQ(fmt("%016LX", {0x123456789ABCULL}), "0000123456789ABC");
  EXPECT_EQ(fmt("%X", {0x1122334455667788ULL}), "55667788") << "without L only the low 32 bits";
  EXPECT_EQ(fmt("%d", {(uint64_t)0x100000005ULL}), "5") << "a 64-bit count given to %d";
  EXPECT_EQ(fmt("%Ld", {(uint64_t)0x100000005ULL}), "4294967301");
  EXPECT_EQ(fmt("%d", {-3}), "-3");
  EXPECT_EQ(fmt("%0d %0X", {9, 10}), "9 A");
  EXPECT_EQ(fmt("%s=%c", {u"name", u'Z'}), "name=Z");
  EXPECT_EQ(fmt("%s", {"ascii"}), "ascii");
  EXPECT_EQ(fmt("%s", {5}), "<bad argument>") << "a number is never read as a string";
  EXPECT_EQ(fmt("%d %d", {1}), "1 0") << "a missing argument prints as zero";
  EXPECT_EQ(fmt("100%%", {}), "100%");
}

TEST(Formatter, Bounds) {
  std::u16string long_text(600, u'a');
  // A 512-byte message buffer holds 255 characters and the terminator.
  char16_t msg[300];
  for (auto& c : msg) c = u'#';
  format_to(msg, 512, "%s", long_text.c_str());
  EXPECT_EQ(std::u16string(msg).size(), 255u);
  EXPECT_EQ(msg[256], u'#') << "nothing written past the buffer";
  // Print writes at most 320 characters a call.
  sim::machine m;
  sim::scoped_machine use(m);
  Print("%s", long_text.c_str());
  EXPECT_EQ(m.console_u16().size(), 320u);
}

TEST(RecordMessages, LiteralsWidenedByteByByteWithinTheirBounds) {
  // A literal message keeps up to 511 characters and the terminator; a
  // formatted one 255. Bytes above 0x7F widen as they are (no sign).
  static test_case_t tc;
  std::string long_literal(600, 'm');
  long_literal[0] = '\x97';
  set_result(&tc, TEST_FAIL, long_literal.c_str());
  EXPECT_EQ(tc.result, TEST_FAIL);
  EXPECT_EQ(std::u16string(tc.message).size(), 511u);
  EXPECT_EQ(tc.message[0], u'\u0097');
  set_result_fmt(&tc, TEST_WARNING, "%a", long_literal.c_str());
  EXPECT_EQ(tc.result, TEST_WARNING);
  EXPECT_EQ(std::u16string(tc.message).size(), 255u);
  set_result(&tc, TEST_PASS);
  EXPECT_EQ(std::u16string(tc.message).size(), 255u) << "no message leaves the record's text as it was";
}

TEST(DebugPrint, CutAt127CharactersAndOnlyWithBit31) {
  sim::machine m;
  sim::scoped_machine use(m);
  std::string long_line(200, 'x');
  debug_print(0, "DEBUG -- %a\n", long_line.c_str());
  EXPECT_EQ(m.console_u16(), u"");
  debug_print(0xFFFFFFFF, "DEBUG -- %s\n", long_line.c_str());
  EXPECT_EQ(m.console_u16().size(), 127u);
  m.console.clear();
  // 8-bit formats are widened byte by byte: 0x97 becomes U+0097.
  debug_print(0x80000000, "a\x97" "b %d\n", 12);
  EXPECT_EQ(m.console_u16(), std::u16string(u"a\u0097b 12\n"));
}

TEST(SimulatedMachine, WatchdogStopsARunAndLaterCallsOnTheMachineAreSafe) {
  sim::machine m;
  add_catalogue(m);
  m.install_acpi({sim::dmar_builder().drhd(1, 0, 0xFED90000).build(), sim::build_mcfg({{0xE0000000, 0, 0, 255}})});
  m.operation_limit = 1000;  // far below what the inventory scan needs
  sim::run_result r = sim::run(m, {});
  EXPECT_TRUE(r.watchdog);
  EXPECT_FALSE(r.exited);
  // What the stopped run left can be freed afterwards without the watchdog
  // jumping back into the finished run.
  sim::scoped_machine use(m);
  for (int i = 0; i < 2000; i++) PciRead32(0);
  acpi_tables_t none{};
  free_test_data(&none);
  // The stopped run's table copies were owned by its frame: free them here.
  std::vector<void*> left;
  for (const auto& block : m.live_allocations) left.push_back(block.first);
  for (void* p : left) FreePool(p);
  EXPECT_TRUE(m.live_allocations.empty());
}

// The port path reaches registers 0x00-0xFF only, as ports 0xCF8/0xCFC do;
// extended registers answer through the memory-mapped window alone.
TEST(SimulatedMachine, PortAccessesReachTheFirstTwoHundredFiftySixRegistersOnly) {
  sim::machine m;
  m.ecam_base = 0xE0000000;
  sim::pci_function& f = m.pci(0, 3, 0, 0x8086, 0x1234);
  f.set32(0xFC, 0x11223344);
  f.set32(0x100, 0x55667788);
  sim::scoped_machine use(m);
  EXPECT_EQ(PciRead32(PCI_LIB_ADDRESS(0, 3, 0, 0xFC)), 0x11223344u);
  EXPECT_EQ(PciRead8(PCI_LIB_ADDRESS(0, 3, 0, 0xFF)), 0x11u);
  EXPECT_EQ(PciRead32(PCI_LIB_ADDRESS(0, 3, 0, 0x100)), 0xFFFFFFFFu);
  EXPECT_EQ(PciRead16(PCI_LIB_ADDRESS(0, 3, 0, 0x100)), 0xFFFFu);
  EXPECT_EQ(PciRead8(PCI_LIB_ADDRESS(0, 3, 0, 0xFFF)), 0xFFu);
  EXPECT_EQ(PciRead16(PCI_LIB_ADDRESS(0, 3, 0, 0xFF)), 0xFFFFu) << "an access that crosses 0x100";
  EXPECT_EQ(MmioRead32(0xE0000000 + (3 << 15) + 0x100), 0x55667788u);
  PciWrite8(PCI_LIB_ADDRESS(0, 3, 0, 0x100), 0xAB);
  EXPECT_EQ(f.get8(0x100), 0x88u) << "a port write beyond 0xFF goes nowhere";
  EXPECT_TRUE(m.pci_writes.empty());
  PciWrite8(PCI_LIB_ADDRESS(0, 3, 0, 0x40), 0xAB);
  EXPECT_EQ(f.get8(0x40), 0xABu);
}
