#include "assertions/assertions.h"
#include "platform/print.h"

test_case_t* assertion_record(uint64_t id, bool full_stop) {
  test_case_t* tc = find_test_case(id);
  if (!tc) {
    test_record_missing = true;
    if (full_stop)
      Print(u"Application failure when retrieving test case information: ID = %d.\n", id);
    else
      Print(u"Application failure when retrieving test case information: ID = %d\n", id);
  }
  return tc;
}
