// The reading rule of reply numbers: blanks anywhere change nothing, plain decimals read as
// the C library reads them, &H reads as 32-bit two's complement, and the whole-number form is
// the value rounded half to even or error 6.
//
// Input: the field's text.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <vexcomm/error.h>

#include "fuzz_check.h"
#include "transport/reply_number.h"

namespace {

using namespace vexcomm;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Optional sign, digits, optionally "." and digits: nothing else.
bool IsPlainDecimal(std::string_view s) {
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
  std::size_t digits = 0;
  while (!s.empty() && IsDigit(s.front())) s.remove_prefix(1), ++digits;
  if (!s.empty() && s.front() == '.') {
    s.remove_prefix(1);
    while (!s.empty() && IsDigit(s.front())) s.remove_prefix(1), ++digits;
  }
  return s.empty() && digits > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = vexcomm::fuzz::AsText(data, size);
  const double value = transport::ReadReplyNumber(text);
  FUZZ_CHECK(!std::isnan(value));

  std::string packed;
  for (char c : text) {
    if (!IsBlank(c)) packed += c;
  }
  const double packed_value = transport::ReadReplyNumber(packed);
  FUZZ_CHECK(packed_value == value);

  if (IsPlainDecimal(packed)) {
    errno = 0;
    const double expected = std::strtod(packed.c_str(), nullptr);
    if (errno == 0) FUZZ_CHECK(value == expected);
  }
  if (packed.size() > 2 && packed.size() <= 10 && packed[0] == '&' &&
      (packed[1] == 'H' || packed[1] == 'h')) {
    const std::string digits = packed.substr(2);
    bool all_hex = true;
    for (char c : digits) all_hex = all_hex && IsHexDigit(c);
    if (all_hex) {
      const auto bits = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
      FUZZ_CHECK(value == static_cast<double>(static_cast<std::int32_t>(bits)));
    }
  }

  const double rounded = std::nearbyint(value);  // the default mode rounds halves to even
  const bool fits = rounded >= -2147483648.0 && rounded <= 2147483647.0;
  try {
    const std::int32_t whole = transport::ReadReplyInt32(text);
    FUZZ_CHECK(fits);
    FUZZ_CHECK(static_cast<double>(whole) == rounded);
  } catch (const Error& e) {
    FUZZ_CHECK(!fits);
    FUZZ_CHECK(e.number() == errnum::kOverflow);
  }
  return 0;
}
