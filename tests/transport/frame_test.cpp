#include "transport/frame.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/cp1252.h"
#include "platform/utf8.h"
#include "transport/cls_element.h"

namespace vexcomm::transport {
namespace {

constexpr std::size_t npos = std::string_view::npos;

std::vector<std::string> Split(std::string_view text) {
  clsElement list;
  SplitElements(text, list, true);
  std::vector<std::string> out;
  for (int32_t i = 1; i <= list.Count(); ++i) out.push_back(list.Item(i));
  return out;
}

// Completeness as the splitter reads the text: ends in ":MSGEND" and no length-prefixed
// content reaches into those seven characters.
bool CompleteAsSplit(std::string_view text) {
  constexpr std::string_view kEnd = ":MSGEND";
  if (!text.ends_with(kEnd)) return false;
  std::size_t position = 0;
  while (position < text.size()) {
    std::size_t start = position;
    std::size_t length = 0;
    if (!akNextElement(text, start, length)) break;
    std::size_t offset = LengthPrefixedContentOffset(text.substr(start, length));
    if (offset != npos && offset < length && start + length > text.size() - kEnd.size())
      return false;
    std::uint64_t separator = 1;
    position = platform::SkipCodePoints(text, start + length, separator);
  }
  return true;
}

TEST(BuildRequest, Frames) {
  struct Case {
    std::string code;
    std::vector<std::string> fields;
    std::string expected;
  } const cases[] = {
      {"AKFGA", {}, "VEXMSG:2:AKFGA:MSGEND"},
      {"AKNEW", {"11122233", "4711", "17", "5"}, "VEXMSG:2:AKNEW:11122233:4711:17:5:MSGEND"},
      {"AKLOG", {"a", ""}, "VEXMSG:2:AKLOG:a::MSGEND"},
      {"AKLOG", {""}, "VEXMSG:2:AKLOG::MSGEND"},
      {"AKGET", {"a", "", "b"}, "VEXMSG:2:AKGET:a::b:MSGEND"},
      {"AKLOG", {"x", LengthPrefixed("a:b")}, "VEXMSG:2:AKLOG:x:@3@a:b:MSGEND"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BuildRequest(c.code, std::span<const std::string>(c.fields)), c.expected);
}

// The stated length is what the socket writes for the content: one octet per character, and
// one "?" per byte that is not valid UTF-8. Runs around the word size go through the fast path.
TEST(LengthPrefixed, StatesTheOctetsTheSocketWrites) {
  const std::string pieces[] = {"a",    "ä",        "€",    "ab€",      "\xF0\x9F\x98\x80",
                                "\x80", "\xE2\x82", "\xFF", "\xC0\x80", "\xED\xA0\x80"};
  std::minstd_rand random(7);
  std::vector<std::string> texts;
  for (const auto& piece : pieces) {
    for (std::size_t repeat : {1u, 3u, 7u, 255u, 256u, 2041u}) {
      std::string text;
      for (std::size_t i = 0; i < repeat; ++i) text += i % 2 == 0 ? piece : std::string("x");
      texts.push_back(text);
    }
  }
  for (int n = 0; n < 200; ++n) {
    std::string bytes(1 + random() % 40, '\0');
    for (char& b : bytes) b = static_cast<char>(random() % 8 == 0 ? random() : 0x41 + random() % 3);
    texts.push_back(bytes);
  }
  EXPECT_EQ(LengthPrefixed(""), "");
  for (const auto& text : texts) {
    const std::string prefixed = LengthPrefixed(text);
    const std::string wire = platform::Utf8ToCp1252(text);
    EXPECT_EQ(prefixed, "@" + std::to_string(wire.size()) + "@" + text)
        << testing::PrintToString(text);
  }
}

TEST(AkNextElement, FindsOneElement) {
  struct Case {
    std::string text;
    std::size_t start;
    bool found;
    std::string element;
  } const cases[] = {
      {"abc:def", 0, true, "abc"},
      {"abc:def", 4, true, "def"},
      {"abc:def", 3, true, ""},
      {"abc", 3, false, ""},
      {"abc", 99, false, ""},
      {"", 0, false, ""},
      {"x:@5@ab:cd:x", 2, true, "@5@ab:cd"},
      {"@8@ab:cd", 0, true, "@8@ab:cd"},  // the stated length runs past the end
      {"@123456789012345678901234567890@ab:c", 0, true, "@123456789012345678901234567890@ab:c"},
      {"@@a:b", 0, true, "@@a"},
      {"@12:x", 0, true, "@12"},
      {"@-1@ab:c", 0, true, "@-1@ab"},
  };
  for (const auto& c : cases) {
    std::size_t start = c.start;
    std::size_t length = 12345;
    bool found = akNextElement(c.text, start, length);
    ASSERT_EQ(found, c.found) << c.text << " from " << c.start;
    if (!found) continue;
    ASSERT_LE(start + length, c.text.size()) << c.text;
    EXPECT_EQ(c.text.substr(start, length), c.element) << c.text << " from " << c.start;
  }
}

TEST(SplitElements, NumbersElementsAsTheFrameHasThem) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"VEXMSG:2:AINEW:3:MSGEND", {"VEXMSG", "2", "AINEW", "3", "MSGEND"}},
      {"VEXMSG:2:AIGET:12:info.txt::x:MSGEND",
       {"VEXMSG", "2", "AIGET", "12", "info.txt", "", "x", "MSGEND"}},
      {"VEXMSG:2:AIGET:4:n.txt:MSG:01.01.2024:31.12.2024:5:1:Titel:www.x.de/y:@5@ab:cd:9:MSGEND",
       {"VEXMSG", "2", "AIGET", "4", "n.txt", "MSG", "01.01.2024", "31.12.2024", "5", "1", "Titel",
        "www.x.de/y", "@5@ab:cd", "9", "MSGEND"}},
      {"VEXMSG:2:AIGET:1:@12@a:b\r\nc@d:e:f:MSGEND",
       {"VEXMSG", "2", "AIGET", "1", "@12@a:b\r\nc@d:e:f", "MSGEND"}},
      {"", {}},
      {":", {""}},
      {"a:", {"a"}},  // the loop stops when it reaches the end
      {"a::", {"a", ""}},
      {":a", {"", "a"}},
      {"x:@3@äöü:MSGEND", {"x", "@3@äöü", "MSGEND"}},
      {"x:@20@ab:MSGEND", {"x", "@20@ab:MSGEND"}},
      {"x:@0@:y", {"x", "@0@", "y"}},
      // after a content the next character ends the element, whatever it is
      {"@2@abX:y", {"@2@ab", "", "y"}},
      {"@1@aä:y", {"@1@a", "", "y"}},
      {"@1@ä€y:z", {"@1@ä", "y", "z"}},
      {"x:@abc:y", {"x", "@abc", "y"}},
      {"x:@99999999999999999999@ab:cd", {"x", "@99999999999999999999@ab:cd"}},
  };
  for (const auto& [text, elements] : cases) EXPECT_EQ(Split(text), elements) << text;
}

TEST(SplitElements, ClearFirstOrAppend) {
  clsElement list;
  SplitElements("a:b:MSGEND", list, true);
  SplitElements("c:MSGEND", list, false);
  EXPECT_EQ(list.Item(4), "c");
  SplitElements("VEXMSG:2:AIRMG:10:x:MSGEND", list, true);
  EXPECT_EQ(list.Count(), 6);
}

TEST(IsValidReply, TagAndVersion) {
  const std::pair<std::string, bool> cases[] = {
      {"VEXMSG:2:AIRMG:10:x:MSGEND", true},
      {"VEXMSG:3:AIRMG:10:x:MSGEND", true},
      {"VEXMSG:4:AIRMG:10:x:MSGEND", false},
      {"vexmsg:2:AIRMG:10:x:MSGEND", false},
      {"VEXMSG:02:AIRMG:MSGEND", false},
      {"VEXMSG::2:MSGEND", false},
      {"VEXMSG:2", true},
      {"", false},
      {"@8@VEXMSG:2:x:MSGEND", false},
  };
  for (const auto& [text, valid] : cases) {
    clsElement list;
    SplitElements(text, list, true);
    EXPECT_EQ(IsValidReply(list), valid) << text;
    std::string received = text;
    clsElement taken;
    taken.Add("from the reply before");
    EXPECT_EQ(SplitValidReply(received, taken), valid) << text;
    if (!valid) {
      EXPECT_EQ(received, text) << "an invalid reply is kept for the log";
    }
  }
}

// The list keeps a frame's buffer and a large element read moves out of it; the elements must be
// exactly the element reader's, wherever that element stands, whatever its size and the order
// they are read in.
TEST(SplitValidReply, GivesTheSplittersElements) {
  const std::string file = LengthPrefixed(std::string(5000, 'x') + ":\r\n" + "ä€");
  std::string many = "VEXMSG:2:AITGA";
  for (int i = 0; i < 150; ++i) many += ":" + std::to_string(i) + (i % 7 == 0 ? ":" : "");
  const std::string frames[] = {
      many + ":" + file + "X" + many + ":MSGEND",
      "VEXMSG:2:AIGET:1:f:T:a:b:1:2:t:u:" + file + ":42:MSGEND",
      "VEXMSG:2:AIGET:1:f:T:a:b:1:2:t:u:" + file,
      "VEXMSG:3:" + file + ":MSGEND",
      "VEXMSG:2:AIRMG:10:a rather long message text, longer than the rest:MSGEND",
      "VEXMSG:2:AIGET:1:f:T:a:b:1:2:t:u:@3@abc:42:MSGEND",
      "VEXMSG:2:AIGET:1:f:T:a:b:1:2:t:u::42:MSGEND",
      "VEXMSG:2",
      "VEXMSG:2:",
  };
  for (const auto& frame : frames) {
    std::vector<std::string> expected;
    std::size_t position = 0, start = 0, length = 0;
    while (NextElement(frame, position, start, length))
      expected.push_back(frame.substr(start, length));
    for (const bool backwards : {false, true}) {
      std::string received = frame;
      clsElement list;
      ASSERT_TRUE(SplitValidReply(received, list)) << frame;
      EXPECT_TRUE(received.empty());
      ASSERT_EQ(list.Count(), static_cast<int32_t>(expected.size()));
      std::vector<std::string> got(expected.size());
      for (std::size_t k = 0; k < got.size(); ++k) {
        const std::size_t i = backwards ? got.size() - 1 - k : k;
        got[i] = list.Item(static_cast<int32_t>(i + 1));
      }
      EXPECT_EQ(got, expected) << frame.substr(0, 80) << (backwards ? " backwards" : "");
      EXPECT_EQ(list.Item(list.Count() + 1), "");
    }
  }
}

// The head of a length-prefixed element, and where a delivered file's content starts.
TEST(LengthPrefixedContentOffset, FindsTheSecondMarkWhateverTheDigitsAndTheFileContent) {
  const std::string a8 = "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4";
  struct Case {
    std::string element;
    std::size_t head;
    std::size_t file;
  } const cases[] = {
      {"@5@ab:cd", 3, 3},
      {"@12@abcdefghijkl", 4, 4},
      {"@1234567@x", 9, 9},
      {"@12345678@x", 10, 10},  // eight digits: the second mark past the ninth character
      {"@123456789@x", 11, 11},
      {"@99999999999999999999@x", 22, 22},
      {"@@x", npos, 2},
      {"@x@y", npos, 3},
      {"X@hello", npos, 2},
      {"x@1@y", npos, 2},
      {"abcdefgh@x", npos, 9},
      {"abcdefghi@x", npos, npos},  // the mark at the tenth character
      {a8 + "@x", npos, 17},        // characters, not bytes
      {a8 + "a@x", npos, npos},
      {"abc", npos, npos},
      {"@", npos, npos},
      {"", npos, npos},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LengthPrefixedContentOffset(c.element), c.head) << c.element;
    EXPECT_EQ(FileContentOffset(c.element), c.file) << c.element;
  }
}

// Frames for the assembler with whether the whole text is complete.
struct AssemblyCase {
  const char* name;
  std::string text;
  bool complete;
};

void PrintTo(const AssemblyCase& c, std::ostream* os) {
  *os << c.name;
}

const AssemblyCase kAssemblyCases[] = {
    {"Plain", "VEXMSG:2:AINEW:0:MSGEND", true},
    {"LowerCaseEnd", "VEXMSG:2:AINEW:0:msgend", false},
    {"NoTagCheck", "anything:MSGEND", true},
    {"OnlyEnd", ":MSGEND", true},
    {"EndInsideContent", "VEXMSG:2:AIGET:1:f.txt:@19@ab:MSGEND:MSGEND:cd:7:MSGEND", true},
    {"ContentRunsPastEnd", "VEXMSG:2:AIGET:1:@30@ab:MSGEND:MSGEND", false},
    {"ContentEndsWithColon", "VEXMSG:2:AIGET:1:@3@ab:MSGEND", false},
    {"ContentThenEnd", "VEXMSG:2:AIGET:1:@2@ab:MSGEND", true},
    {"OtherCharacterEndsContent", "VEXMSG:2:AIGET:1:@2@abX:MSGEND", true},
    {"EmptyContent", "VEXMSG:2:AIGET:1:@0@:MSGEND", true},
    {"CharactersNotBytes", "VEXMSG:2:AIGET:1:@15@ääääääää:MSGEND:MSGEND", true},
    {"UmlautSeparator", "VEXMSG:2:AIGET:1:@1@aü:MSGEND", true},
    {"CutCharacterInContent", "VEXMSG:2:AIGET:1:@3@€:MSGEND", false},
    {"InvalidBytesCountOneEach", "VEXMSG:2:AIGET:1:@2@\x80\x80:MSGEND", true},
    {"InvalidSeparator", "VEXMSG:2:AIGET:1:@1@a\xE2:MSGEND", true},
    {"NotAHead", "VEXMSG:2:AIGET:1:@12x:MSGEND", true},
    {"BareMark", "VEXMSG:2:AIGET:@:MSGEND", true},
    {"DoubleMark", "VEXMSG:2:AIGET:@@3@abc:MSGEND", true},
    {"MarkInPlainElement", "VEXMSG:2:AIGET:x@3@:MSGEND:MSGEND", true},
    {"AbsurdLength", "VEXMSG:2:AIGET:@99999999999999999999@ab:MSGEND", false},
    {"TwoContents", "VEXMSG:2:AIGET:@7@:MSGEND:@7@:MSGEND:MSGEND", true},
    {"TextAfterEnd", "VEXMSG:2:AINEW:0:MSGEND:x", false},
    {"TextAfterEndThenEnd", "A:MSGEND:B:MSGEND", true},
};

class FrameAssemblerSplits : public testing::TestWithParam<AssemblyCase> {};

// The whole text in one piece is the split at i = j = size.
TEST_P(FrameAssemblerSplits, EveryThreeWaySplit) {
  std::string_view text(GetParam().text);
  ASSERT_EQ(CompleteAsSplit(text), GetParam().complete);
  for (std::size_t i = 0; i <= text.size(); ++i) {
    for (std::size_t j = i; j <= text.size(); ++j) {
      FrameAssembler assembler;
      bool first = assembler.Append(text.substr(0, i));
      bool second = assembler.Append(text.substr(i, j - i));
      bool third = assembler.Append(text.substr(j));
      ASSERT_EQ(first, CompleteAsSplit(text.substr(0, i))) << i << "," << j;
      ASSERT_EQ(second, CompleteAsSplit(text.substr(0, j))) << i << "," << j;
      ASSERT_EQ(third, GetParam().complete) << i << "," << j;
      ASSERT_EQ(assembler.complete(), third) << i << "," << j;
      ASSERT_EQ(assembler.text(), text) << i << "," << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, FrameAssemblerSplits, testing::ValuesIn(kAssemblyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FrameAssembler, TakeAndResetStartAfresh) {
  // Left anywhere in a frame (inside a length, a content), a scanner that kept its state would
  // swallow the next frame.
  constexpr std::string_view kCut = "VEXMSG:2:AIGET:1:@100@abc";
  for (bool use_take : {true, false}) {
    for (std::size_t at = 1; at <= kCut.size(); ++at) {
      FrameAssembler assembler;
      EXPECT_FALSE(assembler.Append(kCut.substr(0, at)));
      if (use_take) {
        EXPECT_EQ(assembler.Take(), kCut.substr(0, at));
      } else {
        assembler.Reset();
      }
      EXPECT_EQ(assembler.size(), 0u);
      EXPECT_TRUE(assembler.Append("VEXMSG:2:AINEW:0:MSGEND")) << use_take << " " << at;
      EXPECT_EQ(assembler.text(), "VEXMSG:2:AINEW:0:MSGEND");
    }
  }
}

TEST(FrameAssembler, LargeFileInChunksEndingInsideContent) {
  // Every chunk ends in ":MSGEND" inside the content; only the real end completes the frame,
  // which then splits with its eight-digit length.
  constexpr std::string_view kPiece = ":MSGEND";
  constexpr std::size_t kPieces = 1'428'572;  // 10'000'004 characters: an eight-digit length
  const std::string head =
      "VEXMSG:2:AIGET:1:fä:T:a:b:1:2:t:u:@" + std::to_string(kPieces * kPiece.size()) + "@";
  std::string chunk;
  for (int i = 0; i < 2341; ++i) chunk += kPiece;

  // The size the host is told: known from the head on, in octets ("ä" is one).
  const std::size_t expected = head.size() - 1 + kPieces * kPiece.size() + kPiece.size();
  FrameAssembler assembler;
  EXPECT_EQ(assembler.ExpectedOctets(), 0u);
  EXPECT_FALSE(assembler.Append(head.substr(0, 20)));
  EXPECT_EQ(assembler.ExpectedOctets(), 0u) << "unknown until the length has been read";
  EXPECT_FALSE(assembler.Append(head.substr(20)));
  EXPECT_EQ(assembler.ExpectedOctets(), expected);
  std::size_t left = kPieces;
  while (left > 0) {
    std::size_t pieces = std::min<std::size_t>(left, 2341);
    ASSERT_FALSE(assembler.Append(std::string_view(chunk).substr(0, pieces * kPiece.size())))
        << left;
    ASSERT_EQ(assembler.ExpectedOctets(), expected);
    left -= pieces;
  }
  EXPECT_FALSE(assembler.Append(":42"));
  EXPECT_EQ(assembler.ExpectedOctets(), expected);
  EXPECT_TRUE(assembler.Append(":MSGEND"));
  EXPECT_EQ(assembler.ExpectedOctets(), expected + 3);
  EXPECT_EQ(assembler.ExpectedOctets(), assembler.octets());

  clsElement list;
  SplitElements(assembler.text(), list, true);
  ASSERT_EQ(list.Count(), 15);
  EXPECT_EQ(list.Item(13).size(), kPieces * kPiece.size() + 10);
  EXPECT_EQ(LengthPrefixedContentOffset(list.Item(13)), 10u);
  EXPECT_EQ(list.Item(14), "42");
}

// A large content gets its room once: the buffer must not move again before the frame ends,
// neither for the elements after the content nor for characters of more than one byte.
TEST(FrameAssembler, LargeContentIsReceivedInPlace) {
  const std::pair<const char*, std::string> cases[] = {
      {"ASCII", "0123456789abcdef"},
      {"umlauts", "ä"},
      {"some umlauts", std::string(49, 'x') + "ü"},
  };
  for (const auto& [what, unit] : cases) {
    std::string content;
    while (content.size() < (6u << 20)) content += unit;
    const std::string frame =
        "VEXMSG:2:AIGET:1:f:T:a:b:1:2:t:u:" + LengthPrefixed(content) + ":123456789:MSGEND";
    FrameAssembler assembler;
    const char* settled = nullptr;
    bool complete = false;
    for (std::size_t pos = 0; pos < frame.size(); pos += 16384) {
      complete = assembler.Append(std::string_view(frame).substr(pos, 16384));
      if (settled == nullptr && assembler.size() >= (2u << 20)) settled = assembler.text().data();
    }
    ASSERT_TRUE(complete) << what;
    EXPECT_TRUE(assembler.text() == frame) << what;
    EXPECT_EQ(assembler.text().data(), settled) << what;
  }
}

// A large buffer handed back is received into again; whatever it held before must not show,
// and one too small must not be used.
TEST(FrameAssembler, ReceivesIntoARecycledBuffer) {
  const std::string content(3u << 20, 'c');
  const std::string frame =
      "VEXMSG:2:AIGET:1:f:T:a:b:1:2:t:u:" + LengthPrefixed(content) + ":42:MSGEND";
  struct Case {
    const char* what;
    std::size_t recycled;
    bool reused;
  } const cases[] = {
      {"large enough", 8u << 20, true},
      {"too small for the content", 2u << 20, false},
      {"too small to keep", 4096, false},
  };
  for (const auto& c : cases) {
    FrameAssembler assembler;
    std::string old(c.recycled, 'Z');
    const char* old_data = old.data();
    assembler.Recycle(std::move(old));
    bool complete = false;
    for (std::size_t pos = 0; pos < frame.size(); pos += 65536)
      complete = assembler.Append(std::string_view(frame).substr(pos, 65536));
    ASSERT_TRUE(complete) << c.what;
    EXPECT_TRUE(assembler.text() == frame) << c.what;
    // A buffer let go may be handed out again at the same address: only reuse is checked.
    if (c.reused) {
      EXPECT_EQ(assembler.text().data(), old_data) << c.what;
    }
  }
}

}  // namespace
}  // namespace vexcomm::transport
