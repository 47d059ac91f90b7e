#pragma once

/// @file
/// Text helpers for hosts: the component's own rules, so that a host counts and converts text the
/// way the component does. Plain functions on values: any thread, nothing kept.

#include <cstddef>
#include <string>
#include <string_view>

#include <vexcomm/export.h>

namespace vexcomm {

/// Text read from a file or the command line, as UTF-8.
/// @param bytes The octets as read.
/// @return `bytes` unchanged when they are valid UTF-8, else the octets read as Windows-1252
///   and converted to UTF-8.
/// @thread Any thread.
VEXCOMM_EXPORT std::string TextAsUtf8(std::string bytes);

/// Counts the code points of UTF-8 text: what the component calls a character.
/// @param text UTF-8 text.
/// @return The number of code points; a byte that starts no valid sequence counts as one.
/// @thread Any thread.
VEXCOMM_EXPORT std::size_t CodePointCount(std::string_view text) noexcept;

/// The first code points of UTF-8 text, counted as CodePointCount does.
/// @param text UTF-8 text.
/// @param n How many code points.
/// @return A view into `text` (all of it when it has fewer), valid as long as `text` is.
/// @thread Any thread.
VEXCOMM_EXPORT std::string_view CodePointPrefix(std::string_view text, std::size_t n) noexcept;

/// UTF-8 text in the wire's code page, Windows-1252.
/// @param utf8 UTF-8 text.
/// @return One octet per code point; what Windows-1252 cannot hold becomes "?", one per code
///   point and one per byte of invalid UTF-8. The five octets Windows-1252 leaves undefined
///   come back from the C1 controls of the same number.
/// @thread Any thread.
VEXCOMM_EXPORT std::string Utf8ToCp1252(std::string_view utf8);

/// Windows-1252 octets as UTF-8 text.
/// @param bytes Octets in Windows-1252.
/// @return UTF-8 text; the five octets Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90,
///   0x9D) become the C1 controls of the same number, so no octet is lost.
/// @thread Any thread.
VEXCOMM_EXPORT std::string Cp1252ToUtf8(std::string_view bytes);

/// Utf8ToCp1252 into a buffer of the caller's, for a large file written or handed on piece by
/// piece (cut the text where a UTF-8 sequence starts).
/// @param utf8 UTF-8 text.
/// @param out Room for utf8.size() octets; never more are written.
/// @return The number of octets written.
/// @thread Any thread.
VEXCOMM_EXPORT std::size_t Utf8ToCp1252(std::string_view utf8, char* out) noexcept;

}  // namespace vexcomm
