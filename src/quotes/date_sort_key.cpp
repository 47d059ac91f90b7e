#include "quotes/date_sort_key.h"

#include <charconv>
#include <chrono>

#include <vexcomm/quotes.h>

namespace vexcomm::quotes {

namespace {

// Reads a field of `min`..`max` digits; false unless the whole field is digits.
bool ReadNumber(std::string_view field, std::size_t min, std::size_t max, int& value) {
  if (field.size() < min || field.size() > max) return false;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
  }
  std::from_chars(field.data(), field.data() + field.size(), value);
  return true;
}

bool SplitThree(std::string_view text, char sep, std::string_view parts[3]) {
  std::size_t first = text.find(sep);
  if (first == std::string_view::npos) return false;
  std::size_t second = text.find(sep, first + 1);
  if (second == std::string_view::npos || text.find(sep, second + 1) != std::string_view::npos) {
    return false;
  }
  parts[0] = text.substr(0, first);
  parts[1] = text.substr(first + 1, second - first - 1);
  parts[2] = text.substr(second + 1);
  return true;
}

bool IsCalendarDay(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1) return false;
  // The month's length in a year of the same kind, so any year of the text may stand.
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const std::chrono::year like(leap ? 2000 : 2001);
  const auto last =
      (like / std::chrono::month(static_cast<unsigned>(month)) / std::chrono::last).day();
  return static_cast<unsigned>(day) <= static_cast<unsigned>(last);
}

std::string DateKey(int year, int month, int day) {
  char key[9];
  key[0] = '0';
  auto put = [&key](std::size_t at, int value, std::size_t width) {
    for (std::size_t i = width; i-- > 0; value /= 10)
      key[at + i] = static_cast<char>('0' + value % 10);
  };
  put(1, year, 4);
  put(5, month, 2);
  put(7, day, 2);
  return std::string(key, sizeof key);
}

}  // namespace

std::string DateSortKey(std::string_view datum) {
  std::string_view parts[3];
  int year = 0;
  int month = 0;
  int day = 0;
  bool is_date = false;
  if (SplitThree(datum, '.', parts)) {
    is_date = ReadNumber(parts[0], 1, 2, day) && ReadNumber(parts[1], 1, 2, month) &&
              ReadNumber(parts[2], 4, 4, year);
  } else if (SplitThree(datum, '-', parts)) {
    is_date = ReadNumber(parts[0], 4, 4, year) && ReadNumber(parts[1], 2, 2, month) &&
              ReadNumber(parts[2], 2, 2, day);
  }
  if (is_date && IsCalendarDay(year, month, day)) {
    return DateKey(year, month, day);
  }
  std::string key;
  key.reserve(datum.size() + 1);
  key.push_back('1');
  key.append(datum);
  return key;
}

}  // namespace vexcomm::quotes

namespace vexcomm {

std::string QuoteDateSortKey(std::string_view datum) {
  return quotes::DateSortKey(datum);
}

}  // namespace vexcomm
