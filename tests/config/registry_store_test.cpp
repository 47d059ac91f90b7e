#include "config/registry_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace vexcomm::config {
namespace {

using test::ReadFile;
using test::TempDir;
using NamedValue = RegistryStore::NamedValue;

constexpr std::string_view kKey = "Software\\VexComm5";

std::string AllBytes() {
  std::string s;
  for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
  return s;
}

// Values of every type, and names and bytes that need escaping in the file.
std::vector<NamedValue> OddValues() {
  using namespace std::string_literals;
  return {
      {"BLZ", {REG_SZ, "11122233\0"s}},
      {"", {REG_SZ, "the key's default value\0"s}},
      {"Quote\"Back\\slash", {REG_SZ, "a \"b\" \\c\\\0"s}},
      {"Lines\nin\rname", {REG_SZ, "one\ntwo\r\nthree\t\0"s}},
      {"Umlaut \xC3\xA4", {REG_SZ, "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\0"s}},
      {"Invalid UTF-8", {REG_SZ, "\xC3\x28\xFF\x80\x7F\0"s}},
      {"Inner NUL", {REG_SZ, "a\0b\0"s}},
      {"No terminator", {REG_SZ, "raw"}},
      {"Empty string", {REG_SZ, ""}},
      {"Expand", {REG_EXPAND_SZ, "%HOME%\\x\0"s}},
      {"Multi", {REG_MULTI_SZ, "a\0bc\0\0"s}},
      {"Dword", {REG_DWORD, "\x11\x00\x00\x00"s}},
      {"Dword max", {REG_DWORD, "\xFF\xFF\xFF\xFF"s}},
      {"Short dword", {REG_DWORD, "\x01\x02\x03"s}},
      {"Binary", {REG_BINARY, AllBytes()}},
      {"Empty binary", {REG_BINARY, ""}},
      {"None", {REG_NONE, ""}},
      {"Qword", {11, "\x01\x02\x03\x04\x05\x06\x07\x08"s}},
      {"Large type", {0xFFFFFFFF, "\x01"s}},
  };
}

TEST(RegistryStoreTest, EveryTypeAndKeyNameSurvivesAReloadFromDisk) {
  TempDir tmp;
  const auto values = OddValues();
  const std::vector<std::string> keys = {std::string(kKey),        "Br]acket\\[Open",
                                         "Per%cent\\%41",          "New\nLine\\Tab\tX",
                                         "\xFF\xC3\\\xE2\x82\xAC", "Ends\\With%"};
  {
    RegistryStore writer(tmp.path());
    for (const auto& key : keys)
      ASSERT_TRUE(writer.SetValues(HKEY_CURRENT_USER, key, values)) << key;
  }
  const RegistryStore reader(tmp.path());
  for (const auto& key : keys) {
    for (const auto& [name, value] : values)
      EXPECT_EQ(reader.QueryValue(HKEY_CURRENT_USER, key, name), value) << key << "/" << name;
  }
  EXPECT_FALSE(reader.KeyExists(HKEY_CURRENT_USER, "Per%cent\\A"));
}

TEST(RegistryStoreTest, KeyPathsAreCaseInsensitiveAndKeepTheirFirstCase) {
  TempDir tmp;
  RegistryStore store(tmp.path());
  ASSERT_TRUE(store.CreateKey(HKEY_CURRENT_USER, "Software\\VexComm5"));
  ASSERT_TRUE(store.CreateKey(HKEY_CURRENT_USER, "SOFTWARE\\VEXCOMM5\\Sub\\"));
  ASSERT_TRUE(store.SetValue(HKEY_CURRENT_USER, "software\\vexcomm5", "BLZ", {REG_SZ, "1"}));
  ASSERT_TRUE(store.SetValues(HKEY_CURRENT_USER, "Software\\VexComm5",
                              {{"bLz", {REG_SZ, "x"}},
                               {"blz", {REG_SZ, "2"}},  // the last wins
                               {"DateiNr", {REG_DWORD, std::string("\x11\0\0\0", 4)}}}));
  ASSERT_TRUE(store.CreateKey(HKEY_CURRENT_USER, "\xC3\xA4rger"));

  const std::pair<std::string, bool> cases[] = {
      {"", true},  // the root itself
      {"Software", true},
      {"software\\VEXCOMM5", true},
      {"Software\\VexComm5\\SUB", true},
      {"Software\\VexComm", false},
      {"Software\\VexComm5\\Sub\\Deeper", false},
      {"\xC3\x84RGER", true},
      {"\\Software", false},
      {"Software\\\\VexComm5", false},
  };
  for (const auto& [key, exists] : cases)
    EXPECT_EQ(store.KeyExists(HKEY_CURRENT_USER, key), exists) << key;
  EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, "SOFTWARE\\VexComm5", "Blz"),
            (RegistryValue{REG_SZ, "2"}));
  const std::string file = ReadFile(store.FileOf(HKEY_CURRENT_USER));
  EXPECT_NE(file.find("[Software\\VexComm5\\Sub]\n"), std::string::npos) << file;
  EXPECT_NE(file.find("\"BLZ\"=sz:\"2\"\n\"DateiNr\"=dword:00000011\n"), std::string::npos) << file;
  EXPECT_EQ(file.find("blz"), std::string::npos) << file;
}

TEST(RegistryStoreTest, RootsAreSeparateAndOnlyPredefinedOnesExist) {
  TempDir tmp;
  RegistryStore store(tmp.path());
  const std::vector<int32_t> roots = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
                                      HKEY_USERS, HKEY_CURRENT_CONFIG};
  for (std::size_t i = 0; i < roots.size(); ++i)
    ASSERT_TRUE(store.SetValue(roots[i], kKey, "Root", {REG_DWORD, std::string(4, char(i))}));
  for (std::size_t i = 0; i < roots.size(); ++i) {
    EXPECT_EQ(store.QueryValue(roots[i], kKey, "Root"),
              (RegistryValue{REG_DWORD, std::string(4, char(i))}));
  }
  for (int32_t bad : {0, 1, static_cast<int32_t>(0x80000004u), static_cast<int32_t>(0x80000006u)}) {
    EXPECT_FALSE(store.KeyExists(bad, ""));
    EXPECT_FALSE(store.CreateKey(bad, kKey));
    EXPECT_FALSE(store.SetValue(bad, kKey, "x", {REG_SZ, "x"}));
    EXPECT_FALSE(store.QueryValue(bad, kKey, "Root").has_value());
  }
  for (std::string_view key : {"", "\\x", "a\\\\b", "\\"})
    EXPECT_FALSE(store.CreateKey(HKEY_CURRENT_USER, key)) << key;
}

TEST(RegistryStoreTest, ACutFileYieldsOnlyCompleteLines) {
  TempDir tmp;
  auto values = OddValues();
  for (auto& [name, value] : values) {
    if (value.data.size() > 16) value.data.resize(16);  // short lines: the file is cut at each byte
  }
  RegistryStore store(tmp.path());
  ASSERT_TRUE(store.SetValues(HKEY_CURRENT_USER, kKey, values));
  const auto file = store.FileOf(HKEY_CURRENT_USER);
  const std::string full = ReadFile(file);

  for (std::size_t cut = 0; cut <= full.size(); ++cut) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << full.substr(0, cut);
    for (const auto& [name, value] : values) {
      const auto got = store.QueryValue(HKEY_CURRENT_USER, kKey, name);
      // A value is there exactly when its whole line (with its newline) is; names written with
      // escapes are not searched for.
      const std::string line_start = "\n\"" + name + "\"=";
      const auto pos = name.find_first_of("\"\\\n\r") == std::string::npos ? full.find(line_start)
                                                                           : std::string::npos;
      if (got) {
        EXPECT_EQ(*got, value) << "cut " << cut << " " << name;
      }
      if (pos != std::string::npos) {
        const bool complete = full.find('\n', pos + 1) < cut;
        EXPECT_EQ(got.has_value(), complete) << "cut " << cut << " " << name;
      }
    }
  }
}

TEST(RegistryStoreTest, GarbageLinesAreSkippedAndTheFileIsKeptAsideBeforeAWrite) {
  TempDir tmp;
  std::vector<std::string> notices;
  RegistryStore store(tmp.path(), [&](const std::string& text) { notices.push_back(text); });
  std::mt19937 random(12345);
  std::string garbage;
  for (int i = 0; i < 20000; ++i) garbage += static_cast<char>(random() & 0xFF);
  const std::string content = garbage + "\n[Software\\VexComm5]\n\"A\"=sz:\"ok\"\n" +
                              "\"B\"=sz:\"unterminated\n\"C\"=hex:0g\n\"D\"=dword:123\n" +
                              "\"E\"=bogus:1\n\"F\"=hex(x):00\n\"G\"=sz:\"bad \\q escape\"\n" +
                              "[\\bad]\n\"H\"=sz:\"under a bad key\"\n[Software\\VexComm5]\n" +
                              "\"I\"=dword:0000002a\n[New%0ALine]\n\"L\"=sz:\"upper\"\n" + garbage +
                              "\n";
  std::filesystem::create_directories(tmp.path());
  std::ofstream(store.FileOf(HKEY_CURRENT_USER), std::ios::binary) << content;
  EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, kKey, "A"), (RegistryValue{REG_SZ, "ok"}));
  EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, kKey, "I"),
            (RegistryValue{REG_DWORD, std::string("\x2A\0\0\0", 4)}));
  // Escapes written by hand may use capitals.
  EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, "New\nLine", "L"),
            (RegistryValue{REG_SZ, "upper"}));
  for (const char* damaged : {"B", "C", "D", "E", "F", "G", "H"})
    EXPECT_FALSE(store.QueryValue(HKEY_CURRENT_USER, kKey, damaged)) << damaged;
  EXPECT_TRUE(notices.empty());
  // The next write keeps what was readable; the damaged file is kept aside and named.
  ASSERT_TRUE(store.SetValue(HKEY_CURRENT_USER, kKey, "J", {REG_SZ, "new"}));
  EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, kKey, "A"), (RegistryValue{REG_SZ, "ok"}));
  std::vector<std::filesystem::path> aside;
  for (const auto& entry : std::filesystem::directory_iterator(tmp.path())) {
    if (entry.path().filename().string().starts_with("HKEY_CURRENT_USER.txt.corrupt-"))
      aside.push_back(entry.path());
  }
  ASSERT_EQ(aside.size(), 1u);
  // Named by the time it was put aside; a counter only when that name is taken.
  EXPECT_TRUE(std::regex_match(aside[0].filename().string(),
                               std::regex(R"(HKEY_CURRENT_USER\.txt\.corrupt-\d{8}-\d{6})")))
      << aside[0];
  EXPECT_EQ(ReadFile(aside[0]), content);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find(aside[0].string()), std::string::npos) << notices[0];
  // A clean file is not put aside again.
  ASSERT_TRUE(store.SetValue(HKEY_CURRENT_USER, kKey, "K", {REG_SZ, "next"}));
  EXPECT_EQ(notices.size(), 1u);
}

TEST(RegistryStoreTest, AFileThatCannotBeReadIsNeverReplaced) {
  TempDir tmp;
  std::vector<std::string> notices;
  RegistryStore store(tmp.path(), [&](const std::string& text) { notices.push_back(text); });
  // Unreadable: a folder where the file belongs reads as EISDIR, as a file without rights would.
  std::filesystem::create_directories(store.FileOf(HKEY_CURRENT_USER) / "inside");
  EXPECT_FALSE(store.ReadKey(HKEY_CURRENT_USER, kKey));
  EXPECT_FALSE(store.SetValue(HKEY_CURRENT_USER, kKey, "DateiNr", {REG_DWORD, "\x12\0\0\0"}));
  EXPECT_TRUE(std::filesystem::exists(store.FileOf(HKEY_CURRENT_USER) / "inside"));
  EXPECT_EQ(notices.size(), 2u);
}

TEST(RegistryStoreTest, AFailedWriteLeavesTheOldFileIntact) {
  TempDir tmp;
  RegistryStore store(tmp.path());
  ASSERT_TRUE(store.SetValue(HKEY_CURRENT_USER, kKey, "DateiNr", {REG_DWORD, "\x11\0\0\0"}));
  const auto file = store.FileOf(HKEY_CURRENT_USER);
  const std::string before = ReadFile(file);
  // The temporary file cannot be created where a folder of its name stands.
  std::filesystem::path temp = file;
  temp += ".tmp";
  std::filesystem::create_directory(temp);
  EXPECT_FALSE(store.SetValue(HKEY_CURRENT_USER, kKey, "DateiNr", {REG_DWORD, "\x12\0\0\0"}));
  EXPECT_FALSE(store.CreateKey(HKEY_CURRENT_USER, "Software\\New"));
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_FALSE(store.KeyExists(HKEY_CURRENT_USER, "Software\\New"));
  std::filesystem::remove(temp);
  EXPECT_TRUE(store.SetValue(HKEY_CURRENT_USER, kKey, "DateiNr", {REG_DWORD, "\x12\0\0\0"}));
}

// The values one save of generation `gen` writes: all of them name the generation, and a large
// one between them makes each write take a while.
std::vector<NamedValue> Generation(int gen) {
  const std::string g = std::to_string(gen);
  return {{"First", {REG_SZ, g}},
          {"Blob", {REG_BINARY, std::string(16 * 1024, static_cast<char>(gen))}},
          {"Last", {REG_SZ, g}}};
}

TEST(RegistryStoreTest, ReadersNeverSeeAHalfWrittenFileEvenWhenTheWriterIsKilled) {
  TempDir tmp;
  RegistryStore store(tmp.path());
  ASSERT_TRUE(store.SetValues(HKEY_CURRENT_USER, kKey, Generation(0)));

  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    for (int gen = 1;; ++gen) {
      if (!store.SetValues(HKEY_CURRENT_USER, kKey, Generation(gen % 100))) ::_exit(2);
      if (gen == 1) {
        const char byte = 1;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(3);
      }
    }
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  // While the child saves again and again, every read sees one whole file: the last line is
  // there and the large value is complete.
  int whole_reads = 0;
  for (int i = 0; i < 50; ++i) {
    const auto last = store.QueryValue(HKEY_CURRENT_USER, kKey, "Last");
    const auto blob = store.QueryValue(HKEY_CURRENT_USER, kKey, "Blob");
    whole_reads += last.has_value() && blob.has_value() && blob->data.size() == 16 * 1024;
  }
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself: " << status;
  EXPECT_EQ(whole_reads, 50);

  // After the kill the file holds one generation, all of it.
  const auto first = store.QueryValue(HKEY_CURRENT_USER, kKey, "First");
  ASSERT_TRUE(first.has_value());
  const int gen = std::stoi(first->data);
  for (const auto& [name, value] : Generation(gen))
    EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, kKey, name), value) << name << " gen " << gen;
  // The lock died with the child, and its leftover temporary file is no obstacle.
  EXPECT_TRUE(store.SetValues(HKEY_CURRENT_USER, kKey, Generation(7)));
  EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, kKey, "Last"), (RegistryValue{REG_SZ, "7"}));
}

TEST(RegistryStoreTest, ConcurrentWritersLoseNoUpdate) {
  TempDir tmp;
  constexpr int kWrites = 25;
  std::vector<pid_t> children;
  for (const char* name : {"X", "Y"}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      RegistryStore store(tmp.path());
      for (int i = 1; i <= kWrites; ++i) {
        if (!store.SetValue(HKEY_CURRENT_USER, kKey, name, {REG_SZ, std::to_string(i)})) ::_exit(2);
      }
      ::_exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  // Each write re-reads the file under the lock: the other writer's last value survives.
  RegistryStore store(tmp.path());
  for (const char* name : {"X", "Y"}) {
    EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, kKey, name),
              (RegistryValue{REG_SZ, std::to_string(kWrites)}))
        << name;
  }
}

}  // namespace
}  // namespace vexcomm::config
