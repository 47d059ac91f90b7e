// AIWPK on a run state with three stocks: the stock at the position takes the reply's names
// and exactly the list's entries that are a calendar day with a price, in order, unless the
// reply names another stock; no other stock changes.
//
// Input: flags (position, quote run or not), then WKN, ISIN and name as backslash-ended texts,
// then the quote list.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <vexcomm/quotes.h>

#include "fuzz_check.h"
#include "quotes/date_sort_key.h"
#include "quotes/quote_internals.h"
#include "quotes/quote_price.h"
#include "quotes/quote_requests.h"
#include "services/run_state.h"
#include "transport/cls_element.h"

namespace {

using namespace vexcomm;
using Quotes = std::vector<std::pair<std::string, std::string>>;

constexpr int32_t kStocks = 3;

// Entries with a "*" give (date, price); the price ends at the next "*".
Quotes Expected(std::string_view list) {
  Quotes quotes;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find('#', start);
    if (end == std::string_view::npos) end = list.size();
    const std::string_view entry = list.substr(start, end - start);
    const std::size_t star = entry.find('*');
    if (star != std::string_view::npos) {
      const std::size_t next = entry.find('*', star + 1);
      const std::size_t price_end = next == std::string_view::npos ? entry.size() : next;
      const std::string_view date = entry.substr(0, star);
      const std::string_view price = entry.substr(star + 1, price_end - star - 1);
      if (vexcomm::quotes::IsCalendarDate(date) && vexcomm::quotes::QuotePrice(price)) {
        quotes.emplace_back(date, price);
      }
    }
    start = end + 1;
  }
  return quotes;
}

Quotes QuotesOf(const clsAktie& stock) {
  Quotes quotes;
  for (int32_t i = 1; i <= stock.KursCount(); ++i) {
    quotes.emplace_back(stock.Kurs(i)->Datum, stock.Kurs(i)->Kurs);
  }
  return quotes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t flags = data[0];
  FuzzedDataProvider provider(data + 1, size - 1);
  const std::string wkn = provider.ConsumeRandomLengthString(64);
  const std::string isin = provider.ConsumeRandomLengthString(64);
  const std::string name = provider.ConsumeRandomLengthString(64);
  const std::string list = provider.ConsumeRemainingBytesAsString();

  services::RunState state;
  int boxes = 0;
  state.elements = std::make_shared<transport::clsElement>();
  state.fehler = std::make_shared<clsFehler>();
  state.aktien = std::make_shared<colAktien>();
  state.host.message_box = [&boxes](const std::string&, const std::string&) { ++boxes; };
  const bool quote_run = (flags & 8) != 0;
  state.operations = {0, quote_run ? 14 : 2, 6, 0, 0, 0, 0};
  state.step = 1;
  state.progress_total = 2 * kStocks;
  for (int32_t i = 1; i <= kStocks; ++i) {
    state.aktien->Add("W" + std::to_string(i), "I", "N")->KursAdd("01.01.2024", "1,0");
  }
  const int32_t position = flags & 7;  // 0 reads as 1; 4 and up are past the end
  state.cursor.SetStockPosition(*state.aktien, position);
  const int32_t current = state.cursor.StockPosition(*state.aktien);

  auto& e = *state.elements;
  for (const std::string& text : {std::string("VEXMSG"), std::string("2"), std::string("AIWPK"),
                                  wkn, isin, name, list, std::string("MSGEND")}) {
    e.Add(text);
  }
  quotes::VerarbeiteWIWPK(state);

  const Quotes before{{"01.01.2024", "1,0"}};
  const auto stock_wkn = [](int32_t i) { return "W" + std::to_string(i); };
  for (int32_t i = 1; i <= kStocks; ++i) {
    const auto& stock = *state.aktien->Item(i);
    if (i != current) {
      FUZZ_CHECK(stock.WKN == stock_wkn(i));
      FUZZ_CHECK(QuotesOf(stock) == before);
      continue;
    }
    // Asked with WKN "W<i>" and ISIN "I": a reply naming neither is another stock's.
    const bool other = (!wkn.empty() || !isin.empty()) && wkn != stock_wkn(i) && isin != "I";
    if (other) {
      FUZZ_CHECK(stock.WKN == stock_wkn(i) && QuotesOf(stock) == before);
      continue;
    }
    FUZZ_CHECK(stock.WKN == wkn && stock.ISIN == isin && stock.Name == name);
    Quotes expected = before;
    for (auto& quote : Expected(list)) expected.push_back(std::move(quote));
    FUZZ_CHECK(QuotesOf(stock) == expected);
  }
  FUZZ_CHECK(state.aktien->Count() == kStocks);
  const bool found = current <= kStocks;
  FUZZ_CHECK(boxes == (found ? 0 : 1));
  FUZZ_CHECK(state.cursor.StockPosition(*state.aktien) ==
             (found || quote_run ? current + 1 : current));
  return 0;
}
