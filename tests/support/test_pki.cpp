#include "support/test_pki.h"

#include <stdlib.h>

#include <cstdlib>
#include <stdexcept>

#include "vexmsg-server/lib/throwaway_pki.h"

namespace vexcomm::test {

TestPki::TestPki(std::vector<std::string> server_names) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vexcomm-pki-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("test PKI: mkdtemp failed");
  dir_ = pattern;
  try {
    vexmsg::WriteThrowawayPki(dir_, server_names, "VexComm Test");
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    throw;
  }
}

TestPki::~TestPki() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace vexcomm::test
