#pragma once

#include <cstdint>
#include <string_view>

namespace vexcomm::transport {

// The reading rule of every numeric reply field: blanks, tabs and line breaks anywhere are
// skipped; the longest leading number is taken (sign, digits, one ".", exponent E or D; &H and
// &O introduce hexadecimal and octal digits); anything else, and empty text, reads as 0.
double ReadReplyNumber(std::string_view text) noexcept;

// The same, rounded to a whole number with halves to even; error 6 outside the 32-bit range.
int32_t ReadReplyInt32(std::string_view text);

}  // namespace vexcomm::transport
