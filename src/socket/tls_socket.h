#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <vexcomm/socket.h>
#include <vexcomm/trace.h>

#include "platform/message_loop.h"
#include "socket/socket_error.h"

namespace vexcomm::platform {

// The socket component: TCP, TLS (OpenSSL) and an HTTP CONNECT proxy, configured by `options`.
// Every completion runs on `loop` and raises its events there; the loop must outlive the socket.
// Not thread-safe: use it on the loop's thread only. Each connection attempt and TLS session is
// told to `trace` when one is given, whose records say whether the module traces unmasked.
std::shared_ptr<ProxySocket> CreateTlsSocket(MessageLoop& loop, SocketOptions options,
                                             std::shared_ptr<TraceSink> trace = nullptr,
                                             bool trace_unmasked = false);

// The error number CheckCertificate raises for a certificate the verifier did not accept, so
// that a sink which lets a failed check end its handler refuses the certificate.
inline constexpr int32_t kErrCertificateNotTrusted = 9025;

}  // namespace vexcomm::platform
