#include "services/run_state.h"

#include <algorithm>
#include <exception>

#include <vexcomm/operation.h>

#include "platform/number_text.h"
#include "services/frame_trace.h"

namespace vexcomm::services {

int32_t CurrentEntry(const RunState& state) {
  if (state.step < 0 || state.step >= static_cast<int32_t>(state.operations.size())) {
    Raise(errnum::kSubscriptOutOfRange);
  }
  return state.operations[static_cast<std::size_t>(state.step)];
}

void SendRequest(RunState& state, const std::string& frame) {
  TraceSent(state, frame);
  if (!state.driver) Raise(errnum::kObjectNotSet);
  state.driver->SendFrame(frame);
}

void Callback(RunState& state, int16_t kind, std::string_view text) {
  Callback(state, kind, std::string(text));
}

void Callback(RunState& state, int16_t kind, std::string&& text) {
  // Hold the object: the host's method may replace it through SetCallback while it runs.
  auto callback = state.callback;
  if (!callback) return;
  try {
    // The text moves into the argument (an initializer list would copy it): a line may carry a
    // notice of megabytes.
    std::vector<automation::Variant> args;
    args.reserve(2);
    args.emplace_back(kind);
    args.emplace_back(std::move(text));
    callback->Invoke(callback->IdOf("callback"), automation::InvokeKind::Method, args);
  } catch (...) {
    // A failing host callback never changes a run.
  }
}

void ProcessHostEvents(RunState& state, bool when_due) {
  if (!state.host.process_host_events) return;
  const auto now = std::chrono::steady_clock::now();
  if (when_due && now - state.host_events_at < HostServices::kHostEventsInterval) return;
  state.host_events_at = now;
  try {
    // A copy: the host's code may replace what it runs.
    auto process = state.host.process_host_events;
    process();
  } catch (...) {
    // The host's own failures never change a run.
  }
}

void Log(RunState& state, std::string_view text, std::string_view extra) {
  std::string line;
  line.reserve(text.size() + 1 + extra.size());
  line.append(text).append(" ").append(extra);
  Callback(state, kLogLine, std::move(line));
}

void ReportStatus(RunState& state, std::string_view text) {
  Callback(state, kStatusText, text);
  Log(state, text, {});
}

void ReportProgress(RunState& state) {
  // A total of 0 has no percentage: nothing is reported.
  if (state.progress_total == 0) return;
  // A counter past the total (the quote database written outside a run) still shows 100.
  const int32_t done = state.progress_total > 0
                           ? std::min(state.progress_counter, state.progress_total)
                           : state.progress_counter;
  double percent = static_cast<double>(done) / state.progress_total * 100.0;
  Callback(state, kProgress, platform::FormatGeneralNumber(percent));
}

void ShowMessageBox(RunState& state, std::string_view title, std::string_view text) {
  if (!state.host.message_box) return;
  try {
    state.host.message_box(std::string(title), std::string(text));
  } catch (...) {
    // The box is only a notice; its failure changes nothing.
  }
}

void ReplyNotProcessed(RunState& state, std::string_view title) {
  std::string description = DescribeCurrentException();
  ShowMessageBox(state, title, description);
  SetOutcome(state, OutcomeKind::kInvalidReply, std::string(title) + ": " + description);
}

std::string DescribeCurrentException() {
  return ErrorDescription(std::current_exception());
}

}  // namespace vexcomm::services
