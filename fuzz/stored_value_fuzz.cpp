// The stored-value transform: the stored form holds no NUL, is valid UTF-8 with as many
// characters as the text it came from, and decodes back to that text.
//
// Input: the text to store.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/utf8.h"
#include "quotes/stored_value.h"

namespace {

using namespace vexcomm;

// The text as the transform reads it: up to the first NUL, invalid bytes as U+FFFD.
std::string Normalized(std::string_view text, bool& unchanged) {
  std::string out;
  std::size_t pos = 0;
  unchanged = true;
  while (pos < text.size()) {
    char32_t cp = platform::DecodeUtf8(text, pos);
    if (cp == 0) {
      unchanged = false;
      break;
    }
    if (cp == platform::kInvalidCodePoint) {
      cp = 0xFFFD;
      unchanged = false;
    }
    platform::AppendUtf8(out, cp);
  }
  return out;
}

bool IsValidWithoutNul(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = platform::DecodeUtf8(text, pos);
    if (cp == 0 || cp == platform::kInvalidCodePoint) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = vexcomm::fuzz::AsText(data, size);
  bool unchanged = false;
  const std::string normalized = Normalized(text, unchanged);

  const std::string stored = quotes::encode(text);
  FUZZ_CHECK(IsValidWithoutNul(stored));
  FUZZ_CHECK(platform::CodePointCount(stored) == platform::CodePointCount(normalized));
  FUZZ_CHECK(quotes::decode(stored) == normalized);
  FUZZ_CHECK(quotes::encode(normalized) == stored);
  if (unchanged) FUZZ_CHECK(normalized == text);

  // Any stored text decodes to text that stores back to it.
  const std::string read = quotes::decode(text);
  FUZZ_CHECK(IsValidWithoutNul(read));
  FUZZ_CHECK(quotes::decode(quotes::encode(read)) == read);

  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = platform::DecodeUtf8(text, pos);
    if (cp == 0 || cp == platform::kInvalidCodePoint) continue;
    const std::uint32_t code = quotes::CharacterCode(cp);
    FUZZ_CHECK(code >= 1 && code <= quotes::kCodeCount);
    FUZZ_CHECK(quotes::CharacterOfCode(code) == cp);
  }
  return 0;
}
