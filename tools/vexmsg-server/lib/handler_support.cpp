#include "vexmsg-server/lib/handler_support.h"

#include <charconv>
#include <nlohmann/json.hpp>

namespace vexmsg {

using json = nlohmann::json;

std::string_view RequestField(const RequestFrame& request, std::size_t i) {
  return i < request.fields.size() ? std::string_view(request.fields[i]) : std::string_view();
}

std::string ValueText(const json& value, const std::string& where, std::string_view forbidden) {
  std::string text;
  if (value.is_string()) {
    text = value.get<std::string>();
  } else if (value.is_number_integer()) {
    text = std::to_string(value.get<std::int64_t>());
  } else {
    throw SectionError(where, "text or whole number expected");
  }
  if (text.find_first_of(forbidden) != std::string::npos) {
    throw SectionError(where, "may not hold any of \"" + std::string(forbidden) + "\"");
  }
  return text;
}

std::string SectionText(const json& object, const char* key, const std::string& where,
                        std::string_view forbidden, std::string fallback) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  return ValueText(*it, where + "." + key, forbidden);
}

const json& SectionArray(const json& object, const char* key, const std::string& where) {
  static const json empty = json::array();
  auto it = object.find(key);
  if (it == object.end()) return empty;
  if (!it->is_array()) throw SectionError(where + "." + key, "array expected");
  return *it;
}

namespace {

// Reads exactly the digits of `text`, between min and max of them.
std::optional<int> Digits(std::string_view text, std::size_t min, std::size_t max) {
  if (text.size() < min || text.size() > max) return std::nullopt;
  if (text.front() < '0' || text.front() > '9') return std::nullopt;  // no sign
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::chrono::sys_days> ParseDate(std::string_view text) {
  std::optional<int> day, month, year;
  if (const auto dot = text.find('.'); dot != std::string_view::npos) {
    const auto dot2 = text.find('.', dot + 1);
    if (dot2 == std::string_view::npos) return std::nullopt;
    day = Digits(text.substr(0, dot), 1, 2);
    month = Digits(text.substr(dot + 1, dot2 - dot - 1), 1, 2);
    year = Digits(text.substr(dot2 + 1), 4, 4);
  } else if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    year = Digits(text.substr(0, 4), 4, 4);
    month = Digits(text.substr(5, 2), 2, 2);
    day = Digits(text.substr(8, 2), 2, 2);
  }
  if (!day || !month || !year) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(*year),
                                         std::chrono::month(static_cast<unsigned>(*month)),
                                         std::chrono::day(static_cast<unsigned>(*day))};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date);
}

}  // namespace vexmsg
