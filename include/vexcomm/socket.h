#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <vexcomm/dispatch.h>
#include <vexcomm/export.h>

namespace vexcomm {

// The server's certificate as the socket presents it while the TLS handshake runs.
class VEXCOMM_EXPORT Certificate : public automation::Dispatch {
 public:
  std::string subject;
  std::string issuer;
  std::string not_before;  // "YYYY-MM-DD HH:MM:SS" UTC
  std::string not_after;
  std::string fingerprint;   // SHA-256, upper-case hex pairs joined by ":"
  bool verified = false;     // the verdict: chain, host name, and a pinned key if any
  std::string verify_error;  // why not, when not verified
  // "sha256//" + the base64 of the SHA-256 of the public key (its SubjectPublicKeyInfo), the
  // form curl's --pinnedpubkey takes.
  std::string public_key_pin;

  std::string_view TypeName() const override { return "Certificate"; }
  std::optional<automation::DispId> GetIdOfName(std::string_view name) const override;
  automation::Variant Invoke(automation::DispId id, automation::InvokeKind kind,
                             automation::Args args) override;
};

// What the socket raises; the component's event sink implements it. Events are raised on the
// message loop of the thread that owns the socket, never from inside an operation call.
class VEXCOMM_EXPORT SocketEvents {
 public:
  virtual ~SocketEvents();
  virtual void OnConnect() = 0;
  virtual void OnSSLReady() = 0;
  virtual void OnValidateCertificate(const std::shared_ptr<Certificate>& cert, bool& accept) = 0;
  virtual void OnReceive(const std::string& text) = 0;
  virtual void OnDisconnect() = 0;
  virtual void OnError(const std::string& text, const std::string& code) = 0;
  virtual void OnProxyError(const std::string& text, const std::string& code) = 0;
};

// The socket component's role (VexProxySocket5): TCP, TLS and HTTP proxy, configured by the host.
// Text crosses it as UTF-8; on the wire it is Windows-1252.
class VEXCOMM_EXPORT ProxySocket : public automation::Dispatch {
 public:
  // The operations, in the order of the socket's interface.
  virtual void SetSecure(bool secure) = 0;
  virtual void Close() = 0;
  virtual void Connect(const std::string& host, int32_t& port) = 0;
  virtual void Send(const std::string& text) = 0;
  virtual bool CheckCertificate(const Certificate& cert) = 0;

  // Who receives the events; held weakly, the sink owns the socket.
  void SetEvents(std::weak_ptr<SocketEvents> events) { events_ = std::move(events); }
  std::shared_ptr<SocketEvents> events() const { return events_.lock(); }

  std::string_view TypeName() const override { return "VexProxySocket5"; }

 private:
  std::weak_ptr<SocketEvents> events_;
};

// Host-side configuration of the TLS socket.
struct VEXCOMM_EXPORT SocketOptions {
  std::string proxy_host;  // empty: direct connection
  uint16_t proxy_port = 0;
  std::string proxy_user;  // empty: no credentials offered
  std::string proxy_password;
  std::string ca_file;  // empty: the system trust store
  // "host:port" reached at another address, as curl's --connect-to: key "host:443".
  std::string connect_to_host;
  uint16_t connect_to_port = 0;
  std::string connect_to_address;
  uint16_t connect_to_address_port = 0;
  std::chrono::milliseconds connect_timeout{30000};
  std::chrono::milliseconds idle_timeout{120000};
  // From each request until the next: a server that drips or never ends its reply is cut off
  // even though data keeps arriving. 0: no limit.
  std::chrono::milliseconds reply_timeout{600000};
  // As curl's --speed-limit and --speed-time: a reply arriving at fewer than `speed_limit`
  // octets a second over `speed_time`, counted from its first octet, ends the connection as the
  // idle time-out does (silence is the idle time-out's to judge). 0: no limit.
  std::size_t speed_limit = 100;
  std::chrono::milliseconds speed_time{60000};
  // After the checks of chain and host name, the server's public key must be one of these:
  // "sha256//" (may be left off) + the base64 of the SHA-256 of its SubjectPublicKeyInfo, as
  // curl's --pinnedpubkey. A mismatch fails the certificate check. Empty: any key.
  std::vector<std::string> pinned_public_keys;
};

}  // namespace vexcomm
