#include "support/loop_helpers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace vexcomm::test {

LoopbackListener::LoopbackListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd_, 4) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("no free loopback port");
  }
  port_ = ntohs(addr.sin_port);
}

LoopbackListener::~LoopbackListener() {
  ::close(fd_);
}

bool RunLoopUntil(platform::MessageLoop& loop, const std::function<bool()>& done,
                  std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds(0)) return false;
    loop.RunOneFor(left);
  }
  return true;
}

}  // namespace vexcomm::test
