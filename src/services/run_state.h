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
#include "services/run_cursor.h"
#include "transport/cls_element.h"

namespace vexcomm {
class colAktien;
class clsTagesgeld;
struct NeueDateiEvent;
}  // namespace vexcomm

namespace vexcomm::services {

// What follows a reply, as the row of the operation that asked decides it.
enum class Next {
  kAgain,        // the same operation asks again (the next stock)
  kNextStep,     // the next operation of the list; after the last one the run closes
  kFetchFile,    // the next file is fetched
  kBecomeFetch,  // Modus becomes VexCommGetNew, and the run goes on as that one does
  kFinish,       // the quote run stores what it got, then the run closes
  kClose,        // the run ends
};

// What the run asks of the component that drives it; the component implements it.
class RunDriver {
 public:
  // Hands a request frame to the socket; failures propagate.
  virtual void SendFrame(const std::string& frame) = 0;
  // The host's events of a file reply: a file, the order to delete the file the host knows by
  // `nummer` (as sent), a file without content.
  virtual void RaiseNeueDatei(NeueDateiEvent& event) = 0;
  virtual void RaiseDelete(const std::string& nummer) = 0;
  virtual void RaiseSkippedFile(int32_t nummer, const std::string& name) = 0;
  // Ends the wait without a request, and the connection with it.
  virtual void EndSession() = 0;

 protected:
  ~RunDriver() = default;
};

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

  // Written by the component's run only; handlers record what a reply brought in the cursor.
  std::array<int32_t, 7> operations{};  // index 0 unused; a list ends at the first 6
  int32_t step = 0;
  RunCursor cursor;
  // The code of the reply whose handler has just completed; empty when none did.
  std::string_view handled_reply;

  bool session_done = true;
  int32_t attempts = 0;  // connection-attempt counter (persistent)
  int32_t progress_counter = 0;
  int32_t progress_total = 0;
  config::clsUserDaten user;  // identity record (persistent)
  // Set while the host's NeueDatei or Delete handler runs; the host may refuse the file then,
  // with a reason, and the run ends after it with DateiNr before the file.
  bool in_file_handler = false;
  std::optional<std::string> file_refused;
  // The persistent values as last read or stored: a run writes back only what it changed.
  config::PersistentRecord stored;
  std::chrono::steady_clock::time_point host_events_at;  // the host's events last ran

  RunDriver* driver = nullptr;  // the component, which owns this state
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
