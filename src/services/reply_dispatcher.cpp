#include "services/reply_dispatcher.h"

#include <vexcomm/quotes.h>
#include <vexcomm/vexcomm.h>

#include "quotes/quote_internals.h"
#include "transport/frame.h"
#include "transport/reply_number.h"

namespace vexcomm::services {

namespace {

void Dispatch(RunState& state, std::string_view frame, std::span<const ReplyHandlerEntry> handlers,
              std::string* owned) {
  try {
    auto& elements = *state.elements;
    bool valid = false;
    if (owned) {
      valid = transport::SplitValidReply(*owned, elements);
    } else {
      transport::SplitElements(frame, elements, true);
      valid = transport::IsValidReply(elements);
    }
    if (!valid) {
      std::string text = "Keine gültige Nachricht: ";
      text.append(frame);
      Log(state, text, {});
      SetOutcome(state, OutcomeKind::kInvalidReply, "no valid reply frame");
      return;
    }
    // What the elements did not take over is let go before the handlers run.
    if (owned) std::string().swap(*owned);
    const std::string& code = elements.Item(3);
    for (const auto& entry : handlers) {
      if (entry.code == code) {
        entry.handler(state);
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

}  // namespace

void VerarbeiteNachricht(RunState& state, std::string_view frame,
                         std::span<const ReplyHandlerEntry> handlers) {
  Dispatch(state, frame, handlers, nullptr);
}

void DispatchReceivedFrame(RunState& state, std::string&& frame,
                           std::span<const ReplyHandlerEntry> handlers) {
  Dispatch(state, frame, handlers, &frame);
}

void VerarbeiteAIERR(RunState& state) {
  const auto& e = *state.elements;
  Log(state, "FEHLER: ", e.Item(5));
  const std::string& number = e.Item(4);
  // Read before anything changes: an out-of-range number leaves the record as it was.
  int32_t code = (number == "9056" || number == "9058") ? vcerrKundeNotFound
                                                        : transport::ReadReplyInt32(number);
  state.fehler->Code = code;
  state.fehler->Text = e.Item(5);
  if (state.outcome) {
    state.outcome->server_number = transport::ReadReplyInt32(number);
    state.outcome->server_text = e.Item(5);
  }
  SetOutcome(state, OutcomeKind::kServerError, e.Item(5));
  state.remaining_files = 0;
  int32_t entry = CurrentEntry(state);
  if ((entry == vexCommWPK || entry == vexCommGetAllWPK) && state.aktien) {
    // The failed stock is skipped: the next request goes to the next one.
    detail::QuoteInternals::SetCurrentIndex(
        *state.aktien, detail::QuoteInternals::CurrentIndex(*state.aktien) + 1);
  }
}

void VerarbeiteAIRMG(RunState& state) {
  const auto& e = *state.elements;
  // Made to measure and moved to the host: a notice may be megabytes.
  constexpr std::string_view kHead = "Meldung:  ";
  std::string line;
  line.reserve(kHead.size() + e.Item(5).size() + e.Item(4).size() + 3);
  line.append(kHead).append(e.Item(5)).append(" (").append(e.Item(4)).append(")");
  Callback(state, kLogLine, std::move(line));
  if (transport::ReadReplyNumber(e.Item(4)) == 10.0) state.fehler->Code = vcerrSuccess;
  state.fehler->Text = e.Item(4);
}

}  // namespace vexcomm::services
