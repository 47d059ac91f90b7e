#include "quotes/stored_value.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/utf8.h"

namespace vexcomm::quotes {
namespace {

// Every stored form must be text a TEXT column holds: valid UTF-8 without NUL.
bool IsCleanUtf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = platform::DecodeUtf8(text, pos);
    if (cp == 0 || cp == platform::kInvalidCodePoint) return false;
  }
  return true;
}

std::vector<std::string> Samples() {
  std::vector<std::string> samples = {
      "A",
      "AB",
      "ABC",
      "ABCD",
      "ABCDE",
      "710000",
      "DE0007100000",
      "Müller & Söhne AG",
      "ÄÖÜäöüß€",
      "日本株式会社",
      "😀📈💶",
      "\x01\x02\x1f\x7f",
      "tab\there\r\nline",
      "  leading and trailing  ",
      "a:b*c#d@e'f\"g",
      "\xef\xbf\xbf",
      "\xf4\x8f\xbf\xbf",          // U+FFFF and U+10FFFF
      "\xed\x9f\xbf\xee\x80\x80",  // either side of the surrogates
  };
  // Every length around the padding boundaries, and a long one.
  std::string grow;
  for (int n = 0; n < 13; ++n) {
    grow += static_cast<char>('a' + n);
    samples.push_back(grow);
  }
  samples.push_back(std::string(1000, 'x') + "ü");
  // A deterministic spread of code points from every UTF-8 length.
  uint32_t state = 12345;
  for (int s = 0; s < 200; ++s) {
    std::string text;
    for (int n = 0; n < 1 + s % 11; ++n) {
      state = state * 1103515245u + 12345u;
      char32_t cp = 1 + (state >> 8) % 0x10FFFF;
      if (cp >= 0xD800 && cp <= 0xDFFF) cp -= 0x800;
      platform::AppendUtf8(text, cp);
    }
    samples.push_back(text);
  }
  return samples;
}

TEST(StoredValueTest, RoundTripsAndStaysCleanText) {
  for (const std::string& text : Samples()) {
    SCOPED_TRACE(text);
    const std::string stored = encode(text);
    EXPECT_TRUE(IsCleanUtf8(stored));
    EXPECT_EQ(platform::CodePointCount(stored), platform::CodePointCount(text));
    EXPECT_EQ(decode(stored), text);
    EXPECT_EQ(encode(text), stored) << "not deterministic";
  }
}

TEST(StoredValueTest, StoredFormsOfEarlierRunsStayReadable) {
  // Written by earlier versions into users' Kurse.dat: the form must never change.
  const std::string stored =
      "\xE1\xB6\x8D\xF2\xAE\xA7\xA4\xF2\xA2\x84\x87\xF4\x8E\x8F\x8D\xF1\x93\xBA\xB0\xF0\xB6\x81"
      "\x95";
  EXPECT_EQ(encode("710000"), stored);
  EXPECT_EQ(decode(stored), "710000");
}

TEST(StoredValueTest, DifferentTextsGiveDifferentStoredForms) {
  // The WKN is looked up by its stored form, so two WKNs must never share one.
  std::set<std::string> seen;
  for (std::string wkn : {"710000", "710001", "710010", "A1B2C3", "a1b2c3", "A1B2C", "A1B2C3 ",
                          "DE0007100000", "DE0007100001", "Ä", "A"}) {
    EXPECT_TRUE(seen.insert(encode(wkn)).second) << wkn;
  }
}

TEST(StoredValueTest, EmptyAndNulEndedTexts) {
  EXPECT_EQ(encode(""), "");
  EXPECT_EQ(decode(""), "");
  // NUL is the padding character: a text ends at its first one.
  EXPECT_EQ(encode(std::string("AB\0CD", 5)), encode("AB"));
  EXPECT_EQ(encode(std::string("\0X", 2)), "");
  // Bytes that are not UTF-8 are read as U+FFFD, never passed on raw.
  EXPECT_EQ(decode(encode("a\xffz")), "a\uFFFDz");
}

TEST(StoredValueTest, KeysFollowTheFirstCharacter) {
  // The decode key is built from the stored first character alone; the transform called with
  // it restores the text, and with any other key it does not.
  for (std::string text : {"710000", "Ärger", "😀x", "zzzzzzzz"}) {
    SCOPED_TRACE(text);
    std::u32string buffer;
    std::size_t pos = 0;
    const std::string stored = encode(text);
    while (pos < stored.size()) buffer.push_back(platform::DecodeUtf8(stored, pos));
    buffer.resize((buffer.size() + 3) / 4 * 4, U'\0');
    const int32_t key = static_cast<int32_t>(CharacterCode(buffer[0])) + kDecodeConstant;

    std::u32string wrong = buffer;
    int32_t length = static_cast<int32_t>(wrong.size());
    CBF(wrong, key + 1, length, CbfDirection::Decode);
    std::string wrong_text;
    for (int32_t i = 0; i < length; ++i) platform::AppendUtf8(wrong_text, wrong[i]);
    EXPECT_NE(wrong_text, text);

    length = static_cast<int32_t>(buffer.size());
    CBF(buffer, key, length, CbfDirection::Decode);
    std::string restored;
    for (int32_t i = 0; i < length; ++i) platform::AppendUtf8(restored, buffer[i]);
    EXPECT_EQ(restored, text);
    EXPECT_EQ(static_cast<std::size_t>(length), platform::CodePointCount(text));
  }
}

}  // namespace
}  // namespace vexcomm::quotes
