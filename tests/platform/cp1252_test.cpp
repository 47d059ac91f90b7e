#include "platform/cp1252.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "platform/utf8.h"

namespace vexcomm::platform {
namespace {

// glibc's converter as an independent reference; it knows no mapping for the five undefined
// bytes.
std::optional<std::string> IconvToUtf8(unsigned char byte) {
  iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  char in[1] = {static_cast<char>(byte)};
  char out[8];
  char* in_ptr = in;
  char* out_ptr = out;
  std::size_t in_left = 1;
  std::size_t out_left = sizeof out;
  const std::size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) return std::nullopt;
  return std::string(out, static_cast<std::size_t>(out_ptr - out));
}

TEST(Cp1252Test, EveryByteConvertsBothWays) {
  const std::vector<unsigned> undefined = {0x81, 0x8D, 0x8F, 0x90, 0x9D};
  std::string all_bytes, all_utf8;
  for (unsigned b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const std::string utf8 = Cp1252ToUtf8(byte);
    all_bytes += byte;
    all_utf8 += utf8;
    if (std::find(undefined.begin(), undefined.end(), b) != undefined.end()) {
      std::string c1;
      AppendUtf8(c1, b);  // the C1 control of the same number
      EXPECT_EQ(utf8, c1) << std::hex << b;
    } else {
      const auto reference = IconvToUtf8(static_cast<unsigned char>(b));
      ASSERT_TRUE(reference.has_value()) << std::hex << b;
      EXPECT_EQ(utf8, *reference) << std::hex << b;
    }
    EXPECT_EQ(Utf8ToCp1252(utf8), byte) << std::hex << b;
  }
  EXPECT_EQ(Cp1252ToUtf8(all_bytes), all_utf8);
  EXPECT_EQ(Utf8ToCp1252(all_utf8), all_bytes);
}

// ASCII runs are copied a word at a time: a high byte at any position of a word, and texts
// of every length around the word size, must come out as byte-by-byte conversion gives them.
TEST(Cp1252Test, HighBytesAtEveryPositionOfAWord) {
  for (std::size_t size = 0; size <= 24; ++size) {
    for (std::size_t high = 0; high <= size; ++high) {
      std::string wire(size, 'a');
      if (high < size) wire[high] = '\xE4';
      std::string expected;
      for (char c : wire) expected += Cp1252ToUtf8(std::string(1, c));
      std::string appended = "kept";
      AppendCp1252AsUtf8(appended, wire);
      EXPECT_EQ(appended, "kept" + expected) << size << " " << high;
      EXPECT_EQ(Cp1252ToUtf8(wire), expected) << size << " " << high;
    }
  }
}

TEST(Cp1252Test, UnmappableAndInvalidInputBecomesQuestionMarks) {
  const std::pair<std::string, std::string> cases[] = {
      {"Gr\xC3\xBC\xC3\x9F", "Gr\xFC\xDF"},
      {"\xE2\x82\xAC 5", "\x80 5"},  // € is 0x80
      {"\xC5\xB8", "\x9F"},          // Ÿ
      {"\xC2\x80", "?"},             // U+0080 has no byte
      {"\xC2\x81", "\x81"},          // undefined byte's own code point
      {"\xC4\x80", "?"},             // Ā
      {"\xF0\x9F\x98\x80!", "?!"},   // one code point, one "?"
      {"a\xC3", "a?"},               // cut at the end
      {"\xE2\x82Z", "??Z"},          // cut inside
      {"\xC0\xAF", "??"},            // overlong
      {"\xED\xA0\x80", "???"},       // surrogate
      {"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
      {"\xFF", "?"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& [utf8, expected] : cases) {
    const std::string wire = Utf8ToCp1252(utf8);
    EXPECT_EQ(wire, expected) << testing::PrintToString(utf8);
    // Length prefixes count characters: they must equal the octets on the wire.
    EXPECT_EQ(CodePointCount(utf8), wire.size()) << testing::PrintToString(utf8);
  }
}

TEST(Cp1252Test, StopsAtTheEndOfTheView) {
  const std::string euro = "x\xE2\x82\xAC";
  // The view ends inside the sequence: the bytes after it must not be looked at.
  for (std::size_t cut = 2; cut < euro.size(); ++cut)
    EXPECT_EQ(Utf8ToCp1252(std::string_view(euro).substr(0, cut)), "x" + std::string(cut - 1, '?'));
}

}  // namespace
}  // namespace vexcomm::platform
