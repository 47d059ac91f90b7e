#pragma once

#include <string>
#include <system_error>

namespace vexcomm::platform {

// A failure as Windows Sockets reports it: the error number as text and a readable text.
struct SocketError {
  std::string code;
  std::string text;
};
SocketError ToSocketError(const std::error_code& ec);

}  // namespace vexcomm::platform
