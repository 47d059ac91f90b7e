#include "quotes/quote_requests.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <vexcomm/error.h>
#include <vexcomm/operation.h>
#include <vexcomm/quotes.h>

#include "quotes/date_sort_key.h"
#include "quotes/quote_database.h"
#include "quotes/quote_internals.h"
#include "quotes/quote_price.h"
#include "transport/frame.h"
#include "transport/reply_elements.h"

namespace vexcomm::quotes {

namespace element = transport::element;

namespace {

using services::Log;
using services::RunState;

constexpr int32_t kQuoteRun = vexCommWPK;
constexpr int32_t kQuoteRunAll = vexCommGetAllWPK;

bool InQuoteRun(const RunState& state) {
  try {
    const int32_t entry = services::CurrentEntry(state);
    return entry == kQuoteRun || entry == kQuoteRunAll || entry == vexCommNewWPK;
  } catch (...) {
    return false;
  }
}

// Nothing to request: the run ends at once instead of waiting for a time-out.
void EndWithoutRequest(RunState& state) {
  Log(state, "keine Aktien vorhanden", {});
  if (state.driver) {
    state.driver->EndSession();
  } else {
    state.session_done = true;
  }
}

// The stock the next request is for, or none when the position is past the end.
std::shared_ptr<clsAktie> StockToRequest(RunState& state) {
  if (!state.aktien) Raise(errnum::kObjectNotSet);
  state.progress_total = 2 * state.aktien->Count();
  return state.aktien->Item(state.cursor.StockPosition(*state.aktien));
}

// The reply names a stock (by WKN or ISIN) and it is not the one asked for: neither identifier
// asked for comes back. A reply that names none, or a stock asked for by name only, is the
// stock's, as the reply always is.
bool NamesAnotherStock(const clsAktie& asked, const std::string& wkn, const std::string& isin) {
  if (wkn.empty() && isin.empty()) return false;
  if (asked.WKN.empty() && asked.ISIN.empty()) return false;
  return !(!asked.WKN.empty() && wkn == asked.WKN) && !(!asked.ISIN.empty() && isin == asked.ISIN);
}

std::string NameForRequest(std::string name) {
  std::replace(name.begin(), name.end(), ':', ' ');
  return name;
}

}  // namespace

void SendeAKWDT(RunState& state) {
  SendRequest(state, transport::BuildRequest("AKWDT", std::span<const std::string>{}));
  Log(state, "Datum WP-Kurse anfordern", {});
}

void SendeAKWPK(RunState& state) {
  auto stock = StockToRequest(state);
  if (!stock) return EndWithoutRequest(state);
  // The fields go as they are; only the name loses its colons.
  SendRequest(
      state, transport::BuildRequest("AKWPK", {stock->WKN, stock->ISIN, NameForRequest(stock->Name),
                                               stock->VonDatum, stock->BisDatum}));
  Log(state, "WP-Kurs abrufen WKN=" + stock->WKN + " ISIN=" + stock->ISIN + " Name=" + stock->Name,
      {});
}

void SendeAKWPKAlle(RunState& state) {
  auto stock = StockToRequest(state);
  if (!stock) return EndWithoutRequest(state);
  stock->VonDatum = state.host.date_to_text(state.host.today() - std::chrono::days(365));
  SendRequest(
      state, transport::BuildRequest(
                 "AKWPK", {stock->WKN, stock->ISIN, NameForRequest(stock->Name), stock->VonDatum}));
  Log(state,
      "Alle Kurse abrufen WKN=" + stock->WKN + " ISIN=" + stock->ISIN + " Name=" + stock->Name, {});
}

void SendeNeueWPK(RunState& state) {
  if (!state.aktien) Raise(errnum::kObjectNotSet);
  auto aktien = state.aktien;  // the host may drop the component's reference meanwhile
  aktien->WriteDB = true;
  const auto failure =
      detail::QuoteInternals::ReadDB(*aktien, detail::QuoteInternals::Stored::kLastDateOnly);
  if (failure) services::SetOutcome(state, OutcomeKind::kQuoteDatabase, *failure);
  if (aktien->Count() == 0) return EndWithoutRequest(state);
  SendeAKWPK(state);
}

void VerarbeiteAIWDT(RunState& state) {
  Log(state, "WP-Datum: ", state.elements->Item(element::kQuoteDate));
}

void VerarbeiteWIWPK(RunState& state) {
  const auto elements = state.elements;
  Log(state, "WKN  : ", elements->Item(element::kStockWkn));
  Log(state, "ISIN : ", elements->Item(element::kStockIsin));
  Log(state, "Name : ", elements->Item(element::kStockName));
  bool advanced = false;
  try {
    auto aktien = state.aktien;
    if (!aktien) Raise(errnum::kObjectNotSet);
    auto stock = aktien->Item(state.cursor.StockPosition(*aktien));
    if (!stock) Raise(errnum::kObjectNotSet);
    if (NamesAnotherStock(*stock, elements->Item(element::kStockWkn),
                          elements->Item(element::kStockIsin))) {
      // Its quotes are not this stock's, and a stock not asked for is not stored: skipped as
      // after a server error.
      Log(state, "Antwort für eine andere Aktie übergangen:",
          "WKN=" + elements->Item(element::kStockWkn) +
              " ISIN=" + elements->Item(element::kStockIsin) + " statt WKN=" + stock->WKN +
              " ISIN=" + stock->ISIN);
    } else {
      stock->WKN = elements->Item(element::kStockWkn);
      stock->ISIN = elements->Item(element::kStockIsin);
      stock->Name = elements->Item(element::kStockName);
      // Only what is a quote is kept: a day of the calendar and a price. Logged after the
      // list is read, since the host's callback may re-enter the component.
      std::vector<std::string> left_out;
      ForEachQuote(elements->Item(element::kStockQuotes),
                   [&](std::string_view date, std::string_view price) {
                     if (IsCalendarDate(date) && QuotePrice(price)) {
                       stock->KursAdd(std::string(date), std::string(price));
                     } else {
                       left_out.push_back(std::string(date).append(1, '*').append(price));
                     }
                   });
      for (const auto& entry : left_out) Log(state, "Kein Kurs, übergangen:", entry);
    }
    state.cursor.NextStock(*aktien);
    advanced = true;
    state.progress_counter = state.cursor.StockPosition(*aktien);
    services::ReportProgress(state);
  } catch (...) {
    services::ReplyNotProcessed(state, "VerarbeiteWIWPK");
    // Skipped as after a server error, so the run cannot ask for the same stock forever.
    if (!advanced && state.aktien && InQuoteRun(state)) {
      state.cursor.NextStock(*state.aktien);
    }
  }
}

services::Next AfterQuoteReply(RunState& state) {
  auto aktien = state.aktien;
  if (!aktien) return services::Next::kFinish;
  if (state.handled_reply == "AIERR") {
    // The failed stock is skipped: the next request goes to the next one.
    state.cursor.NextStock(*aktien);
  }
  return state.cursor.StockPosition(*aktien) > aktien->Count() ? services::Next::kFinish
                                                               : services::Next::kAgain;
}

void FinishQuoteRun(RunState& state) {
  auto aktien = state.aktien;
  if (!aktien || !aktien->WriteDB) return;
  // Saving is the second half of the total, one unit per stock: it starts where the fetch's
  // last report stands at most and ends at 100.
  state.progress_counter = std::max(0, state.progress_total - aktien->Count());
  if (auto failure = WriteToDB(*aktien)) {
    services::SetOutcome(state, OutcomeKind::kQuoteDatabase, std::move(*failure));
  }
}

}  // namespace vexcomm::quotes
