#include "quote_history.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include <vexcomm/file_replace.h>
#include <vexcomm/quotes.h>
#include <vexcomm/text.h>

#include "command_line.h"
#include "messages.h"
#include "stocks_csv.h"

namespace vexcomm::cli {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// "2026-12-01" as 01.12.2026, the form the server sends.
std::string GermanDate(std::string_view iso) {
  return std::string(iso.substr(8, 2)) + "." + std::string(iso.substr(5, 2)) + "." +
         std::string(iso.substr(0, 4));
}

// The price as stored: decimal comma.
std::string StoredPrice(std::string_view kurs) {
  std::string out(Trim(kurs));
  if (out.find(',') == std::string::npos) std::replace(out.begin(), out.end(), '.', ',');
  return out;
}

std::string PriceFor(std::string_view kurs, bool decimal_comma) {
  if (decimal_comma) return StoredPrice(kurs);
  std::string out(Trim(kurs));
  if (out.find(',') != std::string::npos) {
    std::erase(out, '.');
    std::replace(out.begin(), out.end(), ',', '.');
  }
  return out;
}

// What a spreadsheet takes for the start of a formula (OWASP's list), after any number of the
// quotes that neutralise it.
bool LooksLikeFormula(std::string_view text) {
  const std::size_t first = text.find_first_not_of('\'');
  return first != std::string_view::npos &&
         std::string_view("=+-@\t\r").find(text[first]) != std::string_view::npos;
}

// A text cell as OWASP recommends: a leading "'" makes a spreadsheet show it as text, never
// run it. Import takes that one "'" off again.
std::string CsvField(const std::string& text, char delimiter) {
  const std::string cell = LooksLikeFormula(text) ? "'" + text : text;
  if (cell.find_first_of(std::string{delimiter, '"', '\n', '\r'}) == std::string::npos) {
    return cell;
  }
  std::string out = "\"";
  for (char c : cell) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string ImportedCell(std::string cell) {
  if (cell.starts_with('\'') && LooksLikeFormula(cell)) cell.erase(0, 1);
  return cell;
}

// A price a quote may be stored with, else why not.
std::string PriceProblem(std::string_view kurs) {
  if (const auto value = QuotePriceValue(kurs))
    return *value > 0 ? "" : Tr("a price is above zero");
  if (kurs.empty()) return Tr("no price");
  if (kurs.find_first_of("+-") != std::string_view::npos) return Tr("a price has no sign");
  if (kurs.find_first_of("eE") != std::string_view::npos) return Tr("a price has no exponent");
  if (std::count_if(kurs.begin(), kurs.end(), [](char c) { return c == '.' || c == ','; }) > 1) {
    return Tr("one decimal separator (\".\" or \",\"), no grouping");
  }
  return Tr("digits with one decimal separator (\".\" or \",\")");
}

void ReplaceQuotes(clsAktie& stock, const std::vector<std::pair<std::string, std::string>>& q) {
  stock.Clear();
  for (const auto& [datum, kurs] : q) stock.KursAdd(datum, kurs);
}

// Each date once, the later quote winning, in date order; texts that are no date sort last.
void SortInMemory(clsAktie& stock) {
  std::vector<std::pair<std::string, std::string>> quotes;
  std::map<std::string, std::size_t> by_key;
  for (int32_t k = 1; k <= stock.KursCount(); ++k) {
    const auto quote = stock.Kurs(k);
    const std::string key = QuoteDateSortKey(quote->Datum);
    auto [it, added] = by_key.emplace(key, quotes.size());
    if (added) {
      quotes.emplace_back(quote->Datum, quote->Kurs);
    } else {
      quotes[it->second] = {quote->Datum, quote->Kurs};
    }
  }
  std::stable_sort(quotes.begin(), quotes.end(), [](const auto& a, const auto& b) {
    return QuoteDateSortKey(a.first) < QuoteDateSortKey(b.first);
  });
  ReplaceQuotes(stock, quotes);
}

}  // namespace

std::optional<std::string> IsoDate(std::string_view datum) {
  // Days of the calendar alone get a date's key.
  const std::string key = QuoteDateSortKey(Trim(datum));
  if (key.size() != 9 || key[0] != '0') return std::nullopt;
  return key.substr(1, 4) + "-" + key.substr(5, 2) + "-" + key.substr(7, 2);
}

std::string ParseUserDate(std::string_view text, std::string_view what) {
  auto iso = IsoDate(text);
  if (!iso) {
    throw UsageError(
        Fill(Tr("%1 wants a date as DD.MM.YYYY or YYYY-MM-DD, not \"%2\""), {what, text}));
  }
  return *iso;
}

std::optional<double> ParsePrice(std::string_view kurs) {
  std::string text(Trim(kurs));
  if (text.find(',') != std::string::npos) {
    std::erase(text, '.');
    std::replace(text.begin(), text.end(), ',', '.');
  }
  if (text.empty() || text[0] == '+') return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::vector<DatedQuote> QuotesByDate(const clsAktie& stock, std::string_view from,
                                     std::string_view to) {
  std::vector<DatedQuote> quotes;
  quotes.reserve(static_cast<std::size_t>(stock.KursCount()));
  for (int32_t k = 1; k <= stock.KursCount(); ++k) {
    const auto quote = stock.Kurs(k);
    auto iso = IsoDate(quote->Datum);
    auto value = ParsePrice(quote->Kurs);
    if (!iso || !value) continue;
    if ((!from.empty() && *iso < from) || (!to.empty() && *iso > to)) continue;
    quotes.push_back({quote->Datum, std::move(*iso), quote->Kurs, *value});
  }
  // Stored quotes come in date order already.
  const auto by_date = [](const DatedQuote& a, const DatedQuote& b) { return a.iso < b.iso; };
  if (!std::is_sorted(quotes.begin(), quotes.end(), by_date)) {
    std::stable_sort(quotes.begin(), quotes.end(), by_date);
  }
  // Of quotes of one date, the later one wins.
  std::size_t kept = 0;
  for (std::size_t k = 0; k < quotes.size(); ++k) {
    if (kept > 0 && quotes[kept - 1].iso == quotes[k].iso) {
      quotes[kept - 1] = std::move(quotes[k]);
    } else {
      if (kept != k) quotes[kept] = std::move(quotes[k]);
      ++kept;
    }
  }
  quotes.resize(kept);
  return quotes;
}

void SettleRunQuotes(colAktien& aktien, bool read_back) {
  std::map<std::string, std::shared_ptr<clsAktie>, std::less<>> stored_by_wkn;
  colAktien stored;
  if (read_back) {
    stored.SetDatabaseContext(aktien.DatabaseContext());
    stored.ReadDB();
    for (int32_t i = 1; i <= stored.Count(); ++i) {
      stored_by_wkn.emplace(stored.Item(i)->WKN, stored.Item(i));
    }
  }
  for (int32_t i = 1; i <= aktien.Count(); ++i) {
    const auto stock = aktien.Item(i);
    const auto found = stored_by_wkn.find(stock->WKN);
    if (stock->WKN.empty() || found == stored_by_wkn.end()) {
      SortInMemory(*stock);
      continue;
    }
    const clsAktie& from = *found->second;
    std::vector<std::pair<std::string, std::string>> quotes;
    for (int32_t k = 1; k <= from.KursCount(); ++k) {
      quotes.emplace_back(from.Kurs(k)->Datum, from.Kurs(k)->Kurs);
    }
    ReplaceQuotes(*stock, quotes);
    stock->VonDatum = from.VonDatum;
    stock->BisDatum = from.BisDatum;
  }
}

std::string Sparkline(const std::vector<double>& values, bool utf8) {
  static constexpr std::string_view kBlocks[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
  static constexpr std::string_view kAscii = "_.,-~=*#";
  if (values.empty()) return {};
  const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  std::string line;
  for (double v : values) {
    const int level = *hi > *lo ? static_cast<int>(std::lround((v - *lo) / (*hi - *lo) * 7.0)) : 3;
    if (utf8) {
      line += kBlocks[level];
    } else {
      line += kAscii[static_cast<std::size_t>(level)];
    }
  }
  return line;
}

bool LocaleIsUtf8() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    const std::string lower = Lower(value);
    return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
  }
  return false;
}

std::vector<std::shared_ptr<clsAktie>> SelectStocks(const colAktien& aktien,
                                                    const std::vector<std::string>& names) {
  std::vector<std::shared_ptr<clsAktie>> selected;
  for (const auto& name : names) {
    bool found = false;
    for (int32_t i = 1; i <= aktien.Count(); ++i) {
      const auto stock = aktien.Item(i);
      if (stock->WKN != name && stock->ISIN != name) continue;
      found = true;
      if (std::find(selected.begin(), selected.end(), stock) == selected.end()) {
        selected.push_back(stock);
      }
    }
    if (!found)
      throw std::runtime_error(Fill(Tr("no stock with WKN or ISIN %1 is stored"), {name}));
  }
  return selected;
}

std::string QuotesCsv(const std::vector<std::shared_ptr<clsAktie>>& stocks, CsvFormat format) {
  const char d = format.delimiter;
  // Spreadsheets that read the decimal comma take the file as UTF-8 only with the mark.
  std::string out = format.decimal_comma ? "\xEF\xBB\xBF" : "";
  const std::size_t header_start = out.size();
  for (const char* h : {"WKN", "ISIN", "Name", "Datum", "ISO", "Kurs"}) {
    if (out.size() > header_start) out += d;
    out += h;
  }
  out += "\r\n";
  for (const auto& stock : stocks) {
    const std::string head =
        CsvField(stock->WKN, d) + d + CsvField(stock->ISIN, d) + d + CsvField(stock->Name, d) + d;
    for (int32_t k = 1; k <= stock->KursCount(); ++k) {
      const auto quote = stock->Kurs(k);
      out += head;
      out += CsvField(quote->Datum, d);
      out += d;
      out += IsoDate(quote->Datum).value_or("");
      out += d;
      out += CsvField(PriceFor(quote->Kurs, format.decimal_comma), d);
      out += "\r\n";
    }
  }
  return out;
}

std::vector<ImportedStock> ParseQuotesCsv(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::string_view first_line = text.substr(0, text.find('\n'));
  const char delimiter = std::count(first_line.begin(), first_line.end(), ';') >
                                 std::count(first_line.begin(), first_line.end(), ',')
                             ? ';'
                             : ',';
  const auto records = SplitCsvRecords(text, delimiter);
  if (records.empty()) throw UsageError(Tr("line 1: no header"));
  std::map<std::string, std::size_t> column;
  for (std::size_t c = 0; c < records[0].fields.size(); ++c) {
    const std::string name = Lower(records[0].fields[c]);
    if (name != "wkn" && name != "isin" && name != "name" && name != "datum" && name != "iso" &&
        name != "kurs") {
      throw UsageError(Fill(Tr("line 1: unknown column \"%1\""), {records[0].fields[c]}));
    }
    if (!column.emplace(name, c).second) {
      throw UsageError(Fill(Tr("line 1: the column %1 stands twice"), {records[0].fields[c]}));
    }
  }
  if (!column.count("wkn") || !column.count("kurs") ||
      (!column.count("datum") && !column.count("iso"))) {
    throw UsageError(Tr("line 1: the header needs WKN, Kurs and Datum or ISO"));
  }
  std::vector<ImportedStock> stocks;
  std::map<std::string, std::size_t> by_wkn;
  std::map<std::pair<std::string, std::string>, int> line_of;  // WKN and ISO date
  for (std::size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    auto fail = [&record](const std::string& why) {
      throw UsageError(Fill(Tr("line %1: %2"), {std::to_string(record.line), why}));
    };
    if (record.fields.size() != records[0].fields.size()) {
      fail(Fill(Tr("%1 fields where the header has %2"),
                {std::to_string(record.fields.size()), std::to_string(records[0].fields.size())}));
    }
    auto field = [&](const char* name) -> std::string {
      auto it = column.find(name);
      return it == column.end() ? std::string() : ImportedCell(record.fields[it->second]);
    };
    const std::string wkn = field("wkn");
    if (wkn.empty()) fail(Tr("no WKN"));
    const std::string datum = field("datum");
    const std::string iso_text = field("iso");
    std::optional<std::string> iso;
    if (!datum.empty()) {
      iso = IsoDate(datum);
      if (!iso) fail(Fill(Tr("\"%1\" is no date"), {datum}));
    }
    if (!iso_text.empty()) {
      auto from_iso = iso_text.find('-') != std::string::npos ? IsoDate(iso_text) : std::nullopt;
      if (!from_iso) fail(Fill(Tr("\"%1\" is no date as YYYY-MM-DD"), {iso_text}));
      if (iso && *iso != *from_iso) {
        fail(Fill(Tr("Datum %1 and ISO %2 differ"), {datum, iso_text}));
      }
      iso = from_iso;
    }
    if (!iso) fail(Tr("no date"));
    const std::string kurs(Trim(field("kurs")));
    if (const std::string problem = PriceProblem(kurs); !problem.empty()) {
      fail(Fill(Tr("\"%1\" is no price: %2"), {kurs, problem}));
    }
    const auto [first, fresh] = line_of.emplace(std::pair(wkn, *iso), record.line);
    if (!fresh) {
      fail(Fill(Tr("a second price of %1 for %2, after line %3"),
                {wkn, GermanDate(*iso), std::to_string(first->second)}));
    }
    auto [it, added] = by_wkn.emplace(wkn, stocks.size());
    if (added) stocks.push_back({wkn, field("isin"), field("name"), {}});
    // Stored as a quote run stores it: DD.MM.YYYY and a decimal comma.
    stocks[it->second].quotes.emplace_back(GermanDate(*iso), StoredPrice(kurs));
  }
  return stocks;
}

namespace {

// Prices are banking data: the temporary file is the user's alone from its first octet, and a
// unique name cannot be a link someone placed. Nothing of a failed write stays behind.
void Replace(const fs::path& file, std::string_view content,
             const std::function<void(const fs::path&)>* write) {
  const auto refuse = [&file](const std::string& cause) {
    return LocalError(Fill(Tr("cannot write %1: %2"), {file.string(), cause}));
  };
  std::error_code ec;
  // A folder would take the temporary file's name and leave it behind.
  if (fs::is_directory(file, ec)) throw refuse(std::strerror(EISDIR));
  AtomicFile out(file);
  if (out.error() != 0) throw refuse(std::strerror(out.error()));
  if (write) {
    try {
      (*write)(out.temp_path());
    } catch (const std::system_error& e) {
      throw refuse(e.code().message());
    } catch (const std::exception& e) {
      throw refuse(e.what());
    }
  } else if (!out.Write(content)) {
    throw refuse(std::strerror(out.error()));
  }
  if (const int error = out.Commit(); error != 0) throw refuse(std::strerror(error));
}

}  // namespace

void ReplaceFile(const fs::path& file, std::string_view content) {
  Replace(file, content, nullptr);
}

void ReplaceFile(const fs::path& file, const std::function<void(const fs::path&)>& write) {
  Replace(file, {}, &write);
}

}  // namespace vexcomm::cli
