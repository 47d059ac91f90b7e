// Windows-1252 both ways: every byte string survives the trip through UTF-8, and UTF-8 text
// goes out as one byte per character.
//
// Input: bytes, read once as the wire's octets and once as UTF-8 text.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/cp1252.h"
#include "platform/utf8.h"

namespace {

using namespace vexcomm;

// Characters as the socket counts them: an invalid byte is one of its own.
std::size_t Characters(std::string_view text, bool& valid) {
  std::size_t count = 0;
  std::size_t pos = 0;
  valid = true;
  while (pos < text.size()) {
    if (platform::DecodeUtf8(text, pos) == platform::kInvalidCodePoint) valid = false;
    ++count;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = vexcomm::fuzz::AsText(data, size);

  const std::string utf8 = platform::Cp1252ToUtf8(bytes);
  bool valid = false;
  FUZZ_CHECK(Characters(utf8, valid) == bytes.size());
  FUZZ_CHECK(valid);
  FUZZ_CHECK(platform::Utf8ToCp1252(utf8) == bytes);

  const std::string wire = platform::Utf8ToCp1252(bytes);
  FUZZ_CHECK(wire.size() == Characters(bytes, valid));
  FUZZ_CHECK(platform::CodePointCount(bytes) == wire.size());
  // What went out once goes out the same way again.
  FUZZ_CHECK(platform::Utf8ToCp1252(platform::Cp1252ToUtf8(wire)) == wire);
  // ASCII passes untouched.
  for (std::size_t i = 0, w = 0; i < bytes.size(); ++w) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      FUZZ_CHECK(wire[w] == bytes[i]);
      ++i;
    } else {
      std::size_t pos = i;
      platform::DecodeUtf8(bytes, pos);
      i = pos;
    }
  }
  return 0;
}
