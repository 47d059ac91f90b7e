#include "platform/message_loop.h"

#include <asio.hpp>

namespace vexcomm::platform {

struct MessageLoop::Impl {
  // One thread runs the loop; others only post to it.
  asio::io_context context{1};
  // Keeps run_one waiting for work instead of returning when the queue is empty.
  asio::executor_work_guard<asio::io_context::executor_type> guard = asio::make_work_guard(context);
};

MessageLoop::MessageLoop() : impl_(std::make_unique<Impl>()) {}

MessageLoop::~MessageLoop() = default;

void MessageLoop::Post(std::function<void()> fn) {
  asio::post(impl_->context, std::move(fn));
}

std::size_t MessageLoop::RunOne() {
  return impl_->context.run_one();
}

std::size_t MessageLoop::RunOneFor(std::chrono::milliseconds timeout) {
  return impl_->context.run_one_for(timeout);
}

std::size_t MessageLoop::Poll() {
  return impl_->context.poll();
}

asio::io_context& MessageLoop::context() {
  return impl_->context;
}

}  // namespace vexcomm::platform
