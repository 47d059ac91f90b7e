#include "support/server_world.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string_view>

#include <vexcomm/vexcomm.h>

#include "config/persistent_values.h"

namespace vexcomm::bench {

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::filesystem::path MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vexcomm-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string Slash(const std::filesystem::path& dir) {
  return dir.string() + "/";
}

[[noreturn]] void Fail(const std::string& what) {
  char detail[256] = "";
  ERR_error_string_n(ERR_get_error(), detail, sizeof detail);
  throw std::runtime_error("plain client: " + what + " " + detail);
}

// A blocking TLS connection that verifies the server as the component does.
class PlainConnection {
 public:
  PlainConnection(const ServerWorld& world) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (ctx_ == nullptr) Fail("context");
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_load_verify_locations(ctx_, world.ca_file().c_str(), nullptr) != 1) Fail("CA");
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(world.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      Fail("connect");
    }
    // Reads whole TLS records from the socket at a time, not each record's head and body
    // apart: without it the floor would pay two system calls per 16 KB record.
    SSL_CTX_set_read_ahead(ctx_, 1);
    SSL_CTX_set_default_read_buffer_len(ctx_, 64 * 1024);
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    SSL_set_tlsext_host_name(ssl_, kHost);
    SSL_set1_host(ssl_, kHost);
    if (SSL_connect(ssl_) != 1) Fail("handshake");
  }
  ~PlainConnection() {
    SSL_shutdown(ssl_);
    SSL_free(ssl_);
    ::close(fd_);
    SSL_CTX_free(ctx_);
  }
  PlainConnection(const PlainConnection&) = delete;
  PlainConnection& operator=(const PlainConnection&) = delete;

  // Sends a request and reads its reply: all of it into `reply` when `keep`, else only its
  // first bytes, the rest being dropped as it arrives.
  void Ask(const std::string& request, std::string& reply, bool keep) {
    constexpr std::size_t kHead = 64;
    constexpr std::string_view kEnd = ":MSGEND";
    if (SSL_write(ssl_, request.data(), static_cast<int>(request.size())) <= 0) Fail("write");
    reply.clear();
    std::string last;  // the reply's last bytes, for its end
    char buffer[64 * 1024];
    while (!std::string_view(keep ? reply : last).ends_with(kEnd)) {
      const int n = SSL_read(ssl_, buffer, sizeof buffer);
      if (n <= 0) Fail("read");
      const std::string_view chunk(buffer, static_cast<std::size_t>(n));
      if (keep) {
        reply.append(chunk);
        continue;
      }
      if (reply.size() < kHead) reply.append(chunk.substr(0, kHead - reply.size()));
      last.append(chunk.substr(chunk.size() - std::min(chunk.size(), kEnd.size())));
      if (last.size() > kEnd.size()) last.erase(0, last.size() - kEnd.size());
    }
  }

 private:
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  int fd_ = -1;
};

// Element 4 of a reply: the count of AINEW, the file number of AIGET.
long FourthElement(std::string_view reply) {
  std::size_t pos = 0;
  for (int i = 0; i < 3; ++i) pos = reply.find(':', pos) + 1;
  return std::strtol(reply.data() + pos, nullptr, 10);
}

}  // namespace

ServerWorld::ServerWorld(std::string scenario_json, bool start)
    : root_(MakeTempDir()), scenario_json_(std::move(scenario_json)) {
  ca_file_ = pki_.ca_file();
  for (const char* dir : {"ini", "data", "registry"})
    std::filesystem::create_directory(root_ / dir);
  std::ofstream(root_ / "ini" / "MorvaZedi.ini") << "[Comm]\r\nIP=" << kHost << "\r\n";
  if (start) Start();
}

void ServerWorld::Start() {
  vexmsg::ServerOptions options;
  options.cert_file = pki_.cert_file();
  options.key_file = pki_.key_file();
  options.threads = 1;
  server_ = std::make_unique<vexmsg::Server>(options, vexmsg::Scenario::Parse(scenario_json_));
  port_ = server_->port();
}

ServerWorld::~ServerWorld() {
  server_.reset();
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void ServerWorld::ResetIdentity() const {
  config::PersistentRecord record;
  record.user.BLZ = kBlz;
  record.user.KundenNr = kKundenNr;
  if (!config::StorePersistentValues(root_ / "registry", record)) {
    throw std::runtime_error("cannot write the registry store");
  }
}

HostServices ServerWorld::Host() const {
  HostServices host;
  const std::string ini = Slash(root_ / "ini");
  const std::string data = Slash(root_ / "data");
  host.text_setting = [ini, data](int number) { return number == 3 ? ini : data; };
  host.registry_dir = root_ / "registry";
  host.message_box = [](const std::string& title, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  };
  return host;
}

SocketOptions ServerWorld::Socket() const {
  SocketOptions options;
  options.ca_file = ca_file_.string();
  options.connect_to_host = kHost;
  options.connect_to_port = 443;
  options.connect_to_address = "127.0.0.1";
  options.connect_to_address_port = port();
  options.connect_timeout = std::chrono::seconds(10);
  options.idle_timeout = std::chrono::seconds(60);
  return options;
}

std::string FilesScenario(int count, std::size_t size) {
  std::string files;
  for (int nr = 1; nr <= count; ++nr) {
    if (nr > 1) files += ",";
    files += R"({"nr": )" + std::to_string(nr) + R"(, "name": "f)" + std::to_string(nr) +
             R"(.txt", "typ": "TXT", "content_repeat": {"text": "0123456789abcdef", "count": )" +
             std::to_string(size / 16) + "}}";
  }
  return std::string(R"({"installations": [{"blz": ")") + kBlz + R"(", "kundennr": ")" + kKundenNr +
         R"(", "files": [)" + files + "]}]}";
}

ComponentRun FetchWithComponent(const ServerWorld& world, std::shared_ptr<TraceSink> trace,
                                bool reply_progress) {
  world.ResetIdentity();
  HostServices host = world.Host();
  host.trace = std::move(trace);
  Module module(std::move(host));
  auto vc = VexComm::Create(module);
  vc->SetSocket(module.CreateSocket(world.Socket()));
  ComponentRun run;
  int reports = 0;
  vc->SetCallback(automation::MakeCallback([&reports](int16_t, const std::string&) { ++reports; }));
  vc->OnNeueDatei([&run](const NeueDateiEvent& e) {
    ++run.files;
    run.bytes += e.Datei.size();
  });
  Module::ReplyProgress latest;
  if (reply_progress) {
    module.OnReplyProgress([&latest](const Module::ReplyProgress& p) { latest = p; });
  }
  vc->SetModus(VexCommGetNew);
  const auto start = Clock::now();
  vc->Send();
  run.seconds = Since(start);
  run.fehler = vc->Fehler()->Code;
  benchmark::DoNotOptimize(latest);
  return run;
}

FloorRun FetchWithPlainClient(const ServerWorld& world, FloorReplies replies,
                              std::size_t largest_reply) {
  FloorRun run;
  const std::string identity = std::string(kBlz) + ":" + kKundenNr + ":";
  const bool keep = replies != FloorReplies::kDropped;
  std::string reply;
  if (replies == FloorReplies::kInReadyBuffer) {
    reply.assign(largest_reply, '\0');  // maps and touches every page
    reply.clear();
  }
  const auto start = Clock::now();
  if (replies == FloorReplies::kInOneBuffer) reply.reserve(largest_reply);
  PlainConnection connection(world);
  connection.Ask("VEXMSG:2:AKNEW:" + identity + "0:5:MSGEND", reply, keep);
  long remaining = FourthElement(reply);
  long datei_nr = 0;
  for (; remaining > 0; --remaining) {
    if (replies == FloorReplies::kInNewBuffers) reply = std::string();
    connection.Ask("VEXMSG:2:AKGET:" + identity + std::to_string(datei_nr) + ":5:MSGEND", reply,
                   keep);
    datei_nr = FourthElement(reply);
    ++run.files;
  }
  run.seconds = Since(start);
  return run;
}

}  // namespace vexcomm::bench
