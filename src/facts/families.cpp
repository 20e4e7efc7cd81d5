#include "facts/families.h"

namespace {

struct signature_route {
  uint32_t sig;
  family_id family;
};

constexpr signature_route signature_table[] = {
    {0x306C0, FAMILY_QEN}, {0x306D0, FAMILY_QEN}, {0x40650, FAMILY_QEN}, {0x40670, FAMILY_QEN},
    {0x406E0, FAMILY_RAV}, {0x506E0, FAMILY_RAV},  // stepping 8 of these two: FAMILY_MOF
    {0x50650, FAMILY_RAV},
    {0x506C0, FAMILY_GUX}, {0x706A0, FAMILY_GUX},
    {0x60660, FAMILY_WEZ}, {0x60670, FAMILY_WEZ},
    {0x706D0, FAMILY_JIX}, {0x706E0, FAMILY_JIX}, {0x806C0, FAMILY_JIX}, {0x806D0, FAMILY_JIX},
    {0x90660, FAMILY_JIX}, {0x906C0, FAMILY_JIX},
    {0x806A0, FAMILY_YOD},
    {0x806E0, FAMILY_MOF}, {0x906E0, FAMILY_MOF}, {0xA0650, FAMILY_MOF}, {0xA0660, FAMILY_MOF},
};

}  // namespace

family_id processor_family(uint32_t eax) {
  // The full signatures 0x406E8 and 0x506E8 (nothing else set) take the
  // newer family's routine.
  if (((eax - 0x406E8u) & 0xFFFEFFFFu) == 0) return FAMILY_MOF;
  uint32_t sig = eax & SIG_MASK;
  for (const signature_route& r : signature_table)
    if (r.sig == sig) return r.family;
  return FAMILY_NONE;
}
