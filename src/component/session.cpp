#include "component/cls_event.h"
#include "component/module_state.h"
#include "config/ini_reader.h"
#include "config/persistent_values.h"
#include "services/frame_trace.h"
#include "services/run_state.h"

namespace vexcomm::component {

bool LoadPersistentValues(detail::ModuleState& state, std::string* notice) {
  auto& run = state.run;
  const auto loaded =
      config::ReadPersistentValues(run.host.registry_dir, [&run, notice](const std::string& text) {
        services::ShowMessageBox(run, "VexComm5", text);
        if (notice) *notice = text;
      });
  if (loaded.unreadable) return false;
  run.user = loaded.record.user;
  run.attempts = loaded.record.attempts;
  run.stored = loaded.record;
  return true;
}

namespace {

// The host's files are on disk before the stored cursor passes them.
bool HostMadeFilesDurable(services::RunState& run) noexcept {
  if (!run.host.make_files_durable) return true;
  try {
    auto durable = run.host.make_files_durable;  // the host's code may replace it
    return durable();
  } catch (...) {
    return false;
  }
}

}  // namespace

void StorePersistentValues(detail::ModuleState& state) noexcept {
  auto& run = state.run;
  try {
    config::PersistentRecord now{run.user, run.attempts};
    if (now.user.DateiNr != run.stored.user.DateiNr && !HostMadeFilesDurable(run)) {
      // The next run fetches those files again; this one did not keep them.
      now.user.DateiNr = run.stored.user.DateiNr;
      services::SetOutcome(run, OutcomeKind::kFileRefused,
                           "the received files are not durable; DateiNr stays before them");
    }
    std::string failure;
    if (config::StoreChangedValues(run.host.registry_dir, run.stored, now, &failure)) {
      run.stored = std::move(now);
    } else {
      // The run goes on as documented, but it did not do what was asked: the next one would
      // fetch the same files again.
      services::SetOutcome(run, OutcomeKind::kRegistryStore, std::move(failure));
    }
  } catch (...) {
  }
}

namespace {

// Blocks in the kernel until a handler has run; the socket's events end the wait. A host with an
// event loop of its own gets it run whenever its interval has passed, so its user interface lives
// through a long run; without one, nothing wakes the thread but the socket.
void Wait(detail::ModuleState& state) {
  auto& run = state.run;
  if (!run.host.process_host_events) {
    while (!run.session_done) state.loop.RunOne();
    return;
  }
  using std::chrono::steady_clock;
  constexpr auto kInterval = HostServices::kHostEventsInterval;
  run.host_events_at = steady_clock::now();
  while (!run.session_done) {
    const auto due = run.host_events_at + kInterval;
    const auto now = steady_clock::now();
    if (now >= due) {
      services::ProcessHostEvents(run);
    } else {
      state.loop.RunOneFor(std::chrono::ceil<std::chrono::milliseconds>(due - now));
      services::ProcessHostEvents(run, true);
    }
  }
}

}  // namespace

void OpenAndWait(detail::ModuleState& state) {
  auto& run = state.run;
  try {
    run.attempts += 1;
    run.progress_counter = 0;
    run.session_done = false;
    ReportOperationName(state);
    auto sock = state.sink ? state.sink->sock() : nullptr;
    if (!sock) Raise(errnum::kObjectNotSet);
    sock->SetSecure(true);
    auto host = config::SelectServerHost(run.ini_dir, config::StandardServerHost());
    int32_t port = 443;
    state.attempt_refusal.reset();
    sock->Connect(host.host, port);
    if (host.from_ini) services::Log(run, "SSL-Connect : " + host.host, {});
  } catch (...) {
    // No session runs after a failed opening.
    run.session_done = true;
    const std::string description = services::DescribeCurrentException();
    services::ShowMessageBox(run, "VexComm.Connect", description);
    services::SetOutcome(run, OutcomeKind::kNetworkUnreachable, "VexComm.Connect: " + description);
    StorePersistentValues(state);
    services::TraceEnd(run);
    return;
  }
  Wait(state);
  state.receive_buffer.Release();
  // However the run ended, what it received is kept.
  StorePersistentValues(state);
  services::TraceEnd(run);
}

}  // namespace vexcomm::component
