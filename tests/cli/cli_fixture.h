#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "command_line.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "vexmsg-server/lib/server.h"

namespace vexcomm::test {

using OrderedJson = nlohmann::ordered_json;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<OrderedJson> lines;  // standard output parsed line by line (JSON runs)
};

// The program under test against the reference server on loopback, with its own folders,
// throwaway certificates and identity record.
class CliTest : public ::testing::Test {
 public:
  static std::string Binary();
  static std::vector<OrderedJson> ParseLines(const std::string& out);
  static std::vector<std::string> Keys(const OrderedJson& object);

 protected:
  void SetUp() override;

  void StartServer(const nlohmann::json& scenario);
  // The global options that point the program at the folders and the server.
  std::vector<std::string> Globals() const;
  // Runs `vexcomm` with the global options before `args` (unless `with_globals` is false).
  CliRun Run(std::vector<std::string> args, const std::map<std::string, std::string>& env = {},
             bool with_globals = true);
  // The requests the server received since the last call.
  std::vector<std::string> NewRequests();
  void WriteIdentity(int32_t datei_nr);

  TempDir tmp;
  std::filesystem::path ini, data, registry, out;
  std::unique_ptr<TestPki> pki;
  std::unique_ptr<vexmsg::Server> server;
  std::size_t requests_seen = 0;
};

// The text of the UsageError a call raises; empty when it raises none.
template <class F>
std::string UsageErrorOf(F&& call) {
  try {
    call();
  } catch (const cli::UsageError& e) {
    return e.what();
  }
  return "";
}

// The scenario most tests use: installation 11122233/4711 with two files and a deletion notice
// of the first, and a canned answer to every other request of the system.
nlohmann::json StandardScenario();

}  // namespace vexcomm::test
