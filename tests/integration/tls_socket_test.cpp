#include "platform/socket/tls_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <vexcomm/error.h>

#include "platform/cp1252.h"
#include "platform/message_loop.h"
#include "support/loop_helpers.h"
#include "support/test_pki.h"
#include "support/tinyproxy.h"
#include "vexmsg-server/lib/server.h"

namespace vexcomm::platform {
namespace {

using namespace std::chrono_literals;
using test::TestPki;
using test::TinyProxy;

constexpr const char* kHost = "vexmsg.invalid";  // never resolves: only the mapping reaches it
constexpr const char* kAkNew = "VEXMSG:2:AKNEW:11122233:4711:17:5:MSGEND";

constexpr const char* kScenario = R"({
  "installations": [{
    "blz": "11122233", "kundennr": "4711",
    "files": [
      {"nr": 18, "name": "grüße.txt", "typ": "TXT", "von": "01.01.2026", "bis": "31.12.2026",
       "dauer": 10, "wichtigkeit": 2, "titel": "Grüße", "url": "https://x.example/",
       "content": "5 € für Müller:\r\n@MSGEND"},
      {"nr": 19, "typ": "DELETE", "ref": 18}
    ]
  }]
})";

struct Event {
  std::string kind;  // connect, validate, ready, disconnect, error, proxy
  std::string text;
  std::string code;
};

// Records the events in order. The certificate is accepted as the component does: when the
// socket's check does not fail.
class Sink : public SocketEvents {
 public:
  enum class Verdict { ByCheck, Refuse };
  Verdict verdict = Verdict::ByCheck;
  std::shared_ptr<ProxySocket> socket;
  std::vector<Event> events;
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
  bool Has(const std::string& kind) const {
    for (const auto& e : events) {
      if (e.kind == kind) return true;
    }
    return false;
  }
  bool Ended() const { return Has("error") || Has("disconnect"); }
  const Event* Find(const std::string& kind) const {
    for (const auto& e : events) {
      if (e.kind == kind) return &e;
    }
    return nullptr;
  }
};

// A listening loopback socket: the kernel completes TCP connections to it, nobody speaks.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
      throw std::runtime_error("listener");
    }
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() { ::close(fd_); }
  uint16_t port() const { return port_; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

std::string FingerprintOf(const std::filesystem::path& pem) {
  FILE* f = std::fopen(pem.c_str(), "r");
  X509* x = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  X509_digest(x, EVP_sha256(), md, &size);
  X509_free(x);
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", md[i]);
    text += pair;
  }
  return text;
}

class TlsSocketTest : public ::testing::Test {
 protected:
  TestPki pki{{kHost}};
  MessageLoop loop;
  std::unique_ptr<vexmsg::Server> server;
  std::shared_ptr<Sink> sink = std::make_shared<Sink>();

  void TearDown() override {
    if (sink->socket) sink->socket->Close();
  }

  void StartServer(const std::string& scenario_json = kScenario) {
    vexmsg::ServerOptions options;
    options.cert_file = pki.cert_file();
    options.key_file = pki.key_file();
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
    options.connect_timeout = 20s;
    options.idle_timeout = 20s;
    return options;
  }

  void Open(const SocketOptions& options, const std::string& host = kHost, int32_t port = 443) {
    sink->socket = CreateTlsSocket(loop, options);
    sink->socket->SetEvents(sink);
    sink->socket->SetSecure(true);
    sink->socket->Connect(host, port);
  }

  // Runs the loop until `done` holds; fails after a generous deadline instead of hanging.
  bool RunUntil(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
    return test::RunLoopUntil(loop, done, limit);
  }

  // Lets everything that is already due run: whatever a socket would still raise shows now.
  void Settle() {
    bool reached = false;
    loop.Post([&] { reached = true; });
    ASSERT_TRUE(RunUntil([&] { return reached; }));
  }

  bool ReceivedFrame() const { return sink->received.ends_with(":MSGEND"); }

  void RoundTrip(const std::string& request, const std::string& reply) {
    sink->received.clear();
    sink->socket->Send(request);
    ASSERT_TRUE(RunUntil([&] { return ReceivedFrame() || sink->Ended(); })) << sink->Kinds();
    EXPECT_EQ(sink->received, reply);
  }
};

TEST_F(TlsSocketTest, HandshakeThenRequestAndReply) {
  StartServer();
  Open(Options());
  ASSERT_TRUE(RunUntil([&] { return sink->Has("ready") || sink->Ended(); }));
  EXPECT_EQ(sink->Kinds(), "connect validate ready");

  // The certificate as a host reads it, late-bound by name.
  ASSERT_TRUE(sink->certificate);
  Certificate& cert = *sink->certificate;
  EXPECT_EQ(cert.Get("Verified").ToBool(), true);
  EXPECT_EQ(cert.Get("VerifyError").ToString(), "");
  EXPECT_NE(cert.Get("Subject").ToString().find("CN=vexmsg.invalid"), std::string::npos);
  EXPECT_NE(cert.Get("issuer").ToString().find("CN=VexComm Test CA"), std::string::npos);
  EXPECT_EQ(cert.Get("Fingerprint").ToString(), FingerprintOf(pki.cert_file()));
  EXPECT_LT(cert.Get("NotBefore").ToString(), cert.Get("NotAfter").ToString());
  EXPECT_EQ(cert.Get("NotBefore").ToString().size(), 19u);

  RoundTrip(kAkNew, "VEXMSG:2:AINEW:2:MSGEND");
  RoundTrip("VEXMSG:2:AKGET:11122233:4711:18:5:MSGEND",
            "VEXMSG:2:AIGET:19::DELETE:::0:0::::18:MSGEND");
  EXPECT_EQ(server->Requests(),
            (std::vector<std::string>{kAkNew, "VEXMSG:2:AKGET:11122233:4711:18:5:MSGEND"}));
  Settle();
  EXPECT_EQ(sink->Kinds(), "connect validate ready");
}

TEST_F(TlsSocketTest, UmlautsAndEuroTravelAsWindows1252) {
  StartServer();
  Open(Options());
  ASSERT_TRUE(RunUntil([&] { return sink->Has("ready") || sink->Ended(); }));

  // The reply's content counts octets on the wire and arrives as UTF-8.
  const std::string content = "5 € für Müller:\r\n@MSGEND";
  RoundTrip("VEXMSG:2:AKGET:11122233:4711:17:5:MSGEND",
            "VEXMSG:2:AIGET:18:grüße.txt:TXT:01.01.2026:31.12.2026:10:2:Grüße:https://x.example/"
            ":@24@" +
                content + ":0:MSGEND");

  // A request goes out in Windows-1252; what that code page lacks becomes "?".
  sink->socket->Send("VEXMSG:2:AKNEW:Äöüß€:中:17:5:MSGEND");
  ASSERT_TRUE(RunUntil([&] { return server->Requests().size() == 2 || sink->Ended(); }));
  const auto log = server->RequestLog();
  EXPECT_EQ(log[1].wire, "VEXMSG:2:AKNEW:\xC4\xF6\xFC\xDF\x80:?:17:5:MSGEND");
  EXPECT_EQ(log[1].text, "VEXMSG:2:AKNEW:Äöüß€:?:17:5:MSGEND");
}

TEST_F(TlsSocketTest, CertificateIsRefusedUnlessChainAndNameVerify) {
  TestPki stranger{{kHost}};
  StartServer();
  struct Case {
    const char* name;
    std::string ca_file;
    std::string host;
    Sink::Verdict verdict;
    std::string reason;  // empty: accepted
  };
  const Case cases[] = {
      {"right CA and name", pki.ca_file(), kHost, Sink::Verdict::ByCheck, ""},
      {"unknown CA", stranger.ca_file(), kHost, Sink::Verdict::ByCheck,
       "unable to get local issuer certificate"},
      {"system store only", "", kHost, Sink::Verdict::ByCheck,
       "unable to get local issuer certificate"},
      {"wrong host name", pki.ca_file(), "other.invalid", Sink::Verdict::ByCheck,
       "hostname mismatch"},
      {"valid but refused by the sink", pki.ca_file(), kHost, Sink::Verdict::Refuse,
       "nicht angenommen"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sink = std::make_shared<Sink>();
    sink->verdict = c.verdict;
    SocketOptions options = Options(c.host);
    options.ca_file = c.ca_file;
    Open(options, c.host);
    ASSERT_TRUE(RunUntil([&] { return sink->Has("ready") || sink->Ended(); }));
    Settle();
    ASSERT_TRUE(sink->certificate);
    if (c.reason.empty()) {
      EXPECT_EQ(sink->Kinds(), "connect validate ready");
      EXPECT_TRUE(sink->certificate->verified);
      RoundTrip(kAkNew, "VEXMSG:2:AINEW:2:MSGEND");
    } else {
      EXPECT_EQ(sink->Kinds(), "connect validate error");
      const Event* error = sink->Find("error");
      ASSERT_NE(error, nullptr);
      EXPECT_EQ(error->code, "10053");
      EXPECT_NE(error->text.find("Zertifikat"), std::string::npos) << error->text;
      EXPECT_NE(error->text.find(c.reason), std::string::npos) << error->text;
      if (c.verdict == Sink::Verdict::ByCheck) {
        EXPECT_FALSE(sink->certificate->verified);
        EXPECT_EQ(sink->certificate->verify_error, c.reason);
        EXPECT_NE(sink->check_error.find(c.reason), std::string::npos) << sink->check_error;
      }
    }
    sink->socket->Close();
  }
  // A refused certificate ends the attempt before any request goes out.
  EXPECT_EQ(server->Requests().size(), 1u);
}

TEST_F(TlsSocketTest, NetworkFailuresEndInOneErrorWithItsWinsockNumber) {
  StartServer(R"({"installations": [{"blz": "11122233", "kundennr": "4711"}],
                  "rules": [{"code": "AKNEW", "silent": true}]})");
  Listener mute;  // accepts TCP, never speaks TLS
  struct Case {
    const char* name;
    std::function<void(SocketOptions&, std::string&, int32_t&)> setup;
    bool send_request;
    std::string kinds;
    std::string code;
  };
  const Case cases[] = {
      {"connection refused",
       [](SocketOptions& o, std::string&, int32_t&) {
         o.connect_to_address_port = test::ClosedLoopbackPort();
       },
       false, "error", "10061"},
      {"host not found",
       [](SocketOptions&, std::string& host, int32_t&) { host = "nohost.invalid"; }, false, "error",
       "11001"},
      {"port outside the mapping",  // the mapping is for :443 only
       [](SocketOptions&, std::string&, int32_t& port) { port = 444; }, false, "error", "11001"},
      {"handshake never answered",
       [&](SocketOptions& o, std::string&, int32_t&) {
         o.connect_to_address_port = mute.port();
         o.connect_timeout = 300ms;
       },
       false, "connect error", "10060"},
      {"silent server", [](SocketOptions& o, std::string&, int32_t&) { o.idle_timeout = 300ms; },
       true, "connect validate ready error", "10060"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sink = std::make_shared<Sink>();
    SocketOptions options = Options();
    std::string host = kHost;
    int32_t port = 443;
    c.setup(options, host, port);
    Open(options, host, port);
    if (c.send_request) {
      ASSERT_TRUE(RunUntil([&] { return sink->Has("ready") || sink->Ended(); }));
      sink->socket->Send(kAkNew);
    }
    ASSERT_TRUE(RunUntil([&] { return sink->Ended(); }));
    Settle();
    EXPECT_EQ(sink->Kinds(), c.kinds);
    const Event* error = sink->Find("error");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, c.code);
    EXPECT_FALSE(error->text.empty());
  }
}

TEST_F(TlsSocketTest, ServerEndingTheSessionIsADisconnect) {
  struct Case {
    const char* close;
    std::string kinds;
    std::string code;
  };
  const Case cases[] = {
      {"clean", "connect validate ready disconnect", ""},
      {"abort", "connect validate ready disconnect", ""},
      {"reset", "connect validate ready disconnect", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.close);
    StartServer(std::string(R"({"installations": [{"blz": "11122233", "kundennr": "4711"}],
                                "rules": [{"code": "AKGET", "nth": 1, "close": ")") +
                c.close + R"("}]})");
    sink = std::make_shared<Sink>();
    Open(Options());
    ASSERT_TRUE(RunUntil([&] { return sink->Has("ready") || sink->Ended(); }));
    RoundTrip(kAkNew, "VEXMSG:2:AINEW:0:MSGEND");
    sink->socket->Send("VEXMSG:2:AKGET:11122233:4711:17:5:MSGEND");
    ASSERT_TRUE(RunUntil([&] { return sink->Ended(); }));
    Settle();
    EXPECT_EQ(sink->Kinds(), c.kinds);
    if (!c.code.empty()) {
      EXPECT_EQ(sink->Find("error")->code, c.code);
    }
    EXPECT_EQ(server->Requests().size(), 2u);
  }
}

TEST_F(TlsSocketTest, CloseRaisesNothingAndNoLateCompletionReachesTheNextConnection) {
  // Each reply comes late, so it is still under way when the socket is closed.
  StartServer(std::string(R"({"installations": [{"blz": "11122233", "kundennr": "4711",
      "files": [{"nr": 18, "content": "x"}]}], "delay_ms": 150})"));
  Open(Options());
  ASSERT_TRUE(RunUntil([&] { return sink->Has("ready") || sink->Ended(); }));
  sink->socket->Send(kAkNew);
  sink->socket->Close();
  Settle();
  EXPECT_EQ(sink->Kinds(), "connect validate ready");

  // Closed in the middle of opening: nothing either.
  int32_t port = 443;
  sink->socket->Connect(kHost, port);
  sink->socket->Close();
  Settle();
  EXPECT_EQ(sink->Kinds(), "connect validate ready");
  EXPECT_THROW(sink->socket->Send(kAkNew), Error);

  // The same socket connects again; only the new connection's reply arrives.
  sink->events.clear();
  sink->socket->Connect(kHost, port);
  ASSERT_TRUE(RunUntil([&] { return sink->Has("ready") || sink->Ended(); }));
  RoundTrip(kAkNew, "VEXMSG:2:AINEW:1:MSGEND");
  // Connect on a connected socket drops the old connection without an event of its own.
  sink->socket->Connect(kHost, port);
  ASSERT_TRUE(RunUntil([&] { return sink->events.size() >= 6 || sink->Ended(); }));
  RoundTrip(kAkNew, "VEXMSG:2:AINEW:1:MSGEND");
  Settle();
  EXPECT_EQ(sink->Kinds(), "connect validate ready connect validate ready");
  EXPECT_EQ(sink->received, "VEXMSG:2:AINEW:1:MSGEND");
}

TEST_F(TlsSocketTest, QueuedRequestsGoOutInOrderAndPiecesArriveInOrder) {
  // Replies cut into 5-octet pieces: the receiver must keep their order.
  StartServer(R"({"installations": [{"blz": "1", "kundennr": "2",
      "files": [{"nr": 1, "content": "abcdefghijklmnopqrstuvwxyz"}]}], "chunk_size": 5})");
  Open(Options());
  // Sent while the connection is still opening: queued until the session is up.
  const std::vector<std::string> requests = {"VEXMSG:2:AKNEW:1:2:0:5:MSGEND",
                                             "VEXMSG:2:AKGET:1:2:0:5:MSGEND",
                                             "VEXMSG:2:AKNEW:1:2:1:5:MSGEND"};
  for (const auto& r : requests) sink->socket->Send(r);
  const std::string expected =
      "VEXMSG:2:AINEW:1:MSGEND"
      "VEXMSG:2:AIGET:1:::::0:0:::@26@abcdefghijklmnopqrstuvwxyz:0:MSGEND"
      "VEXMSG:2:AINEW:0:MSGEND";
  ASSERT_TRUE(RunUntil([&] { return sink->received.size() >= expected.size() || sink->Ended(); }));
  EXPECT_EQ(sink->received, expected);
  EXPECT_GE(sink->receive_calls, 3);
  EXPECT_EQ(server->Requests(), requests);
}

TEST_F(TlsSocketTest, FiftyMegabyteReplyArrivesIntact) {
  // 64 octets on the wire per unit, with characters that grow in UTF-8.
  const std::string unit = "Zeile mit Umlauten äöü und € und einem : sowie @ am Ende......\r\n";
  ASSERT_EQ(Utf8ToCp1252(unit).size(), 64u);
  const std::size_t count = 50 * 1024 * 1024 / 64;
  StartServer(R"({"installations": [{"blz": "1", "kundennr": "2", "files": [
      {"nr": 7, "name": "gross.txt", "content_repeat": {"text": ")" +
              std::string("Zeile mit Umlauten äöü und € und einem : sowie @ am Ende......\\r\\n") +
              R"(", "count": )" + std::to_string(count) + "}}]}]}");
  Open(Options());
  ASSERT_TRUE(RunUntil([&] { return sink->Has("ready") || sink->Ended(); }));
  sink->socket->Send("VEXMSG:2:AKGET:1:2:0:5:MSGEND");
  const std::string head = "VEXMSG:2:AIGET:7:gross.txt::::0:0:::@52428800@";
  const std::string tail = ":0:MSGEND";
  const std::size_t expected_size = head.size() + unit.size() * count + tail.size();
  ASSERT_TRUE(RunUntil([&] { return sink->received.size() >= expected_size || sink->Ended(); }));
  ASSERT_EQ(sink->received.size(), expected_size);
  EXPECT_EQ(sink->received.compare(0, head.size(), head), 0);
  for (std::size_t i = 0; i < count; ++i) {
    if (sink->received.compare(head.size() + i * unit.size(), unit.size(), unit) != 0) {
      FAIL() << "unit " << i << " differs";
    }
  }
  EXPECT_TRUE(sink->received.ends_with(tail));
  EXPECT_GT(sink->receive_calls, 100);
}

TEST_F(TlsSocketTest, PlainConnectionConvertsBothWaysByteForByte) {
  Listener peer;
  std::string seen;
  std::thread server_side([&] {
    const int fd = ::accept(peer.fd(), nullptr, nullptr);
    char buffer[64];
    while (seen.size() < 5) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      seen.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string answer = "\x80\xE4\x9D";  // € ä and an undefined byte
    ::write(fd, answer.data(), answer.size());
    ::close(fd);
  });
  // Whatever happens below, the peer thread is released and joined.
  struct Join {
    std::thread& thread;
    std::function<void()> release;
    ~Join() {
      release();
      thread.join();
    }
  } join{server_side, [&] {
           ::shutdown(peer.fd(), SHUT_RDWR);
           if (sink->socket) sink->socket->Close();
         }};
  SocketOptions options;
  sink->socket = CreateTlsSocket(loop, options);
  sink->socket->SetEvents(sink);
  int32_t port = peer.port();
  sink->socket->Connect("127.0.0.1", port);
  ASSERT_TRUE(RunUntil([&] { return sink->Has("connect") || sink->Ended(); }));
  sink->socket->Send("Grüß€");
  ASSERT_TRUE(RunUntil([&] { return sink->Ended(); }));
  EXPECT_EQ(seen, "Gr\xFC\xDF\x80");
  EXPECT_EQ(sink->received, "€ä\xC2\x9D");
  EXPECT_EQ(sink->Kinds(), "connect disconnect");
}

TEST_F(TlsSocketTest, ThroughTinyproxyWithAndWithoutCredentials) {
  StartServer();
  TinyProxy open_proxy;
  TinyProxy guarded(TinyProxy::Credentials{"vex", "geheim"});
  struct Case {
    const char* name;
    const TinyProxy* proxy;
    std::string user;
    std::string password;
    std::string kinds;
    std::string proxy_code;
  };
  const Case cases[] = {
      {"open proxy", &open_proxy, "", "", "connect validate ready", ""},
      {"credentials missing", &guarded, "", "", "proxy error", "9024"},
      {"credentials wrong", &guarded, "vex", "falsch", "proxy error", "9023"},
      {"credentials right", &guarded, "vex", "geheim", "connect validate ready", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sink = std::make_shared<Sink>();
    SocketOptions options = Options();
    options.proxy_host = "127.0.0.1";
    options.proxy_port = c.proxy->port();
    options.proxy_user = c.user;
    options.proxy_password = c.password;
    Open(options);
    ASSERT_TRUE(RunUntil([&] { return sink->Has("ready") || sink->Ended(); })) << c.proxy->Output();
    if (sink->Has("ready")) RoundTrip(kAkNew, "VEXMSG:2:AINEW:2:MSGEND");
    Settle();
    EXPECT_EQ(sink->Kinds(), c.kinds) << c.proxy->Output();
    if (!c.proxy_code.empty()) {
      EXPECT_EQ(sink->Find("proxy")->code, c.proxy_code);
      EXPECT_NE(sink->Find("proxy")->text.find("Proxy"), std::string::npos);
      EXPECT_EQ(sink->Find("error")->code, "10053");
    }
    sink->socket->Close();
  }
  EXPECT_EQ(server->Requests().size(), 2u);

  // The proxy cannot reach the target: its status, then the error that ends the attempt.
  sink = std::make_shared<Sink>();
  SocketOptions options = Options();
  options.proxy_host = "127.0.0.1";
  options.proxy_port = open_proxy.port();
  options.connect_to_address_port = test::ClosedLoopbackPort();
  Open(options);
  ASSERT_TRUE(RunUntil([&] { return sink->Ended(); }));
  Settle();
  EXPECT_EQ(sink->Kinds(), "proxy error");
  EXPECT_EQ(sink->Find("proxy")->code, "500");  // tinyproxy's "Unable to connect"
  EXPECT_EQ(sink->Find("error")->code, "10053");
}

TEST(SocketErrorTest, NetworkFailuresMapToWindowsSocketsNumbers) {
  struct Case {
    std::error_code ec;
    const char* code;
  };
  const Case cases[] = {
      {std::make_error_code(std::errc::connection_refused), "10061"},
      {std::make_error_code(std::errc::timed_out), "10060"},
      {std::make_error_code(std::errc::connection_reset), "10054"},
      {std::make_error_code(std::errc::broken_pipe), "10054"},
      {std::make_error_code(std::errc::connection_aborted), "10053"},
      {std::make_error_code(std::errc::network_unreachable), "10051"},
      {std::make_error_code(std::errc::host_unreachable), "10065"},
      {std::make_error_code(std::errc::address_in_use), "10048"},
      {std::make_error_code(std::errc::no_buffer_space), "10053"},
      {std::error_code(ECONNREFUSED, std::system_category()), "10061"},
      {std::error_code(ETIMEDOUT, std::system_category()), "10060"},
  };
  for (const auto& c : cases) {
    const SocketError error = ToSocketError(c.ec);
    EXPECT_EQ(error.code, c.code) << c.ec.message();
    EXPECT_FALSE(error.text.empty());
  }
}

}  // namespace
}  // namespace vexcomm::platform

namespace vexcomm::platform {
namespace {

TEST_F(TlsSocketTest, ADrippingServerIsCutOffByTheReplyTimeOut) {
  // Two octets every 40 ms: never idle for the idle time-out, never done within the reply's.
  struct Case {
    std::chrono::milliseconds reply_timeout;
    bool whole_reply;
  };
  for (const auto& c : {Case{0ms, true}, Case{200ms, false}}) {
    SCOPED_TRACE(c.reply_timeout.count());
    StartServer(R"({"installations": [{"blz": "11122233", "kundennr": "4711"}],
                    "rules": [{"code": "AKNEW", "chunk_size": 2, "chunk_delay_ms": 40}]})");
    sink = std::make_shared<Sink>();
    SocketOptions options = Options();
    options.idle_timeout = 300ms;
    options.reply_timeout = c.reply_timeout;
    Open(options);
    ASSERT_TRUE(RunUntil([&] { return sink->Has("ready") || sink->Ended(); }));
    sink->socket->Send(kAkNew);
    ASSERT_TRUE(RunUntil([&] { return ReceivedFrame() || sink->Ended(); }));
    EXPECT_EQ(ReceivedFrame(), c.whole_reply);
    const Event* error = sink->Find("error");
    if (c.whole_reply) {
      EXPECT_EQ(error, nullptr);
      EXPECT_EQ(sink->received, "VEXMSG:2:AINEW:0:MSGEND");
    } else {
      ASSERT_NE(error, nullptr);
      EXPECT_EQ(error->code, "10060");
      EXPECT_FALSE(sink->received.empty());  // data did arrive, slowly
    }
  }
}

}  // namespace
}  // namespace vexcomm::platform
