#pragma once

#include <string_view>

#include "services/run_state.h"

namespace vexcomm::quotes {

// Request steps of the quote operations (13, 14, 15, 18), called by Dispatch.
void SendeAKWDT(services::RunState& state);
void SendeAKWPK(services::RunState& state);
void SendeAKWPKAlle(services::RunState& state);
void SendeNeueWPK(services::RunState& state);

// Reply handlers of AIWDT and AIWPK, called by the reply dispatcher.
void VerarbeiteAIWDT(services::RunState& state);
void VerarbeiteWIWPK(services::RunState& state);

// The rule of the quote rows after a reply: a server error skips the stock; the run asks again
// until the position passes the last stock, then finishes.
services::Next AfterQuoteReply(services::RunState& state);
// The end of a quote run, called by Advance before it closes: saves the collection when its
// WriteDB flag is set.
void FinishQuoteRun(services::RunState& state);

// Calls fn(date, price) for each valid entry of an AIWPK quote list, in list order.
template <class Fn>
void ForEachQuote(std::string_view list, Fn&& fn) {
  while (!list.empty()) {
    const auto end = list.find('#');
    const std::string_view entry = list.substr(0, end);
    const auto star = entry.find('*');
    if (star != std::string_view::npos) {
      const std::string_view rest = entry.substr(star + 1);
      fn(entry.substr(0, star), rest.substr(0, rest.find('*')));
    }
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
}

}  // namespace vexcomm::quotes
