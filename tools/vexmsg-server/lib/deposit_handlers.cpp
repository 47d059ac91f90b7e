// AKTGA and AKFGA: the overnight-money and fixed-term conditions, from the scenario sections
// "tagesgeld" and "festgeld".
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "vexmsg-server/lib/handler_support.h"
#include "vexmsg-server/lib/request_handlers.h"

namespace vexmsg {
namespace {

using json = nlohmann::json;

// The separators of a condition list and ":" of the frame: none of them may appear in a field.
constexpr std::string_view kForbidden = ":#*~|";

struct Kind {
  const char* section;
  const char* reply;
  // Product head after the name, and the fields of one rate entry, in wire order.
  std::vector<const char*> head;
  std::vector<const char*> rate;
};

const Kind kTagesgeld = {
    "tagesgeld",
    "AITGA",
    {"mindestanlage", "maximalanlage", "gutschrift", "neukunde", "url_info", "url_neu",
     "zinsgueltigkeit"},
    {"ab_betrag", "zins_anfang", "gueltig_zins_anfang", "zins_danach", "gueltig_zins_danach"}};

const Kind kFestgeld = {
    "festgeld",
    "AIFGA",
    {"mindestanlage", "maximalanlage", "gutschrift", "neukunde", "url_info", "url_neu"},
    {"ab_betrag", "zins_01", "zins_03", "zins_06", "zins_09", "zins_12", "zins_18"}};

// The fields named by `keys`, each after a "|" (the first only when `bar_first`).
void AppendFields(std::string& out, const json& object, const std::string& where,
                  const std::vector<const char*>& keys, bool bar_first) {
  bool bar = bar_first;
  for (const char* key : keys) {
    if (bar) out += '|';
    bar = true;
    // Neukunde as JSON true/false is the common case; the wire knows only "1" and "0".
    auto it = object.find(key);
    if (it != object.end() && it->is_boolean()) {
      out += it->get<bool>() ? '1' : '0';
    } else {
      out += SectionText(object, key, where, kForbidden);
    }
  }
}

void AppendProduct(std::string& out, const Kind& kind, const json& product,
                   const std::string& where) {
  if (!product.is_object()) throw SectionError(where, "object expected");
  out += SectionText(product, "name", where, kForbidden);
  AppendFields(out, product, where, kind.head, true);
  const json& rates = SectionArray(product, "zinsen", where);
  for (std::size_t k = 0; k < rates.size(); ++k) {
    const std::string at = where + ".zinsen[" + std::to_string(k) + "]";
    if (!rates[k].is_object()) throw SectionError(at, "object expected");
    out += '~';
    AppendFields(out, rates[k], at, kind.rate, false);
  }
}

// The structured form written in the grammar of the reply: "#" between providers, "*" before
// each product, "~" before each rate entry, "|" between fields.
std::string BuildConditionList(const Kind& kind, const json& providers, const std::string& where) {
  std::string list;
  for (std::size_t i = 0; i < providers.size(); ++i) {
    const std::string at = where + "[" + std::to_string(i) + "]";
    const json& provider = providers[i];
    if (!provider.is_object()) throw SectionError(at, "object expected");
    if (i > 0) list += '#';
    list += SectionText(provider, "name", at, kForbidden);
    // Without "blz" the head is the name alone: a provider without a bank code.
    if (provider.contains("blz")) list += '|' + SectionText(provider, "blz", at, kForbidden);
    const json& products = SectionArray(provider, "produkte", at);
    for (std::size_t j = 0; j < products.size(); ++j) {
      list += '*';
      AppendProduct(list, kind, products[j], at + ".produkte[" + std::to_string(j) + "]");
    }
  }
  return list;
}

Reply Conditions(const Kind& kind, const Scenario& scenario, const RequestFrame& request) {
  if (!request.fields.empty()) return BadRequest(scenario);
  const json& section = scenario.Section(kind.section);
  if (section.is_null()) return ErrorReply(scenario, kErrNoData, "Keine Konditionen vorhanden");
  const std::string where = kind.section;
  if (!section.is_object()) throw SectionError(where, "object expected");
  std::string list;
  if (section.contains("list")) {
    if (section.contains("anbieter")) throw SectionError(where, "only one of list, anbieter");
    // Sent as it is: a test may want a list the grammar does not allow.
    list = SectionText(section, "list", where, "");
  } else if (section.contains("list_repeat")) {
    // A large list without a large scenario: the text `count` times.
    const json& repeat = section["list_repeat"];
    const std::string at = where + ".list_repeat";
    if (!repeat.is_object() || !repeat.contains("count") || !repeat["count"].is_number_unsigned())
      throw SectionError(at, "object with text and count expected");
    const std::string text = SectionText(repeat, "text", at, "");
    const auto count = repeat["count"].get<std::size_t>();
    list.reserve(text.size() * count);
    for (std::size_t i = 0; i < count; ++i) list += text;
  } else {
    list = BuildConditionList(kind, SectionArray(section, "anbieter", where), where + ".anbieter");
  }
  return std::move(Reply(kind.reply, scenario.version)
                       .Field(SectionText(section, "datum", where, ":"))
                       .Field(SectionText(section, "element5", where, ":"))
                       .Field(SectionText(section, "element6", where, ":"))
                       .Field(list)
                       .End());
}

}  // namespace

Reply HandleAKTGA(const Scenario& scenario, const RequestFrame& request) {
  return Conditions(kTagesgeld, scenario, request);
}

Reply HandleAKFGA(const Scenario& scenario, const RequestFrame& request) {
  return Conditions(kFestgeld, scenario, request);
}

}  // namespace vexmsg
