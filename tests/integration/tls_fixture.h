#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <vexcomm/vexcomm.h>

#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "vexmsg-server/lib/server.h"

namespace vexcomm::test {

// The installation's identity as `vexcomm user set` stores it; read when a module is made.
struct Identity {
  std::string BLZ = "11122233";
  std::string KundenNr = "4711";
  int32_t DateiNr = 0;
  std::string Vorname;
  std::string Nachname;
  std::string EMail;
};

// A component of its own (module, INI, data and registry folders under a temporary directory)
// that reaches a reference server on loopback over real TLS. Runs go through the public API
// only: the host's services, a socket from the module, SetSocket, SetCallback, Modus, Send.
class TlsComponentTest : public ::testing::Test {
 protected:
  // Never resolves: only the socket's connect-to mapping reaches the server.
  static constexpr const char* kHost = "vexmsg.invalid";

  TlsComponentTest();
  ~TlsComponentTest() override;

  // Starts the server with a scenario (JSON text), then makes the component if there is none.
  void Start(const std::string& scenario);
  // Stores the identity in the registry folder; a module made afterwards reads it.
  void SetIdentity(const Identity& identity);
  // A fresh module and VexComm over the same folders, as after a restart of the host. `host`
  // is used as it stands, with the folders and the recorders filled in.
  void MakeComponent();
  // Sets Modus, runs Send to its end and returns Fehler.Code.
  int32_t Run(int32_t modus);

  // Every request the server received so far, as the octets on the wire.
  std::vector<std::string> WireRequests() const;
  // The callback reports of one kind, in order (0 log lines, 2 progress, 3 status, 4 name).
  std::vector<std::string> Reports(int kind) const;
  std::vector<std::string> LogLines() const { return Reports(0); }

  TempDir dir;
  TestPki pki{{kHost}};
  std::unique_ptr<vexmsg::Server> server;
  // Today is fixed so that dates in requests are known; date_to_text keeps its default.
  HostServices host;
  std::vector<std::pair<std::string, std::string>> boxes;  // title, text
  std::vector<std::pair<int, std::string>> reports;
  std::unique_ptr<Module> module;
  std::shared_ptr<VexComm> vc;
};

// Text as it goes over the wire (Windows-1252), for comparing requests byte for byte.
std::string Wire(const std::string& utf8);

}  // namespace vexcomm::test
