#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include <vexcomm/socket.h>

#include "platform/message_loop.h"

namespace vexcomm::platform {

// The socket component: TCP, TLS (OpenSSL) and an HTTP CONNECT proxy, configured by `options`.
// Every completion runs on `loop` and raises its events there; the loop must outlive the socket.
// Not thread-safe: use it on the loop's thread only.
std::shared_ptr<ProxySocket> CreateTlsSocket(MessageLoop& loop, SocketOptions options);

// The error number CheckCertificate raises for a certificate the verifier did not accept, so
// that a sink which lets a failed check end its handler refuses the certificate.
inline constexpr int32_t kErrCertificateNotTrusted = 9025;

// A failure as Windows Sockets reports it: the error number as text and a readable text.
struct SocketError {
  std::string code;
  std::string text;
};
SocketError ToSocketError(const std::error_code& ec);

}  // namespace vexcomm::platform
