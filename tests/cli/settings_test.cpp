#include "settings.h"

#include <sys/stat.h>

#include "cli_fixture.h"

namespace vexcomm::test {
namespace {

using cli::SettingSource;
using Env = std::map<std::string, std::string>;

cli::Environment FromMap(const Env& env) {
  return [&env](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
}

TEST(Settings, CommandLineBeatsEnvironmentBeatsConfigFileBeatsDefault) {
  TempDir tmp;
  tmp.WriteFile("vexcomm/config",
                "[Connection]\nca-file = ~/file.pem\nPROXY = \"file:1\"\nconnect-timeout=3\n"
                "idle-timeout = 4\n[output]\nout = /file/out\n");
  cli::GlobalOptions given;
  given.ca_file = "/cli.pem";
  given.connect_timeout = "1";
  const Env env = {{"XDG_CONFIG_HOME", tmp.path().string()}, {"HOME", "/home/u"},
                   {"VEXCOMM_CA_FILE", "/env.pem"},          {"HTTPS_PROXY", "http://env:2/"},
                   {"VEXCOMM_CONNECT_TIMEOUT", "2"},         {"VEXCOMM_IDLE_TIMEOUT", ""}};
  const struct {
    std::string_view key;
    std::optional<std::string> value;
    SettingSource source;
  } kExpected[] = {
      {"ca-file", "/cli.pem", SettingSource::kCommandLine},
      {"proxy", "http://env:2/", SettingSource::kEnvironment},
      {"proxy-user", std::nullopt, SettingSource::kDefault},
      {"connect-timeout", "1", SettingSource::kCommandLine},
      {"idle-timeout", "4", SettingSource::kConfigFile},  // an empty variable is unset
      {"out", "/file/out", SettingSource::kConfigFile},
  };
  const auto settings = cli::ResolveSettings(given, FromMap(env), true);
  for (const auto& want : kExpected) {
    auto it = std::find_if(settings.begin(), settings.end(),
                           [&](const auto& s) { return s.key == want.key; });
    ASSERT_NE(it, settings.end()) << want.key;
    EXPECT_EQ(it->value, want.value) << want.key;
    EXPECT_EQ(it->source, want.source) << want.key;
  }
  // One level down each: what the command line left open comes from the next source.
  const auto filled = cli::WithSettings({}, FromMap(env), true);
  EXPECT_EQ(filled.ca_file, "/env.pem");
  EXPECT_EQ(filled.connect_timeout, "2");
  EXPECT_EQ(cli::WithSettings(
                {}, FromMap({{"XDG_CONFIG_HOME", tmp.path().string()}, {"HOME", "/home/u"}}), true)
                .ca_file,
            "/home/u/file.pem");
  // A bad value names where it came from.
  EXPECT_THAT(UsageErrorOf([] {
                cli::WithSettings({}, FromMap({{"VEXCOMM_IDLE_TIMEOUT", "soon"}}), true);
              }),
              ::testing::HasSubstr("VEXCOMM_IDLE_TIMEOUT"));
  // A pipe as the config file is refused, not waited on.
  TempDir piped;
  std::filesystem::create_directories(piped.path() / "vexcomm");
  ASSERT_EQ(::mkfifo((piped.path() / "vexcomm" / "config").c_str(), 0600), 0);
  EXPECT_THAT(
      UsageErrorOf([&] {
        cli::ResolveSettings({}, FromMap({{"XDG_CONFIG_HOME", piped.path().string()}}), false);
      }),
      ::testing::HasSubstr("not a regular file"));
}

TEST(Settings, EachLineTheReaderPassesOverIsNamed) {
  const struct {
    std::string text;
    std::vector<std::string> warnings;  // "LINE: part of the text"
  } kCases[] = {
      {"\xEF\xBB\xBF[Connection]\n; note\n# note\nCA-File = a.pem\n\n[output]\nout=\"/o\"\n", {}},
      {"[conection]\nproxy = p:1\nnonsense\n",
       {"1: unknown section [conection], its settings are ignored (did you mean [connection]?)",
        "3: not a setting"}},
      {"[connection]\nca-file=\nproxy = \"\"\n",
       {"2: ca-file has no value", "3: proxy has no value"}},
      {"[connection]\nca_file = a.pem\nout = /o\nconnect-timeout = 1\nconnect-timeout = 2\n",
       {"2: unknown setting ca_file, ignored (did you mean ca-file?)",
        "3: out belongs in section [output]", "5: a second connect-timeout is ignored"}},
      {"out = /o\n[connection]\n[output]\n[Connection ]\nproxy = p:1\nca-file=\n",
       {"1: out belongs in section [output]", "4: a second [connection] section is ignored"}},
      {"[connection\n[]\n", {"1: not a setting", "2: unknown section []"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    TempDir tmp;
    tmp.WriteFile("config", c.text);
    const auto warnings = cli::ConfigFileWarnings(tmp.path() / "config");
    ASSERT_EQ(warnings.size(), c.warnings.size());
    for (std::size_t i = 0; i < warnings.size(); ++i) {
      EXPECT_THAT(warnings[i],
                  ::testing::HasSubstr((tmp.path() / "config").string() + ":" + c.warnings[i]));
    }
  }
}

TEST(Settings, ProxyFromTheEnvironmentAsCurlReadsIt) {
  const struct {
    Env env;
    std::optional<std::string> host;  // none: refused
    std::optional<std::string> user, password;
  } kCases[] = {
      {{{"https_proxy", "http://p.lan:3128"}}, "p.lan", {}, {}},
      {{{"https_proxy", "p.lan:3128"}, {"HTTPS_PROXY", "other:1"}}, "p.lan", {}, {}},
      {{{"HTTPS_PROXY", "HTTP://q.lan:8080/"}}, "q.lan", {}, {}},
      {{{"https_proxy", "http://ann:s3:cr%40t@p.lan:1"}}, "p.lan", "ann", "s3:cr@t"},
      {{{"https_proxy", "socks5://p.lan:1080"}}, std::nullopt, {}, {}},
      {{{"https_proxy", "http://p.lan"}}, std::nullopt, {}, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.env.begin()->second);
    if (!c.host) {
      EXPECT_THROW(cli::WithSettings({}, FromMap(c.env), true), cli::UsageError);
      continue;
    }
    const auto global = cli::WithSettings({}, FromMap(c.env), true);
    ASSERT_TRUE(global.proxy);
    EXPECT_EQ(cli::ParseProxy(*global.proxy, "proxy", true).host, *c.host);
    EXPECT_EQ(global.proxy_user, c.user);
    EXPECT_EQ(global.proxy_password, c.password);
  }
  // Credentials never come from the command line or the config file.
  EXPECT_THROW(cli::ParseProxy("http://ann:pw@p.lan:1", "--proxy", false), cli::UsageError);

  const struct {
    std::string_view no_proxy, host;
    bool direct;
  } kNoProxy[] = {
      {"*", "vexmsg.example.de", true},
      {"example.de", "vexmsg.example.de", true},
      {".example.de", "EXAMPLE.DE", true},
      {"localhost, example.de", "vexmsg.example.de", true},
      {"ample.de", "vexmsg.example.de", false},
      {"vexmsg.example.de.evil", "vexmsg.example.de", false},
      {"", "vexmsg.example.de", false},
  };
  for (const auto& c : kNoProxy) {
    EXPECT_EQ(cli::NoProxyMatches(c.no_proxy, c.host), c.direct) << c.no_proxy;
  }
}

}  // namespace
}  // namespace vexcomm::test
