// AKWDT and AKWPK: the date of the current quotes and the quotes of one stock, from the
// scenario section "wertpapiere".
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "vexmsg-server/lib/handler_support.h"
#include "vexmsg-server/lib/request_handlers.h"

namespace vexmsg {
namespace {

using json = nlohmann::json;
using Date = std::chrono::sys_days;

constexpr const char* kSection = "wertpapiere";

struct Range {
  std::optional<Date> from;  // none: from the first quote
  std::optional<Date> to;    // none: up to the last
  bool Holds(Date d) const { return (!from || d >= *from) && (!to || d <= *to); }
};

// An empty request date leaves that end open; false when the text is no date.
bool ReadBound(std::string_view text, std::optional<Date>& bound) {
  if (text.empty()) return true;
  bound = ParseDate(text);
  return bound.has_value();
}

// One quote entry "date*price", with further parts after "*" when the scenario gives them.
std::string QuoteEntry(const json& quote, const std::string& where, const Range& range) {
  std::vector<std::string> parts;
  if (quote.is_array()) {
    if (quote.size() < 2) throw SectionError(where, "date and price expected");
    for (std::size_t i = 0; i < quote.size(); ++i) {
      parts.push_back(ValueText(quote[i], where + "[" + std::to_string(i) + "]", ":#*"));
    }
  } else if (quote.is_object()) {
    parts.push_back(SectionText(quote, "datum", where, ":#*"));
    parts.push_back(SectionText(quote, "kurs", where, ":#*"));
  } else {
    throw SectionError(where, "[date, price] or {\"datum\", \"kurs\"} expected");
  }
  const auto date = ParseDate(parts[0]);
  if (!date) throw SectionError(where, "date DD.MM.YYYY or YYYY-MM-DD expected");
  if (!range.Holds(*date)) return {};
  std::string entry = parts[0];
  for (std::size_t i = 1; i < parts.size(); ++i) entry += '*' + parts[i];
  return entry;
}

// The quotes of the range in scenario order, "#" between them; a raw "list" goes unfiltered.
std::string QuoteList(const json& stock, const std::string& where, const Range& range) {
  if (stock.contains("list")) {
    if (stock.contains("kurse")) throw SectionError(where, "only one of list, kurse");
    return SectionText(stock, "list", where, "");
  }
  std::string list;
  const json& quotes = SectionArray(stock, "kurse", where);
  for (std::size_t i = 0; i < quotes.size(); ++i) {
    std::string entry = QuoteEntry(quotes[i], where + ".kurse[" + std::to_string(i) + "]", range);
    if (entry.empty()) continue;
    if (!list.empty()) list += '#';
    list += entry;
  }
  return list;
}

// The stock with the request's WKN, else the one with its ISIN; an empty field matches none.
const json* FindStock(const json& section, std::string_view wkn, std::string_view isin,
                      std::string& where) {
  const json& stocks = SectionArray(section, "aktien", kSection);
  for (const auto& [key, value] : {std::pair{"wkn", wkn}, std::pair{"isin", isin}}) {
    if (value.empty()) continue;
    for (std::size_t i = 0; i < stocks.size(); ++i) {
      where = std::string(kSection) + ".aktien[" + std::to_string(i) + "]";
      if (!stocks[i].is_object()) throw SectionError(where, "object expected");
      if (SectionText(stocks[i], key, where, ":") == value) return &stocks[i];
    }
  }
  return nullptr;
}

Reply UnknownStock(const Scenario& scenario, const json& section) {
  const json& unknown = section.contains("unbekannt") ? section["unbekannt"] : json::object();
  const std::string where = std::string(kSection) + ".unbekannt";
  if (!unknown.is_object()) throw SectionError(where, "object with number and text expected");
  return ErrorReply(scenario, SectionText(unknown, "number", where, ":", kErrUnknownStock),
                    SectionText(unknown, "text", where, ":", "Wertpapier nicht gefunden"));
}

const json* QuoteSection(const Scenario& scenario) {
  const json& section = scenario.Section(kSection);
  if (section.is_null()) return nullptr;
  if (!section.is_object()) throw SectionError(kSection, "object expected");
  return &section;
}

Reply NoQuotes(const Scenario& scenario) {
  return ErrorReply(scenario, kErrNoData, "Keine Kursdaten vorhanden");
}

}  // namespace

Reply HandleAKWDT(const Scenario& scenario, const RequestFrame& request) {
  if (!request.fields.empty()) return BadRequest(scenario);
  const json* section = QuoteSection(scenario);
  if (!section || !section->contains("datum")) return NoQuotes(scenario);
  return std::move(
      Reply("AIWDT", scenario.version).Field(SectionText(*section, "datum", kSection, ":")).End());
}

// Fields WKN, ISIN, Name, VonDatum and BisDatum; the request for a whole year has no BisDatum.
Reply HandleAKWPK(const Scenario& scenario, const RequestFrame& request) {
  if (request.fields.size() < 4 || request.fields.size() > 5) return BadRequest(scenario);
  const json* section = QuoteSection(scenario);
  if (!section) return NoQuotes(scenario);
  Range range;
  for (const auto& [field, bound] : {std::pair{RequestField(request, 3), &range.from},
                                     std::pair{RequestField(request, 4), &range.to}}) {
    if (!ReadBound(field, *bound)) {
      return ErrorReply(scenario, kErrBadDate, "Ungültiges Datum " + std::string(field));
    }
  }
  std::string where;
  const json* stock =
      FindStock(*section, RequestField(request, 0), RequestField(request, 1), where);
  if (!stock) return UnknownStock(scenario, *section);
  return std::move(Reply("AIWPK", scenario.version)
                       .Field(SectionText(*stock, "wkn", where, ":"))
                       .Field(SectionText(*stock, "isin", where, ":"))
                       .Field(SectionText(*stock, "name", where, ":"))
                       .Field(QuoteList(*stock, where, range))
                       .End());
}

}  // namespace vexmsg
