#include "platform/number_text.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <vexcomm/error.h>

namespace vexcomm::platform {
namespace {

NumericSeparators ReadLocaleSeparators() {
  NumericSeparators seps;
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return seps;  // unknown locale: the C rules
  const char* decimal = nl_langinfo_l(RADIXCHAR, loc);
  const char* grouping = nl_langinfo_l(THOUSEP, loc);
  if (decimal != nullptr && *decimal != '\0') seps.decimal = decimal;
  if (grouping != nullptr) seps.grouping = grouping;
  freelocale(loc);
  return seps;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// strtod under the C locale, whatever the process locale is.
double StrtodC(const char* text, char** end) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return strtod_l(text, end, c_locale);
}

template <class Int>
Int RoundTo(double value) {
  if (!std::isfinite(value)) Raise(errnum::kOverflow);
  double whole = std::floor(value);
  const double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
  if (whole < static_cast<double>(std::numeric_limits<Int>::min()) ||
      whole > static_cast<double>(std::numeric_limits<Int>::max())) {
    Raise(errnum::kOverflow);
  }
  return static_cast<Int>(whole);
}

}  // namespace

const NumericSeparators& LocaleSeparators() {
  static const NumericSeparators seps = ReadLocaleSeparators();
  return seps;
}

std::string FormatGeneralNumber(double value) {
  return FormatGeneralNumber(value, LocaleSeparators());
}

std::string FormatGeneralNumber(double value, const NumericSeparators& seps) {
  if (value == 0) return "0";  // also for -0
  char buf[64];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  if (ec != std::errc{}) return {};
  std::string out;
  out.reserve(static_cast<std::size_t>(end - buf) + seps.decimal.size());
  for (const char* p = buf; p != end; ++p) {
    if (*p == '.') {
      out += seps.decimal;
    } else if (*p == 'e') {
      out += 'E';
    } else {
      out += *p;
    }
  }
  return out;
}

double ParseLocaleNumber(std::string_view text) {
  return ParseLocaleNumber(text, LocaleSeparators());
}

double ParseLocaleNumber(std::string_view text, const NumericSeparators& seps) {
  std::size_t pos = 0;
  std::size_t end = text.size();
  while (pos < end && IsBlank(text[pos])) ++pos;
  while (end > pos && IsBlank(text[end - 1])) --end;
  const auto at = [&](std::string_view sep) {
    return !sep.empty() && text.substr(pos, end - pos).starts_with(sep);
  };

  // Rebuilt in the C form for strtod: sign, digits, ".", digits, "e", sign, digits.
  std::string c_form;
  c_form.reserve(end - pos + 2);
  if (pos < end && (text[pos] == '+' || text[pos] == '-')) c_form += text[pos++];
  std::size_t digits = 0;
  while (pos < end) {
    if (IsDigit(text[pos])) {
      c_form += text[pos++];
      ++digits;
    } else if (at(seps.decimal)) {
      break;
    } else if (digits > 0 && at(seps.grouping) && pos + seps.grouping.size() < end &&
               IsDigit(text[pos + seps.grouping.size()])) {
      pos += seps.grouping.size();  // a group mark between digits
    } else {
      break;
    }
  }
  if (at(seps.decimal)) {
    pos += seps.decimal.size();
    c_form += '.';
    while (pos < end && IsDigit(text[pos])) {
      c_form += text[pos++];
      ++digits;
    }
  }
  if (digits == 0) Raise(errnum::kTypeMismatch);
  if (pos < end && (text[pos] == 'e' || text[pos] == 'E' || text[pos] == 'd' || text[pos] == 'D')) {
    ++pos;
    c_form += 'e';
    if (pos < end && (text[pos] == '+' || text[pos] == '-')) c_form += text[pos++];
    std::size_t exponent_digits = 0;
    while (pos < end && IsDigit(text[pos])) {
      c_form += text[pos++];
      ++exponent_digits;
    }
    if (exponent_digits == 0) Raise(errnum::kTypeMismatch);
  }
  if (pos != end) Raise(errnum::kTypeMismatch);

  char* parsed_end = nullptr;
  const double value = StrtodC(c_form.c_str(), &parsed_end);
  if (std::isinf(value)) Raise(errnum::kOverflow);
  return value;
}

int32_t ParseLocaleInt32(std::string_view text) {
  return ParseLocaleInt32(text, LocaleSeparators());
}

int32_t ParseLocaleInt32(std::string_view text, const NumericSeparators& seps) {
  return RoundToInt32(ParseLocaleNumber(text, seps));
}

int32_t RoundToInt32(double value) {
  return RoundTo<int32_t>(value);
}

int16_t RoundToInt16(double value) {
  return RoundTo<int16_t>(value);
}

}  // namespace vexcomm::platform
