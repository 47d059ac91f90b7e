#include "config/ini_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace vexcomm::config {
namespace {

using test::TempDir;

struct IniCase {
  std::string name;
  std::string content;
  std::string section;
  std::string key;
  std::string expected;
};

const std::string kDefault = "DEF";

// The bytes a Windows editor writes for "Unicode": a byte-order mark, then UTF-16LE.
std::string Utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::vector<IniCase> Cases() {
  const std::string long300(300, 'x');
  std::string umlauts300;
  for (int i = 0; i < 300; ++i) umlauts300 += "\xC3\xA4";
  std::string umlauts254;
  for (int i = 0; i < 254; ++i) umlauts254 += "\xC3\xA4";
  return {
      {"plain", "[Comm]\nIP=1.2.3.4\n", "Comm", "IP", "1.2.3.4"},
      {"no final newline", "[Comm]\nIP=host", "Comm", "IP", "host"},
      {"crlf", "[Comm]\r\nIP=host.example\r\nX=1\r\n", "Comm", "IP", "host.example"},
      {"case of names", "[cOMM]\nip=x\n", "COMM", "Ip", "x"},
      {"umlaut names", "[\xC3\xA4rger]\n\xC3\xBC=x\n", "\xC3\x84RGER", "\xC3\x9C", "x"},
      {"blanks", "[Comm]\n  IP  =   spaced value \t\n", "Comm", "IP", "spaced value"},
      {"every kind of blank", "[Comm]\nIP=\v\f x\r\f\v\n", "Comm", "IP", "x"},
      {"blanks in section", "[ Comm ]\nIP=x\n", "Comm", "IP", "x"},
      {"an empty section name ends the section", "[Comm]\n[]\nIP=x\n", "Comm", "IP", kDefault},
      {"indented lines", "  [Comm]\n\tIP=x\n", "Comm", "IP", "x"},
      {"double quotes", "[Comm]\nIP=\"quoted\"\n", "Comm", "IP", "quoted"},
      {"single quotes", "[Comm]\nIP='quoted'\n", "Comm", "IP", "quoted"},
      {"blanks inside quotes", "[Comm]\nIP= \"  x  \" \n", "Comm", "IP", "  x  "},
      {"one pair only", "[Comm]\nIP=\"\"x\"\"\n", "Comm", "IP", "\"x\""},
      {"mismatched quotes", "[Comm]\nIP=\"abc'\n", "Comm", "IP", "\"abc'"},
      {"opening quote only", "[Comm]\nIP=\"abc\n", "Comm", "IP", "\"abc"},
      {"closing quote only", "[Comm]\nIP=abc\"\n", "Comm", "IP", "abc\""},
      {"lone quote", "[Comm]\nIP=\"\n", "Comm", "IP", "\""},
      {"empty quotes", "[Comm]\nIP=\"\"\n", "Comm", "IP", kDefault},
      {"empty value", "[Comm]\nIP=\n", "Comm", "IP", kDefault},
      {"blank value", "[Comm]\nIP=   \n", "Comm", "IP", kDefault},
      {"no equals sign", "[Comm]\nIP\n", "Comm", "IP", kDefault},
      {"equals in value", "[Comm]\nIP=a=b\n", "Comm", "IP", "a=b"},
      {"missing key", "[Comm]\nPort=443\n", "Comm", "IP", kDefault},
      {"key prefix", "[Comm]\nIPX=1\nI=2\n", "Comm", "IP", kDefault},
      {"missing section", "[Other]\nIP=x\n", "Comm", "IP", kDefault},
      {"key of another section", "[Other]\nIP=x\n[Comm]\nY=1\n[Third]\nIP=z\n", "Comm", "IP",
       kDefault},
      {"key before any section", "IP=x\n[Comm]\n", "Comm", "IP", kDefault},
      {"first key wins", "[Comm]\nIP=a\nip=b\n", "Comm", "IP", "a"},
      {"first section wins", "[Comm]\nIP=first\n[Other]\n[comm]\nIP=second\n", "Comm", "IP",
       "first"},
      {"comment lines", "; [Comm]\n[Comm]\n;IP=commented\n  ; IP=too\nIP=real\n", "Comm", "IP",
       "real"},
      {"byte order mark", "\xEF\xBB\xBF[Comm]\nIP=x\n", "Comm", "IP", "x"},
      {"byte order mark, windows-1252 after it", "\xEF\xBB\xBF[Comm]\nIP=gr\xFC\n", "Comm", "IP",
       "gr\xC3\xBC"},
      {"utf-16le", Utf16Le(u"[comm]\r\n  ip = \"gr\u00FC\u00DF \U0001F600\" \r\n"), "Comm", "IP",
       "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80"},
      {"utf-16le, unpaired surrogate", Utf16Le(u"[Comm]\nIP=a\xD800z\n"), "Comm", "IP", "a\uFFFDz"},
      {"utf-16le, 254 characters", Utf16Le(u"[Comm]\nIP=" + std::u16string(300, u'\u00E4')), "Comm",
       "IP", umlauts254},
      {"utf-8 value", "[Comm]\nIP=gr\xC3\xBC\xC3\x9F\n", "Comm", "IP", "gr\xC3\xBC\xC3\x9F"},
      {"windows-1252 file", "[Comm]\nIP=gr\xFC\xDF\n", "Comm", "IP", "gr\xC3\xBC\xC3\x9F"},
      {"binary file", std::string("[Comm]\nIP=x\n\0\x01\x02", 15), "Comm", "IP", kDefault},
      {"long value", "[Comm]\nIP=" + long300 + "\n", "Comm", "IP", long300.substr(0, 254)},
      {"long value in quotes", "[Comm]\nIP=\"" + long300 + "\"\n", "Comm", "IP",
       long300.substr(0, 254)},
      {"254 characters, not bytes", "[Comm]\nIP=" + umlauts300 + "\n", "Comm", "IP", umlauts254},
      {"empty file", "", "Comm", "IP", kDefault},
  };
}

TEST(IniReaderTest, ProfileStringSemantics) {
  TempDir tmp;
  for (const auto& c : Cases()) {
    const auto path = tmp.WriteFile("case.ini", c.content);
    EXPECT_EQ(LeseIni(path.string(), c.section, c.key, kDefault), c.expected) << c.name;
  }
}

TEST(IniReaderTest, UnreadablePathsGiveTheDefault) {
  TempDir tmp;
  std::filesystem::create_directory(tmp.path() / "folder.ini");
  for (const std::string& path : {tmp.dir() + "missing.ini", tmp.dir() + "folder.ini",
                                  tmp.dir() + "missing/x.ini", std::string()}) {
    EXPECT_EQ(LeseIni(path, "Comm", "IP", kDefault), kDefault) << path;
  }
}

TEST(IniReaderTest, ServerHostComesFromTheIniFileWhenItExists) {
  struct Case {
    std::string name;
    std::string file;  // below the temporary folder; empty: none
    std::string content;
    std::string ini_dir;  // appended to the temporary folder's path
    ServerHost expected;
  } const cases[] = {
      {"no file", "", "", "/", {"std.example", false}},
      {"with key", "MorvaZedi.ini", "[Comm]\nIP=10.0.0.1\n", "/", {"10.0.0.1", true}},
      {"without key", "MorvaZedi.ini", "[Comm]\n", "/", {"std.example", true}},
      {"empty key", "MorvaZedi.ini", "[Comm]\nIP=\n", "/", {"std.example", true}},
      {"binary", "MorvaZedi.ini", std::string("\0\0", 2), "/", {"std.example", true}},
      // Hidden files and folders of that name count as missing (HostServicesTest).
      {"a folder of that name", "MorvaZedi.ini/x", "", "/", {"std.example", false}},
      // The directory ends in its separator; none is inserted.
      {"no separator added", "iniMorvaZedi.ini", "[Comm]\nIP=joined\n", "/ini", {"joined", true}},
  };
  for (const auto& c : cases) {
    TempDir tmp;
    if (!c.file.empty()) tmp.WriteFile(c.file, c.content);
    const ServerHost host = SelectServerHost(tmp.path().string() + c.ini_dir, "std.example");
    EXPECT_EQ(host.host, c.expected.host) << c.name;
    EXPECT_EQ(host.from_ini, c.expected.from_ini) << c.name;
  }
}

}  // namespace
}  // namespace vexcomm::config
