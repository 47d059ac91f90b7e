// curl's --connect-to for the example hosts: HOST:PORT:ADDRESS:PORT reaches HOST:PORT at
// another address, the certificate still checked for HOST.
#pragma once

#include <cstdlib>
#include <string>

#include <vexcomm/socket.h>

inline bool ParseConnectTo(const std::string& text, vexcomm::SocketOptions& options) {
  std::string parts[4];
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t end = i < 3 ? text.find(':', start) : text.size();
    if (end == std::string::npos) return false;
    parts[i] = text.substr(start, end - start);
    start = end + 1;
  }
  options.connect_to_host = parts[0];
  options.connect_to_port = static_cast<uint16_t>(std::atoi(parts[1].c_str()));
  options.connect_to_address = parts[2];
  options.connect_to_address_port = static_cast<uint16_t>(std::atoi(parts[3].c_str()));
  return true;
}
