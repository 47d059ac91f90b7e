#pragma once

#include <string>
#include <string_view>

namespace vexcomm::platform {

// The request that opens a tunnel through an HTTP proxy to target:port. Credentials are sent
// as Basic authorization only when a user name is given.
std::string BuildConnectRequest(std::string_view target, unsigned port, std::string_view user,
                                std::string_view password);

// Standard base64 with padding, as Basic authorization wants it.
std::string Base64(std::string_view bytes);

// The proxy's answer head (status line and headers, up to the blank line).
struct ProxyReply {
  int status = 0;      // 0 when the status line is not HTTP
  std::string reason;  // the status line's text after the number
};
ProxyReply ParseProxyReply(std::string_view head);

}  // namespace vexcomm::platform
