#include "platform/cp1252.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/utf8.h"

namespace vexcomm::platform {
namespace {

// Code points of 0x80..0x9F; the undefined bytes stand for the C1 control of the same number.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char16_t CodePointOf(unsigned byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : static_cast<char16_t>(byte);
}

// The UTF-8 form of each byte, precomputed: at most three bytes.
struct Utf8Form {
  std::array<char, 3> bytes;
  uint8_t size;
};

constexpr std::array<Utf8Form, 256> MakeUtf8Forms() {
  std::array<Utf8Form, 256> forms{};
  for (unsigned b = 0; b < 256; ++b) {
    const char16_t cp = CodePointOf(b);
    auto& f = forms[b];
    if (cp < 0x80) {
      f.bytes[0] = static_cast<char>(cp);
      f.size = 1;
    } else if (cp < 0x800) {
      f.bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
      f.bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
      f.size = 2;
    } else {
      f.bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
      f.bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      f.bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
      f.size = 3;
    }
  }
  return forms;
}

constexpr std::array<Utf8Form, 256> kUtf8Forms = MakeUtf8Forms();

bool IsAscii8(const char* p) noexcept {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080ull) == 0;
}

std::size_t ExtraBytes(char c) noexcept {
  return kUtf8Forms[static_cast<unsigned char>(c)].size - 1u;
}

// The byte for a code point of 0x80 and above; '?' when the code page lacks it.
char ByteOf(char32_t cp) noexcept {
  if (cp >= 0xA0 && cp <= 0xFF) return static_cast<char>(cp);
  for (unsigned i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::size_t Utf8ToCp1252(std::string_view utf8, char* out) noexcept {
  char* dst = out;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    // A file's content goes back to its octets here: runs of ASCII eight bytes at a time.
    if (utf8.size() - pos >= 8 && IsAscii8(utf8.data() + pos)) {
      std::memcpy(dst, utf8.data() + pos, 8);
      dst += 8;
      pos += 8;
      continue;
    }
    const auto b = static_cast<unsigned char>(utf8[pos]);
    if (b < 0x80) {
      *dst++ = static_cast<char>(b);
      ++pos;
      continue;
    }
    const char32_t cp = DecodeUtf8(utf8, pos);
    *dst++ = cp == kInvalidCodePoint ? '?' : ByteOf(cp);
  }
  return static_cast<std::size_t>(dst - out);
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.resize(utf8.size());  // never longer than the input
  out.resize(Utf8ToCp1252(utf8, out.data()));
  return out;
}

void AppendCp1252AsUtf8(std::string& out, std::string_view bytes) {
  // Received files are mostly ASCII: runs of it are copied eight bytes at a time.
  std::size_t extra = 0;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    if (!IsAscii8(bytes.data() + i)) {
      for (std::size_t k = i; k < i + 8; ++k) extra += ExtraBytes(bytes[k]);
    }
  }
  for (; i < bytes.size(); ++i) extra += ExtraBytes(bytes[i]);
  const std::size_t start = out.size();
  out.resize(start + bytes.size() + extra);
  char* dst = out.data() + start;
  if (extra == 0) {
    std::memcpy(dst, bytes.data(), bytes.size());
    return;
  }
  const char* src = bytes.data();
  const char* const end = src + bytes.size();
  while (src < end) {
    if (end - src >= 8 && IsAscii8(src)) {
      std::memcpy(dst, src, 8);
      src += 8;
      dst += 8;
      continue;
    }
    const auto& f = kUtf8Forms[static_cast<unsigned char>(*src++)];
    dst[0] = f.bytes[0];
    if (f.size > 1) {
      dst[1] = f.bytes[1];
      if (f.size > 2) dst[2] = f.bytes[2];
    }
    dst += f.size;
  }
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  AppendCp1252AsUtf8(out, bytes);
  return out;
}

}  // namespace vexcomm::platform
