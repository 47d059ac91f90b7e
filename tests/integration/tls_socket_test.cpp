// The component's socket against the reference server on loopback: handshake, certificate
// checks, network failures, close and reconnect, and the plain (unsecured) connection.
#include "socket/tls_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <vexcomm/error.h>

#include "integration/socket_fixture.h"
#include "support/error_of.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace vexcomm::platform {
namespace {

using namespace std::chrono_literals;
using test::ErrorOf;
using test::Sink;
using test::SocketEvent;
using test::TestPki;
using test::TlsSocketTest;

constexpr const char* kHost = "vexmsg.invalid";  // the fixture maps it to the server
constexpr const char* kAkNew = "VEXMSG:2:AKNEW:11122233:4711:17:5:MSGEND";

constexpr const char* kScenario = R"({"installations": [{"blz": "11122233", "kundennr": "4711",
    "files": [{"nr": 18, "content": "x"}, {"nr": 19, "typ": "DELETE", "ref": 18}]}]})";

// As the openssl tool prints it: "sha256 Fingerprint=AB:CD:...".
std::string FingerprintOf(const std::filesystem::path& pem) {
  FILE* tool =
      ::popen(("openssl x509 -noout -fingerprint -sha256 -in " + pem.string()).c_str(), "r");
  char line[256] = {};
  const bool read = tool != nullptr && std::fgets(line, sizeof line, tool) != nullptr;
  if (tool != nullptr) ::pclose(tool);
  const std::string text = read ? line : "=";
  return text.substr(text.find('=') + 1, text.find_last_not_of('\n') - text.find('='));
}

TEST_F(TlsSocketTest, HandshakeCertificateAndWindows1252RoundTrips) {
  StartServer(kScenario);
  Open(Options());
  ASSERT_TRUE(RunUntilReady());
  EXPECT_EQ(sink->Kinds(), "connect validate ready");

  // The certificate as a host reads it, late-bound by name.
  ASSERT_TRUE(sink->certificate);
  Certificate& cert = *sink->certificate;
  EXPECT_EQ(cert.Get("Verified").ToBool(), true);
  EXPECT_EQ(cert.Get("VerifyError").ToString(), "");
  EXPECT_NE(cert.Get("Subject").ToString().find("CN=vexmsg.invalid"), std::string::npos);
  EXPECT_NE(cert.Get("issuer").ToString().find("CN=VexComm Test CA"), std::string::npos);
  EXPECT_EQ(cert.Get("Fingerprint").ToString(), FingerprintOf(pki.cert_file()));
  EXPECT_EQ(cert.Get("PublicKeyPin").ToString(), pki.PublicKeyPin());
  EXPECT_LT(cert.Get("NotBefore").ToString(), cert.Get("NotAfter").ToString());
  EXPECT_EQ(cert.Get("NotBefore").ToString().size(), 19u);
  // The subject is also the default member; nothing is written.
  EXPECT_EQ(cert.Invoke(automation::kDispIdValue, automation::InvokeKind::PropertyGet, {}),
            automation::Variant(cert.subject));
  EXPECT_EQ(ErrorOf([&] { cert.Put("Subject", automation::Variant("x")); }),
            errnum::kMemberNotFound);
  // The socket as a late-binding host calls it: by name, its arguments counted.
  automation::Dispatch& socket = *sink->socket;
  socket.Call("setsecure", {automation::Variant(true)});
  EXPECT_TRUE(socket.Call("CheckCertificate", {automation::Variant(sink->certificate)}).ToBool());
  std::vector<automation::Variant> verdict = {automation::Variant(sink->certificate),
                                              automation::Variant(false)};
  EXPECT_TRUE(
      socket.Invoke(socket.IdOf("CheckCertificate"), automation::InvokeKind::Method, verdict)
          .ToBool());
  EXPECT_TRUE(verdict[1].ToBool());  // handed back through the optional argument
  const std::pair<const char*, std::size_t> miscounted[] = {
      {"SetSecure", 0}, {"Connect", 0},         {"Send", 0}, {"CheckCertificate", 0}, {"Close", 1},
      {"Send", 3},      {"CheckCertificate", 3}};
  for (const auto& [name, count] : miscounted) {
    EXPECT_EQ(ErrorOf([&] { socket.Call(name, std::vector<automation::Variant>(count)); }),
              errnum::kWrongArgumentCount)
        << name << " " << count;
  }
  EXPECT_EQ(ErrorOf([&] { socket.Invoke(6, automation::InvokeKind::Method, {}); }),
            errnum::kMemberNotFound);

  // Content in octets and Windows-1252 on the wire is pinned by the component's fetches.
  RoundTrip(kAkNew, "VEXMSG:2:AINEW:2:MSGEND");
  Settle();
  EXPECT_EQ(sink->Kinds(), "connect validate ready");
  socket.Call("Close");
  EXPECT_EQ(ErrorOf([&] { socket.Call("Send", {automation::Variant(kAkNew)}); }), 10057);
}

// Chain and name first, then a pinned key: a pin never stands in for either.
TEST_F(TlsSocketTest, CertificateIsRefusedUnlessChainNameAndPinVerify) {
  TestPki stranger{{kHost}};
  StartServer(kScenario);
  const std::string pin = pki.PublicKeyPin();
  const std::string other = stranger.PublicKeyPin();
  struct Case {
    const char* name;
    std::string ca_file;
    std::string host;
    Sink::Verdict verdict;
    std::string reason;  // empty: accepted
    std::vector<std::string> pins = {};
  };
  const Case cases[] = {
      {"the pinned key", pki.ca_file(), kHost, Sink::Verdict::ByCheck, "", {pin}},
      {"the second of two pins, written without sha256//",
       pki.ca_file(),
       kHost,
       Sink::Verdict::ByCheck,
       "",
       {other, pin.substr(8)}},
      {"another key",
       pki.ca_file(),
       kHost,
       Sink::Verdict::ByCheck,
       "öffentlicher Schlüssel nicht wie festgelegt: erwartet " + other + ", gesehen " + pin,
       {other}},
      {"the pinned key from an unknown CA",
       stranger.ca_file(),
       kHost,
       Sink::Verdict::ByCheck,
       "unable to get local issuer certificate",
       {pin}},
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
    options.pinned_public_keys = c.pins;
    Open(options, c.host);
    ASSERT_TRUE(RunUntilReady());
    Settle();
    ASSERT_TRUE(sink->certificate);
    if (c.reason.empty()) {
      EXPECT_EQ(sink->Kinds(), "connect validate ready");
      sink->socket->Close();
      continue;
    }
    EXPECT_EQ(sink->Kinds(), "connect validate error");
    const SocketEvent* error = sink->Find("error");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, "10053");
    EXPECT_NE(error->text.find("Zertifikat"), std::string::npos) << error->text;
    EXPECT_NE(error->text.find(c.reason), std::string::npos) << error->text;
    if (c.verdict == Sink::Verdict::ByCheck) {
      EXPECT_FALSE(sink->certificate->verified);
      EXPECT_EQ(sink->certificate->verify_error, c.reason);
      EXPECT_NE(sink->check_error.find(c.reason), std::string::npos) << sink->check_error;
    }
    sink->socket->Close();
  }
  {
    // The system's authorities are found by hash in their folder (SSL_CERT_DIR here).
    test::TempDir authorities;
    std::filesystem::copy_file(pki.ca_file(), authorities.path() / "test-ca.pem");
    ASSERT_EQ(std::system(("openssl rehash " + authorities.path().string()).c_str()), 0);
    test::ScopedEnv dir("SSL_CERT_DIR", authorities.path().string());
    test::ScopedEnv file("SSL_CERT_FILE", std::nullopt);
    sink = std::make_shared<Sink>();
    SocketOptions system_store = Options();
    system_store.ca_file.clear();
    Open(system_store);
    ASSERT_TRUE(RunUntilReady());
    EXPECT_EQ(sink->Kinds(), "connect validate ready");
  }
  // As browsers hold it: a name in the common name alone is no name.
  TestPki cn_only{{kHost}, false};
  StartServer(kScenario, &cn_only);
  sink = std::make_shared<Sink>();
  SocketOptions options = Options();
  options.ca_file = cn_only.ca_file();
  Open(options);
  ASSERT_TRUE(RunUntilReady());
  EXPECT_EQ(sink->Kinds(), "connect validate error");
  ASSERT_TRUE(sink->certificate);
  EXPECT_EQ(sink->certificate->verify_error, "hostname mismatch");
}

// Refused, unknown hosts and silent servers are pinned by the component's runs over TLS.
TEST_F(TlsSocketTest, NetworkFailuresEndInOneErrorWithItsWinsockNumber) {
  StartServer("{}");
  test::LoopbackListener mute;  // accepts TCP, never speaks TLS
  struct Case {
    const char* name;
    int32_t port;
    uint16_t address_port;  // 0: the server's
    std::string kinds;
    std::string code;
  };
  const Case cases[] = {
      {"port outside the mapping", 444, 0, "error", "11001"},  // the mapping is for :443 only
      {"handshake never answered", 443, mute.port(), "connect error", "10060"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sink = std::make_shared<Sink>();
    SocketOptions options = Options();
    options.connect_timeout = 300ms;
    if (c.address_port != 0) options.connect_to_address_port = c.address_port;
    Open(options, kHost, c.port);
    ASSERT_TRUE(RunUntil([&] { return sink->Ended(); }));
    Settle();
    EXPECT_EQ(sink->Kinds(), c.kinds);
    const SocketEvent* error = sink->Find("error");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, c.code);
    EXPECT_FALSE(error->text.empty());
  }
  {
    // A "proxy" that answers something other than HTTP.
    test::LoopbackListener babbler;
    std::thread answer([&] {
      const int fd = ::accept(babbler.fd(), nullptr, nullptr);
      std::string head;
      char buf[512];
      for (ssize_t n;
           head.find("\r\n\r\n") == std::string::npos && (n = ::read(fd, buf, sizeof buf)) > 0;)
        head.append(buf, static_cast<std::size_t>(n));
      constexpr std::string_view kBabble = "SSH-2.0-OpenSSH_9.2\r\n\r\n";
      EXPECT_EQ(::write(fd, kBabble.data(), kBabble.size()), static_cast<ssize_t>(kBabble.size()));
      ::close(fd);
    });
    sink = std::make_shared<Sink>();
    SocketOptions options = Options();
    options.proxy_host = "127.0.0.1";
    options.proxy_port = babbler.port();
    Open(options);
    ASSERT_TRUE(RunUntil([&] { return sink->Ended(); }));
    answer.join();
    Settle();
    const SocketEvent* error = sink->Find("error");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, "10053");
    EXPECT_EQ(error->text, "Ungültige Antwort des Proxy-Servers");
  }
}

TEST_F(TlsSocketTest, CloseRaisesNothingAndNoLateCompletionReachesTheNextConnection) {
  // Each reply comes late, so it is still under way when the socket is closed.
  StartServer(std::string(R"({"installations": [{"blz": "11122233", "kundennr": "4711",
      "files": [{"nr": 18, "content": "x"}]}], "delay_ms": 150})"));
  Open(Options());
  ASSERT_TRUE(RunUntilReady());
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
  ASSERT_TRUE(RunUntilReady());
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

TEST_F(TlsSocketTest, PlainConnectionConvertsBothWaysByteForByte) {
  test::LoopbackListener peer;
  std::string seen;
  std::thread server_side([&] {
    const int fd = ::accept(peer.fd(), nullptr, nullptr);
    char buffer[64];
    while (seen.size() < 6) {
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
  sink->socket->Send("Grüß€中");  // what Windows-1252 lacks becomes "?"
  ASSERT_TRUE(RunUntil([&] { return sink->Ended(); }));
  EXPECT_EQ(seen, "Gr\xFC\xDF\x80?");
  EXPECT_EQ(sink->received, "€ä\xC2\x9D");
  EXPECT_EQ(sink->Kinds(), "connect disconnect");
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

TEST_F(TlsSocketTest, ADrippingServerIsCutOffByTheReplyTimeOutOrTheMinimumRate) {
  // Two octets every 40 ms: never idle for the idle time-out, never done within the reply's,
  // 50 octets a second at best.
  struct Case {
    std::chrono::milliseconds reply_timeout;
    std::size_t speed_limit;  // over 150 ms
    std::string why;          // empty: the whole reply arrives
  };
  for (const auto& c :
       {Case{0ms, 0, ""}, Case{200ms, 0, "keine vollständige Antwort"},
        Case{0ms, 1000, "weniger als 1000 Bytes/s vom Server in 150 ms"}, Case{0ms, 2, ""}}) {
    SCOPED_TRACE(c.why);
    const bool whole_reply = c.why.empty();
    StartServer(R"({"installations": [{"blz": "11122233", "kundennr": "4711"}],
                    "rules": [{"code": "AKNEW", "chunk_size": 2, "chunk_delay_ms": 40}]})");
    sink = std::make_shared<Sink>();
    SocketOptions options = Options();
    options.idle_timeout = 300ms;
    options.reply_timeout = c.reply_timeout;
    options.speed_limit = c.speed_limit;
    options.speed_time = 150ms;
    Open(options);
    ASSERT_TRUE(RunUntilReady());
    sink->socket->Send(kAkNew);
    ASSERT_TRUE(RunUntil([&] { return sink->ReceivedFrame() || sink->Ended(); }));
    EXPECT_EQ(sink->ReceivedFrame(), whole_reply);
    const SocketEvent* error = sink->Find("error");
    if (whole_reply) {
      EXPECT_EQ(error, nullptr);
      EXPECT_EQ(sink->received, "VEXMSG:2:AINEW:0:MSGEND");
    } else {
      ASSERT_NE(error, nullptr);
      EXPECT_EQ(error->code, "10060");
      EXPECT_NE(error->text.find(c.why), std::string::npos) << error->text;
      EXPECT_FALSE(sink->received.empty());  // data did arrive, slowly
    }
  }
}

}  // namespace
}  // namespace vexcomm::platform
