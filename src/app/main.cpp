#include "app/app.h"
#include "discovery/acpi.h"
#include "discovery/remap_lists.h"
#include "engine/driver.h"
#include "engine/test_info.h"
#include "platform/print.h"
#include "platform/text.h"
#include "report/report.h"

namespace {
// The run's collected data, for the teardown of an early end.
acpi_tables_t* run_tables = nullptr;
}  // namespace

void end_application(efi_status_t status) {
  if (run_tables) free_test_data(run_tables);
  run_tables = nullptr;
  exit_application(status);
}

namespace iovet {

uint64_t main(uint64_t argc, char16_t** argv) {
  options_t options;
  if (parse_options(argc, argv, &options) == 1) {
    print_usage();
    return 0;
  }
  print_banner();

  test_info_t tinfo;
  mem_set(&tinfo, 0, sizeof(tinfo));
  acpi_tables_t tables;
  mem_set(&tables, 0, sizeof(tables));
  run_tables = &tables;

  if (collect_test_data(&tables, &tinfo) != 0) {
    Print("Application Exists. Error occurred collecting needed Zyr test data.\n");
  } else {
    if (options.dump_tables) {
      dump_dmar(dmar_view(tables));
      dump_hpet(hpet_view(tables));
      dump_mcfg(mcfg_view(tables));
      dump_madt(madt_view(tables));
    }
    if (options.run_tests &&
        run_assertions(&tables, &tinfo, options.any_processor != 0, options.os_checks != 0) == 0) {
      debug_print(debug_mask, "DEBUG -- main() Line# %d\n", 101);
      display_test_report(options.verbose);
    }
  }
  free_test_data(&tables);
  run_tables = nullptr;
  return 0;
}

}  // namespace iovet

efi_status_t image_entry() {
  uint64_t argc = 0;
  char16_t** argv = nullptr;
  if (get_argument_vector(&argc, &argv) != 0) {
    library_cleanup();
    return (efi_status_t)-1;
  }
  efi_status_t status = iovet::main(argc, argv);
  library_cleanup();
  return status;
}
