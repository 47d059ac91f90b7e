#include "support/test_pki.h"

#include <stdio.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "vexmsg-server/lib/throwaway_pki.h"

namespace vexcomm::test {

TestPki::TestPki(std::vector<std::string> server_names, bool alt_names) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vexcomm-pki-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("test PKI: mkdtemp failed");
  dir_ = pattern;
  try {
    vexmsg::WriteThrowawayPki(dir_, server_names, "VexComm Test", std::chrono::days(1), alt_names);
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    throw;
  }
}

std::string TestPki::PublicKeyPin() const {
  const std::string command = "openssl x509 -pubkey -noout -in '" + cert_file().string() +
                              "' | openssl pkey -pubin -outform der | openssl dgst -sha256 "
                              "-binary | openssl base64";
  FILE* tool = ::popen(command.c_str(), "r");
  char line[128] = {};
  const bool read = tool != nullptr && std::fgets(line, sizeof line, tool) != nullptr;
  if (tool != nullptr) ::pclose(tool);
  std::string pin = read ? line : "";
  if (!pin.empty() && pin.back() == '\n') pin.pop_back();
  return "sha256//" + pin;
}

TestPki::~TestPki() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace vexcomm::test
