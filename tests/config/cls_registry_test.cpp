#include "config/cls_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <vexcomm/error.h>

#include "config/registry_store.h"
#include "support/temp_dir.h"

namespace vexcomm::config {
namespace {

using automation::Variant;
using automation::VariantArray;
using test::TempDir;
using namespace std::string_literals;

constexpr const char* kKey = "Software\\VexComm5\\Test";

clsRegistry MakeRegistry(const TempDir& tmp, std::string value_key, std::string section = kKey,
                         int32_t root = HKEY_CURRENT_USER) {
  clsRegistry reg(tmp.path());
  reg.ClassKey = root;
  reg.SectionKey = std::move(section);
  reg.ValueKey = std::move(value_key);
  return reg;
}

VariantArray Bytes(std::initializer_list<int16_t> bytes) {
  VariantArray out;
  for (int16_t b : bytes) out.emplace_back(b);
  return out;
}

TEST(ClsRegistryTest, ValueGetByStoredType) {
  struct Case {
    std::string name;
    RegistryValue stored;
    Variant expected;
  } const cases[] = {
      {"sz", {REG_SZ, "abc\0"s}, Variant("abc")},
      {"sz without terminator", {REG_SZ, "abc"}, Variant("ab")},  // size - 1, as stored
      {"sz of no bytes", {REG_SZ, ""}, Variant("")},
      {"blank of size 1", {REG_SZ, " "}, Variant("")},
      {"multi", {REG_MULTI_SZ, "a\0bc\0\0"s}, Variant("a\0bc\0"s)},
      {"utf-8", {REG_SZ, "gr\xC3\xBC\xC3\x9F\0"s}, Variant("gr\xC3\xBC\xC3\x9F")},
      {"dword", {REG_DWORD, "\x2A\0\0\0"s}, Variant(int32_t{42})},
      {"dword -1", {REG_DWORD, "\xFF\xFF\xFF\xFF"s}, Variant(int32_t{-1})},
      {"dword min", {REG_DWORD, "\0\0\0\x80"s}, Variant(int32_t{INT32_MIN})},
      {"expand is not expanded", {REG_EXPAND_SZ, "%X%\0"s}, Variant(Bytes({37, 88, 37, 0}))},
      {"binary", {REG_BINARY, "\x00\xFF\x80"s}, Variant(Bytes({0, 255, 128}))},
      {"empty binary", {REG_BINARY, ""}, Variant(VariantArray{})},
      {"qword", {11, "\x01\x02"s}, Variant(Bytes({1, 2}))},
  };
  TempDir tmp;
  RegistryStore store(tmp.path());
  for (const auto& c : cases) {
    ASSERT_TRUE(store.SetValue(HKEY_CURRENT_USER, kKey, c.name, c.stored));
    EXPECT_EQ(MakeRegistry(tmp, c.name).Value(), c.expected) << c.name;
  }
}

TEST(ClsRegistryTest, MissingReadsAsEmptyNotEmptyText) {
  TempDir tmp;
  RegistryStore(tmp.path()).SetValue(HKEY_CURRENT_USER, kKey, "There", {REG_SZ, "x\0"s});
  struct Case {
    int32_t root;
    std::string section, value;
  } const cases[] = {
      {HKEY_CURRENT_USER, kKey, "Missing"},
      {HKEY_CURRENT_USER, "Software\\Nowhere", "There"},
      {HKEY_LOCAL_MACHINE, kKey, "There"},
      {0, kKey, "There"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(MakeRegistry(tmp, c.value, c.section, c.root).Value().is_empty())
        << c.section << "/" << c.value;
  }
  EXPECT_EQ(MakeRegistry(tmp, "There").Value(), Variant("x"));
}

TEST(ClsRegistryTest, ValuePutStoresTextThatReadsBack) {
  struct Case {
    Variant written;
    std::string stored;  // REG_SZ bytes
    Variant read;
  } const cases[] = {
      {Variant(""), " ", Variant("")},
      {Variant(), " ", Variant("")},
      {Variant(int32_t{42}), "42\0"s, Variant("42")},
      {Variant(int16_t{-7}), "-7\0"s, Variant("-7")},
      {Variant(true), "True\0"s, Variant("True")},
      {Variant("Max Mustermann"), "Max Mustermann\0"s, Variant("Max Mustermann")},
      {Variant("gr\xC3\xBC\xC3\x9F"), "gr\xC3\xBC\xC3\x9F\0"s, Variant("gr\xC3\xBC\xC3\x9F")},
      {Variant(" "), " \0"s, Variant(" ")},
  };
  TempDir tmp;
  const RegistryStore store(tmp.path());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    clsRegistry reg = MakeRegistry(tmp, "V" + std::to_string(i));
    reg.Value(c.written);
    EXPECT_EQ(store.QueryValue(HKEY_CURRENT_USER, kKey, reg.ValueKey),
              (RegistryValue{REG_SZ, c.stored}))
        << i;
    EXPECT_EQ(reg.Value(), c.read) << i;
  }
}

TEST(ClsRegistryTest, KeysAreCreatedWithTheirParents) {
  TempDir tmp;
  clsRegistry reg = MakeRegistry(tmp, "x");
  EXPECT_FALSE(reg.KeyExists());
  EXPECT_TRUE(reg.CreateKey());
  EXPECT_TRUE(reg.KeyExists());
  EXPECT_TRUE(reg.CreateKey());  // opening an existing key succeeds too
  reg.SectionKey = "Software\\VexComm5";
  EXPECT_TRUE(reg.KeyExists());

  reg.SectionKey = "Software\\Put\\Creates";
  reg.Value(Variant("v"));
  EXPECT_TRUE(reg.KeyExists());
}

TEST(ClsRegistryTest, CreateKeyFailureRaises26001AndPutStaysQuiet) {
  TempDir tmp;
  const std::pair<int32_t, std::string> cases[] = {
      {HKEY_CURRENT_USER, "\\Leading"},
      {HKEY_CURRENT_USER, "Double\\\\Separator"},
      {static_cast<int32_t>(0x80000004u), "Software"},
  };
  for (const auto& [root, section] : cases) {
    clsRegistry reg = MakeRegistry(tmp, "x", section, root);
    try {
      reg.CreateKey();
      ADD_FAILURE() << "no error for " << section;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errnum::kRegistry);
      EXPECT_EQ(e.description(), "Failed to create registry Key: '" + section);
      EXPECT_EQ(e.source(), "VexComm5.cRegistry");
    }
    EXPECT_NO_THROW(reg.Value(Variant("ignored")));
    EXPECT_FALSE(reg.KeyExists());
    EXPECT_TRUE(reg.Value().is_empty());
  }
}

}  // namespace
}  // namespace vexcomm::config
