#include "quotes/stored_value.h"

#include <algorithm>

#include "platform/utf8.h"

namespace vexcomm::quotes {

namespace {

// Reads UTF-8 up to the first NUL; a byte that starts no valid sequence reads as U+FFFD.
std::u32string DecodeText(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = platform::DecodeUtf8(text, pos);
    if (cp == 0) break;
    out.push_back(cp == platform::kInvalidCodePoint ? char32_t{0xFFFD} : cp);
  }
  return out;
}

// splitmix64: a cheap, well-mixed keystream word for position `i` under seed `s`.
uint32_t KeystreamWord(uint64_t s, uint64_t i) noexcept {
  uint64_t z = s * 0x9E3779B97F4A7C15ull + i * 0xBF58476D1CE4E5B9ull + 0x94D049BB133111EBull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<uint32_t>(z % kCodeCount);
}

uint32_t Mod(int64_t v) noexcept {
  const auto m = static_cast<int64_t>(kCodeCount);
  return static_cast<uint32_t>(((v % m) + m) % m);
}

// The first character moves by the difference of the two constants, so the decode key built
// from the stored first character names the same keystream as the encode key.
constexpr uint32_t kFirstShift = (kEncodeConstant - kDecodeConstant) % kCodeCount;

std::string Transform(std::string_view text, int32_t constant, CbfDirection direction) {
  if (text.empty()) return {};
  std::u32string buffer = DecodeText(text);
  if (buffer.empty()) return {};
  const int32_t key = static_cast<int32_t>(CharacterCode(buffer[0])) + constant;
  buffer.resize((buffer.size() + 3) / 4 * 4, U'\0');
  auto length = static_cast<int32_t>(buffer.size());
  CBF(buffer, key, length, direction);
  std::string out;
  out.reserve(static_cast<std::size_t>(length) * 4);
  for (int32_t i = 0; i < length; ++i)
    platform::AppendUtf8(out, buffer[static_cast<std::size_t>(i)]);
  return out;
}

}  // namespace

uint32_t CharacterCode(char32_t c) noexcept {
  return c < 0xD800 ? static_cast<uint32_t>(c) : static_cast<uint32_t>(c) - 0x800;
}

char32_t CharacterOfCode(uint32_t code) noexcept {
  return code < 0xD800 ? static_cast<char32_t>(code) : static_cast<char32_t>(code + 0x800);
}

void CBF(std::u32string& buffer, int32_t key, int32_t& length, CbfDirection direction) {
  std::size_t n = 0;
  const auto limit = std::min(buffer.size(), static_cast<std::size_t>(std::max(length, 0)));
  while (n < limit && buffer[n] != 0) ++n;
  const uint64_t seed = Mod(key);
  // Each character is chained to the stored character before it: working in code space
  // modulo kCodeCount keeps every result a non-NUL scalar value.
  uint32_t previous = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const uint32_t value = CharacterCode(buffer[i]) - 1;
    const int64_t offset = i == 0 ? kFirstShift : int64_t{KeystreamWord(seed, i)} + previous;
    uint32_t result;
    if (direction == CbfDirection::Encode) {
      result = Mod(int64_t{value} + offset);
      previous = result;
    } else {
      result = Mod(int64_t{value} - offset);
      previous = value;
    }
    buffer[i] = CharacterOfCode(result + 1);
  }
  for (std::size_t i = n; i < buffer.size(); ++i) buffer[i] = 0;
  length = static_cast<int32_t>(n);
}

std::string encode(std::string_view text) {
  return Transform(text, kEncodeConstant, CbfDirection::Encode);
}

std::string decode(std::string_view text) {
  return Transform(text, kDecodeConstant, CbfDirection::Decode);
}

}  // namespace vexcomm::quotes
