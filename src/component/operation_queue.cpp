#include <vexcomm/quotes.h>

#include "component/cls_event.h"
#include "component/module_state.h"
#include "deposits/deposit_requests.h"
#include "quotes/quote_internals.h"
#include "quotes/quote_requests.h"
#include "services/messages.h"
#include "services/support_requests.h"

namespace vexcomm::component {

namespace {

using services::RunState;

struct Operation {
  int32_t code;
  std::string_view name;  // empty: none reported
  void (*build)(RunState&);
};

// The operation codes with a request, and the names reported when they run.
constexpr Operation kOperations[] = {
    {VexCommGetNew, "Auf neue Nachrichten prüfen", services::SendeAKNEW},
    {VexCommGetFile, "Datei holen", services::SendeAKGET},
    {vexCommWDT, "", quotes::SendeAKWDT},
    {vexCommWPK, "Wertpapierdaten abrufen", quotes::SendeAKWPK},
    {vexCommNewWPK, "Wertpapierdaten abrufen", quotes::SendeNeueWPK},
    {vexCommTGA, "Tagesgeld-Angebote abrufen", deposits::SendeAKTGA},
    {vexCommFGA, "", deposits::SendeAKFGA},
    {vexCommGetAllWPK, "Alle Wertpapierdaten abrufen", quotes::SendeAKWPKAlle},
    {vexCommSendLog, "", services::SendeAKLOG},
    {vexCommSendPWD, "", services::SendeAKPWD},
};

const Operation* FindOperation(int32_t code) {
  for (const auto& op : kOperations) {
    if (op.code == code) return &op;
  }
  return nullptr;
}

constexpr services::ReplyHandlerEntry kReplyHandlers[] = {
    {"AIERR", services::VerarbeiteAIERR}, {"AIFGA", deposits::VerarbeiteAIFGA},
    {"AIGET", services::VerarbeiteDatei}, {"AINEW", services::VerarbeiteAINEW},
    {"AIRMG", services::VerarbeiteAIRMG}, {"AITGA", deposits::VerarbeiteAITGA},
    {"AIWDT", quotes::VerarbeiteAIWDT},   {"AIWPK", quotes::VerarbeiteWIWPK},
};

detail::ModuleState::RunPosition PositionOf(const detail::ModuleState& state) {
  const auto& run = state.run;
  const bool in_list = run.step >= 0 && run.step < static_cast<int32_t>(run.operations.size());
  return {run.modus,
          run.step,
          in_list ? run.operations[static_cast<std::size_t>(run.step)] : 0,
          run.aktien ? detail::QuoteInternals::CurrentIndex(*run.aktien) : 0,
          run.user.DateiNr,
          run.remaining_files};
}

// The same request twice in a row is a retry; a third time the server's answers have shown they
// do not move the run on, and asking again would only flood it.
constexpr int32_t kMostSendsFromOnePosition = 2;
constexpr std::string_view kRunDoesNotMove =
    "Die Antworten des Servers bringen den Lauf nicht weiter";

void DispatchUnlessStuck(detail::ModuleState& state) {
  if (state.sent_at == PositionOf(state) && state.sends_at_position >= kMostSendsFromOnePosition) {
    services::Log(state.run, kRunDoesNotMove, {});
    if (state.run.fehler) {
      state.run.fehler->Code = vcerrNoConnection;
      state.run.fehler->Text = kRunDoesNotMove;
    }
    services::SetOutcome(state.run, OutcomeKind::kStuckRun, std::string(kRunDoesNotMove));
    Close(state);
    return;
  }
  Dispatch(state);
}

}  // namespace

std::span<const services::ReplyHandlerEntry> ReplyHandlers() {
  return kReplyHandlers;
}

void Run(detail::ModuleState& state) {
  auto& run = state.run;
  run.fehler->Code = vcerrNoError;
  services::ResetOutcome(run);
  run.file_refused.reset();
  std::string notice;
  if (!LoadPersistentValues(state, &notice)) {
    run.fehler->Code = vcerrOther;
    run.fehler->Text =
        "Die Installationsdaten sind nicht lesbar: " + run.host.registry_dir.string();
    services::SetOutcome(run, OutcomeKind::kRegistryStore,
                         notice.empty() ? run.fehler->Text : notice);
    return;
  }
  int32_t m = run.modus;
  run.operations[1] = m == vexCommCheckNew ? VexCommGetNew : m;
  run.operations[2] = VexCommNone;
  run.step = 1;
  state.sent_at.reset();
  state.sends_at_position = 0;
  OpenAndWait(state);
}

void ReportOperationName(detail::ModuleState& state) {
  const Operation* op = FindOperation(services::CurrentEntry(state.run));
  if (!op || op->name.empty()) return;
  services::Callback(state.run, kOperationName, op->name);
  services::Callback(state.run, kStatusText, op->name);
}

void Dispatch(detail::ModuleState& state) {
  const auto position = PositionOf(state);
  if (state.sent_at == position) {
    state.sends_at_position += 1;
  } else {
    state.sent_at = position;
    state.sends_at_position = 1;
  }
  try {
    ReportOperationName(state);
    const Operation* op = FindOperation(services::CurrentEntry(state.run));
    if (op) op->build(state.run);
  } catch (...) {
    services::Log(state.run, "Fehler: " + services::DescribeCurrentException(), {});
  }
}

void Advance(detail::ModuleState& state) {
  auto& run = state.run;
  if (run.file_refused) {
    Close(state);  // fetching on would move the server past the refused file
    return;
  }
  int32_t entry = services::CurrentEntry(run);
  if (run.modus == VexCommGetNew) {
    if (run.remaining_files > 0) {
      run.operations[static_cast<std::size_t>(run.step)] = VexCommGetFile;
      DispatchUnlessStuck(state);
    } else {
      Close(state);
    }
  } else if (entry == vexCommWPK || entry == vexCommGetAllWPK) {
    if (detail::QuoteInternals::CurrentIndex(*run.aktien) > run.aktien->Count()) {
      quotes::FinishQuoteRun(run);
      // The write ends in a commit and the close in a store, each waiting for the disk: the
      // host's user interface gets its turn between them. Its code may have closed the run.
      services::ProcessHostEvents(run, true);
      if (!run.session_done) Close(state);
    } else {
      DispatchUnlessStuck(state);
    }
  } else {
    run.step += 1;
    if (services::CurrentEntry(run) == VexCommNone) {
      Close(state);
    } else {
      DispatchUnlessStuck(state);
    }
  }
}

void Close(detail::ModuleState& state) noexcept {
  // A host that cancels from inside NochAufServer asks for the close already under way; running
  // it again would raise NochAufServer again, and again.
  if (state.closing) return;
  state.closing = true;
  auto& run = state.run;
  try {
    if (state.sink && state.sink->sock()) state.sink->sock()->Close();
  } catch (...) {
  }
  StorePersistentValues(state);
  try {
    RelayNochAufServer(state);
  } catch (...) {
  }
  run.session_done = true;
  state.closing = false;
}

}  // namespace vexcomm::component
