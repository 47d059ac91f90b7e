#include "platform/utf8.h"

#include <cstring>

#include "platform/cp1252.h"

namespace vexcomm::platform {

char32_t DecodeUtf8(std::string_view text, std::size_t& pos) noexcept {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(pos);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  std::size_t length;
  char32_t cp;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++pos;
    return kInvalidCodePoint;
  }
  if (text.size() - pos < length) {
    ++pos;
    return kInvalidCodePoint;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return kInvalidCodePoint;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return kInvalidCodePoint;
  }
  pos += length;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {

bool IsAscii8(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080ull) == 0;
}

bool IsAscii32(const char* p) noexcept {
  std::uint64_t words[4];
  std::memcpy(words, p, sizeof words);
  return ((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ull) == 0;
}

// Bytes that the lead byte announces; 1 for a byte that starts no sequence.
std::size_t SequenceLength(unsigned char b) noexcept {
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 1;
}

}  // namespace

std::size_t SkipCodePoints(std::string_view text, std::size_t pos, std::uint64_t& count) noexcept {
  const std::size_t size = text.size();
  while (count > 0 && pos < size) {
    if (count >= 32 && size - pos >= 32 && IsAscii32(text.data() + pos)) {
      pos += 32;
      count -= 32;
      continue;
    }
    if (count >= 8 && size - pos >= 8 && IsAscii8(text.data() + pos)) {
      pos += 8;
      count -= 8;
      continue;
    }
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
    } else {
      DecodeUtf8(text, pos);
    }
    --count;
  }
  return pos;
}

std::size_t CodePointCount(std::string_view text) noexcept {
  std::uint64_t count = text.size();  // never more code points than bytes
  SkipCodePoints(text, 0, count);
  return text.size() - static_cast<std::size_t>(count);
}

std::size_t CodePointOffset(std::string_view text, std::size_t n) noexcept {
  std::uint64_t count = n;
  return SkipCodePoints(text, 0, count);
}

std::size_t WholeCodePointsEnd(std::string_view text) noexcept {
  // Only the nearest lead byte can begin a cut sequence: an earlier one would meet it, which is
  // no continuation byte, and so decode the same whatever follows.
  const std::size_t size = text.size();
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const std::size_t length = SequenceLength(static_cast<unsigned char>(text[size - back]));
    if (length > 1) return length > back ? size - back : size;
  }
  return size;
}

bool IsValidUtf8(std::string_view text) noexcept {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (DecodeUtf8(text, pos) == kInvalidCodePoint) return false;
  }
  return true;
}

std::string TextAsUtf8(std::string bytes) {
  return IsValidUtf8(bytes) ? std::move(bytes) : Cp1252ToUtf8(bytes);
}

std::string_view CodePointPrefix(std::string_view text, std::size_t n) noexcept {
  return text.substr(0, CodePointOffset(text, n));
}

std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    if (b >= 'a' && b <= 'z') {
      out[i] = static_cast<char>(b - 'a' + 'A');
    } else if (b == 0xC3 && i + 1 < out.size()) {
      // U+00E0..U+00FE are C3 A0..C3 BE; their capitals are 0x20 lower. U+00F7 is the
      // division sign, U+00FF (ÿ) has its capital outside Latin-1.
      const auto c = static_cast<unsigned char>(out[i + 1]);
      if (c >= 0xA0 && c <= 0xBE && c != 0xB7) {
        out[i + 1] = static_cast<char>(c - 0x20);
        ++i;
      } else if (c == 0xBF) {
        out.replace(i, 2, "\xC5\xB8");
        ++i;
      }
    }
  }
  return out;
}

}  // namespace vexcomm::platform
