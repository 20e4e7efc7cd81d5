// The application frame: options, banner, main.
#pragma once
#include <stdint.h>

#include "platform/platform.h"

struct options_t {
  uint8_t run_tests;
  uint8_t dump_tables;
  uint8_t verbose;
  uint8_t any_processor;  // -a: a processor without a setup routine is checked as far as it can be
  uint8_t os_checks;      // -x: what an operating system checks at boot (101 on), on the seven families too
};

constexpr uint32_t IOVET_VERSION_MAJOR = 1;
constexpr uint32_t IOVET_VERSION_MINOR = 1;
constexpr uint32_t IOVET_VERSION_BUILD = 35;

uint64_t parse_options(uint64_t argc, char16_t** argv, options_t* options);
void print_usage();
void print_banner();

namespace iovet {
// The run: always returns 0 (a dump that meets invalid data leaves through
// exit_application with status 1).
uint64_t main(uint64_t argc, char16_t** argv);
}  // namespace iovet

struct acpi_tables_t;
// Ends the application from inside the run (a dump that meets data it cannot
// accept): frees what the run collected, runs the library clean-up and
// leaves through Exit with the status. Prints nothing.
[[noreturn]] void end_application(efi_status_t status);

// Image entry shared by both platforms, after the platform's library set-up:
// obtains the argument vector, runs main, runs the clean-up.
efi_status_t image_entry();
