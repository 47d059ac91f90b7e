#include "services/reply_dispatcher.h"

#include <vexcomm/operation.h>

#include "transport/frame.h"
#include "transport/reply_elements.h"
#include "transport/reply_number.h"

namespace vexcomm::services {

namespace element = transport::element;

void DispatchReceivedFrame(RunState& state, std::string&& frame,
                           std::span<const ReplyHandlerEntry> handlers) {
  state.handled_reply = {};
  try {
    auto& elements = *state.elements;
    if (!transport::SplitValidReply(frame, elements)) {
      std::string text = "Keine gültige Nachricht: ";
      text.append(frame);
      Log(state, text, {});
      SetOutcome(state, OutcomeKind::kInvalidReply, "no valid reply frame");
      return;
    }
    // What the elements did not take over is let go before the handlers run.
    std::string().swap(frame);
    const std::string& code = elements.Item(element::kCode);
    for (const auto& entry : handlers) {
      if (entry.code == code) {
        entry.handler(state);
        state.handled_reply = entry.code;
        break;
      }
    }
    state.attempts = 0;
  } catch (...) {
    const std::string description = DescribeCurrentException();
    Log(state, "VexComm-Fehler: " + description, {});
    SetOutcome(state, OutcomeKind::kInvalidReply, description);
  }
}

void VerarbeiteAIERR(RunState& state) {
  const auto& e = *state.elements;
  Log(state, "FEHLER: ", e.Item(element::kErrorText));
  const std::string& number = e.Item(element::kErrorNumber);
  // Read before anything changes: an out-of-range number leaves the record as it was.
  int32_t code = (number == "9056" || number == "9058") ? vcerrKundeNotFound
                                                        : transport::ReadReplyInt32(number);
  state.fehler->Code = code;
  state.fehler->Text = e.Item(element::kErrorText);
  if (state.outcome) {
    state.outcome->server_number = transport::ReadReplyInt32(number);
    state.outcome->server_text = e.Item(element::kErrorText);
  }
  SetOutcome(state, OutcomeKind::kServerError, e.Item(element::kErrorText));
  // No more files come; a quote run skips the stock (its row's rule).
  state.cursor.SetRemainingFiles(0);
}

void VerarbeiteAIRMG(RunState& state) {
  const auto& e = *state.elements;
  // Made to measure and moved to the host: a notice may be megabytes.
  constexpr std::string_view kHead = "Meldung:  ";
  std::string line;
  {
    const std::string& number = e.Item(element::kErrorNumber);
    const std::string& text = e.Item(element::kErrorText);
    line.reserve(kHead.size() + text.size() + number.size() + 3);
    line.append(kHead).append(text).append(" (").append(number).append(")");
  }
  Callback(state, kLogLine, std::move(line));
  // Read again: the host's callback may have re-entered the component.
  const std::string& number = e.Item(element::kErrorNumber);
  if (transport::ReadReplyNumber(number) == 10.0) state.fehler->Code = vcerrSuccess;
  state.fehler->Text = number;
}

}  // namespace vexcomm::services
