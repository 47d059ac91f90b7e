#include "received_files.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

namespace vexcomm::test {
namespace {

using cli::ReceivedFiles;
using cli::SafeFileName;

TEST(SafeFileName, KeepsHarmlessNamesAndDisarmsHostileOnes) {
  struct Case {
    int32_t number;
    std::string name;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {18, "willkommen.txt", "18-willkommen.txt"},
      {8, "Grüße.txt", "8-Grüße.txt"},
      {-7, "x", "-7-x"},
      {1, "../../etc/passwd", "1-_._etc_passwd"},
      {2, "..", "2-datei"},
      {3, "", "3-datei"},
      {4,
       "a\x01"
       "b\x7f.txt",
       "4-a_b_.txt"},
      {5, ".bashrc", "5-bashrc"},
      {6, "  bericht.pdf  ", "6-bericht.pdf"},
      {9, "a....b", "9-a.b"},
      {10, "C:\\Windows\\x.dll", "10-C:_Windows_x.dll"},
      {11,
       "\xC2\x85"
       "next",
       "11-_next"},  // U+0085, a C1 control
      {12,
       "bad\xFF"
       "utf8",
       "12-bad_utf8"},  // not UTF-8
      {13,
       "line\xE2\x80\xA8"
       "break",
       "13-line_break"},  // U+2028
      {14, std::string(300, 'x'), "14-" + std::string(200, 'x')},
      // The cut never splits a character: 199 + 2 octets are cut back to 199.
      {15, std::string(199, 'x') + "ä", "15-" + std::string(199, 'x')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SafeFileName(c.number, c.name), c.expected) << c.number;
  }
}

std::string Read(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ReceivedFiles, OneFilePerNumberAndDeletionsTouchOnlyTheirNumber) {
  TempDir dir;
  const ReceivedFiles files(dir.path() / "out");
  files.Prepare();
  files.Save(1, "a.txt", "eins");
  files.Save(18, "b.txt", "achtzehn");
  files.Save(180, "c.txt", "hundertachtzig");
  // The name the server sent is never used as it stands.
  EXPECT_EQ(files.Save(2, "../../x", "zwei"), dir.path() / "out" / SafeFileName(2, "../../x"));
  // The same number again under another name replaces the earlier file.
  EXPECT_EQ(files.Save(1, "neu.txt", "eins neu"), dir.path() / "out" / "1-neu.txt");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out" / "1-a.txt"));
  EXPECT_EQ(Read(dir.path() / "out" / "1-neu.txt"), "eins neu");

  EXPECT_EQ(files.Remove(18), dir.path() / "out" / "18-b.txt");
  EXPECT_EQ(files.Remove(18), std::nullopt);
  EXPECT_EQ(files.Remove(7), std::nullopt);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "out" / "1-neu.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "out" / "180-c.txt"));
}

TEST(ReceivedFiles, ReplacesAPlantedLinkInsteadOfWritingThroughIt) {
  TempDir dir;
  const auto victim = dir.WriteFile("victim", "bleibt");
  const ReceivedFiles files(dir.path() / "out");
  files.Prepare();
  std::filesystem::create_symlink(victim, dir.path() / "out" / "5-x");
  files.Save(5, "x", "neu");
  EXPECT_EQ(Read(victim), "bleibt");
  EXPECT_FALSE(std::filesystem::is_symlink(dir.path() / "out" / "5-x"));
  EXPECT_EQ(Read(dir.path() / "out" / "5-x"), "neu");
  // A link of another name is no file of that number: a deletion leaves it and its target.
  std::filesystem::create_symlink(victim, dir.path() / "out" / "6-y");
  EXPECT_EQ(files.Remove(6), std::nullopt);
  EXPECT_EQ(Read(victim), "bleibt");
}

TEST(ReceivedFiles, FailsLoudlyWhenTheFolderCannotBeUsed) {
  TempDir dir;
  const auto blocker = dir.WriteFile("file", "");
  EXPECT_THROW(ReceivedFiles(blocker).Prepare(), std::runtime_error);
  EXPECT_THROW(ReceivedFiles(dir.path() / "missing").Save(1, "a", "b"), std::runtime_error);
}

TEST(ParseFileNumber, ReadsTheLeadingWholeNumber) {
  struct Case {
    std::string text;
    std::optional<int32_t> expected;
  };
  for (const auto& c : std::vector<Case>{{"17", 17},
                                         {" 17", 17},
                                         {"17x", 17},
                                         {"-3", -3},
                                         {"", std::nullopt},
                                         {"abc", std::nullopt},
                                         {"99999999999", std::nullopt}}) {
    EXPECT_EQ(cli::ParseFileNumber(c.text), c.expected) << c.text;
  }
}

}  // namespace
}  // namespace vexcomm::test
