#include <vexcomm/error.h>

namespace vexcomm {

Error::Error(int32_t number, std::string description, std::string source)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)) {}

std::string StandardErrorText(int32_t number) {
  switch (number) {
    case errnum::kInvalidCall:
      return "Invalid procedure call or argument";
    case errnum::kOverflow:
      return "Overflow";
    case errnum::kSubscriptOutOfRange:
      return "Subscript out of range";
    case errnum::kTypeMismatch:
      return "Type mismatch";
    case errnum::kObjectNotSet:
      return "Object variable or With block variable not set";
    case 429:
      return "ActiveX component can't create object";
    case errnum::kMemberNotFound:
      return "Object doesn't support this property or method";
    case errnum::kWrongArgumentCount:
      return "Wrong number of arguments or invalid property assignment";
    default:
      return "Application-defined or object-defined error";
  }
}

std::string ErrorDescription(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const Error& e) {
    return e.description();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return StandardErrorText(0);
  }
}

void Raise(int32_t number) {
  throw Error(number, StandardErrorText(number));
}

}  // namespace vexcomm
