#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <vexcomm/quotes.h>

namespace vexcomm::cli {

// A stored date (DD.MM.YYYY, day and month may have one digit, or YYYY-MM-DD) as YYYY-MM-DD;
// nothing for any other text or a day that does not exist.
std::optional<std::string> IsoDate(std::string_view datum);
// A date the user typed, in either form, as YYYY-MM-DD. Throws UsageError naming `what`.
std::string ParseUserDate(std::string_view text, std::string_view what);
// A stored price ("140,10", "1.234,5" or "140.10") as a number.
std::optional<double> ParsePrice(std::string_view kurs);

// One quote of one stock, with its date as YYYY-MM-DD.
struct DatedQuote {
  std::string datum;  // as stored
  std::string iso;
  std::string kurs;  // as stored
  double value = 0;
};

// The quotes of a stock in date order, each date once (the later one wins), limited to
// [from, to] (YYYY-MM-DD, empty for open). Quotes whose date or price cannot be read are left
// out, as they cannot be placed.
std::vector<DatedQuote> QuotesByDate(const clsAktie& stock, std::string_view from = "",
                                     std::string_view to = "");

// After a quote run: each stock's quotes once and in date order. With `read_back`, the stored
// quotes of each stock replace what the run left in memory.
void SettleRunQuotes(colAktien& aktien, bool read_back);

// A short line of the prices, one block character per price (ASCII without UTF-8).
std::string Sparkline(const std::vector<double>& values, bool utf8);
// Whether the locale of the environment is UTF-8.
bool LocaleIsUtf8();

// The stocks named by WKN or ISIN, in the order named; std::runtime_error for a name not stored.
std::vector<std::shared_ptr<clsAktie>> SelectStocks(const colAktien& aktien,
                                                    const std::vector<std::string>& names);

// CSV of the quotes: header WKN,ISIN,Name,Datum,ISO,Kurs and one row per quote. A text cell
// that a spreadsheet would take for a formula (starting with =, +, -, @, tab or CR, after any
// quotes ') gets a "'" in front, as OWASP recommends.
struct CsvFormat {
  char delimiter = ',';
  bool decimal_comma = false;
};
std::string QuotesCsv(const std::vector<std::shared_ptr<clsAktie>>& stocks, CsvFormat format);

// Rows read from a quotes CSV (such as QuotesCsv writes: the "'" before a formula is taken off),
// grouped into stocks in order of first appearance. Every line is checked: a real date, a price
// of digits with one decimal separator ("." or ","), no second price of a stock for one day;
// UsageError names the first bad line. Quotes are stored as the quote runs store them: the date
// as DD.MM.YYYY, the price with a decimal comma.
struct ImportedStock {
  std::string wkn, isin, name;
  std::vector<std::pair<std::string, std::string>> quotes;  // Datum, Kurs as they will be stored
};
std::vector<ImportedStock> ParseQuotesCsv(std::string_view text);

// Writes `file` through `write`, which fills a file beside it that then takes its place, so a
// reader never sees half a file. Throws std::runtime_error naming the file.
void ReplaceFile(const std::filesystem::path& file,
                 const std::function<void(const std::filesystem::path& partial)>& write);
void ReplaceFile(const std::filesystem::path& file, std::string_view content);

}  // namespace vexcomm::cli
