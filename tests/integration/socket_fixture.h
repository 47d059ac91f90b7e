#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <vexcomm/error.h>

#include "platform/message_loop.h"
#include "socket/tls_socket.h"
#include "support/loop_helpers.h"
#include "support/test_pki.h"
#include "vexmsg-server/lib/server.h"

namespace vexcomm::test {

struct SocketEvent {
  std::string kind;  // connect, validate, ready, disconnect, error, proxy
  std::string text;
  std::string code;
};

// Records a socket's events in order. The certificate is accepted as the component does: when
// the socket's check does not fail.
class Sink : public SocketEvents {
 public:
  enum class Verdict { ByCheck, Refuse };
  Verdict verdict = Verdict::ByCheck;
  std::shared_ptr<ProxySocket> socket;
  std::vector<SocketEvent> events;
  std::string received;
  int receive_calls = 0;
  std::shared_ptr<Certificate> certificate;
  std::string check_error;

  void OnConnect() override { events.push_back({"connect", {}, {}}); }
  void OnSSLReady() override { events.push_back({"ready", {}, {}}); }
  void OnValidateCertificate(const std::shared_ptr<Certificate>& cert, bool& accept) override {
    events.push_back({"validate", {}, {}});
    certificate = cert;
    if (verdict == Verdict::Refuse) return;
    try {
      accept = socket->CheckCertificate(*cert);
    } catch (const Error& e) {
      check_error = e.description();
    }
  }
  void OnReceive(const std::string& text) override {
    received += text;
    ++receive_calls;
  }
  void OnDisconnect() override { events.push_back({"disconnect", {}, {}}); }
  void OnError(const std::string& text, const std::string& code) override {
    events.push_back({"error", text, code});
  }
  void OnProxyError(const std::string& text, const std::string& code) override {
    events.push_back({"proxy", text, code});
  }

  std::string Kinds() const {
    std::string kinds;
    for (const auto& e : events) kinds += (kinds.empty() ? "" : " ") + e.kind;
    return kinds;
  }
  const SocketEvent* Find(const std::string& kind) const {
    for (const auto& e : events)
      if (e.kind == kind) return &e;
    return nullptr;
  }
  bool Has(const std::string& kind) const { return Find(kind) != nullptr; }
  bool Ended() const { return Has("error") || Has("disconnect"); }
  bool ReceivedFrame() const { return received.ends_with(":MSGEND"); }
};

// The component's socket against the reference server on loopback, with one sink at a time.
class TlsSocketTest : public ::testing::Test {
 protected:
  static constexpr const char* kHost = "vexmsg.invalid";  // never resolves: only the mapping

  TestPki pki{{kHost}};
  platform::MessageLoop loop;
  std::unique_ptr<vexmsg::Server> server;
  std::shared_ptr<Sink> sink = std::make_shared<Sink>();

  void TearDown() override {
    if (sink->socket) sink->socket->Close();
  }

  void StartServer(const std::string& scenario_json, const TestPki* certificate = nullptr) {
    vexmsg::ServerOptions options;
    options.cert_file = (certificate ? *certificate : pki).cert_file();
    options.key_file = (certificate ? *certificate : pki).key_file();
    // The server records on its own threads: each of its lines wakes the loop, so a wait on
    // the server's state sees the change at once.
    options.log = [this](const std::string&) { loop.Post([] {}); };
    server = std::make_unique<vexmsg::Server>(options, vexmsg::Scenario::Parse(scenario_json));
  }

  // Trusts the test CA and maps `host`:443 to the server, as curl's --connect-to would.
  SocketOptions Options(const std::string& host = kHost) const {
    SocketOptions options;
    options.ca_file = pki.ca_file();
    options.connect_to_host = host;
    options.connect_to_port = 443;
    options.connect_to_address = "127.0.0.1";
    options.connect_to_address_port = server ? server->port() : 0;
    options.connect_timeout = std::chrono::seconds(20);
    options.idle_timeout = std::chrono::seconds(20);
    return options;
  }

  // Opens a secure connection for the current sink.
  void Open(const SocketOptions& options, const std::string& host = kHost, int32_t port = 443) {
    sink->socket = platform::CreateTlsSocket(loop, options);
    sink->socket->SetEvents(sink);
    sink->socket->SetSecure(true);
    sink->socket->Connect(host, port);
  }

  // Runs the loop until `done` holds; fails after a generous deadline instead of hanging.
  bool RunUntil(const std::function<bool()>& done) { return RunLoopUntil(loop, done); }
  bool RunUntilReady() {
    return RunUntil([&] { return sink->Has("ready") || sink->Ended(); });
  }

  // Lets everything that is already due run: whatever a socket would still raise shows now.
  void Settle() {
    bool reached = false;
    loop.Post([&] { reached = true; });
    ASSERT_TRUE(RunUntil([&] { return reached; }));
  }

  void RoundTrip(const std::string& request, const std::string& reply) {
    sink->received.clear();
    sink->socket->Send(request);
    ASSERT_TRUE(RunUntil([&] { return sink->ReceivedFrame() || sink->Ended(); })) << sink->Kinds();
    EXPECT_EQ(sink->received, reply);
  }
};

}  // namespace vexcomm::test
