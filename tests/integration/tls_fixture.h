#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <vexcomm/socket.h>
#include <vexcomm/vexcomm.h>

#include "config/persistent_values.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "vexmsg-server/lib/server.h"

namespace vexcomm::test {

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
  // Stores the identity (and the connection-attempt counter) in the registry folder; a module
  // made afterwards reads it.
  void SetIdentity(const Identity& identity, int32_t attempts = 0);
  // The identity and counter as stored now.
  config::PersistentRecord StoredValues() const;
  // MorvaZedi.ini naming `ini_host` as the server.
  void WriteIni(const std::string& ini_host);
  // A fresh module and VexComm over the same folders, as after a restart of the host. `host`
  // is used as it stands, with the folders and the recorders filled in.
  void MakeComponent();
  // The same with a socket configured otherwise (proxy, CA file, time-outs, mapping).
  void MakeComponent(const SocketOptions& options);
  // What MakeComponent() gives the socket: the test CA, `mapped_host`:443 reached at the
  // server, a generous idle time-out.
  SocketOptions DefaultSocketOptions(const std::string& mapped_host = kHost) const;
  // Sets Modus, runs Send to its end and returns Fehler.Code.
  int32_t Run(int32_t modus);

  // Every request the server received so far, as the octets on the wire.
  std::vector<std::string> WireRequests() const;
  // The callback reports of one kind, in order (0 log lines, 2 progress, 3 status, 4 name).
  std::vector<std::string> Reports(int kind) const;
  std::vector<std::string> LogLines() const { return Reports(0); }
  // Forgets the reports, boxes and events recorded so far.
  void ClearRecords();
  // Blocks the calling thread (any thread) until the current server has recorded `count`
  // requests; false when `limit` passes first.
  bool WaitForServerRequests(std::size_t count,
                             std::chrono::seconds limit = std::chrono::seconds(60));

  TempDir dir;
  TestPki pki{{kHost}};
  std::unique_ptr<vexmsg::Server> server;
  // Today is fixed so that dates in requests are known; date_to_text keeps its default.
  HostServices host;
  std::vector<std::pair<std::string, std::string>> boxes;  // title, text
  std::vector<std::pair<int, std::string>> reports;
  std::unique_ptr<Module> module;
  std::shared_ptr<VexComm> vc;
  // The events of the first instance, in order.
  std::vector<NeueDateiEvent> files;
  std::vector<automation::VariantArray> deletes;
  std::vector<int32_t> noch_auf_server;

 private:
  std::mutex requests_mutex_;
  std::condition_variable requests_changed_;
  std::size_t requests_seen_ = 0;
};

// Text as it goes over the wire (Windows-1252), for comparing requests byte for byte.
std::string Wire(const std::string& utf8);

}  // namespace vexcomm::test
