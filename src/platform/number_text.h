#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexcomm::platform {

// A decimal digit, whatever the locale.
constexpr bool IsDigit(char c) noexcept {
  return c >= '0' && c <= '9';
}

// Decimal and grouping characters of the process locale (LC_NUMERIC of the environment),
// read once.
struct NumericSeparators {
  std::string decimal = ".";
  std::string grouping;  // may be empty
};
const NumericSeparators& LocaleSeparators();

// The general number form: no grouping, the locale's decimal separator, up to 15 significant
// digits, no trailing zeros, no decimal part for whole numbers ("33,3333333333333", "100").
std::string FormatGeneralNumber(double value);
std::string FormatGeneralNumber(double value, const NumericSeparators& seps);

// A number by the locale's rules: surrounding blanks allowed, the locale's decimal and grouping
// separators, optional sign and exponent. Anything else is error 13 (type mismatch).
double ParseLocaleNumber(std::string_view text);
double ParseLocaleNumber(std::string_view text, const NumericSeparators& seps);

// As above, rounded to the nearest integer with halves to even; error 6 (overflow) outside the
// 32-bit signed range.
int32_t ParseLocaleInt32(std::string_view text);
int32_t ParseLocaleInt32(std::string_view text, const NumericSeparators& seps);

// Rounds halves to even; error 6 outside the 32-bit signed range (NaN included).
int32_t RoundToInt32(double value);
int16_t RoundToInt16(double value);

}  // namespace vexcomm::platform
