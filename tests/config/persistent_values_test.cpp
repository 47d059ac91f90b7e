#include "config/persistent_values.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <vexcomm/host.h>
#include <vexcomm/identity.h>

#include "config/cls_registry.h"
#include "config/registry_store.h"
#include "support/temp_dir.h"

namespace vexcomm::config {
namespace {

using test::TempDir;

TEST(PersistentValuesTest, RecordsRoundTrip) {
  std::vector<PersistentRecord> records(4);
  records[1].user = {"11122233", "4711", 17, "J\u00FCrgen", "M\u00FCller", "j@example.org"};
  records[1].attempts = 3;
  records[2].user = {"a\"b\\c", "line\nbreak", INT32_MAX, "", " ", ""};
  records[2].user.EMail = std::string("x\0y", 3);
  records[2].attempts = INT32_MIN;
  records[3].user.DateiNr = -1;
  TempDir tmp;
  const auto dir = tmp.path() / "neu" / "registry";
  for (std::size_t i = 0; i < records.size(); ++i) {
    ASSERT_TRUE(StorePersistentValues(dir, records[i])) << i;
    const PersistentRecord loaded = LoadPersistentValues(dir);
    EXPECT_EQ(loaded.user, records[i].user) << i;
    EXPECT_EQ(loaded.attempts, records[i].attempts) << i;
  }
  // The record is the user's alone, and so are the folders made for it and for a host's own.
  vexcomm::CreatePrivateFolders(tmp.path() / "host" / "own");
  using std::filesystem::perms;
  for (const auto& path :
       {tmp.path() / "neu", dir, tmp.path() / "host", tmp.path() / "host" / "own"}) {
    EXPECT_EQ(std::filesystem::status(path).permissions(), perms::owner_all) << path;
  }
  EXPECT_EQ(std::filesystem::status(RegistryStore(dir).FileOf(HKEY_CURRENT_USER)).permissions(),
            perms::owner_read | perms::owner_write);
}

TEST(PersistentValuesTest, StoresUnderTheComponentsKeyBesideOtherValues) {
  TempDir tmp;
  RegistryStore store(tmp.path());
  ASSERT_TRUE(store.SetValue(HKEY_CURRENT_USER, "Software\\VexComm5", "Fremd", {REG_SZ, "f"}));
  PersistentRecord record;
  record.user.DateiNr = 0x01020304;
  record.attempts = 2;
  ASSERT_TRUE(StorePersistentValues(tmp.path(), record));
  EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, "Software\\VexComm5", "DateiNr"),
            (RegistryValue{REG_DWORD, "\x04\x03\x02\x01"}));
  EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, "Software\\VexComm5", "Verbindungsversuche"),
            (RegistryValue{REG_DWORD, std::string("\x02\0\0\0", 4)}));
  EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, "Software\\VexComm5", "Fremd"),
            (RegistryValue{REG_SZ, "f"}));
}

TEST(PersistentValuesTest, NumbersWrittenAsTextStillCount) {
  const std::pair<std::string, int32_t> cases[] = {
      {"17", 17}, {"-3", -3}, {"", 0}, {"12x", 0}, {"x", 0}};
  TempDir tmp;
  for (const auto& [text, value] : cases) {
    clsRegistry reg(tmp.path());
    reg.ClassKey = HKEY_CURRENT_USER;
    reg.SectionKey = "Software\\VexComm5";
    reg.ValueKey = "DateiNr";
    reg.Value(automation::Variant(text));
    EXPECT_EQ(LoadPersistentValues(tmp.path()).user.DateiNr, value) << text;
  }
}

TEST(PersistentValuesTest, AStoreThatCannotBeWrittenReportsFalseAndNoneReadsAsFresh) {
  TempDir tmp;
  const PersistentRecord fresh = LoadPersistentValues(tmp.path() / "never-written");
  EXPECT_EQ(fresh.user, clsUserDaten{});
  EXPECT_EQ(fresh.attempts, 0);
  const auto file = tmp.WriteFile("registry", "a file where the folder should be");
  PersistentRecord record;
  record.user.DateiNr = 5;
  EXPECT_FALSE(StorePersistentValues(file, record));
  EXPECT_EQ(LoadPersistentValues(file).user.DateiNr, 0);
}

TEST(PersistentValuesTest, ReadIdentityRefusesAStoreItCannotTrust) {
  struct Case {
    std::string name;
    std::string content;  // empty: a folder where the file belongs
    bool throws;
  } const cases[] = {
      {"clean", "[Software\\VexComm5]\n\"DateiNr\"=dword:00000014\n", false},
      {"garbage", "[Software\\VexComm5]\n\"DateiNr\"=dword:00000014\n\x01\xff junk\n", true},
      {"cut", "[Software\\VexComm5]\n\"DateiNr\"=dword:00000014\n\"BLZ\"=sz:\"11", true},
      {"unreadable", "", true},
  };
  for (const auto& c : cases) {
    TempDir tmp;
    const auto file = RegistryStore(tmp.path()).FileOf(HKEY_CURRENT_USER);
    if (c.content.empty()) {
      std::filesystem::create_directories(file);
    } else {
      tmp.WriteFile(file.filename().string(), c.content);
    }
    if (!c.throws) {
      EXPECT_EQ(ReadIdentity(tmp.path()).DateiNr, 20) << c.name;
      continue;
    }
    EXPECT_THROW(ReadIdentity(tmp.path()), std::runtime_error) << c.name;
    if (c.content.empty()) {
      EXPECT_THROW(WriteIdentity(tmp.path(), Identity{}), std::runtime_error);
      continue;
    }
    // Kept aside; what could be read carries on.
    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(tmp.path()))
      aside += entry.path().filename().string().find(".corrupt-") != std::string::npos;
    EXPECT_EQ(aside, 1) << c.name;
    EXPECT_EQ(ReadIdentity(tmp.path()).DateiNr, 20) << c.name;
  }
}

}  // namespace
}  // namespace vexcomm::config
