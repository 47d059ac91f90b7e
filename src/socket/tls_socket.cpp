#include "socket/tls_socket.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <array>
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>

#include <vexcomm/error.h>

#include "automation/member_table.h"
#include "platform/cp1252.h"
#include "platform/trace_file.h"
#include "socket/certificate.h"
#include "socket/http_proxy.h"

namespace vexcomm::platform {

namespace {

using automation::Args;
using automation::DispId;
using automation::EqualsNoCase;
using automation::InvokeKind;
using automation::Variant;

using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kMaxProxyHead = 16 * 1024;

// One connection attempt with everything its operations touch. Handlers hold it, so a
// cancelled operation can still complete safely after the socket has moved on.
struct Connection {
  Connection(asio::io_context& io, std::shared_ptr<asio::ssl::context> tls, bool secure)
      : tls_context(std::move(tls)),
        secure(secure),
        resolver(io),
        stream(io, *tls_context),
        connect_timer(io),
        idle_timer(io),
        reply_timer(io) {}

  void Shutdown() {
    std::error_code ignored;
    resolver.cancel();
    connect_timer.cancel();
    idle_timer.cancel();
    reply_timer.cancel();
    stream.lowest_layer().close(ignored);
  }

  std::shared_ptr<asio::ssl::context> tls_context;  // outlives the stream that uses it
  bool secure;
  tcp::resolver resolver;
  asio::ssl::stream<tcp::socket> stream;
  asio::steady_timer connect_timer;
  asio::steady_timer idle_timer;
  Clock::time_point idle_deadline;
  asio::steady_timer reply_timer;  // from each send: the conversation must move on
  std::string proxy_request;
  std::string proxy_head;
  std::array<char, kReadChunk> read_buffer;
  std::deque<std::string> outgoing;
  bool writing = false;
  // The rate of the reply being received: from its first octet, one window of the speed time
  // after the other.
  bool reply_started = false;
  Clock::time_point window_start;
  std::uint64_t window_octets = 0;
  int verify_error = X509_V_OK;  // the first failure the verifier saw
};

enum class Phase { Idle, Opening, Open };

// The system's authorities. Loading the bundle file parses every one of them (some 140, tens of
// milliseconds) on each run; the hashed folder beside it holds the same ones and is read only
// for the issuers a chain names. A bundle named in SSL_CERT_FILE, or a system without the
// folder, is loaded as OpenSSL's defaults are.
void UseSystemAuthorities(asio::ssl::context& tls, std::error_code& ec) {
  const char* dir = std::getenv(X509_get_default_cert_dir_env());
  const std::string folder = dir != nullptr ? dir : X509_get_default_cert_dir();
  std::error_code missing;
  if (std::getenv(X509_get_default_cert_file_env()) != nullptr ||
      !std::filesystem::is_directory(folder, missing)) {
    tls.set_default_verify_paths(ec);
    return;
  }
  tls.add_verify_path(folder, ec);
}

bool IsIpLiteral(const std::string& host) {
  std::error_code ec;
  asio::ip::make_address(host, ec);
  return !ec;
}

// A pin as curl writes it, "sha256//" + base64, or the base64 alone: the base64.
std::string_view PinValue(std::string_view pin) {
  constexpr std::string_view kPrefix = "sha256//";
  if (pin.starts_with(kPrefix)) pin.remove_prefix(kPrefix.size());
  return pin;
}

std::string SpanText(std::chrono::milliseconds span) {
  const auto ms = span.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// Names under .invalid never resolve (RFC 6761); answering at once spares a resolver round trip.
bool IsInvalidName(std::string_view host) {
  if (host.ends_with('.')) host.remove_suffix(1);
  return host.size() >= 8 && EqualsNoCase(host.substr(host.size() - 8), ".invalid");
}

class TlsSocket final : public ProxySocket, public std::enable_shared_from_this<TlsSocket> {
  using Gen = uint64_t;

  // Wraps a step so that it runs only while the socket exists; the connection stays alive
  // until its operation has completed.
  template <class F>
  auto Bind(Gen g, F step) {
    return [self = weak_from_this(), conn = conn_, g, step](auto&&... args) {
      if (auto s = self.lock()) step(*s, g, std::forward<decltype(args)>(args)...);
    };
  }

 public:
  TlsSocket(MessageLoop& loop, SocketOptions options, std::shared_ptr<TraceSink> trace,
            bool trace_unmasked)
      : io_(loop.context()),
        options_(std::move(options)),
        trace_(std::move(trace)),
        trace_unmasked_(trace_unmasked),
        tls_(std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client)) {
    tls_->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                      asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                      asio::ssl::context::no_tlsv1_1);
    std::error_code ec;
    if (options_.ca_file.empty()) {
      UseSystemAuthorities(*tls_, ec);
    } else {
      tls_->load_verify_file(options_.ca_file, ec);
    }
    if (ec) trust_error_ = "Vertrauenswürdige Zertifikate nicht lesbar: " + ec.message();
    tls_->set_verify_mode(asio::ssl::verify_peer);
  }

  ~TlsSocket() override { Drop(); }

  void SetSecure(bool secure) override { secure_ = secure; }

  void Close() override { Drop(); }

  void Connect(const std::string& host, int32_t& port) override {
    Drop();
    host_ = host;
    conn_ = std::make_shared<Connection>(io_, tls_, secure_);
    phase_ = Phase::Opening;
    const Gen g = gen_;
    if (port <= 0 || port > 65535) {
      PostFail(g, {"10049", "Ungültiger Port " + std::to_string(port)});
      return;
    }
    port_ = static_cast<uint16_t>(port);
    MapTarget();
    if (trace_) TraceConnect();

    if (options_.connect_timeout.count() > 0) {
      conn_->connect_timer.expires_after(options_.connect_timeout);
      conn_->connect_timer.async_wait(Bind(g, [](TlsSocket& s, Gen g, std::error_code ec) {
        if (!ec) s.OnConnectTimeout(g);
      }));
    }
    const bool via_proxy = !options_.proxy_host.empty();
    const std::string& name = via_proxy ? options_.proxy_host : target_host_;
    const uint16_t dial_port = via_proxy ? options_.proxy_port : target_port_;
    if (!via_proxy && IsInvalidName(name)) {
      PostFail(g, Describe(asio::error::host_not_found, name));
      return;
    }
    auto resolved =
        Bind(g, [name](TlsSocket& s, Gen g, std::error_code ec, tcp::resolver::results_type r) {
          s.OnResolved(g, ec, std::move(r), name);
        });
    // An address needs no lookup: the resolver would start its thread for nothing.
    std::error_code not_literal;
    const auto address = asio::ip::make_address(name, not_literal);
    if (!not_literal) {
      asio::post(io_, [resolved, name, dial_port, address]() mutable {
        resolved(std::error_code(),
                 tcp::resolver::results_type::create(tcp::endpoint(address, dial_port), name,
                                                     std::to_string(dial_port)));
      });
      return;
    }
    conn_->resolver.async_resolve(name, std::to_string(dial_port), std::move(resolved));
  }

  void Send(const std::string& text) override {
    if (!conn_) throw Error(10057, "Der Socket ist nicht verbunden");
    if (text.empty()) return;
    conn_->outgoing.push_back(Utf8ToCp1252(text));
    conn_->reply_started = false;
    if (phase_ == Phase::Open && !conn_->writing) StartWrite(gen_);
    ArmReplyTimer(gen_);
  }

  bool CheckCertificate(const Certificate& cert) override {
    if (!cert.verified) {
      throw Error(kErrCertificateNotTrusted,
                  "Das Zertifikat des Servers ist nicht vertrauenswürdig: " + cert.verify_error);
    }
    return true;
  }

  std::optional<DispId> GetIdOfName(std::string_view name) const override {
    return Members().IdOfName(name);
  }

  Variant Invoke(DispId id, InvokeKind kind, Args args) override {
    return Members().Invoke(*this, id, kind, args);
  }

 private:
  // Send takes the VexProxySocket5 flag it ignores; CheckCertificate also hands its verdict
  // back through a second argument.
  static const automation::MemberSet<TlsSocket>& Members() {
    static const auto members =
        automation::MemberTable<TlsSocket>()
            .Method("SetSecure", 1, 1, [](TlsSocket& s, Args a) { s.SetSecure(a[0].ToBool()); })
            .Method("Close", 2, 0, [](TlsSocket& s, Args) { s.Close(); })
            .Method("Connect", 3, 2,
                    [](TlsSocket& s, Args a) {
                      int32_t port = a[1].ToInt32();
                      s.Connect(a[0].ToString(), port);
                    })
            .Method("Send", 4, automation::ArgCount{1, 2},
                    [](TlsSocket& s, Args a) { s.Send(a[0].ToString()); })
            .Method("CheckCertificate", 5, automation::ArgCount{1, 2},
                    [](TlsSocket& s, Args a) {
                      auto cert = std::dynamic_pointer_cast<Certificate>(a[0].ToObject());
                      if (!cert) Raise(errnum::kTypeMismatch);
                      return s.CheckCertificate(*cert);
                    })
            .ResultAlsoTo(1)
            .BuildSet();
    return members;
  }

  bool Current(Gen g) const { return conn_ && g == gen_; }

  // Ends the current connection without an event; completions of its operations are ignored.
  void Drop() {
    ++gen_;
    phase_ = Phase::Idle;
    if (conn_) {
      conn_->Shutdown();
      conn_.reset();
    }
  }

  template <class F>
  void Notify(F&& raise) {
    auto events = this->events();
    if (!events) return;
    try {
      raise(*events);
    } catch (...) {
      // A failing event handler must not break the socket's own work.
    }
  }

  // Ends the attempt with its one error event.
  void Fail(Gen g, SocketError error) {
    if (!Current(g)) return;
    Drop();
    auto self = shared_from_this();
    Notify([&](SocketEvents& e) { e.OnError(error.text, error.code); });
  }

  void PostFail(Gen g, SocketError error) {
    asio::post(io_, Bind(g, [error](TlsSocket& s, Gen g) { s.Fail(g, error); }));
  }

  // The peer has ended the session cleanly.
  void Disconnected(Gen g) {
    if (!Current(g)) return;
    Drop();
    auto self = shared_from_this();
    Notify([](SocketEvents& e) { e.OnDisconnect(); });
  }

  SocketError Describe(const std::error_code& ec, const std::string& where) const {
    SocketError error = ToSocketError(ec);
    if (!where.empty()) error.text += " (" + where + ")";
    return error;
  }

  std::string TargetText() const { return target_host_ + ":" + std::to_string(target_port_); }

  // curl's --connect-to: the host's port is reached at another address; TLS still names the host.
  void MapTarget() {
    target_host_ = host_;
    target_port_ = port_;
    if (options_.connect_to_host.empty() || !EqualsNoCase(options_.connect_to_host, host_)) return;
    if (options_.connect_to_port != 0 && options_.connect_to_port != port_) return;
    if (!options_.connect_to_address.empty()) target_host_ = options_.connect_to_address;
    if (options_.connect_to_address_port != 0) target_port_ = options_.connect_to_address_port;
  }

  void TraceConnect() {
    const std::string port = std::to_string(port_);
    const std::string proxy = options_.proxy_host.empty()
                                  ? std::string()
                                  : options_.proxy_host + ":" + std::to_string(options_.proxy_port);
    const bool mapped = target_host_ != host_ || target_port_ != port_;
    const std::string connect_to = mapped ? TargetText() : std::string();
    const TraceField fields[] = {
        {"host", host_}, {"port", port}, {"proxy", proxy}, {"connect_to", connect_to}};
    Trace(*trace_, {TraceRecord::Type::kConnect, Clock::now(), fields, {}, {}, trace_unmasked_});
  }

  void TraceTls(const Certificate& cert, bool accepted) {
    SSL* ssl = conn_->stream.native_handle();
    const char* cipher = SSL_get_cipher_name(ssl);
    const TraceField fields[] = {{"protocol", SSL_get_version(ssl)},
                                 {"cipher", cipher ? cipher : ""},
                                 {"subject", cert.subject},
                                 {"issuer", cert.issuer},
                                 {"not_before", cert.not_before},
                                 {"not_after", cert.not_after},
                                 {"sha256", cert.fingerprint},
                                 {"pin_sha256", cert.public_key_pin},
                                 {"verified", cert.verified ? "true" : "false"},
                                 {"verify_error", cert.verify_error},
                                 {"accepted", accepted ? "true" : "false"}};
    Trace(*trace_, {TraceRecord::Type::kTls, Clock::now(), fields, {}, {}, trace_unmasked_});
  }

  void OnConnectTimeout(Gen g) {
    if (!Current(g) || phase_ == Phase::Open) return;
    Fail(g, {"10060", "Zeitüberschreitung beim Verbindungsaufbau mit " + host_ + ":" +
                          std::to_string(port_)});
  }

  void OnResolved(Gen g, std::error_code ec, tcp::resolver::results_type results,
                  const std::string& name) {
    if (!Current(g)) return;
    if (ec) return Fail(g, Describe(ec, name));
    if (results.empty()) return Fail(g, Describe(asio::error::no_data, name));
    asio::async_connect(conn_->stream.lowest_layer(), results,
                        Bind(g, [](TlsSocket& s, Gen g, std::error_code ec, const tcp::endpoint&) {
                          s.OnTcpConnected(g, ec);
                        }));
  }

  void OnTcpConnected(Gen g, std::error_code ec) {
    if (!Current(g)) return;
    const bool via_proxy = !options_.proxy_host.empty();
    if (ec) {
      return Fail(g, Describe(ec, via_proxy ? "Proxy " + options_.proxy_host + ":" +
                                                  std::to_string(options_.proxy_port)
                                            : TargetText()));
    }
    std::error_code ignored;
    conn_->stream.lowest_layer().set_option(tcp::no_delay(true), ignored);
    if (via_proxy) return StartProxy(g);
    Established(g);
  }

  void StartProxy(Gen g) {
    conn_->proxy_request = BuildConnectRequest(target_host_, target_port_, options_.proxy_user,
                                               options_.proxy_password);
    asio::async_write(conn_->stream.next_layer(), asio::buffer(conn_->proxy_request),
                      Bind(g, [](TlsSocket& s, Gen g, std::error_code ec, std::size_t) {
                        if (!s.Current(g)) return;
                        if (ec) return s.Fail(g, s.Describe(ec, "Proxy"));
                        s.ReadProxyReply(g);
                      }));
  }

  void ReadProxyReply(Gen g) {
    asio::async_read_until(conn_->stream.next_layer(),
                           asio::dynamic_buffer(conn_->proxy_head, kMaxProxyHead), "\r\n\r\n",
                           Bind(g, [](TlsSocket& s, Gen g, std::error_code ec, std::size_t size) {
                             s.OnProxyReply(g, ec, size);
                           }));
  }

  void OnProxyReply(Gen g, std::error_code ec, std::size_t head_size) {
    if (!Current(g)) return;
    if (ec == asio::error::not_found) {
      return Fail(g, {"10053", "Ungültige Antwort des Proxy-Servers"});
    }
    if (ec == asio::error::eof) {
      return Fail(g, {"10053", "Der Proxy-Server hat die Verbindung geschlossen"});
    }
    if (ec) return Fail(g, Describe(ec, "Proxy"));
    const ProxyReply reply =
        ParseProxyReply(std::string_view(conn_->proxy_head).substr(0, head_size));
    if (reply.status >= 200 && reply.status < 300) return Established(g);
    if (reply.status == 0) return Fail(g, {"10053", "Ungültige Antwort des Proxy-Servers"});

    const std::string status = std::to_string(reply.status) + " " + reply.reason;
    SocketError end{"10053", "Der Proxy-Server hat die Verbindung verweigert: " + status};
    // 407 asks for credentials; some proxies (tinyproxy) answer wrong ones with 401.
    if (reply.status == 407 || (reply.status == 401 && !options_.proxy_user.empty())) {
      const bool offered = !options_.proxy_user.empty();
      const std::string text = offered ? "Proxy-Anmeldung abgelehnt: " + status
                                       : "Der Proxy-Server verlangt eine Anmeldung: " + status;
      auto self = shared_from_this();
      Notify([&](SocketEvents& e) { e.OnProxyError(text, offered ? "9023" : "9024"); });
    } else {
      // The proxy's own failure to reach the target, told as the direct attempt would be.
      if (reply.status == 502 || reply.status == 503) end.code = "10061";
      if (reply.status == 504) end.code = "10060";
      auto self = shared_from_this();
      Notify([&](SocketEvents& e) {
        e.OnProxyError("Proxy-Fehler: " + status, std::to_string(reply.status));
      });
    }
    Fail(g, end);
  }

  // The byte stream to the target is up (directly or through the proxy's tunnel).
  void Established(Gen g) {
    auto self = shared_from_this();
    Notify([](SocketEvents& e) { e.OnConnect(); });
    if (!Current(g)) return;
    if (!conn_->secure) return Opened(g);

    SSL* ssl = conn_->stream.native_handle();
    if (IsIpLiteral(host_)) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host_.c_str());
    } else {
      SSL_set_tlsext_host_name(ssl, host_.c_str());
      // As browsers do: the name must stand in subjectAltName, a common name alone is no name.
      SSL_set_hostflags(ssl,
                        X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
      SSL_set1_host(ssl, host_.c_str());
    }
    // Record the verdict instead of failing the handshake: the event sink decides.
    conn_->stream.set_verify_callback(
        [c = conn_.get()](bool preverified, asio::ssl::verify_context& context) {
          if (!preverified && c->verify_error == X509_V_OK) {
            c->verify_error = X509_STORE_CTX_get_error(context.native_handle());
          }
          return true;
        });
    conn_->stream.async_handshake(
        asio::ssl::stream_base::client,
        Bind(g, [](TlsSocket& s, Gen g, std::error_code ec) { s.OnHandshake(g, ec); }));
  }

  void OnHandshake(Gen g, std::error_code ec) {
    if (!Current(g)) return;
    if (ec) {
      return Fail(
          g, {"10053", "TLS-Verbindungsaufbau mit " + host_ + " fehlgeschlagen: " + ec.message()});
    }
    auto cert = DescribePeer(conn_->stream.native_handle(), conn_->verify_error);
    // Without the trusted authorities no certificate can pass: the check fails for that reason,
    // as for any other, and the event sink refuses it.
    if (!trust_error_.empty()) {
      cert->verified = false;
      cert->verify_error = trust_error_;
    }
    if (cert->verified && !options_.pinned_public_keys.empty()) CheckPin(*cert);
    bool accept = false;
    auto self = shared_from_this();
    Notify([&](SocketEvents& e) { e.OnValidateCertificate(cert, accept); });
    if (trace_) TraceTls(*cert, accept);
    if (!Current(g)) return;
    if (!accept) {
      const std::string reason =
          cert->verified ? "vom Empfänger nicht angenommen" : cert->verify_error;
      return Fail(g,
                  {"10053", "Das Zertifikat des Servers " + host_ + " wurde abgelehnt: " + reason});
    }
    Opened(g);
  }

  // After chain and name: a pinned key never stands in for a certificate that failed them. A
  // mismatch fails the certificate check as any other verdict does.
  void CheckPin(Certificate& cert) const {
    std::string expected;
    for (const auto& pin : options_.pinned_public_keys) {
      if (PinValue(pin) == PinValue(cert.public_key_pin)) return;
      expected += (expected.empty() ? "sha256//" : " oder sha256//") + std::string(PinValue(pin));
    }
    cert.verified = false;
    cert.verify_error = "öffentlicher Schlüssel nicht wie festgelegt: erwartet " + expected +
                        ", gesehen " + cert.public_key_pin;
  }

  void Opened(Gen g) {
    phase_ = Phase::Open;
    conn_->connect_timer.cancel();
    StartRead(g);
    if (options_.idle_timeout.count() > 0) {
      conn_->idle_deadline = Clock::now() + options_.idle_timeout;
      ArmIdleTimer(g);
    }
    if (!conn_->outgoing.empty()) StartWrite(g);
    auto self = shared_from_this();
    if (conn_->secure) Notify([](SocketEvents& e) { e.OnSSLReady(); });
  }

  void ArmIdleTimer(Gen g) {
    conn_->idle_timer.expires_at(conn_->idle_deadline);
    conn_->idle_timer.async_wait(Bind(g, [](TlsSocket& s, Gen g, std::error_code ec) {
      if (ec || !s.Current(g)) return;
      if (Clock::now() < s.conn_->idle_deadline) return s.ArmIdleTimer(g);
      s.Fail(g, {"10060", "Zeitüberschreitung: seit " + SpanText(s.options_.idle_timeout) +
                              " keine Daten vom Server"});
    }));
  }

  // A server that keeps a connection busy without ever finishing its answer (one byte now and
  // then, an endless reply) is not stopped by the idle time-out: each request must be followed
  // by the next one within the reply time-out.
  void ArmReplyTimer(Gen g) {
    if (options_.reply_timeout.count() <= 0) return;
    conn_->reply_timer.expires_after(options_.reply_timeout);
    conn_->reply_timer.async_wait(Bind(g, [](TlsSocket& s, Gen g, std::error_code ec) {
      if (ec || !s.Current(g)) return;
      s.Fail(g, {"10060", "Zeitüberschreitung: keine vollständige Antwort des Servers in " +
                              SpanText(s.options_.reply_timeout)});
    }));
  }

  void StartRead(Gen g) {
    auto done = Bind(g, [](TlsSocket& s, Gen g, std::error_code ec, std::size_t size) {
      s.OnRead(g, ec, size);
    });
    auto buffer = asio::buffer(conn_->read_buffer);
    if (conn_->secure) {
      conn_->stream.async_read_some(buffer, std::move(done));
    } else {
      conn_->stream.next_layer().async_read_some(buffer, std::move(done));
    }
  }

  void OnRead(Gen g, std::error_code ec, std::size_t size) {
    if (!Current(g)) return;
    if (size > 0) {
      const auto now = Clock::now();
      conn_->idle_deadline = now + options_.idle_timeout;
      if (TooSlow(now, size)) {
        return Fail(
            g, {"10060", "Zeitüberschreitung: weniger als " + std::to_string(options_.speed_limit) +
                             " Bytes/s vom Server in " + SpanText(options_.speed_time)});
      }
      // The text's buffer is kept from read to read; taken out while the sink runs, since the
      // sink may close, reconnect or wait on the loop.
      std::string text = std::move(receive_text_);
      text.clear();
      AppendCp1252AsUtf8(text, std::string_view(conn_->read_buffer.data(), size));
      auto self = shared_from_this();
      Notify([&](SocketEvents& e) { e.OnReceive(text); });
      receive_text_ = std::move(text);
      if (!Current(g)) return;
    }
    if (ec) {
      // eof is TCP's end or TLS's close_notify; a truncated stream is a peer that closed
      // without close_notify, which many servers do; a reset is a peer that closed abruptly:
      // all are the server ending the session. Reported as an error with a code the run does
      // not list, a reset would end a fetch looking like a success.
      if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated ||
          ec == asio::error::connection_reset) {
        return Disconnected(g);
      }
      return Fail(g, Describe(ec, host_));
    }
    StartRead(g);
  }

  // Judged when octets arrive, so a server that is thinking (and sends nothing) is not slow.
  bool TooSlow(Clock::time_point now, std::size_t octets) {
    if (options_.speed_limit == 0 || options_.speed_time.count() <= 0) return false;
    Connection& c = *conn_;
    if (!c.reply_started) {
      c.reply_started = true;
      c.window_start = now;
      c.window_octets = 0;
    }
    c.window_octets += octets;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - c.window_start);
    if (elapsed < options_.speed_time) return false;
    // Octets per second below the limit: octets × 1000 < limit × milliseconds.
    if (c.window_octets * 1000 <
        std::uint64_t{options_.speed_limit} * static_cast<std::uint64_t>(elapsed.count())) {
      return true;
    }
    c.window_start = now;
    c.window_octets = 0;
    return false;
  }

  void StartWrite(Gen g) {
    conn_->writing = true;
    auto done = Bind(g, [](TlsSocket& s, Gen g, std::error_code ec, std::size_t) {
      if (!s.Current(g)) return;
      s.conn_->writing = false;
      if (ec) return s.Fail(g, s.Describe(ec, s.host_));
      s.conn_->outgoing.pop_front();
      if (!s.conn_->outgoing.empty()) s.StartWrite(g);
    });
    auto buffer = asio::buffer(conn_->outgoing.front());
    if (conn_->secure) {
      asio::async_write(conn_->stream, buffer, std::move(done));
    } else {
      asio::async_write(conn_->stream.next_layer(), buffer, std::move(done));
    }
  }

  asio::io_context& io_;
  SocketOptions options_;
  std::shared_ptr<TraceSink> trace_;  // none: nothing is recorded, nothing is built
  bool trace_unmasked_;
  std::shared_ptr<asio::ssl::context> tls_;
  std::string trust_error_;
  bool secure_ = false;
  Gen gen_ = 0;
  Phase phase_ = Phase::Idle;
  std::shared_ptr<Connection> conn_;
  std::string receive_text_;
  std::string host_;
  uint16_t port_ = 0;
  std::string target_host_;  // where the connection goes after the connect-to mapping
  uint16_t target_port_ = 0;
};

}  // namespace

std::shared_ptr<ProxySocket> CreateTlsSocket(MessageLoop& loop, SocketOptions options,
                                             std::shared_ptr<TraceSink> trace,
                                             bool trace_unmasked) {
  return std::make_shared<TlsSocket>(loop, std::move(options), std::move(trace), trace_unmasked);
}

}  // namespace vexcomm::platform
