#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A broken property is a finding: abort so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

namespace vexcomm::fuzz {

inline std::string_view AsText(const unsigned char* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A folder of its own under /dev/shm (or /tmp), made once per process: the file targets write
// one file per input, and tmpfs keeps that cheap.
std::string ScratchDir();

}  // namespace vexcomm::fuzz
