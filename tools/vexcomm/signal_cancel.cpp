#include "signal_cancel.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace vexcomm::cli {
namespace {

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
  pthread_sigmask(SIG_BLOCK, &impl_->set, nullptr);
  impl_->thread = std::thread([impl = impl_] {
    for (;;) {
      int signal_number = 0;
      if (sigwait(&impl->set, &signal_number) != 0) continue;
      std::lock_guard lock(impl->mutex);
      if (impl->stopping) return;
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
  std::lock_guard lock(impl_->mutex);
  impl_->stopping = true;
  // The program ends here: waiting for the thread to wake and finish would only make it end
  // later (on a busy machine by a turn of the scheduler). The thread stays blocked in sigwait
  // until the process goes, and a signal meanwhile finds it stopping; so its state stays too.
  impl_->thread.detach();
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
