#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <vexcomm/cls_fehler.h>
#include <vexcomm/host.h>
#include <vexcomm/outcome.h>

#include "config/persistent_values.h"
#include "transport/cls_element.h"

namespace vexcomm {
class colAktien;
class clsTagesgeld;
struct NeueDateiEvent;
}  // namespace vexcomm

namespace vexcomm::services {

// The shared component state that request builders and reply handlers work on: the objects
// (recreated at each first creation) and the plain values (kept while the component is loaded).
struct RunState {
  HostServices host;     // every member filled (defaults resolved)
  std::string ini_dir;   // ends in "/"
  std::string data_dir;  // ends in "/"

  std::shared_ptr<transport::clsElement> elements;
  std::shared_ptr<clsFehler> fehler;
  std::shared_ptr<RunOutcome> outcome;  // beside fehler: how the last Send ended
  std::shared_ptr<colAktien> aktien;
  std::shared_ptr<clsTagesgeld> tagesgeld;
  std::shared_ptr<clsTagesgeld> festgeld;
  std::shared_ptr<automation::Dispatch> callback;

  int32_t modus = 0;
  std::string log_support;
  std::string log_datum;
  std::string log_text;

  std::array<int32_t, 7> operations{};  // index 0 unused; a list ends at the first 6
  int32_t step = 0;

  bool session_done = true;
  int32_t attempts = 0;  // connection-attempt counter (persistent)
  int32_t progress_counter = 0;
  int32_t progress_total = 0;
  int32_t remaining_files = 0;
  int32_t announced_files = 0;
  config::clsUserDaten user;  // identity record (persistent)
  // Set while the host's NeueDatei or Delete handler runs; the host may refuse the file then,
  // with a reason, and the run ends after it with DateiNr before the file.
  bool in_file_handler = false;
  std::optional<std::string> file_refused;
  // The persistent values as last read or stored: a run writes back only what it changed.
  config::PersistentRecord stored;
  std::chrono::steady_clock::time_point host_events_at;  // the host's events last ran

  // Provided by the component: hands a request frame to the socket (failures propagate), raises
  // the two relays of a file reply and tells of a file without content, and ends the wait without a
  // request (operation 15).
  std::function<void(const std::string& frame)> send_frame;
  std::function<void(NeueDateiEvent& event)> raise_neue_datei;
  std::function<void()> raise_delete;
  std::function<void(int32_t nummer, const std::string& name)> raise_skipped_file;
  std::function<void()> end_session;
};

// The entry at the step index; error 9 outside the list.
int32_t CurrentEntry(const RunState& state);

// Sends a request frame that holds nothing private (frame_trace.h has the one that does).
void SendRequest(RunState& state, const std::string& frame);

// Host reporting through the callback object's `callback` (kind, text); every failure of the
// host's object is swallowed.
void Callback(RunState& state, int16_t kind, std::string_view text);
void Callback(RunState& state, int16_t kind, std::string&& text);
void Log(RunState& state, std::string_view text, std::string_view extra);
void ReportStatus(RunState& state, std::string_view text);
void ReportProgress(RunState& state);
void ShowMessageBox(RunState& state, std::string_view title, std::string_view text);

// Runs the host's own event processing, if it gave one; with `when_due`, only once its
// interval has passed since the last time. Failures of the host's code are swallowed.
void ProcessHostEvents(RunState& state, bool when_due = false);

// The description of the exception in flight, for log lines and message boxes.
std::string DescribeCurrentException();

// Records how the run ended. The first failure stays, except that a local store's failure
// replaces any other but a cancel; nothing new replaces only a run that ended well.
void SetOutcome(RunState& state, OutcomeKind kind, std::string detail = {});
// A Send starts: ended well, no boxes.
void ResetOutcome(RunState& state);
// Keeps a box the run showed for the outcome.
void RecordMessageBox(RunState& state, std::string_view title, std::string_view text);
// A reply could not be processed: the procedure's box with the failure in flight, and the run's
// outcome says so.
void ReplyNotProcessed(RunState& state, std::string_view title);

}  // namespace vexcomm::services
