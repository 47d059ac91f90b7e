#pragma once

/// @file
/// The component's failures: an exception with a number and a description.

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include <vexcomm/export.h>

namespace vexcomm {

/// Error numbers as a Visual Basic host knows them, the ones the component raises by number.
namespace errnum {
inline constexpr int32_t kInvalidCall = 5;           ///< "Invalid procedure call or argument".
inline constexpr int32_t kOverflow = 6;              ///< "Overflow": a number out of range.
inline constexpr int32_t kSubscriptOutOfRange = 9;   ///< "Subscript out of range".
inline constexpr int32_t kTypeMismatch = 13;         ///< "Type mismatch".
inline constexpr int32_t kObjectNotSet = 91;         ///< No object where one is needed.
inline constexpr int32_t kMemberNotFound = 438;      ///< No member of that name or kind.
inline constexpr int32_t kWrongArgumentCount = 450;  ///< Wrong number of arguments.
inline constexpr int32_t kRegistry = 26001;          ///< The registry store failed.
}  // namespace errnum

/// A failure with a number and a description: what a late-bound caller sees as a failed call.
/// what() is the description.
class VEXCOMM_EXPORT Error : public std::runtime_error {
 public:
  /// Makes the error.
  /// @param number The error number (one of errnum, a socket's or a server's number).
  /// @param description The text for the user; also what() returns.
  /// @param source Where it arose, for the host's own diagnostics; may be empty.
  Error(int32_t number, std::string description, std::string source = {});
  /// @return The error number.
  int32_t number() const noexcept { return number_; }
  /// @return The description, as given.
  const std::string& description() const noexcept { return description_; }
  /// @return Where the error arose; empty when not said.
  const std::string& source() const noexcept { return source_; }

 private:
  int32_t number_;
  std::string description_;
  std::string source_;
};

/// The standard text of an error number, for errors raised without a text of their own.
/// @param number An error number.
/// @return The Visual Basic text of the numbers of errnum and of 429 ("ActiveX component can't
///   create object"); "Application-defined or object-defined error" for any other.
/// @thread Any thread.
VEXCOMM_EXPORT std::string StandardErrorText(int32_t number);

/// The description of a failure for log lines and message boxes.
/// @param error A caught exception (std::current_exception()); must not be null.
/// @return An Error's description, another std::exception's what(), or the standard text of
///   number 0 for anything else.
/// @thread Any thread.
VEXCOMM_EXPORT std::string ErrorDescription(std::exception_ptr error);

/// Raises the numbered error with its standard text.
/// @param number The error number.
/// @throws vexcomm::Error Always: `number` with StandardErrorText(number).
[[noreturn]] VEXCOMM_EXPORT void Raise(int32_t number);

}  // namespace vexcomm
