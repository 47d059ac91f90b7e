// A traced run of each operation, replayed by the reference server from its trace.

#include "cli_fixture.h"
#include "config/persistent_values.h"

namespace vexcomm::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Strings = std::vector<std::string>;

// Values that must never reach a masked trace; none of them can stand in a time stamp.
const Strings kSecrets = {"86420975",         "KdNr-3141",          "Zacharias",    "Quellenhof",
                          "zq@trace.example", "Geheimes Protokoll", "Kennwort weg", "29.02.2028"};

class TraceTest : public CliTest {
 protected:
  void SetIdentity() {
    config::PersistentRecord record;
    record.user = {"86420975", "KdNr-3141", 0, "Zacharias", "Quellenhof", "zq@trace.example"};
    ASSERT_TRUE(config::StorePersistentValues(registry, record));
  }
  void StartReplay(const fs::path& trace) {
    vexmsg::ServerOptions options;
    options.cert_file = pki->cert_file();
    options.key_file = pki->key_file();
    options.replay = vexmsg::Replay::Load(trace);
    replay = options.replay;
    server = std::make_unique<vexmsg::Server>(options, vexmsg::Scenario{});
  }
  // The run's JSON lines; a file's content by its length, since a replay brings filler.
  static Strings Outcome(const CliRun& run) {
    Strings lines{std::to_string(run.status)};
    for (auto line : run.lines) {
      if (line.contains("Datei")) line["Datei"] = line["Datei"].get<std::string>().size();
      lines.push_back(line.dump());
    }
    return lines;
  }
  std::shared_ptr<vexmsg::Replay> replay;
};

TEST_F(TraceTest, EachOperationReplaysFromItsMaskedTraceToTheSameOutcome) {
  json scenario = StandardScenario();
  scenario["installations"][0]["blz"] = "86420975";
  scenario["installations"][0]["kundennr"] = "KdNr-3141";
  // Long enough to be masked: the replay brings filler of its length.
  scenario["installations"][0]["files"].push_back(
      {{"nr", 4}, {"name", "gross.txt"}, {"typ", "txt"}, {"content", std::string(900, 'g')}});
  const auto stocks = tmp.WriteFile("stocks.csv",
                                    "WKN,ISIN,Name,VonDatum,BisDatum\r\n716460,DE0007164600,"
                                    "SAP SE,01.12.2026,05.12.2026\r\n");
  const auto log = tmp.WriteFile("support.log", "Geheimes Protokoll: Zeile 1\r\n");
  struct Case {
    Strings args;
    json rule;                    // added to the scenario of the recorded run
    Strings replay_args = {};     // another command line for the replayed run
    std::string divergence = {};  // what the replay must report then
  };
  const std::vector<Case> cases = {
      {{"quote-date"}, nullptr},
      {{"tagesgeld"}, nullptr},
      {{"festgeld"}, nullptr},
      {{"quotes", "--stocks", stocks.string(), "--write-db"}, nullptr},
      {{"new-quotes"}, nullptr},
      {{"all-quotes", "--from-db"}, nullptr},
      {{"send-log", "--log-file", log.string(), "--datum", "29.02.2028", "--text", "x"}, nullptr},
      {{"send-password", "--datum", "29.02.2028", "--text", "Kennwort weg"}, nullptr},
      {{"get-new"}, nullptr},
      {{"get-new"},
       {{"code", "AKGET"}, {"nth", 2}, {"error", {{"number", "9999"}, {"text", "W"}}}}},
      {{"get-new"}, {{"code", "AKGET"}, {"nth", 3}, {"close", "clean"}}},
      {{"quote-date"}, nullptr, {"tagesgeld"}, "request 1 (AKTGA): element 3 is «AKTGA»"},
  };
  for (const auto& c : cases) {
    const std::string label = c.args.front() + (c.rule.is_null() ? "" : " " + c.rule.dump());
    json recorded = scenario;
    if (!c.rule.is_null()) recorded["rules"].insert(recorded["rules"].begin(), c.rule);
    StartServer(recorded);
    SetIdentity();
    const fs::path before = tmp.path() / "before", trace = tmp.path() / "run.trace";
    fs::remove_all(before);
    fs::copy(data, before, fs::copy_options::recursive);
    Strings args = c.args;
    args.insert(args.begin(), {"--json", "--trace", trace.string()});
    const CliRun first = Run(args);

    const std::string bytes = ReadFile(trace);
    EXPECT_TRUE(bytes.starts_with(R"({"schema":"vexcomm-trace/1","masked":true,)")) << label;
    EXPECT_EQ(fs::status(trace).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    for (const auto& secret : kSecrets) EXPECT_EQ(bytes.find(secret), bytes.npos) << secret;

    fs::remove_all(data);
    fs::copy(before, data, fs::copy_options::recursive);
    SetIdentity();
    StartReplay(trace);
    Strings again = c.replay_args.empty() ? c.args : c.replay_args;
    again.insert(again.begin(), "--json");
    const CliRun second = Run(again);
    if (c.divergence.empty()) {
      EXPECT_EQ(Outcome(second), Outcome(first)) << label << "\n" << bytes;
      EXPECT_EQ(replay->Divergences(), Strings{}) << label;
      EXPECT_EQ(replay->Remaining(), 0u) << label;
    } else {
      ASSERT_EQ(replay->Divergences().size(), 1u) << label;
      EXPECT_THAT(replay->Divergences()[0], ::testing::StartsWith(c.divergence));
    }
  }
  const CliRun shown = Run({"trace", "show", (tmp.path() / "run.trace").string()}, {}, false);
  EXPECT_THAT(shown.out, ::testing::ContainsRegex(R"(\+ +0\.000s  connect  vexmsg\.test:443)"));
  EXPECT_THAT(shown.out, ::testing::HasSubstr("->       VEXMSG:2:AKWDT:MSGEND"));
  EXPECT_THAT(shown.out, ::testing::HasSubstr("pin     " + pki->PublicKeyPin()));
  // An unmasked trace says so from its first line on, and trace show marks it.
  StartServer(scenario);
  const fs::path unmasked = tmp.path() / "unmasked.trace";
  ASSERT_EQ(Run({"--trace", unmasked.string(), "--trace-unmasked", "quote-date"}).status, 0);
  EXPECT_TRUE(ReadFile(unmasked).starts_with(R"({"schema":"vexcomm-trace/1","masked":false,)"));
  EXPECT_THAT(Run({"trace", "show", unmasked.string()}, {}, false).out,
              ::testing::StartsWith("(unmasked trace)"));
}

}  // namespace
}  // namespace vexcomm::test
