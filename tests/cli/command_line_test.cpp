#include "command_line.h"

#include "cli_fixture.h"

namespace vexcomm::test {
namespace {

using cli::ParseCommandLine;
using cli::UsageError;
using Strings = std::vector<std::string>;

TEST(CommandLine, GlobalOptionsStandAnywhereAndCommandOptionsAfterTheCommand) {
  auto line = ParseCommandLine(
      {"--json", "quotes", "--out=/tmp/o", "--stocks", "s.csv", "--write-db", "--ini-dir", "/i"});
  ASSERT_NE(line.command, nullptr);
  EXPECT_EQ(line.command->name, "quotes");
  EXPECT_EQ(line.command->modus, 14);
  EXPECT_TRUE(line.global.json);
  EXPECT_EQ(line.global.out, "/tmp/o");
  EXPECT_EQ(line.global.ini_dir, "/i");
  EXPECT_EQ(line.Value("--stocks"), "s.csv");
  EXPECT_TRUE(line.Has("--write-db"));
  EXPECT_FALSE(line.Has("--from-db"));

  // Each flag sets its own field and no other.
  line = ParseCommandLine({"--json-content", "--utf8-text", "get-new"});
  EXPECT_TRUE(line.global.json_content && line.global.utf8_text);
  EXPECT_FALSE(line.global.no_wait || line.global.json || line.version);

  line = ParseCommandLine({"db", "delete", "--", "-716460"});
  EXPECT_EQ(line.command->name, "db delete");
  EXPECT_EQ(line.arguments, Strings{"-716460"});

  line = ParseCommandLine({"user", "set", "--datei-nr=0", "--email", "a@b"});
  EXPECT_EQ(line.Value("--datei-nr"), "0");
  EXPECT_EQ(line.Value("--email"), "a@b");

  line = ParseCommandLine({"help", "db"});
  EXPECT_TRUE(line.help);
  EXPECT_EQ(line.group, "db");
  EXPECT_THAT(cli::HelpText(line), ::testing::HasSubstr("init-template DIR"));
}

TEST(CommandLine, RefusesWhatItCannotMeanWithAReason) {
  struct Case {
    Strings args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "no command"},
      {{"--json"}, "no command"},
      {{"fetch"}, "unknown command 'fetch'"},
      {{"user"}, "needs a subcommand"},
      {{"db", "drop"}, "unknown command 'db drop'"},
      {{"--stocks", "x", "quotes"}, "unknown option --stocks"},
      {{"tagesgeld", "--stocks", "x"}, "unknown option --stocks for tagesgeld"},
      {{"quotes", "--stocks"}, "--stocks needs a value"},
      {{"quotes", "--write-db=1"}, "takes no value"},
      {{"--json=yes", "get-new"}, "takes no value"},
      {{"run"}, "run wants MODUS"},
      {{"run", "2", "3"}, "run wants MODUS"},
      {{"get-new", "now"}, "takes no arguments, got 'now'"},
      {{"db", "delete"}, "db delete wants WKN"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(UsageErrorOf([&] { ParseCommandLine(c.args); }), ::testing::HasSubstr(c.message))
        << ::testing::PrintToString(c.args);
  }
}

TEST(CommandLine, ConnectToAndProxyFollowCurlsForms) {
  struct Case {
    std::string text;
    std::string host;
    unsigned port;
    std::string address;
    unsigned address_port;
  };
  const std::vector<Case> cases = {
      {"vexmsg.test:443:127.0.0.1:8443", "vexmsg.test", 443, "127.0.0.1", 8443},
      {"vexmsg.test::[::1]:8443", "vexmsg.test", 0, "::1", 8443},
      {"vexmsg.test:443:backend.test:", "vexmsg.test", 443, "backend.test", 0},
  };
  for (const auto& c : cases) {
    const auto p = cli::ParseConnectTo(c.text);
    EXPECT_EQ(std::tie(p.host, p.port, p.address, p.address_port),
              std::tie(c.host, c.port, c.address, c.address_port));
  }
  for (const char* bad : {"vexmsg.test:443", ":443:a:1", "h:70000:a:1", "h:443:a:x", "h:1:2:3:4"}) {
    EXPECT_THROW(cli::ParseConnectTo(bad), UsageError) << bad;
  }
  EXPECT_EQ(cli::ParseHostPort("[::1]:3128", "--proxy"), std::make_pair(std::string("::1"), 3128u));
  EXPECT_THROW(cli::ParseHostPort("proxy:0", "--proxy"), UsageError);
  for (const char* secret : {"vex:geheim@proxy:3128", "vex:geheim@proxy", "geheim@[::1]:1"}) {
    const std::string refusal = UsageErrorOf([&] { cli::ParseHostPort(secret, "--proxy"); });
    EXPECT_NE(refusal, "") << secret;
    EXPECT_THAT(refusal, ::testing::Not(::testing::HasSubstr("geheim")));
  }
  EXPECT_EQ(cli::ParseSeconds("1.5", "t"), 1500);
  EXPECT_EQ(cli::ParseSeconds("0", "t"), 0);
  EXPECT_THROW(cli::ParseSeconds("-1", "t"), UsageError);
  EXPECT_THROW(cli::ParseSeconds("5s", "t"), UsageError);
  EXPECT_THROW(cli::ParseSpeed("-1", "s"), UsageError);
  // Pins as curl writes them; the option may be given again for a second key.
  const std::string a = std::string(43, 'A') + "=", b = "sha256//" + std::string(43, '/') + "=";
  EXPECT_EQ(cli::ParsePins("sha256//" + a + "; " + b, "p"), (Strings{"sha256//" + a, b}));
  EXPECT_EQ(
      ParseCommandLine({"--pin-sha256", a, "check-new", "--pin-sha256=" + b}).global.pin_sha256,
      a + ";" + b);
  for (const std::string& bad : {a.substr(1), a + "A", "sha1//" + a, std::string(";")}) {
    EXPECT_THROW(cli::ParsePins(bad, "p"), UsageError) << bad;
  }
}

}  // namespace
}  // namespace vexcomm::test
