#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vexmsg-server/lib/replay.h"
#include "vexmsg-server/lib/scenario.h"

namespace vexmsg {

struct ServerOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 0;           // 0: any free port, see Server::port()
  std::filesystem::path cert_file;  // PEM: the server's certificate, chain after it
  std::filesystem::path key_file;   // PEM: its private key
  int threads = 2;
  // Connection and request lines for a console; called from the server's threads, one at a time.
  std::function<void(const std::string&)> log;
  // Answers every request from a recorded trace instead of the scenario.
  std::shared_ptr<Replay> replay;
};

struct ReceivedRequest {
  std::uint64_t connection = 0;  // numbered from 1 in the order of acceptance
  std::string wire;              // the exact octets received (Windows-1252)
  std::string text;              // the same as UTF-8
  // The client's fault, or "": a stated length that does not fit its content, or a frame the
  // connection ended in (recorded then, never answered).
  std::string fault;
};

// The reference server: TLS on its own threads and io_context, many clients at once, answering
// from a scenario. Listening when the constructor returns (std::runtime_error when it cannot);
// the destructor stops it and drops every connection. All members are thread-safe.
class Server {
 public:
  Server(ServerOptions options, Scenario scenario);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  std::uint16_t port() const;
  // Every request received so far, in order of arrival, as UTF-8 text.
  std::vector<std::string> Requests() const;
  std::vector<ReceivedRequest> RequestLog() const;
  std::uint64_t ConnectionCount() const;
  // The scenario for every request from now on, on open connections too.
  void SetScenario(Scenario scenario);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vexmsg
