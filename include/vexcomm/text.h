#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <vexcomm/export.h>

namespace vexcomm {

// Text helpers for hosts: the component's own rules, so a host counts and converts text the way
// the component does. Plain functions on values: any thread, nothing kept.

// Text read from a file or the command line: valid UTF-8 as it is, anything else is read as
// Windows-1252 and returned as UTF-8.
VEXCOMM_EXPORT std::string TextAsUtf8(std::string bytes);

// Code points of UTF-8 text; a byte that starts no valid sequence counts as one.
VEXCOMM_EXPORT std::size_t CodePointCount(std::string_view text) noexcept;

// The first n code points, counted as CodePointCount does (all of the text when it has fewer):
// a view into `text`, valid as long as it is.
VEXCOMM_EXPORT std::string_view CodePointPrefix(std::string_view text, std::size_t n) noexcept;

// The wire's code page, Windows-1252, from and to UTF-8. What Windows-1252 cannot hold goes out
// as "?", one per code point and one per byte of invalid UTF-8.
VEXCOMM_EXPORT std::string Utf8ToCp1252(std::string_view utf8);
VEXCOMM_EXPORT std::string Cp1252ToUtf8(std::string_view bytes);
// Utf8ToCp1252 into a buffer of the caller's with room for utf8.size() octets (never more are
// needed); returns the number written. For a large file written or handed on piece by piece.
VEXCOMM_EXPORT std::size_t Utf8ToCp1252(std::string_view utf8, char* out) noexcept;

}  // namespace vexcomm
