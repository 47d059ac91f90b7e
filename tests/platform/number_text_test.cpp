#include "platform/number_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include <vexcomm/error.h>

#include "support/error_of.h"

namespace vexcomm::platform {
namespace {

const NumericSeparators kEnglish{".", ","};
const NumericSeparators kGerman{",", "."};
const NumericSeparators kSwiss{".", "\xE2\x80\x99"};  // grouping by a three-byte apostrophe
const NumericSeparators kNoGrouping{",", ""};
const NumericSeparators kArabic{"\xD9\xAB", ""};  // a two-byte decimal separator

using test::ErrorOf;

TEST(NumberTextTest, GeneralFormHasFifteenSignificantDigits) {
  struct Case {
    double value;
    const NumericSeparators* seps;
    std::string text;
  } const cases[] = {
      {1.0 / 3 * 100, &kEnglish, "33.3333333333333"},
      {1.0 / 3 * 100, &kGerman, "33,3333333333333"},
      {2.0 / 2 * 100, &kGerman, "100"},
      {2.0 / 3, &kEnglish, "0.666666666666667"},
      {-1.5, &kGerman, "-1,5"},
      {0.1 + 0.2, &kEnglish, "0.3"},     // the 17th digit is not shown
      {1234567.0, &kGerman, "1234567"},  // no grouping
      {-0.0, &kEnglish, "0"},
      {123456789012345.0, &kEnglish, "123456789012345"},
      {1e15, &kEnglish, "1E+15"},
      {0.0001, &kGerman, "0,0001"},
      {0.00001, &kGerman, "1E-05"},
      {1.25e-7, &kGerman, "1,25E-07"},
      {0.5, &kArabic, "0\u066B5"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatGeneralNumber(c.value, *c.seps), c.text) << c.value;
}

TEST(NumberTextTest, ParsesByTheSeparatorsGiven) {
  struct Case {
    std::string text;
    const NumericSeparators* seps;
    double value;
  } const cases[] = {
      {"42", &kEnglish, 42},
      {"  1,234.5\t", &kEnglish, 1234.5},
      {"\r\n12.5\r\n", &kEnglish, 12.5},
      {"1.234,5", &kGerman, 1234.5},
      {"1.5", &kGerman, 15},  // "." groups in German
      {"1,5", &kEnglish, 15},
      {"1\u2019000.25", &kSwiss, 1000.25},
      {"-2,5", &kNoGrouping, -2.5},
      {"+3", &kEnglish, 3},
      {",5", &kGerman, 0.5},
      {"5,", &kGerman, 5},
      {"1E3", &kEnglish, 1000},
      {"1,5e-2", &kGerman, 0.015},
      {"2D2", &kEnglish, 200},
      {"1e-400", &kEnglish, 0},  // underflow is zero, not an error
  };
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(ParseLocaleNumber(c.text, *c.seps), c.value) << c.text;
}

TEST(NumberTextTest, RejectsWhatIsNoNumber) {
  // ",5" and "5,": a group mark needs digits around it.
  for (const char* text : {"", "   ", "abc", "12abc", "1.2.3", "1 2", ",5", "5,", ".", "--1", "-",
                           "1e", "1e+", "e5"}) {
    EXPECT_EQ(ErrorOf([&] { ParseLocaleNumber(text, kEnglish); }), errnum::kTypeMismatch) << text;
  }
  EXPECT_EQ(ErrorOf([&] { ParseLocaleNumber("1.5", kNoGrouping); }), errnum::kTypeMismatch);
  for (const char* text : {"1e400", "-1e400"})
    EXPECT_EQ(ErrorOf([&] { ParseLocaleNumber(text, kEnglish); }), errnum::kOverflow) << text;
}

TEST(NumberTextTest, Int32RoundsHalvesToEvenAndGuardsTheRange) {
  struct Case {
    std::string text;
    int32_t value;
    int32_t error;
  };
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  // The rounding at the limits is RoundToInt32's (below); here that the text goes through it.
  const std::vector<Case> cases = {
      {"2.5", 2, 0},
      {"3.5", 4, 0},
      {"2.5000001", 3, 0},
      {"1,000", 1000, 0},
      {" 7 ", 7, 0},
      {"-2147483648.5", kMin, 0},
      {"2147483647.5", 0, errnum::kOverflow},  // rounds to 2147483648
      {"1e10", 0, errnum::kOverflow},
      {"", 0, errnum::kTypeMismatch},
  };
  for (const auto& c : cases) {
    int32_t value = -1;
    EXPECT_EQ(ErrorOf([&] { value = ParseLocaleInt32(c.text, kEnglish); }), c.error) << c.text;
    if (c.error == 0) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(NumberTextTest, RoundingOfDoublesAtTheLimits) {
  struct Case {
    double value;
    int32_t int32;  // 0 with overflow32
    bool overflow32;
    int16_t int16;
    bool overflow16;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {0.5, 0, false, 0, false},
      {-1.5, -2, false, -2, false},
      {2.5, 2, false, 2, false},
      {-3.5, -4, false, -4, false},
      {32767.4, 32767, false, 32767, false},
      {32767.5, 32768, false, 0, true},
      {-32768.5, -32768, false, -32768, false},
      {-32768.6, -32769, false, 0, true},
      {2147483646.5, 2147483646, false, 0, true},
      {2147483647.4, 2147483647, false, 0, true},
      {2147483647.5, 0, true, 0, true},
      {-2147483648.5, -2147483647 - 1, false, 0, true},
      {-2147483648.6, 0, true, 0, true},
      {1e300, 0, true, 0, true},
      {nan, 0, true, 0, true},
      {inf, 0, true, 0, true},
  };
  for (const auto& c : cases) {
    int32_t i32 = 0;
    int16_t i16 = 0;
    EXPECT_EQ(ErrorOf([&] { i32 = RoundToInt32(c.value); }), c.overflow32 ? errnum::kOverflow : 0)
        << c.value;
    EXPECT_EQ(ErrorOf([&] { i16 = RoundToInt16(c.value); }), c.overflow16 ? errnum::kOverflow : 0)
        << c.value;
    if (!c.overflow32) {
      EXPECT_EQ(i32, c.int32) << c.value;
    }
    if (!c.overflow16) {
      EXPECT_EQ(i16, c.int16) << c.value;
    }
  }
}

}  // namespace
}  // namespace vexcomm::platform
