#pragma once

#include <openssl/ssl.h>

#include <memory>

#include <vexcomm/socket.h>

namespace vexcomm::platform {

// The peer's certificate of a finished handshake with the verifier's verdict: `first_error` is
// the first failure the verify callback saw (X509_V_OK for none).
std::shared_ptr<Certificate> DescribePeer(SSL* ssl, int first_error);

}  // namespace vexcomm::platform
