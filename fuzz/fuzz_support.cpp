#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "fuzz_check.h"

namespace vexcomm::fuzz {

namespace {

struct Scratch {
  Scratch() {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/vexcomm-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string dir;
};

}  // namespace

std::string ScratchDir() {
  static Scratch scratch;
  return scratch.dir;
}

}  // namespace vexcomm::fuzz
