#pragma once

/// @file
/// The TLS socket the component talks through, its events and its options.

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

/// The server's certificate as the socket presents it while the TLS handshake runs
/// (SocketEvents::OnValidateCertificate). Late-bound, read-only: Subject (also the default
/// member), Issuer, NotBefore, NotAfter, Fingerprint, Verified, VerifyError, PublicKeyPin.
/// @ownership Made by the socket for one handshake; a sink may keep it.
class VEXCOMM_EXPORT Certificate : public automation::Dispatch {
 public:
  std::string subject;      ///< The subject's distinguished name (RFC 2253).
  std::string issuer;       ///< The issuer's distinguished name (RFC 2253).
  std::string not_before;   ///< Valid from, "YYYY-MM-DD HH:MM:SS" UTC.
  std::string not_after;    ///< Valid until, "YYYY-MM-DD HH:MM:SS" UTC.
  std::string fingerprint;  ///< SHA-256 of the certificate, upper-case hex pairs joined by ":".
  /// The verdict: chain, host name (in the subjectAltName), and a pinned key if any.
  bool verified = false;
  std::string verify_error;  ///< Why not, when not verified.
  /// "sha256//" + the base64 of the SHA-256 of the public key (its SubjectPublicKeyInfo), the
  /// form curl's --pinnedpubkey takes.
  std::string public_key_pin;

  std::string_view TypeName() const override { return "Certificate"; }
  std::optional<automation::DispId> GetIdOfName(std::string_view name) const override;
  /// Reads a property (any call kind but a put).
  /// @param id The member's dispatch id; kDispIdValue reads the subject.
  /// @param kind Any kind but PropertyPut.
  /// @param args None.
  /// @return The property's value.
  /// @throws vexcomm::Error 438 for a put or an unknown id, 450 for arguments.
  automation::Variant Invoke(automation::DispId id, automation::InvokeKind kind,
                             automation::Args args) override;
};

/// What the socket raises; the component's event sink implements it.
/// @thread Events are raised on the message loop of the module that made the socket, never from
///   inside an operation call. What a handler throws is ignored.
class VEXCOMM_EXPORT SocketEvents {
 public:
  virtual ~SocketEvents();
  /// The byte stream to the server is up, directly or through the proxy's tunnel.
  virtual void OnConnect() = 0;
  /// The TLS session is up and its certificate accepted: requests may go.
  virtual void OnSSLReady() = 0;
  /// The handshake's certificate, to be accepted or refused; a refused one ends the attempt
  /// with OnError 10053.
  /// @param cert The certificate with the socket's verdict.
  /// @param accept Set to true to accept; false (as given) refuses.
  virtual void OnValidateCertificate(const std::shared_ptr<Certificate>& cert, bool& accept) = 0;
  /// Octets arrived, converted from Windows-1252 to UTF-8; a reply may come in many pieces.
  /// @param text The piece.
  virtual void OnReceive(const std::string& text) = 0;
  /// The server ended the session cleanly.
  virtual void OnDisconnect() = 0;
  /// The attempt or the connection failed; it is over. One per failure.
  /// @param text What happened, for the user.
  /// @param code A Windows Sockets number as text: "10060" timed out, "10061" refused, "11001"
  ///   host not found, "11004" no address, "10053" aborted (a refused certificate or proxy too),
  ///   "10049" an invalid port.
  virtual void OnError(const std::string& text, const std::string& code) = 0;
  /// The proxy refused the tunnel; OnError follows.
  /// @param text What the proxy answered.
  /// @param code "9023" credentials refused, "9024" credentials wanted, else the HTTP status.
  virtual void OnProxyError(const std::string& text, const std::string& code) = 0;
};

/// The socket component's role (VexProxySocket5): TCP, TLS and HTTP proxy, configured by the host
/// (SocketOptions) and made by Module::CreateSocket. Text crosses it as UTF-8; on the wire it is
/// Windows-1252. Late-bound: SetSecure, Close, Connect, Send, CheckCertificate.
/// @ownership Held by std::shared_ptr: the host makes it, VexComm::SetSocket hands it to the
///   module, which keeps it until another socket is set or the module's last VexComm goes.
/// @thread The module's thread.
class VEXCOMM_EXPORT ProxySocket : public automation::Dispatch {
 public:
  /// Chooses TLS (true, the component's choice) or plain TCP for the next Connect.
  /// @param secure Whether to shake hands.
  virtual void SetSecure(bool secure) = 0;
  /// Ends the connection at once, without an event; harmless when none is open.
  virtual void Close() = 0;
  /// Opens a connection: resolves, connects (through the proxy if set), shakes hands; the result
  /// arrives as events on the loop (OnConnect, OnSSLReady, or one OnError). An open connection
  /// is closed first.
  /// @param host The server's name, as the certificate must name it.
  /// @param port The server's port; outside 1..65535 the attempt fails with OnError 10049.
  virtual void Connect(const std::string& host, int32_t& port) = 0;
  /// Queues text to send, converted to Windows-1252.
  /// @param text The request.
  /// @throws vexcomm::Error 10057 when no connection was opened.
  virtual void Send(const std::string& text) = 0;
  /// The socket's own verdict on a certificate.
  /// @param cert A certificate the socket presented.
  /// @return True when it passed.
  /// @throws vexcomm::Error 9025 (with the reason) when it did not.
  virtual bool CheckCertificate(const Certificate& cert) = 0;

  /// Sets who receives the events.
  /// @param events The receiver, held weakly: the sink owns the socket.
  void SetEvents(std::weak_ptr<SocketEvents> events) { events_ = std::move(events); }
  /// @return The receiver of the events, or empty when none is alive.
  std::shared_ptr<SocketEvents> events() const { return events_.lock(); }

  /// @return "VexProxySocket5".
  std::string_view TypeName() const override { return "VexProxySocket5"; }

 private:
  std::weak_ptr<SocketEvents> events_;
};

/// Host-side configuration of the TLS socket (Module::CreateSocket).
/// @ownership A plain value; the socket keeps a copy.
struct VEXCOMM_EXPORT SocketOptions {
  std::string proxy_host;      ///< The HTTP proxy's host; empty: a direct connection.
  uint16_t proxy_port = 0;     ///< The proxy's port.
  std::string proxy_user;      ///< User for the proxy's Basic credentials; empty: none offered.
  std::string proxy_password;  ///< The proxy user's password.
  std::string ca_file;  ///< A PEM file of trusted authorities; empty: the system trust store.
  /// "host:port" reached at another address, as curl's --connect-to: the host (any case) whose
  /// connections are redirected; empty: none. The certificate is still checked for it.
  std::string connect_to_host;
  uint16_t connect_to_port = 0;    ///< Only connections to this port; 0: any.
  std::string connect_to_address;  ///< The address (or name) to dial instead; empty: the host.
  uint16_t connect_to_address_port = 0;  ///< The port to dial instead; 0: the same port.
  /// From Connect until the session is up. 0: no limit.
  std::chrono::milliseconds connect_timeout{30000};
  /// Silence from the server, from the session's start or the last octet received. 0: no limit.
  std::chrono::milliseconds idle_timeout{120000};
  /// From each request until the next: a server that drips or never ends its reply is cut off
  /// even though data keeps arriving. 0: no limit.
  std::chrono::milliseconds reply_timeout{600000};
  /// As curl's --speed-limit and --speed-time: a reply arriving at fewer than `speed_limit`
  /// octets a second over `speed_time`, counted from its first octet, ends the connection as the
  /// idle time-out does (silence is the idle time-out's to judge). 0: no limit.
  std::size_t speed_limit = 100;
  /// The span over which speed_limit is measured. 0: no limit.
  std::chrono::milliseconds speed_time{60000};
  /// After the checks of chain and host name, the server's public key must be one of these:
  /// "sha256//" (may be left off) + the base64 of the SHA-256 of its SubjectPublicKeyInfo, as
  /// curl's --pinnedpubkey. A mismatch fails the certificate check. Empty: any key.
  std::vector<std::string> pinned_public_keys;
};

}  // namespace vexcomm
