// Processor virtualization capability: tests 51 and 55.
#include "assertions/assertions.h"
#include "platform/platform.h"
#include "report/report.h"

namespace {

constexpr uint32_t IA32_FEATURE_CONTROL = 0x3A;
constexpr uint8_t SMBIOS_TYPE_CPU_CAPABILITY = 131;
constexpr uint32_t TYPE131_OFF_CAPABILITY = 0x04;

bool cpuid_vmx() {
  uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
  AsmCpuid(1, &eax, &ebx, &ecx, &edx);
  return (ecx >> 5) & 1;
}

}  // namespace

uint64_t assert_smbios_vmx(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(51, true);
  if (!tc) return 1;
  uint64_t structure = find_smbios_structure(SMBIOS_TYPE_CPU_CAPABILITY, 0, 0, 0);
  if (!structure) {
    set_result(tc, TEST_NA);
    return 0;
  }
  debug_print(debug_mask, "DEBUG -- #%d: Type 131 located @ 0x%LX\n", 51, structure);
  // The capability word must lie inside the structure's formatted area and
  // inside the SMBIOS table (the finder only vouches for the header).
  uint8_t header[2] = {0, 0};
  read_smbios_bytes(structure, header, sizeof(header));
  uint8_t word[4] = {0, 0, 0, 0};
  if (header[1] < TYPE131_OFF_CAPABILITY + 4 ||
      !read_smbios_bytes(structure + TYPE131_OFF_CAPABILITY, word, sizeof(word))) {
    set_result_fmt(tc, TEST_NA, "Table 131 is too short (%d bytes) to hold the CPU Capability(0x04) word.\n",
                   header[1]);
    return 0;
  }
  uint32_t capability = (uint32_t)word[0] | (uint32_t)word[1] << 8 | (uint32_t)word[2] << 16 | (uint32_t)word[3] << 24;
  debug_print(debug_mask, "DEBUG -- #%d: Type 131 Offset 0x04(Cap Val) = 0x%X\n", 51, capability);

  bool vmx_enable = (capability >> 5) & 1;
  if (((capability >> 4) & 1) != (uint32_t)cpuid_vmx()) {
    set_result(tc, TEST_FAIL, "Table 131: CPU Capability(0x04) Bit 4(VMX Capability) must equal CPUID1:ECX[5].\n");
  } else if ((capability & 1) != (uint32_t)vmx_enable) {
    set_result(tc, TEST_FAIL,
               "Table 131: CPU Capability(0x04) Bit 5(VMX Enable) must be same as Capability(0x04) Bit 0.\n");
  } else {
    uint64_t msr = AsmReadMsr64(IA32_FEATURE_CONTROL);
    debug_print(debug_mask, "DEBUG -- #%d: IA32_FEATURE_CONTROL = 0x%LX\n", 51, msr);
    if (!vmx_enable || (msr & 0x6))
      set_result(tc, TEST_PASS);
    else
      set_result(tc, TEST_FAIL,
                 "Table 131: If CPU Capability(0x04) Bit 5(VMX Enable) is set, then at least 1 bit from MSR "
                 "IA32_FEATURE_CONTROL[2:1] must be also set.\n");
  }
  return 0;
}

uint64_t assert_vmx_locked(acpi_tables_t*, test_info_t*) {
  test_case_t* tc = assertion_record(55, true);
  if (!tc) return 1;
  if (!cpuid_vmx()) {
    set_result(tc, TEST_FAIL, "CPUID1:ECX[5] is not set.\n");
    return 0;
  }
  uint64_t msr = AsmReadMsr64(IA32_FEATURE_CONTROL);
  debug_print(debug_mask, "DEBUG -- #%d: IA32_FEATURE_CONTROL = 0x%LX.\n", 55, msr);
  if ((msr & 0x6) && (msr & 0x1))
    set_result(tc, TEST_PASS);
  else
    set_result(tc, TEST_FAIL, "MSR 0x3A not programmed properly. Check VMX & lock bits.\n");
  return 0;
}
