#pragma once

#include <functional>

namespace vexcomm::cli {

// Ctrl-C (SIGINT), SIGTERM and SIGHUP without a signal handler: all are blocked in every thread and
// a thread of their own takes them with sigwait, so the library is never entered from a handler.
// The first signal during a run calls the cancel function (which posts CancelSend to the run's
// loop); a signal outside a run, or a second one, ends the program at once with 128 + signal.
class SignalCancel {
 public:
  // Before any other thread starts, so that every thread inherits the blocked signals.
  SignalCancel();
  ~SignalCancel();
  SignalCancel(const SignalCancel&) = delete;
  SignalCancel& operator=(const SignalCancel&) = delete;

  // Thread-safe. An empty function: no run.
  void SetCancel(std::function<void()> cancel);
  // Whether a signal asked to cancel the current run.
  bool cancelled() const;
  // The signal that cancelled it, 0 when none.
  int signal_number() const;

 private:
  struct Impl;
  Impl* impl_;
};

// The program's one instance, for the parts that run an operation; empty in tests of parts.
SignalCancel* CurrentSignalCancel();

}  // namespace vexcomm::cli
