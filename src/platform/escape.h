#pragma once

#include <string>
#include <string_view>

namespace vexcomm::platform {

// Appends the escape of a byte that cannot stand as itself in a quoted text: the usual backslash
// forms, else `prefix` ("\\u00" for JSON, "\\x" for the registry file) and two hex digits.
inline void AppendEscapedByte(std::string& out, unsigned char c, std::string_view prefix) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      out += prefix;
      out += kHex[c >> 4];
      out += kHex[c & 15];
  }
}

}  // namespace vexcomm::platform
