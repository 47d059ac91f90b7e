#include "cli_fixture.h"

#include <fstream>
#include <sstream>

#include <vexcomm/quotes.h>

#include "child_process.h"
#include "config/persistent_values.h"

namespace vexcomm::test {

using nlohmann::json;

void CliTest::SetUp() {
  ini = tmp.path() / "ini";
  data = tmp.path() / "data";
  registry = tmp.path() / "registry";
  out = tmp.path() / "out";
  for (const auto& dir : {ini, data, registry}) std::filesystem::create_directories(dir);
  std::ofstream(ini / "MorvaZedi.ini") << "[Comm]\r\nIP = vexmsg.test\r\n";
  ASSERT_TRUE(CreateTemplateDatabase(ini / "Kurse.dat"));
  WriteIdentity(0);
  pki = std::make_unique<TestPki>(std::vector<std::string>{"vexmsg.test"});
}

void CliTest::WriteIdentity(int32_t datei_nr) {
  config::PersistentRecord record;
  record.user = {"11122233", "4711", datei_nr, "Erika", "Mustermann", "erika@example.test"};
  ASSERT_TRUE(config::StorePersistentValues(registry, record));
}

void CliTest::StartServer(const json& scenario) {
  vexmsg::ServerOptions options;
  options.cert_file = pki->cert_file();
  options.key_file = pki->key_file();
  options.threads = 1;
  server =
      std::make_unique<vexmsg::Server>(options, vexmsg::Scenario::FromJson(scenario, tmp.path()));
}

std::vector<std::string> CliTest::Globals() const {
  return {
      "--ini-dir",      ini.string(),
      "--data-dir",     data.string(),
      "--registry-dir", registry.string(),
      "--ca-file",      pki->ca_file().string(),
      "--connect-to",   "vexmsg.test:443:127.0.0.1:" + std::to_string(server ? server->port() : 9),
      "--out",          out.string(),
      "--idle-timeout", "30"};
}

CliRun CliTest::Run(std::vector<std::string> args, const std::map<std::string, std::string>& env,
                    bool with_globals) {
  if (with_globals) {
    auto globals = Globals();
    args.insert(args.begin(), globals.begin(), globals.end());
  }
  // Nothing of the caller's own settings: an empty variable counts as unset.
  std::map<std::string, std::string> environment = {
      {"HOME", tmp.path().string()},
      {"XDG_CONFIG_HOME", (tmp.path() / "xdg").string()},
      {"VEXCOMM_PROXY_PASSWORD", ""},
      {"https_proxy", ""},
      {"HTTPS_PROXY", ""},
      {"no_proxy", ""},
      {"NO_PROXY", ""},
      // English unless a case asks for another language.
      {"LANG", "C"},
      {"LC_ALL", ""},
      {"LC_MESSAGES", ""},
      {"LANGUAGE", ""}};
  for (const auto& [key, value] : env) environment[key] = value;
  ChildProcess child(Binary(), args, environment);
  CliRun run;
  run.status = child.Finish(std::chrono::seconds(90));
  run.out = child.out();
  run.err = child.err();
  run.lines = ParseLines(run.out);
  return run;
}

std::vector<std::string> CliTest::NewRequests() {
  const auto all = server->Requests();
  std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(requests_seen),
                                 all.end());
  requests_seen = all.size();
  return fresh;
}

std::string CliTest::Binary() {
  return VEXCOMM_CLI_BINARY;
}

std::vector<OrderedJson> CliTest::ParseLines(const std::string& text) {
  std::vector<OrderedJson> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line.front() != '{') continue;
    lines.push_back(OrderedJson::parse(line, nullptr, false));
  }
  return lines;
}

std::vector<std::string> CliTest::Keys(const OrderedJson& object) {
  std::vector<std::string> keys;
  if (!object.is_object()) return keys;
  for (const auto& item : object.items()) keys.push_back(item.key());
  return keys;
}

json StandardScenario() {
  return json::parse(R"({
    "installations": [{"blz": "11122233", "kundennr": "4711", "files": [
      {"nr": 1, "name": "brief.txt", "typ": "txt", "titel": "Ein Brief",
       "content": "Hallo: @ Welt\r\nÄÖÜ €"},
      {"nr": 2, "name": "liste.csv", "typ": "CSV", "von": "01.12.2026", "bis": "31.12.2026",
       "dauer": 7, "wichtigkeit": 2, "titel": "Liste", "url": "www.example.test/liste",
       "content": "a;b\r\n1;2\r\n"},
      {"nr": 3, "typ": "DELETE", "ref": 1}]}],
    "rules": [
      {"code": "AKTGA", "raw": "VEXMSG:2:AITGA:01.12.2026:::Bank A|11122233*Tagesgeld Plus|1000|50000|monatlich|1|info|neu|3 Monate~0|2,5|3|1,0|12:MSGEND"},
      {"code": "AKFGA", "raw": "VEXMSG:2:AIFGA:02.12.2026:::Bank B|22233344*Festgeld|5000|100000|jährlich|0|info|neu~5000|1,0|1,5|2,0|2,2|2,5|2,7:MSGEND"},
      {"code": "AKWDT", "raw": "VEXMSG:2:AIWDT:05.12.2026:MSGEND"},
      {"code": "AKWPK", "raw": "VEXMSG:2:AIWPK:716460:DE0007164600:SAP SE:01.12.2026*140,10#02.12.2026*141,20:MSGEND"},
      {"code": "AKLOG", "notice": {"number": "10", "text": "Erhalten"}},
      {"code": "AKPWD", "notice": {"number": "10", "text": "Erhalten"}}]})");
}

}  // namespace vexcomm::test
