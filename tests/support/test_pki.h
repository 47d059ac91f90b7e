#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vexcomm::test {

// A throwaway certificate authority and a server certificate it signed for the given names
// (DNS names, or IP addresses; without `alt_names` the first in the common name only), made
// with fresh keys at construction and written as PEM files into a temporary directory that the
// destructor removes. Throws std::runtime_error on failure.
class TestPki {
 public:
  explicit TestPki(std::vector<std::string> server_names = {"vexmsg.test"}, bool alt_names = true);
  ~TestPki();
  TestPki(const TestPki&) = delete;
  TestPki& operator=(const TestPki&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path ca_file() const { return dir_ / "ca.pem"; }
  std::filesystem::path cert_file() const { return dir_ / "server.pem"; }
  std::filesystem::path key_file() const { return dir_ / "server.key"; }
  // The server key's pin, "sha256//" + base64, taken with the openssl tool as a user would.
  std::string PublicKeyPin() const;

 private:
  std::filesystem::path dir_;
};

}  // namespace vexcomm::test
