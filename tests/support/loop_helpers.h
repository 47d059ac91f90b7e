#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/message_loop.h"

namespace vexcomm::test {

// A loopback port with nobody behind it: bound, then released.
uint16_t ClosedLoopbackPort();

// Runs the loop until `done` holds or the limit passes; false when the limit passed.
bool RunLoopUntil(platform::MessageLoop& loop, const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace vexcomm::test
