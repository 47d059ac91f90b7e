#include <vexcomm/text.h>

#include "platform/cp1252.h"
#include "platform/utf8.h"

namespace vexcomm {

std::string TextAsUtf8(std::string bytes) {
  return platform::TextAsUtf8(std::move(bytes));
}

std::size_t CodePointCount(std::string_view text) noexcept {
  return platform::CodePointCount(text);
}

std::string_view CodePointPrefix(std::string_view text, std::size_t n) noexcept {
  return platform::CodePointPrefix(text, n);
}

std::string Utf8ToCp1252(std::string_view utf8) {
  return platform::Utf8ToCp1252(utf8);
}

std::size_t Utf8ToCp1252(std::string_view utf8, char* out) noexcept {
  return platform::Utf8ToCp1252(utf8, out);
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  return platform::Cp1252ToUtf8(bytes);
}

}  // namespace vexcomm
