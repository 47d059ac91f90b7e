#include "quotes/date_sort_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace vexcomm::quotes {
namespace {

TEST(DateSortKeyTest, OrdersDatesByTheDayTheyName) {
  // Each list is in the order the database must return it; as plain text most are not.
  const std::vector<std::vector<std::string>> orders = {
      {"31.12.2022", "01.01.2023", "15.01.2023", "02.02.2023"},
      {"9.1.2024", "10.1.2024", "1.2.2024", "30.12.2024"},
      {"2023-12-31", "2024-01-01", "2024-10-02"},
      {"28.02.1999", "2000-02-29", "01.03.2000"},
      // Dates first, then anything else by its bytes.
      {"01.01.2030", "2030-01-02", "", "00.01.2024", "31.13.2024", "abc", "heute"},
  };
  for (const auto& expected : orders) {
    std::vector<std::string> shuffled(expected.rbegin(), expected.rend());
    std::stable_sort(shuffled.begin(), shuffled.end(),
                     [](const auto& a, const auto& b) { return DateSortKey(a) < DateSortKey(b); });
    EXPECT_EQ(shuffled, expected);
  }
}

TEST(DateSortKeyTest, OneKeyPerDayInBothForms) {
  struct Case {
    std::string a, b;
    bool same;
  } const cases[] = {
      {"05.01.2024", "2024-01-05", true},
      {"5.1.2024", "05.01.2024", true},
      {"05.01.2024", "2024-05-01", false},
      {"05.01.24", "05.01.2024", false},     // two-digit years are not dates here
      {"2024-1-05", "2024-01-05", false},    // the ISO form has fixed widths
      {"05.01.2024 ", "05.01.2024", false},  // no trimming: the text is not a date
      {"05.01.2024.1", "05.01.2024", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DateSortKey(c.a) == DateSortKey(c.b), c.same) << c.a << " / " << c.b;
  // Every month's last day is a date, the day after it is none (a common and a leap year).
  using namespace std::chrono;
  for (const int y : {2023, 2024}) {
    for (unsigned m = 1; m <= 12; ++m) {
      const unsigned last = static_cast<unsigned>((year{y} / month{m} / std::chrono::last).day());
      for (const unsigned d : {last, last + 1}) {
        char german[16], iso[16];
        std::snprintf(german, sizeof german, "%02u.%02u.%d", d, m, y);
        std::snprintf(iso, sizeof iso, "%d-%02u-%02u", y, m, d);
        EXPECT_EQ(DateSortKey(german) == DateSortKey(iso), d == last) << german;
      }
    }
  }
}

}  // namespace
}  // namespace vexcomm::quotes
