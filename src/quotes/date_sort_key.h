#pragma once

#include <string>
#include <string_view>

namespace vexcomm::quotes {

// The order of stored quote dates. Dates in the forms the server and the date converter use,
// DD.MM.YYYY (day and month may have one digit) and YYYY-MM-DD, sort by the day they name and
// before any other text (a day that does not exist, such as 31.02.2026, included); other texts
// sort by their bytes. Both forms of one day give one key.
std::string DateSortKey(std::string_view datum);

// A day of the calendar in one of those two forms.
inline bool IsCalendarDate(std::string_view datum) {
  return DateSortKey(datum).front() == '0';
}

// The SQL name under which the quote database registers DateSortKey on each connection.
inline constexpr std::string_view kDateSortFunction = "vx_datum_key";

}  // namespace vexcomm::quotes
