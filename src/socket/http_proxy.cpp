#include "socket/http_proxy.h"

#include <charconv>

namespace vexcomm::platform {

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string BuildConnectRequest(std::string_view target, unsigned port, std::string_view user,
                                std::string_view password) {
  // An IPv6 literal needs brackets in the authority.
  std::string authority = target.find(':') != std::string_view::npos
                              ? std::string("[").append(target).append("]")
                              : std::string(target);
  authority.append(":").append(std::to_string(port));
  std::string request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
  if (!user.empty()) {
    std::string credentials(user);
    credentials += ':';
    credentials += password;
    request += "Proxy-Authorization: Basic " + Base64(credentials) + "\r\n";
  }
  request += "\r\n";
  return request;
}

ProxyReply ParseProxyReply(std::string_view head) {
  ProxyReply reply;
  const std::size_t eol = head.find_first_of("\r\n");
  std::string_view line = head.substr(0, eol);
  if (!line.starts_with("HTTP/")) return reply;
  const std::size_t sp = line.find(' ');
  if (sp == std::string_view::npos) return reply;
  line.remove_prefix(sp + 1);
  int status = 0;
  const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), status);
  if (ec != std::errc() || end != line.data() + 3 || status < 100 || status > 999) return reply;
  line.remove_prefix(3);
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  reply.status = status;
  reply.reason = std::string(line);
  return reply;
}

}  // namespace vexcomm::platform
