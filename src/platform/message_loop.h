#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace asio {
class io_context;
}

namespace vexcomm::platform {

// The thread's message queue (an io_context kept alive by a work guard). The socket completes
// its work as handlers on it; the wait of Send runs it. Post is the only thread-safe member.
class MessageLoop {
 public:
  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // Thread-safe: queues fn to run on the loop's thread.
  void Post(std::function<void()> fn);
  // Blocks until one handler has run; returns the number run (1).
  std::size_t RunOne();
  // Blocks until one handler has run or the deadline passes; returns the number run.
  std::size_t RunOneFor(std::chrono::milliseconds timeout);
  // Runs whatever is ready now, then returns.
  std::size_t Poll();

  asio::io_context& context();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vexcomm::platform
