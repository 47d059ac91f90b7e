#include "transport/reply_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include <vexcomm/error.h>

#include "support/error_of.h"

namespace vexcomm::transport {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct NumberCase {
  std::string text;
  double expected;
};

TEST(ReadReplyNumber, EveryForm) {
  const NumberCase cases[] = {
      // nothing to read
      {"", 0},
      {"   ", 0},
      {"abc", 0},
      {"-", 0},
      {".", 0},
      {"e5", 0},
      // decimal digits, blanks anywhere
      {"12", 12},
      {"  12  ", 12},
      {"1 2", 12},
      {"1\t2\r\n3", 123},
      {"12abc", 12},
      {"1,5", 1},  // a comma is never a decimal point here, whatever the locale
      // sign
      {"-17", -17},
      {"+5", 5},
      {"- 5", -5},
      {"--5", 0},
      // decimal point
      {"3.25", 3.25},
      {".5", 0.5},
      {"-.5", -0.5},
      {"5.", 5},
      {"1.2.3", 1.2},
      {"1 . 5", 1.5},
      // exponent E or D, either case, only when digits follow
      {"1e3", 1000},
      {"1E3", 1000},
      {"1d3", 1000},
      {"2D-2", 0.02},
      {"1.5e+2", 150},
      {"1 E 2", 100},
      {"1e", 1},
      {"1e-x", 1},
      {"1e2e3", 100},
      // out of the range of a double
      {"1e400", kInf},
      {"-1e400", -kInf},
      {std::string(400, '9'), kInf},
      {"1e-400", 0},
      {"0e999999", 0},
      {"1" + std::string(400, '0') + "e-50", kInf},  // the digits outweigh the exponent
      {"0." + std::string(400, '0') + "1e50", 0},
      // hexadecimal: 32-bit two's complement when it fits in 32 bits
      {"&H10", 16},
      {"&hff", 255},
      {"&H7FFFFFFF", 2147483647},
      {"&H80000000", -2147483648.0},
      {"&HFFFFFFFF", -1},
      {"&H00000000FFFFFFFF", -1},
      {"&H100000000", 4294967296.0},
      {"&H1Fzz", 31},
      {"  & H 1 0", 16},
      {"&H", 0},
      {"&HG", 0},
      {"-&H10", 0},
      // octal
      {"&O17", 15},
      {"&O8", 0},
      {"&O178", 15},
      {"&O37777777777", -1},
      {"&O40000000000", 4294967296.0},
      {"&17", 15},  // VB's bare ampersand
      {"&9", 0},
      {"&", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReadReplyNumber(c.text), c.expected) << '"' << c.text << '"';
}

struct Int32Case {
  std::string text;
  int32_t expected;
  bool overflow = false;
};

TEST(ReadReplyInt32, RoundsHalvesToEvenAndReportsOverflow) {
  // The rounding itself is RoundToInt32's (NumberTextTest); here that replies go through it.
  const Int32Case cases[] = {
      {"", 0},
      {"17", 17},
      {" 4 711 ", 4711},
      {"2.5", 2},
      {"3.5", 4},
      {"-2147483648.5", INT32_MIN},  // the even neighbour is still in range
      {"&HFFFFFFFF", -1},
      {"&H80000000", INT32_MIN},
      {"2147483647.5", 0, true},
      {"&H100000000", 0, true},
      {"1e400", 0, true},
  };
  for (const auto& c : cases) {
    int32_t value = -1;
    EXPECT_EQ(test::ErrorOf([&] { value = ReadReplyInt32(c.text); }),
              c.overflow ? errnum::kOverflow : 0)
        << '"' << c.text << '"';
    if (!c.overflow) {
      EXPECT_EQ(value, c.expected) << '"' << c.text << '"';
    }
  }
}

}  // namespace
}  // namespace vexcomm::transport
