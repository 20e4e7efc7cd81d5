// The processor families with a setup routine, found by the CPUID signature.
#pragma once
#include <stdint.h>

// The processor signature (CPUID leaf 1 EAX) without its stepping and
// reserved bits, as the family dispatch and the setup routines compare it.
constexpr uint32_t SIG_MASK = 0x0FFF3FF0;

enum family_id : uint8_t {
  FAMILY_NONE,
  FAMILY_QEN,
  FAMILY_RAV,
  FAMILY_MOF,
  FAMILY_JIX,
  FAMILY_YOD,
  FAMILY_GUX,
  FAMILY_WEZ,
  FAMILY_COUNT
};

// The family of the processor (CPUID leaf 1 EAX), FAMILY_NONE when it has
// no setup routine.
family_id processor_family(uint32_t eax);

// True when the processor (CPUID leaf 1 EAX) has a setup routine.
inline bool processor_has_setup(uint32_t eax) { return processor_family(eax) != FAMILY_NONE; }
