#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexcomm::quotes {

// The stored-value transform of the quote database. Both directions are deterministic, so a
// WKN is found through the index on its stored form. The stored form holds no NUL and is
// valid UTF-8 of the same character count as the text.
//
// A text ends at its first NUL (NUL is the padding character); bytes that are not UTF-8 are
// read as U+FFFD. decode(encode(x)) == x for every UTF-8 text without NUL.
std::string encode(std::string_view text);
std::string decode(std::string_view text);

enum class CbfDirection { Encode, Decode };

// The transform itself: `buffer` holds characters padded with NUL to a multiple of 4; `length`
// is the padded length on entry and the length of the result on return. The key is
// CharacterCode(first character) plus kEncodeConstant (encode) or kDecodeConstant (decode).
void CBF(std::u32string& buffer, int32_t key, int32_t& length, CbfDirection direction);

inline constexpr int32_t kEncodeConstant = 0x2F1B;
inline constexpr int32_t kDecodeConstant = 0x11C5;

// The code of a character: its code point, counted without the surrogate range, so that codes
// 1..kCodeCount name every non-NUL Unicode scalar value.
inline constexpr uint32_t kCodeCount = 0x10FFFF - 0x800;
uint32_t CharacterCode(char32_t c) noexcept;
char32_t CharacterOfCode(uint32_t code) noexcept;

}  // namespace vexcomm::quotes
