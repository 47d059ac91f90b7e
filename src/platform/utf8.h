#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexcomm::platform {

// A "character" is one Unicode code point of UTF-8 text. A byte that does not start a valid
// sequence (overlong, surrogate, beyond U+10FFFF, cut short) counts as one character of its own,
// as the socket turns it into one "?" on the wire: so a count here equals octets on the wire.

inline constexpr char32_t kInvalidCodePoint = 0xFFFFFFFF;

// Decodes the code point at `pos` and moves `pos` past it; an invalid byte yields
// kInvalidCodePoint and moves one byte. Requires pos < text.size(); never reads past the text.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos) noexcept;

// Appends the UTF-8 form of a code point (U+0000..U+10FFFF, no surrogates).
void AppendUtf8(std::string& out, char32_t cp);

// The one count of characters: a length prefix states it, and it is what the socket writes.
std::size_t CodePointCount(std::string_view text) noexcept;

// Moves `pos` over up to `count` code points, counted as CodePointCount does, never past the
// end; `count` keeps what is left. Plain ASCII goes eight bytes at a time.
std::size_t SkipCodePoints(std::string_view text, std::size_t pos, std::uint64_t& count) noexcept;

// Where a sequence cut short by the end of the text begins, or text.size(): text that is still
// arriving decodes up to there as it will once the rest is in.
std::size_t WholeCodePointsEnd(std::string_view text) noexcept;

bool IsValidUtf8(std::string_view text) noexcept;

// Text read from a file or the command line: UTF-8 as it is, anything else is Windows-1252.
std::string TextAsUtf8(std::string bytes);

// Byte offset where the code point with 0-based index n starts; text.size() when there are
// n code points or fewer.
std::size_t CodePointOffset(std::string_view text, std::size_t n) noexcept;

// The first n code points (all of the text when it has fewer).
std::string_view CodePointPrefix(std::string_view text, std::size_t n) noexcept;

// Upper case for ASCII and the Latin-1 letters à..þ (÷ excepted) plus ÿ -> Ÿ; ß and everything
// else stay as they are.
std::string ToUpper(std::string_view text);

}  // namespace vexcomm::platform
