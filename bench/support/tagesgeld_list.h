#pragma once

#include <cstddef>
#include <string>

namespace vexcomm::bench {

// An overnight-money condition list: `providers` providers (more while the list is shorter than
// `at_least` octets) of three products with four rate tiers each. No ":" in it: on the wire that
// would end the element.
inline std::string TagesgeldList(int providers, std::size_t at_least = 0) {
  std::string list;
  list.reserve(at_least + 1024);
  for (int a = 0; a < providers || list.size() < at_least; ++a) {
    if (a > 0) list += "#";
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string.
    list.append("Bank ").append(std::to_string(a)).append("|");
    list.append(std::to_string(10000000 + a));
    for (int p = 0; p < 3; ++p) {
      list.append("*Tagesgeld ").append(std::to_string(p));
      list.append("|1000|500000|monatlich|1|www.bank.example/info|www.bank.example/neu|3 Monate");
      for (int z = 0; z < 4; ++z) {
        list.append("~").append(std::to_string(z * 10000)).append("|2,75|3|1,50|12");
      }
    }
  }
  return list;
}

}  // namespace vexcomm::bench
