#include "app/app.h"
#include "platform/print.h"
#include "platform/text.h"

namespace {

// Option forms, group by group in the order they are tried; the two-character
// forms match an argument that begins with them.
enum option_action { OPT_HELP, OPT_TESTS, OPT_DUMP, OPT_VERBOSE, OPT_PAGE, OPT_ANY_PROCESSOR, OPT_OS_CHECKS, OPT_DEBUG };

struct option_form {
  const char16_t* text;
  uint8_t compared;  // characters compared
  option_action action;
};

constexpr option_form option_forms[] = {
    {u"-?", 2, OPT_HELP},    {u"-h", 2, OPT_HELP},    {u"-H", 2, OPT_HELP},    {u"/h", 2, OPT_HELP},
    {u"/H", 2, OPT_HELP},    {u"-t", 2, OPT_TESTS},   {u"-T", 2, OPT_TESTS},   {u"/t", 2, OPT_TESTS},
    {u"/T", 2, OPT_TESTS},   {u"-d", 2, OPT_DUMP},    {u"-D", 2, OPT_DUMP},    {u"/d", 2, OPT_DUMP},
    {u"/D", 2, OPT_DUMP},    {u"-v", 2, OPT_VERBOSE}, {u"-V", 2, OPT_VERBOSE}, {u"/v", 2, OPT_VERBOSE},
    {u"/V", 2, OPT_VERBOSE}, {u"-p", 2, OPT_PAGE},    {u"-P", 2, OPT_PAGE},    {u"/p", 2, OPT_PAGE},
    {u"/P", 2, OPT_PAGE},    {u"-a", 2, OPT_ANY_PROCESSOR}, {u"-A", 2, OPT_ANY_PROCESSOR}, {u"/a", 2, OPT_ANY_PROCESSOR},
    {u"/A", 2, OPT_ANY_PROCESSOR}, {u"-x", 2, OPT_OS_CHECKS}, {u"-X", 2, OPT_OS_CHECKS}, {u"/x", 2, OPT_OS_CHECKS},
    {u"/X", 2, OPT_OS_CHECKS}, {u"--dbg", 5, OPT_DEBUG}, {u"--DBG", 5, OPT_DEBUG},
};

}  // namespace

uint64_t parse_options(uint64_t argc, char16_t** argv, options_t* options) {
  debug_mask = 0;
  options->run_tests = 0;
  options->dump_tables = 0;
  options->verbose = 0;
  options->any_processor = 0;
  options->os_checks = 0;
  for (uint64_t i = 1; i < argc; i++) {
    const char16_t* arg = argv[i];
    if (!arg) continue;
    for (const option_form& form : option_forms) {
      if (str16_ncmp(arg, form.text, form.compared) != 0) continue;
      switch (form.action) {
        case OPT_HELP:
          return 1;
        case OPT_TESTS:
          options->run_tests = 1;
          break;
        case OPT_DUMP:
          options->dump_tables = 1;
          break;
        case OPT_VERBOSE:
          options->verbose = 1;
          break;
        case OPT_PAGE:
          enable_page_break();
          break;
        case OPT_ANY_PROCESSOR:
          options->any_processor = 1;
          break;
        case OPT_OS_CHECKS:
          options->os_checks = 1;
          break;
        case OPT_DEBUG:
          debug_mask = 0xFFFFFFFF;
          break;
      }
      break;
    }
  }
  if (!options->run_tests && !options->dump_tables) options->run_tests = 1;
  return 0;
}

void print_usage() {
  Print("Usage:   Iovet.efi [-h] [-a] [-d] [-p] [-t] [-v] [-x]\n");
  Print("Options: -h   Display command line options.\n");
  Print("         -a   Also on a processor without a chipset profile: check what\n");
  Print("              needs no chipset view; the rest is reported as missing data.\n");
  Print("         -d   Display ACPI Tables (DMAR, HPET, MADT, MCFG).\n");
  Print("         -p   Pause output after each screen.\n");
  Print("              Do not use when output is redirected to file.\n");
  Print("         -t   Run Zyr tests.\n");
  Print("         -v   Verbose option.\n");
  Print("         -x   Also on the seven known families: what an operating system\n");
  Print("              checks at boot (tests 101 on).\n");
}

// The build stamp is a named array, not a string literal: the linker places
// literals by a name made from their text, so two builds' literals would
// land in different orders, while a named array keeps its place.
static const char build_stamp[] = __DATE__ " " __TIME__;

void print_banner() {
  Print("*********************************************\n");
  Print("%s v%d.%d.%d\n", "Iovet", IOVET_VERSION_MAJOR, IOVET_VERSION_MINOR, IOVET_VERSION_BUILD);
  Print("Built: %s\n", build_stamp);
  Print("%s\n", "Iovet DMA-remapping reporting checker");
  Print("%s\n", "Maintained by the Iovet developers");
  Print("*********************************************\n");
}
