#include <vexcomm/quotes.h>

#include "component/cls_event.h"
#include "component/module_state.h"
#include "deposits/deposit_requests.h"
#include "quotes/quote_requests.h"
#include "services/messages.h"
#include "services/support_requests.h"

namespace vexcomm::component {

namespace {

using services::Next;
using services::RunState;

Next NextStep(RunState&) {
  return Next::kNextStep;
}
// The services' rules only read the run; a row's rule may also change it.
Next AfterFileReply(RunState& run) {
  return services::AfterFileReply(run);
}
Next AfterCheckNewReply(RunState& run) {
  return services::AfterCheckNewReply(run);
}
// The list of stocks comes from the database with the first request; the replies are those of
// the quote run, which the run then is.
Next AfterNewQuotesReply(RunState& run) {
  run.operations[static_cast<std::size_t>(run.step)] = vexCommWPK;
  return quotes::AfterQuoteReply(run);
}

// An operation of the run: the request it sends and what follows a reply to it.
struct Operation {
  int32_t code;
  std::string_view name;  // empty: none reported
  void (*send)(RunState&);
  Next (*after_reply)(RunState&);
};

constexpr Operation kOperations[] = {
    {VexCommGetNew, "Auf neue Nachrichten prüfen", services::SendeAKNEW, AfterFileReply},
    {vexCommCheckNew, "Auf neue Nachrichten prüfen", services::SendeAKNEW, AfterCheckNewReply},
    {VexCommGetFile, "Datei holen", services::SendeAKGET, NextStep},
    {vexCommWDT, "", quotes::SendeAKWDT, NextStep},
    {vexCommWPK, "Wertpapierdaten abrufen", quotes::SendeAKWPK, quotes::AfterQuoteReply},
    {vexCommNewWPK, "Wertpapierdaten abrufen", quotes::SendeNeueWPK, AfterNewQuotesReply},
    {vexCommTGA, "Tagesgeld-Angebote abrufen", deposits::SendeAKTGA, NextStep},
    {vexCommFGA, "", deposits::SendeAKFGA, NextStep},
    {vexCommGetAllWPK, "Alle Wertpapierdaten abrufen", quotes::SendeAKWPKAlle,
     quotes::AfterQuoteReply},
    {vexCommSendLog, "", services::SendeAKLOG, NextStep},
    {vexCommSendPWD, "", services::SendeAKPWD, NextStep},
};

const Operation* FindOperation(int32_t code) {
  for (const auto& op : kOperations) {
    if (op.code == code) return &op;
  }
  return nullptr;
}

// What follows the reply just handled. While Modus is VexCommGetNew (as check-new leaves it,
// or as the host set it during the run) the run fetches as long as files wait.
Next NextAfterReply(RunState& run) {
  if (run.modus == VexCommGetNew) return services::AfterFileReply(run);
  const Operation* op = FindOperation(services::CurrentEntry(run));
  return op ? op->after_reply(run) : Next::kNextStep;
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
          run.aktien ? run.cursor.StockPosition(*run.aktien) : 0,
          run.user.DateiNr,
          run.cursor.remaining_files()};
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
  run.operations[1] = run.modus;
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
    if (op) op->send(state.run);
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
  Next next = NextAfterReply(run);
  if (next == Next::kBecomeFetch) {
    run.modus = VexCommGetNew;
    next = NextAfterReply(run);
  }
  switch (next) {
    case Next::kFetchFile:
      run.operations[static_cast<std::size_t>(run.step)] = VexCommGetFile;
      return DispatchUnlessStuck(state);
    case Next::kAgain:
      return DispatchUnlessStuck(state);
    case Next::kNextStep:
      run.step += 1;
      if (services::CurrentEntry(run) != VexCommNone) return DispatchUnlessStuck(state);
      return Close(state);
    case Next::kFinish:
      quotes::FinishQuoteRun(run);
      // The write ends in a commit and the close in a store, each waiting for the disk: the
      // host's user interface gets its turn between them. Its code may have closed the run.
      services::ProcessHostEvents(run, true);
      if (!run.session_done) Close(state);
      return;
    case Next::kBecomeFetch:
    case Next::kClose:
      return Close(state);
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
