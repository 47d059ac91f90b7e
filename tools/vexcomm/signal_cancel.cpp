#include "signal_cancel.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace vexcomm::cli {
namespace {

// Wakes the waiting thread at the end; it is blocked like the others, so it never kills.
constexpr int kWake = SIGUSR1;

std::atomic<SignalCancel*> current{nullptr};

}  // namespace

struct SignalCancel::Impl {
  sigset_t set{};
  std::mutex mutex;
  std::function<void()> cancel;
  bool cancelled = false;
  int signal_number = 0;
  bool stopping = false;
  std::thread thread;
};

SignalCancel::SignalCancel() : impl_(new Impl) {
  sigemptyset(&impl_->set);
  sigaddset(&impl_->set, SIGINT);
  sigaddset(&impl_->set, SIGTERM);
  sigaddset(&impl_->set, SIGHUP);  // a closed terminal or session: cancel as cleanly
  sigaddset(&impl_->set, kWake);
  pthread_sigmask(SIG_BLOCK, &impl_->set, nullptr);
  impl_->thread = std::thread([impl = impl_] {
    for (;;) {
      int signal_number = 0;
      if (sigwait(&impl->set, &signal_number) != 0) continue;
      std::lock_guard lock(impl->mutex);
      if (impl->stopping) return;
      if (signal_number == kWake) continue;
      if (!impl->cancel || impl->cancelled) std::_Exit(128 + signal_number);
      impl->cancelled = true;
      impl->signal_number = signal_number;
      impl->cancel();
    }
  });
  current = this;
}

SignalCancel::~SignalCancel() {
  current = nullptr;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  pthread_kill(impl_->thread.native_handle(), kWake);
  impl_->thread.join();
  delete impl_;
}

void SignalCancel::SetCancel(std::function<void()> cancel) {
  std::lock_guard lock(impl_->mutex);
  impl_->cancel = std::move(cancel);
  if (impl_->cancel) impl_->cancelled = false;
}

bool SignalCancel::cancelled() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->cancelled;
}

int SignalCancel::signal_number() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->cancelled ? impl_->signal_number : 0;
}

SignalCancel* CurrentSignalCancel() {
  return current;
}

}  // namespace vexcomm::cli
