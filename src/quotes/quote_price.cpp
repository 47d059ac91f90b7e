#include "quotes/quote_price.h"

#include <charconv>
#include <cmath>
#include <string>

#include <vexcomm/quotes.h>

#include "platform/number_text.h"

namespace vexcomm::quotes {

namespace {

bool AllDigits(std::string_view text) noexcept {
  if (text.empty()) return false;
  for (char c : text) {
    if (!platform::IsDigit(c)) return false;
  }
  return true;
}

}  // namespace

std::optional<double> QuotePrice(std::string_view kurs) noexcept {
  const std::size_t separator = kurs.find_first_of(".,");
  const bool has_fraction = separator != std::string_view::npos;
  const std::string_view whole = kurs.substr(0, separator);
  const std::string_view fraction = has_fraction ? kurs.substr(separator + 1) : std::string_view();
  if (!AllDigits(whole) || (has_fraction && !AllDigits(fraction))) return std::nullopt;
  // from_chars reads "." only; the digits are all that is left to read.
  char buffer[64];
  if (kurs.size() > sizeof buffer) return std::nullopt;
  kurs.copy(buffer, kurs.size());
  if (has_fraction) buffer[separator] = '.';
  double value = 0;
  const auto [end, ec] = std::from_chars(buffer, buffer + kurs.size(), value);
  if (ec != std::errc() || end != buffer + kurs.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

}  // namespace vexcomm::quotes

namespace vexcomm {

std::optional<double> QuotePriceValue(std::string_view kurs) {
  return quotes::QuotePrice(kurs);
}

}  // namespace vexcomm
