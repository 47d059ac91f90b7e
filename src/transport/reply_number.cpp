#include "transport/reply_number.h"

#include <charconv>
#include <cstddef>
#include <limits>
#include <string>

#include "platform/number_text.h"

namespace vexcomm::transport {

namespace {

bool IsBlank(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
using platform::IsDigit;

// Walks the text with blanks skipped wherever they stand, also between digits.
class Cursor {
 public:
  explicit Cursor(std::string_view text) noexcept : text_(text) { SkipBlanks(); }

  char Peek() const noexcept { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void Next() noexcept {
    ++pos_;
    SkipBlanks();
  }
  std::size_t Save() const noexcept { return pos_; }
  void Restore(std::size_t pos) noexcept { pos_ = pos; }

 private:
  void SkipBlanks() noexcept {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

int DigitValue(char c, int base) noexcept {
  const int d = IsDigit(c)               ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : base;  // no digit in any base
  return d < base ? d : -1;
}

// &H / &O digits. A value that fits in 32 bits is a 32-bit two's complement number, as VB
// reads it (&HFFFFFFFF is -1, &HFFFF is 65535); a longer one keeps its full value so that a
// whole-number reading reports the overflow.
double ReadRadix(Cursor& cursor, int base) noexcept {
  std::uint64_t value = 0;
  double big = 0;
  bool wide = false;
  for (int d; (d = DigitValue(cursor.Peek(), base)) >= 0; cursor.Next()) {
    if (wide) {
      big = big * base + d;
    } else {
      value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
      if (value > 0xFFFFFFFFu) {
        wide = true;
        big = static_cast<double>(value);
      }
    }
  }
  if (wide) return big;
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// Magnitude of a decimal text that from_chars cannot represent: overflow or underflow.
double OutOfRange(std::string_view number) noexcept {
  std::string_view mantissa = number.substr(0, number.find('e'));
  if (mantissa.find_first_of("123456789") == std::string_view::npos) return 0.0;
  long long magnitude = 0;  // decimal exponent of the leading significant digit, roughly
  std::size_t i = 0;
  while (i < number.size() && number[i] == '0') ++i;
  std::size_t int_digits = 0;
  while (i < number.size() && IsDigit(number[i])) ++i, ++int_digits;
  if (int_digits > 0) {
    magnitude = static_cast<long long>(int_digits) - 1;
  } else if (i < number.size() && number[i] == '.') {
    ++i;
    long long zeros = 0;
    while (i < number.size() && number[i] == '0') ++i, ++zeros;
    magnitude = -(zeros + 1);
  }
  std::size_t e = number.find('e');
  if (e != std::string_view::npos) {
    bool negative = number[e + 1] == '-';
    long long exponent = 0;
    for (std::size_t k = e + 2; k < number.size(); ++k) {
      if (exponent < 100000) exponent = exponent * 10 + (number[k] - '0');
    }
    magnitude += negative ? -exponent : exponent;
  }
  return magnitude >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

double ReadReplyNumber(std::string_view text) noexcept {
  Cursor cursor(text);

  if (cursor.Peek() == '&') {
    cursor.Next();
    char kind = cursor.Peek();
    if (kind == 'H' || kind == 'h') {
      cursor.Next();
      return ReadRadix(cursor, 16);
    }
    if (kind == 'O' || kind == 'o') {
      cursor.Next();
      return ReadRadix(cursor, 8);
    }
    // VB also takes a bare "&" with octal digits.
    return ReadRadix(cursor, 8);
  }

  bool negative = false;
  if (cursor.Peek() == '+' || cursor.Peek() == '-') {
    negative = cursor.Peek() == '-';
    cursor.Next();
  }

  // Gathered without blanks, in the form from_chars reads: no locale takes part.
  std::string number;
  bool any_digit = false;
  for (; IsDigit(cursor.Peek()); cursor.Next()) {
    number += cursor.Peek();
    any_digit = true;
  }
  if (cursor.Peek() == '.') {
    number += '.';
    cursor.Next();
    for (; IsDigit(cursor.Peek()); cursor.Next()) {
      number += cursor.Peek();
      any_digit = true;
    }
  }
  if (!any_digit) return 0;

  // The exponent counts only when digits follow its letter and sign.
  char mark = cursor.Peek();
  if (mark == 'E' || mark == 'e' || mark == 'D' || mark == 'd') {
    std::size_t saved = cursor.Save();
    cursor.Next();
    char sign = '+';
    if (cursor.Peek() == '+' || cursor.Peek() == '-') {
      sign = cursor.Peek();
      cursor.Next();
    }
    if (IsDigit(cursor.Peek())) {
      number += 'e';
      number += sign;
      for (; IsDigit(cursor.Peek()); cursor.Next()) number += cursor.Peek();
    } else {
      cursor.Restore(saved);
    }
  }

  double value = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)end;
  if (ec == std::errc::result_out_of_range) value = OutOfRange(number);
  return negative ? -value : value;
}

int32_t ReadReplyInt32(std::string_view text) {
  return platform::RoundToInt32(ReadReplyNumber(text));
}

}  // namespace vexcomm::transport
