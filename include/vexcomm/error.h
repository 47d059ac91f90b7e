#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include <vexcomm/export.h>

namespace vexcomm {

// Error numbers as a Visual Basic host knows them.
namespace errnum {
inline constexpr int32_t kInvalidCall = 5;
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kSubscriptOutOfRange = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kObjectNotSet = 91;
inline constexpr int32_t kMemberNotFound = 438;
inline constexpr int32_t kWrongArgumentCount = 450;
inline constexpr int32_t kRegistry = 26001;
}  // namespace errnum

// A failure with a number and a description: what a late-bound caller sees as a failed call.
class VEXCOMM_EXPORT Error : public std::runtime_error {
 public:
  Error(int32_t number, std::string description, std::string source = {});
  int32_t number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  const std::string& source() const noexcept { return source_; }

 private:
  int32_t number_;
  std::string description_;
  std::string source_;
};

// The standard texts of the numbers above, for errors raised without a text of their own.
VEXCOMM_EXPORT std::string StandardErrorText(int32_t number);

// The description of a failure for log lines and message boxes: an Error's description, another
// exception's what(), or the standard text for anything else.
VEXCOMM_EXPORT std::string ErrorDescription(std::exception_ptr error);

// Raises the numbered error with its standard text.
[[noreturn]] VEXCOMM_EXPORT void Raise(int32_t number);

}  // namespace vexcomm
