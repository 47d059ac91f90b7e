#include "received_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
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
      {4, "a\1b\177.txt", "4-a_b_.txt"},
      {5, ".bashrc", "5-bashrc"},
      {6, "  bericht.pdf  ", "6-bericht.pdf"},
      {9, "a....b", "9-a.b"},
      {10, "C:\\Windows\\x.dll", "10-C:_Windows_x.dll"},
      {11, "\u0085next", "11-_next"},      // a C1 control
      {12, "bad\xFFutf8", "12-bad_utf8"},  // not UTF-8
      {13, "line\u2028break", "13-line_break"},
      {14, std::string(300, 'x'), "14-" + std::string(200, 'x')},
      // The cut never splits a character: 199 + 2 octets are cut back to 199.
      {15, std::string(199, 'x') + "ä", "15-" + std::string(199, 'x')},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.number, c.name), c.expected) << c.number;
}

TEST(ReceivedFiles, SavesTheOctetsSentOrTextAsUtf8) {
  TempDir dir;
  ReceivedFiles files(dir.path() / "out");
  // Written in pieces of 256 KiB: a character across the end of a piece stays whole.
  const std::string x((256 << 10) - 1, 'x');
  const std::string text = x + "€ä" + x + "€ä";
  EXPECT_EQ(ReadFile(files.Save(1, "gross.txt", text)), x + "\x80\xE4" + x + "\x80\xE4");
  EXPECT_EQ(ReadFile(files.Save(2, "gross.txt", text, cli::SaveAs::kUtf8)), text);
  // Text has no control character but tab, line ends and form feed, and no undefined octet.
  const std::vector<std::pair<std::string, bool>> cases = {{"Zeile\r\n\tGrüße, 5 €\f", true},
                                                           {std::string("a\0b", 3), false},
                                                           {"\x1b[31mrot", false},
                                                           {"\u0081", false},
                                                           {"\x7f", false},
                                                           {"\u00a0", true}};
  for (const auto& [content, is_text] : cases) EXPECT_EQ(cli::IsText(content), is_text) << content;
}

TEST(ReceivedFiles, ReplacesAndRemovesOnlyWhatItSaved) {
  TempDir dir;
  const auto out = dir.path() / "out";
  // The user's own files, with the numbers and even the names of files that will come.
  const auto contract = dir.WriteFile("out/18-vertrag.pdf", "privat");
  const auto same_name = dir.WriteFile("out/1-a.txt", "auch privat");
  const auto victim = dir.WriteFile("victim", "bleibt");
  std::filesystem::create_symlink(victim, out / "5-x");
  {
    ReceivedFiles files(out);
    EXPECT_EQ(files.Save(1, "a.txt", "eins"), out / "1-a-2.txt");
    EXPECT_EQ(files.Save(5, "x", "fünf"), out / "5-x-2");
    files.Save(18, "b.txt", "achtzehn");
    files.Save(180, "c.txt", "hundertachtzig");
    // The name the server sent is never used as it stands.
    EXPECT_EQ(files.Save(2, "../../x", "zwei"), out / SafeFileName(2, "../../x"));
    // The same number again replaces the file saved under it, under the new name.
    EXPECT_EQ(files.Save(1, "neu.txt", "eins neu"), out / "1-neu.txt");
    EXPECT_FALSE(std::filesystem::exists(out / "1-a-2.txt"));
    EXPECT_EQ(files.Save(1, "neu.txt", "eins neuer"), out / "1-neu.txt");
  }
  // A later run knows what an earlier one saved.
  ReceivedFiles files(out);
  EXPECT_EQ(files.Remove(18), out / "18-b.txt");
  EXPECT_EQ(files.Remove(18), std::nullopt);
  EXPECT_EQ(files.Remove(6), std::nullopt);
  EXPECT_EQ(files.Remove(5), out / "5-x-2");
  EXPECT_EQ(ReadFile(out / "1-neu.txt"), "eins neuer");
  EXPECT_TRUE(std::filesystem::exists(out / "180-c.txt"));
  EXPECT_EQ(ReadFile(contract), "privat");
  EXPECT_EQ(ReadFile(same_name), "auch privat");
  EXPECT_TRUE(std::filesystem::is_symlink(out / "5-x"));
  EXPECT_EQ(ReadFile(victim), "bleibt");
}

TEST(ReceivedFiles, PrivateFilesAndFoldersAndNoStaleTemps) {
  TempDir dir;
  const auto out = dir.path() / "neu" / "out";
  struct Case {
    std::string name;
    bool old;
    bool stays;
  };
  const std::vector<Case> temps = {
      {".vexcomm-999999999-Ab12Cd", false, false},                         // its writer is gone
      {".vexcomm-" + std::to_string(::getpid()) + "-Ab12Cd", true, true},  // still writing
      {".vexcomm-Ab12Cd", true, false},
      {".vexcomm-Xy34Zw", false, true},
      {"7-.vexcomm-1-a", true, true},
  };
  for (const auto& t : temps) {
    dir.WriteFile("neu/out/" + t.name, "x");
    if (t.old) {
      std::filesystem::last_write_time(
          out / t.name, std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
    }
  }
  std::filesystem::permissions(out, std::filesystem::perms::all);
  ReceivedFiles files(out);
  const auto saved = files.Save(1, "a.txt", "eins");
  for (const auto& t : temps) EXPECT_EQ(std::filesystem::exists(out / t.name), t.stays) << t.name;
  using std::filesystem::perms;
  EXPECT_EQ(std::filesystem::status(saved).permissions(), perms::owner_read | perms::owner_write);
  EXPECT_EQ(std::filesystem::status(out).permissions(), perms::all);  // the user's, as it was

  ReceivedFiles fresh(dir.path() / "neu" / "a" / "b");
  fresh.Prepare();
  for (const auto& made : {dir.path() / "neu" / "a", dir.path() / "neu" / "a" / "b"}) {
    EXPECT_EQ(std::filesystem::status(made).permissions(), perms::owner_all) << made;
  }
}

TEST(ReceivedFiles, FailsLoudlyWhenTheFolderCannotBeUsed) {
  TempDir dir;
  const auto blocker = dir.WriteFile("file", "");
  EXPECT_THROW(ReceivedFiles(blocker).Prepare(), std::runtime_error);
  // The record cannot be written: the file is not kept either, and nothing is recorded.
  std::filesystem::create_directories(dir.path() / "out" / ReceivedFiles::kRecordName);
  ReceivedFiles files(dir.path() / "out");
  EXPECT_THROW(files.Save(1, "a", "b"), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out" / "1-a"));
  EXPECT_EQ(files.Remove(1), std::nullopt);
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
