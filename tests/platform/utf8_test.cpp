#include "platform/utf8.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <wctype.h>

#include <string>
#include <vector>

namespace vexcomm::platform {
namespace {

std::string Utf8(char32_t cp) {
  std::string s;
  AppendUtf8(s, cp);
  return s;
}

// Cut, overlong, surrogate and out-of-range sequences are counted against the octets on the wire
// in Cp1252Test.UnmappableAndInvalidInputBecomesQuestionMarks.
TEST(Utf8Test, CountsCodePointsAndEachInvalidByteAsOne) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0},
      {"abc", 3},
      {"\xC3\xA4\xC3\xB6\xC3\xBC", 3},  // äöü
      {"\xE0\x80\xAF", 3},              // overlong "/"
      {"\x80\xBF", 2},                  // stray continuation bytes
      {"\xFF\xFE", 2},
  };
  for (const auto& [text, count] : cases)
    EXPECT_EQ(CodePointCount(text), count) << testing::PrintToString(text);
}

TEST(Utf8Test, OffsetsAndPrefixesCountCodePoints) {
  const std::string text = "a\u00E4\u20AC\U0001F600b";
  const std::vector<std::size_t> offsets = {0, 1, 3, 6, 10, 11, 11, 11};
  for (std::size_t n = 0; n < offsets.size(); ++n) {
    EXPECT_EQ(CodePointOffset(text, n), offsets[n]) << n;
    EXPECT_EQ(CodePointPrefix(text, n), text.substr(0, offsets[n])) << n;
  }
  // Cut anywhere, the text's whole characters end at the last offset before the cut.
  for (std::size_t cut = 0, n = 0; cut <= text.size(); ++cut) {
    while (n + 1 < offsets.size() && offsets[n + 1] <= cut) ++n;
    EXPECT_EQ(WholeCodePointsEnd(text.substr(0, cut)), offsets[n]) << cut;
  }
}

TEST(Utf8Test, ToUpperCoversAsciiAndLatin1LettersOnly) {
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  ASSERT_NE(utf8, static_cast<locale_t>(nullptr));
  for (char32_t cp = 1; cp <= 0xFF; ++cp) {
    const bool letter = cp < 0x80 || (cp >= 0xE0 && cp != 0xF7);
    const auto expected =
        letter ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8)) : cp;
    EXPECT_EQ(ToUpper(Utf8(cp)), Utf8(expected)) << std::hex << static_cast<uint32_t>(cp);
  }
  freelocale(utf8);

  const std::pair<std::string, std::string> cases[] = {
      {"Stra\u00DFe", "STRA\u00DFE"},  // ß has no one-letter capital
      {"\xC3\xBF", "\xC5\xB8"},        // ÿ -> Ÿ
      {"\xC4\x85\xD1\x8F\xE2\x82\xAC", "\xC4\x85\xD1\x8F\xE2\x82\xAC"},  // ą я € stay
      {"x\xC3", "X\xC3"},                                                // cut sequence left alone
      {"\u00E4x\u00FFz", "\u00C4X\u0178Z"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ToUpper(in), out) << in;
}

}  // namespace
}  // namespace vexcomm::platform
