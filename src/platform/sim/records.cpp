#include "platform/sim/records.h"

namespace sim {

void keep_records(machine& m, std::vector<test_case_t>& into) {
  auto echo = m.console_echo;
  m.console_echo = [echo, &into](uint64_t attribute, const char16_t* text) {
    if (echo) echo(attribute, text);
    into.clear();
    for (test_case_node_t* node : each<test_case_node_t>(test_case_list)) into.push_back(node->tc);
  };
}

}  // namespace sim
