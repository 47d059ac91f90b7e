#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/message_loop.h"

namespace vexcomm::test {

// A listening loopback socket: the kernel completes TCP connections to it, nobody speaks.
class LoopbackListener {
 public:
  LoopbackListener();
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  uint16_t port() const { return port_; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A loopback port with nobody behind it: listened on, then released.
inline uint16_t ClosedLoopbackPort() {
  return LoopbackListener().port();
}

// Runs the loop until `done` holds or the limit passes; false when the limit passed.
bool RunLoopUntil(platform::MessageLoop& loop, const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace vexcomm::test
