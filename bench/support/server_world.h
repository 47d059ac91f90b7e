#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <vexcomm/host.h>
#include <vexcomm/socket.h>
#include <vexcomm/trace.h>

#include "support/test_pki.h"
#include "vexmsg-server/lib/server.h"

namespace vexcomm::bench {

inline constexpr const char* kHost = "vexmsg.bench";
inline constexpr const char* kBlz = "11122233";
inline constexpr const char* kKundenNr = "4711";

// A reference server on loopback with its certificate, and the folders a host gives the
// component: INI (MorvaZedi.ini naming kHost), data and registry. Removed at destruction.
class ServerWorld {
 public:
  // `scenario_json` is the server's scenario; one server thread, as a host sees one connection.
  // Without `start` the server waits for Start (so that a child process can be forked first,
  // without the server's threads and data).
  explicit ServerWorld(std::string scenario_json, bool start = true);
  ~ServerWorld();
  ServerWorld(const ServerWorld&) = delete;
  ServerWorld& operator=(const ServerWorld&) = delete;

  // Starts the server; its port is then port().
  void Start();
  std::uint16_t port() const { return port_; }
  // For a forked client: the port of the server that the parent started.
  void UsePort(std::uint16_t port) { port_ = port; }
  const std::filesystem::path& ca_file() const { return ca_file_; }
  // Holds the folders ini/, data/ and registry/.
  const std::filesystem::path& root() const { return root_; }

  // The identity with DateiNr 0, so the next run fetches every file again.
  void ResetIdentity() const;
  HostServices Host() const;
  SocketOptions Socket() const;

 private:
  std::filesystem::path root_;
  test::TestPki pki_{{kHost}};
  std::filesystem::path ca_file_;
  std::string scenario_json_;
  std::unique_ptr<vexmsg::Server> server_;
  std::uint16_t port_ = 0;
};

// A scenario of `count` files of `size` octets each, a multiple of 16: hexadecimal digits, so
// that Windows-1252 and UTF-8 agree.
std::string FilesScenario(int count, std::size_t size);

struct ComponentRun {
  double seconds = 0;  // the wall time of Send
  int files = 0;       // NeueDatei events
  std::uint64_t bytes = 0;
  std::int32_t fehler = 0;
};

// One Send of the component with Modus 2 (fetch new files) against the world's server, the
// host's NeueDatei handler and callback included. The identity is reset first. With `trace`,
// the module traces the run to it; with `reply_progress` a handler of the reply's progress keeps
// the latest figures.
ComponentRun FetchWithComponent(const ServerWorld& world,
                                std::shared_ptr<TraceSink> trace = nullptr,
                                bool reply_progress = false);

// The floor: a plain blocking OpenSSL client that asks the same questions (AKNEW, then AKGET
// with the last file's number) and reads each reply until it ends in ":MSGEND".
enum class FloorReplies {
  // Into one buffer made once, with the clock running, for the largest reply and reused for
  // every reply: the least a client that holds each file in memory must do. The floor.
  kInOneBuffer,
  // The same buffer, but mapped and touched before the clock starts: no cost at all for
  // getting the memory, which no real run can have. For reference.
  kInReadyBuffer,
  // Only a reply's head is kept (for the number), the rest dropped as it arrives: the TLS
  // reading alone, for reference.
  kDropped,
  // Each reply collected into a new string, as a naive client that hands files over would:
  // shows what fresh memory costs the machine.
  kInNewBuffers,
};
struct FloorRun {
  double seconds = 0;
  int files = 0;
};
// `largest_reply`: the room the one buffer gets.
FloorRun FetchWithPlainClient(const ServerWorld& world, FloorReplies replies,
                              std::size_t largest_reply = 0);

}  // namespace vexcomm::bench
