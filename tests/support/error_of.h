#pragma once

#include <cstdint>

#include <vexcomm/error.h>

namespace vexcomm::test {

// The number of the Error a call raises, 0 when it raises none.
template <class F>
int32_t ErrorOf(F&& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

}  // namespace vexcomm::test
