#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include <vexcomm/deposits.h>
#include <vexcomm/host.h>
#include <vexcomm/identity.h>
#include <vexcomm/quotes.h>
#include <vexcomm/text.h>

#include "commands/commands.h"
#include "host_session.h"
#include "messages.h"
#include "object_views.h"
#include "signal_cancel.h"
#include "svg_chart.h"
#include "vexmsg-server/lib/server.h"
#include "vexmsg-server/lib/throwaway_pki.h"

namespace vexcomm::cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kHost = "vexmsg.demo.test";
constexpr const char* kBlz = "11122233";
constexpr const char* kKundenNr = "4711";

// ---- the sample data, from which both the server's answers and the checks are made ----------

struct DemoFile {
  int32_t nr;
  std::string name;
  std::string typ;
  std::string titel;
  std::string content;
  int32_t ref = 0;  // for a deletion notice: the file it withdraws
};

std::vector<DemoFile> Files() {
  return {
      {1, "willkommen.txt", "TXT", "Willkommen bei VEX-Morva Online",
       "Liebe Kundin, lieber Kunde,\r\n\r\nherzlich willkommen! Ihre Kontoumsätze, Kurse und "
       "Zinsangebote kommen ab heute über VexComm.\r\nFragen? support@vex-morva.example, "
       "Telefon: 0221 / 12 34 56.\r\n\r\nMit freundlichen Grüßen\r\nIhr VEX-Morva-Team\r\n"},
      {2, "wartung.txt", "TXT", "Wartungsarbeiten am Wochenende",
       "Am Samstag zwischen 22:00 und 23:00 Uhr ist der Dienst nicht erreichbar.\r\n"},
      {3, "zinsen-2027.html", "HTML", "Neue Zinsen ab Januar",
       "<html><body><h1>Neue Zinsen</h1><p>Tagesgeld Plus: 3,10 % p.a. für Neukunden – "
       "garantiert für 3 Monate.</p></body></html>\r\n"},
      {4, "", "DELETE", "", "", 2},  // the maintenance is off: its notice is withdrawn
  };
}

struct Tier {
  std::string ab, anfang;
  int32_t gueltig_anfang;
  std::string danach;
  int32_t gueltig_danach;
};
struct Row {
  std::string ab;
  std::array<std::string, 6> zins;
};
struct Product {
  std::string name, mindest, maximal, gutschrift;
  bool neukunde;
  std::string url_info, url_neu, gueltigkeit;
  std::vector<Tier> tiers;
  std::vector<Row> rows;
};
struct Provider {
  std::string name, blz;
  std::vector<Product> products;
};

std::vector<Provider> Tagesgeld() {
  return {
      {"Nordbank AG",
       "20050000",
       {{"Tagesgeld Plus",
         "1000",
         "500000",
         "monatlich",
         true,
         "nordbank.example/tagesgeld",
         "nordbank.example/konto-eroeffnen",
         "3 Monate",
         {{"0", "3,10", 3, "2,25", 12}, {"50000", "2,90", 3, "2,10", 12}},
         {}},
        {"Tagesgeld Basis",
         "1",
         "1000000",
         "vierteljährlich",
         false,
         "nordbank.example/basis",
         "nordbank.example/konto-eroeffnen",
         "unbefristet",
         {{"0", "1,75", 12, "1,75", 12}},
         {}}}},
      {"Sparkasse Musterstadt",
       "37050198",
       {{"Extra-Tagesgeld",
         "5000",
         "250000",
         "jährlich",
         true,
         "sparkasse-musterstadt.example/tagesgeld",
         "sparkasse-musterstadt.example/antrag",
         "6 Monate",
         {{"0", "2,75", 6, "1,50", 12}},
         {}}}},
  };
}

std::vector<Provider> Festgeld() {
  return {
      {"Nordbank AG",
       "20050000",
       {{"Festgeld Klassik",
         "5000",
         "1000000",
         "zum Laufzeitende",
         false,
         "nordbank.example/festgeld",
         "nordbank.example/konto-eroeffnen",
         "",
         {},
         {{"5000", {"2,00", "2,40", "2,60", "2,70", "2,80", "2,85"}},
          {"100000", {"2,10", "2,50", "2,70", "2,80", "2,90", "2,95"}}}}}},
      {"Direktbank Süd",
       "76030080",
       {{"Zinsfest",
         "2500",
         "500000",
         "jährlich",
         true,
         "direktbank-sued.example/zinsfest",
         "direktbank-sued.example/antrag",
         "",
         {},
         {{"2500", {"1,80", "2,20", "2,55", "2,65", "2,90", "3,00"}}}}}},
  };
}

// The condition list of an AITGA or AIFGA reply: "#" providers, "*" products, "~" rates.
std::string ConditionList(const std::vector<Provider>& providers, bool festgeld) {
  std::string list;
  for (const auto& provider : providers) {
    if (!list.empty()) list += "#";
    list += provider.name + "|" + provider.blz;
    for (const auto& p : provider.products) {
      list += "*" + p.name + "|" + p.mindest + "|" + p.maximal + "|" + p.gutschrift + "|" +
              (p.neukunde ? "1" : "0") + "|" + p.url_info + "|" + p.url_neu;
      if (!festgeld) {
        list += "|" + p.gueltigkeit;
        for (const auto& t : p.tiers) {
          list += "~" + t.ab + "|" + t.anfang + "|" + std::to_string(t.gueltig_anfang) + "|" +
                  t.danach + "|" + std::to_string(t.gueltig_danach);
        }
      } else {
        for (const auto& r : p.rows) {
          list += "~" + r.ab;
          for (const auto& z : r.zins) list += "|" + z;
        }
      }
    }
  }
  return list;
}

// The tree the component should build from that list, in the shape of DepositTreeJson.
Json ExpectedTree(const std::string& datum, const std::vector<Provider>& providers, bool festgeld) {
  Json anbieter = Json::array();
  for (const auto& provider : providers) {
    Json produkte = Json::array();
    for (const auto& p : provider.products) {
      Json zinsen = Json::array();
      Json zinsen_festgeld = Json::array();
      for (const auto& t : p.tiers) {
        zinsen.push_back(Json{{"AbBetrag", t.ab},
                              {"ZinsAnfang", t.anfang},
                              {"GueltigZinsAnfang", t.gueltig_anfang},
                              {"ZinsDanach", t.danach},
                              {"GueltigZinsDanach", t.gueltig_danach}});
      }
      for (const auto& r : p.rows) {
        zinsen_festgeld.push_back(Json{{"AbBetrag", r.ab},
                                       {"Zins_01", r.zins[0]},
                                       {"Zins_03", r.zins[1]},
                                       {"Zins_06", r.zins[2]},
                                       {"Zins_09", r.zins[3]},
                                       {"Zins_12", r.zins[4]},
                                       {"Zins_18", r.zins[5]}});
      }
      produkte.push_back(Json{{"Name", p.name},
                              {"MindestAnlage", p.mindest},
                              {"MaximalAnlage", p.maximal},
                              {"Gutschrift", p.gutschrift},
                              {"Neukunde", p.neukunde},
                              {"URLInfo", p.url_info},
                              {"URLNeu", p.url_neu},
                              {"ZinsGueltigkeit", festgeld ? "" : p.gueltigkeit},
                              {"Zinsen", std::move(zinsen)},
                              {"ZinsenFestgeld", std::move(zinsen_festgeld)}});
    }
    anbieter.push_back(
        Json{{"Name", provider.name}, {"BLZ", provider.blz}, {"Produkte", std::move(produkte)}});
  }
  return Json{{"Datum", datum}, {"Anbieter", std::move(anbieter)}};
}

struct Stock {
  std::string wkn, isin, name;
  double base;
};

const std::vector<Stock>& Stocks() {
  static const std::vector<Stock> stocks = {
      {"716460", "DE0007164600", "SAP SE", 142.50},
      {"723610", "DE0007236101", "Siemens AG", 171.20},
      {"840400", "DE0008404005", "Allianz SE", 268.40},
  };
  return stocks;
}

// Quotes per WKN: date -> price, as the server sends and Kurse.dat should hold them.
using QuoteTable = std::map<std::string, std::map<std::string, std::string>>;

std::string Price(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  std::string price = text;
  for (char& c : price) c = c == '.' ? ',' : c;
  return price;
}

// The five weekdays up to today, oldest first.
std::vector<std::string> TradingDays() {
  std::vector<std::chrono::sys_days> days;
  const HostServices host = DefaultHostServices();
  for (auto day = host.today(); days.size() < 5; day -= std::chrono::days(1)) {
    const std::chrono::weekday wd{day};
    if (wd != std::chrono::Saturday && wd != std::chrono::Sunday) days.insert(days.begin(), day);
  }
  std::vector<std::string> texts;
  for (auto day : days) texts.push_back(host.date_to_text(day));
  return texts;
}

// The first quote run gets days 1 to 4; the new-quotes run a corrected day 4 and day 5.
QuoteTable QuotesOfRun(int run) {
  const auto days = TradingDays();
  QuoteTable table;
  for (std::size_t s = 0; s < Stocks().size(); ++s) {
    const Stock& stock = Stocks()[s];
    auto& quotes = table[stock.wkn];
    const std::size_t first = run == 1 ? 0 : 3;
    const std::size_t last = run == 1 ? 3 : 4;
    for (std::size_t d = first; d <= last; ++d) {
      double price = stock.base * (1.0 + 0.004 * static_cast<double>(d) -
                                   0.003 * static_cast<double>((d + s) % 3));
      if (run == 2 && d == 3) price += 0.35;  // the late correction of that day's close
      quotes[days[d]] = Price(price);
    }
  }
  return table;
}

std::string QuoteReply(const Stock& stock, const std::map<std::string, std::string>& quotes) {
  std::string list;
  for (const auto& [datum, kurs] : quotes) {
    if (!list.empty()) list += "#";
    list += datum + "*" + kurs;
  }
  return "VEXMSG:2:AIWPK:" + stock.wkn + ":" + stock.isin + ":" + stock.name + ":" + list +
         ":MSGEND";
}

json ScenarioDocument(int quote_run, const std::string& today) {
  json files = json::array();
  for (const auto& f : Files()) {
    files.push_back(json{{"nr", f.nr},
                         {"name", f.name},
                         {"typ", f.typ},
                         {"von", today},
                         {"bis", "31.12.2027"},
                         {"dauer", 10},
                         {"wichtigkeit", f.typ == "HTML" ? 2 : 1},
                         {"titel", f.titel},
                         {"url", "www.vex-morva.example/nachrichten"},
                         {"content", f.content},
                         {"ref", f.ref}});
  }
  json rules = json::array();
  rules.push_back(json{
      {"code", "AKTGA"},
      {"raw", "VEXMSG:2:AITGA:" + today + ":::" + ConditionList(Tagesgeld(), false) + ":MSGEND"}});
  rules.push_back(json{
      {"code", "AKFGA"},
      {"raw", "VEXMSG:2:AIFGA:" + today + ":::" + ConditionList(Festgeld(), true) + ":MSGEND"}});
  const QuoteTable quotes = QuotesOfRun(quote_run);
  for (std::size_t s = 0; s < Stocks().size(); ++s) {
    const Stock& stock = Stocks()[s];
    rules.push_back(json{{"code", "AKWPK"},
                         {"nth", static_cast<int>(s + 1)},
                         {"raw", QuoteReply(stock, quotes.at(stock.wkn))}});
  }
  // Every operation has its answer, whichever a person tries against the demo's server.
  rules.push_back(
      json{{"code", "AKWDT"}, {"raw", "VEXMSG:2:AIWDT:" + TradingDays().back() + ":MSGEND"}});
  rules.push_back(json{{"code", "AKLOG"},
                       {"notice", json{{"number", "10"}, {"text", "Protokoll erhalten, danke"}}}});
  rules.push_back(json{{"code", "AKPWD"},
                       {"notice", json{{"number", "10"}, {"text", "Anfrage erhalten, danke"}}}});
  return json{{"version", "2"},
              {"installations",
               json::array({json{{"blz", kBlz}, {"kundennr", kKundenNr}, {"files", files}}})},
              {"rules", rules}};
}

// ---- the checks -----------------------------------------------------------------------------

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

QuoteTable StoredQuotes(const std::string& data_dir, const std::string& ini_dir, Output& output) {
  colAktien aktien;
  QuoteDbContext context;
  context.data_dir = data_dir;
  context.ini_dir = ini_dir;
  context.message_box = [&output](const std::string& title, const std::string& text) {
    output.MessageBox(title, text);
  };
  aktien.SetDatabaseContext(context);
  aktien.ReadDB();
  QuoteTable table;
  for (int32_t i = 1; i <= aktien.Count(); ++i) {
    const auto stock = aktien.Item(i);
    auto& quotes = table[stock->WKN];
    for (int32_t k = 1; k <= stock->KursCount(); ++k) {
      quotes[stock->Kurs(k)->Datum] = stock->Kurs(k)->Kurs;
    }
  }
  return table;
}

std::string CompareQuotes(const QuoteTable& stored, const QuoteTable& expected) {
  for (const auto& [wkn, quotes] : expected) {
    auto it = stored.find(wkn);
    if (it == stored.end()) return Fill(Tr("Kurse.dat holds no stock %1"), {wkn});
    if (it->second != quotes) {
      return Fill(Tr("Kurse.dat holds %1 quotes of %2 that differ from the %3 sent"),
                  {std::to_string(it->second.size()), wkn, std::to_string(quotes.size())});
    }
  }
  if (stored.size() != expected.size()) return Tr("Kurse.dat holds other stocks as well");
  return {};
}

struct Step {
  std::string name;   // in the result line, whatever the language
  const char* title;  // shown, translated
  int32_t modus;
  std::function<void(HostSession&)> prepare;
  // Empty when the run ended as the data says it should; otherwise why not.
  std::function<std::string(HostSession&, const RunResult&)> check;
  std::function<void(HostSession&)> show;
};

constexpr const char* kCommandsFile = "commands.sh";

struct DemoFolders {
  fs::path root;
  bool temporary = false;
  fs::path pki() const { return root / "pki"; }
  fs::path ini() const { return root / "ini"; }
  fs::path data() const { return root / "data"; }
  fs::path registry() const { return root / "registry"; }
  fs::path files() const { return root / "files"; }
};

DemoFolders MakeFolders(const CommandLine& line, Output& output) {
  DemoFolders folders;
  if (auto dir = line.Value("--dir")) {
    folders.root = fs::absolute(*dir);
    std::error_code ec;
    if (fs::exists(folders.root / kCommandsFile, ec) || fs::exists(folders.registry(), ec)) {
      output.Note(Fill(Tr("%1 holds an earlier demo: its identity record, Kurse.dat and scripts "
                          "are replaced, received files are kept"),
                       {folders.root.string()}));
    }
  } else {
    std::string pattern = (fs::temp_directory_path() / "vexcomm-demo-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw UsageError(Tr("cannot make a temporary folder"));
    folders.root = pattern;
    folders.temporary = true;
  }
  std::error_code ec;
  // A run before may have left its registry store (its connection-attempt counter with it).
  fs::remove_all(folders.registry(), ec);
  for (const auto& dir :
       {folders.pki(), folders.ini(), folders.data(), folders.registry(), folders.files()}) {
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) {
      throw UsageError(Fill(Tr("cannot make the folder %1"), {dir.string()}));
    }
  }
  // A run before may have left its database; the demo starts from the template.
  fs::remove(folders.data() / "Kurse.dat", ec);
  return folders;
}

std::string Slash(const fs::path& dir) {
  return dir.string() + "/";
}

// Text as one word of a shell command line.
std::string ShellWord(std::string_view text) {
  std::string word = "'";
  for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

// The server program beside this one: installed side by side, or one folder up in the build
// tree.
std::string ServerProgram() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (const fs::path& candidate : {self.parent_path() / "vexmsg-server",
                                      self.parent_path().parent_path() / "vexmsg-server"}) {
      if (fs::is_regular_file(candidate, ec)) return candidate.string();
    }
  }
  return "vexmsg-server";
}

// The demo's steps as commands of commands.sh: `vx` is vexcomm with the demo's folders and
// server.
std::string RerunSteps(const std::string& today) {
  return "start_server scenario-1.json\n"
         "vx user set --datei-nr 0  # every message again\n"
         "vx get-new\n"
         "vx tagesgeld\n"
         "vx festgeld\n"
         "vx quotes --stocks stocks.csv --write-db\n"
         "start_server scenario-2.json  # a corrected and a newer quote of each stock\n"
         "vx new-quotes\n"
         "vx send-log --log-file support-log.txt --datum " +
         today +
         " --text 'Protokoll der Demo'\n"
         "vx db show\n";
}

// What a person needs to rerun the demo's steps in its folder: the server's two scenarios, the
// stocks file, the support log, and commands.sh.
void WriteRerunFiles(const DemoFolders& folders, const std::string& today,
                     const std::string& protocol) {
  std::ofstream(folders.root / "scenario-1.json") << ScenarioDocument(1, today).dump(2) << "\n";
  std::ofstream(folders.root / "scenario-2.json") << ScenarioDocument(2, today).dump(2) << "\n";
  const auto days = TradingDays();
  std::ofstream stocks(folders.root / "stocks.csv");
  stocks << "WKN,ISIN,Name,VonDatum,BisDatum\n";
  for (const auto& s : Stocks()) {
    stocks << s.wkn << "," << s.isin << ",\"" << s.name << "\"," << days.front() << "," << days[3]
           << "\n";
  }
  std::ofstream(folders.root / "support-log.txt", std::ios::binary) << protocol;
  std::ofstream script(folders.root / kCommandsFile);
  script
      << "#!/usr/bin/env bash\n"
         "# The steps of `vexcomm demo`, to run again by hand: the reference server on loopback\n"
         "# with the demo's data and certificates, and vexcomm with the demo's folders.\n"
         "set -euo pipefail\n"
         "cd \"$(dirname \"$0\")\"\n"
         "VEXCOMM=${VEXCOMM:-"
      << ShellWord(fs::read_symlink("/proc/self/exe").string())
      << "}\n"
         "VEXMSG_SERVER=${VEXMSG_SERVER:-"
      << ShellWord(ServerProgram())
      << "}\n"
         "# The server is on loopback: no proxy from the environment or the config file.\n"
         "unset https_proxy HTTPS_PROXY\n"
         "server_pid=\n"
         "stop_server() {\n"
         "  if [[ -n $server_pid ]]; then kill \"$server_pid\" 2>/dev/null || true; "
         "wait \"$server_pid\" 2>/dev/null || true; fi\n"
         "  server_pid=\n"
         "}\n"
         "trap stop_server EXIT\n"
         "# Starts the server with a scenario on a free port; it answers as "
      << kHost
      << ".\n"
         "start_server() {\n"
         "  stop_server\n"
         "  rm -f server.port && mkfifo server.port\n"
         "  \"$VEXMSG_SERVER\" --cert pki/server.pem --key pki/server.key --scenario \"$1\" \\\n"
         "    --listen 127.0.0.1:0 --print-port --quiet >server.port &\n"
         "  server_pid=$!\n"
         "  read -r -t 30 port <server.port\n"
         "  rm -f server.port\n"
         "}\n"
         "vx() {\n"
         "  echo \"+ vexcomm $*\"\n"
         "  \"$VEXCOMM\" --noproxy '*' --ini-dir ini --data-dir data --registry-dir registry \\\n"
         "    --ca-file pki/ca.pem --connect-to \""
      << kHost
      << ":443:127.0.0.1:$port\" --out files \"$@\"\n"
         "}\n\n"
      << RerunSteps(today);
  script.close();
  fs::permissions(folders.root / kCommandsFile, fs::perms::owner_exec | fs::perms::group_exec,
                  fs::perm_options::add);
}

// ---- the demo's steps -------------------------------------------------------------------------

// What the steps share: the folders, the day, the server, the session, and the log of the runs
// so far, sent as the support log at the end.
struct DemoRun {
  Output& output;
  const DemoFolders& folders;
  const std::string today;
  vexmsg::Server& server;
  HostSession& session;
  std::string protocol;
};

std::string Today() {
  const HostServices host = DefaultHostServices();
  return host.date_to_text(host.today());
}

// The installation a home-banking application would have: certificates, MorvaZedi.ini naming
// the demo's server, the template Kurse.dat and the identity record. An exit status when one
// cannot be written.
std::optional<int> SetUpInstallation(Output& output, const DemoFolders& folders) {
  // Long enough for the folder to be used again by hand, as commands.sh does.
  vexmsg::WriteThrowawayPki(folders.pki(), {kHost}, "VexComm Demo", std::chrono::days(31));
  std::ofstream(folders.ini() / "MorvaZedi.ini") << "[Comm]\r\nIP=" << kHost << "\r\n";
  if (!fs::exists(folders.ini() / "Kurse.dat") &&
      !CreateTemplateDatabase(folders.ini() / "Kurse.dat")) {
    output.Note(Fill(Tr("cannot write the template %1"), {(folders.ini() / "Kurse.dat").string()}));
    return kExitRunFailed;
  }
  try {
    WriteIdentity(folders.registry(),
                  {kBlz, kKundenNr, 0, "Erika", "Mustermann", "erika.mustermann@example.com"});
  } catch (const std::runtime_error& e) {
    output.Note(e.what());
    return kExitRunFailed;
  }
  return std::nullopt;
}

vexmsg::Scenario DemoScenario(int quote_run, const DemoFolders& folders, const std::string& today) {
  return vexmsg::Scenario::FromJson(ScenarioDocument(quote_run, today), folders.root);
}

// The reference server on a free loopback port with the first scenario.
vexmsg::Server StartServer(const DemoFolders& folders, const std::string& today) {
  vexmsg::ServerOptions options;
  options.cert_file = folders.pki() / "server.pem";
  options.key_file = folders.pki() / "server.key";
  options.threads = 1;
  return vexmsg::Server(options, DemoScenario(1, folders, today));
}

// The demo's folders, and the server reached as kHost through the demo's CA.
SessionConfig SessionFor(const DemoFolders& folders, uint16_t port) {
  SessionConfig config;
  config.ini_dir = Slash(folders.ini());
  config.data_dir = Slash(folders.data());
  config.registry_dir = folders.registry();
  config.out_dir = folders.files();
  config.socket.ca_file = (folders.pki() / "ca.pem").string();
  config.socket.connect_to_host = kHost;
  config.socket.connect_to_port = 443;
  config.socket.connect_to_address = "127.0.0.1";
  config.socket.connect_to_address_port = port;
  config.socket.connect_timeout = std::chrono::seconds(10);
  config.socket.idle_timeout = std::chrono::seconds(30);
  return config;
}

void AnnounceServer(Output& output, const DemoFolders& folders, uint16_t port) {
  output.Result(Fill(folders.temporary ? Tr("VexComm5 demo: reference server on 127.0.0.1:%1 "
                                            "answering as %2, folders in %3 (removed at the end; "
                                            "--dir keeps them)")
                                       : Tr("VexComm5 demo: reference server on 127.0.0.1:%1 "
                                            "answering as %2, folders in %3"),
                     {std::to_string(port), kHost, folders.root.string()}));
}

// Keeps the log lines of the runs in `protocol` while it lives.
class RecordProtocol {
 public:
  RecordProtocol(Output& output, std::string& protocol) : output_(output) {
    output_.OnLogLine(
        [&protocol](const std::string& line) { protocol.append(line).append("\r\n"); });
  }
  ~RecordProtocol() { output_.OnLogLine({}); }
  RecordProtocol(const RecordProtocol&) = delete;
  RecordProtocol& operator=(const RecordProtocol&) = delete;

 private:
  Output& output_;
};

void ShowText(Output& output, const std::function<void(std::ostream&)>& print) {
  std::ostringstream text;
  print(text);
  std::string shown = text.str();
  if (!shown.empty() && shown.back() == '\n') shown.pop_back();
  output.Result(shown);
}

// What Kurse.dat holds now, read as a host reads it.
void ReadStored(const DemoRun& demo, colAktien& stored) {
  QuoteDbContext context;
  context.data_dir = demo.session.config().data_dir;
  context.ini_dir = demo.session.config().ini_dir;
  stored.SetDatabaseContext(context);
  stored.ReadDB();
}

void ShowStored(const DemoRun& demo) {
  colAktien stored;
  ReadStored(demo, stored);
  ShowText(demo.output, [&](std::ostream& out) {
    out << "Kurse.dat:\n";
    PrintAktien(out, stored, false);
  });
}

QuoteTable StoredQuotes(DemoRun& demo) {
  return StoredQuotes(demo.session.config().data_dir, demo.session.config().ini_dir, demo.output);
}

Step FetchNewMessages(DemoRun& demo) {
  return {"Neue Nachrichten abrufen",
          N_("Fetch new messages"),
          VexCommGetNew,
          nullptr,
          [&demo](HostSession&, const RunResult& r) -> std::string {
            int files = 0;
            int deletions = 0;
            for (const auto& f : Files()) (f.typ == "DELETE" ? deletions : files) += 1;
            if (r.events != files + deletions) {
              return Fill(
                  Tr("%1 events for %2 files and %3 deletion notices"),
                  {std::to_string(r.events), std::to_string(files), std::to_string(deletions)});
            }
            if (r.noch_auf_server != 0) return Tr("files are left on the server");
            for (const auto& f : Files()) {
              if (f.typ == "DELETE") continue;
              bool withdrawn = false;
              for (const auto& d : Files()) withdrawn = withdrawn || d.ref == f.nr;
              const fs::path file = demo.folders.files() / SafeFileName(f.nr, f.name);
              if (withdrawn && fs::exists(file))
                return Fill(Tr("%1 was not removed"), {file.string()});
              if (!withdrawn && ReadText(file) != Utf8ToCp1252(f.content)) {
                return Fill(Tr("%1 does not hold what the server sent"), {file.string()});
              }
            }
            return {};
          },
          nullptr};
}

// Overnight-money or fixed-term offers: the same step over the one tree or the other.
Step FetchDepositOffers(DemoRun& demo, bool festgeld) {
  auto tree = [festgeld](HostSession& s) {
    return festgeld ? s.vc().Festgeld() : s.vc().Tagesgeld();
  };
  return {
      festgeld ? "Festgeld-Angebote abrufen" : "Tagesgeld-Angebote abrufen",
      festgeld ? N_("Fetch the fixed-term deposit offers") : N_("Fetch the overnight-money offers"),
      festgeld ? vexCommFGA : vexCommTGA,
      nullptr,
      [&demo, festgeld, tree](HostSession& s, const RunResult&) -> std::string {
        if (DepositTreeJson(*tree(s), false) !=
            ExpectedTree(demo.today, festgeld ? Festgeld() : Tagesgeld(), festgeld)) {
          return festgeld ? Tr("the Festgeld tree differs from the offers sent")
                          : Tr("the Tagesgeld tree differs from the offers sent");
        }
        return {};
      },
      [&demo, festgeld, tree](HostSession& s) {
        ShowText(demo.output, [&](std::ostream& out) { PrintDeposits(out, *tree(s), festgeld); });
      }};
}

Step FetchQuotesIntoKurseDat(DemoRun& demo) {
  return {"Kurse abrufen und in Kurse.dat speichern",
          N_("Fetch quotes and store them in Kurse.dat"),
          vexCommWPK,
          [](HostSession& s) {
            const auto days = TradingDays();
            auto aktien = s.vc().Aktien();
            aktien->Clear();
            for (const auto& stock : Stocks()) {
              auto added = aktien->Add(stock.wkn, stock.isin, stock.name);
              added->VonDatum = days.front();
              added->BisDatum = days[3];
            }
            aktien->WriteDB = true;
          },
          [&demo](HostSession&, const RunResult&) -> std::string {
            return CompareQuotes(StoredQuotes(demo), QuotesOfRun(1));
          },
          [&demo](HostSession&) { ShowStored(demo); }};
}

// The second scenario corrects a quote of each stock and adds a newer one.
Step FetchNewQuotes(DemoRun& demo) {
  return {
      "Neue Kurse abrufen",
      N_("Fetch new quotes"),
      vexCommNewWPK,
      [&demo](HostSession&) { demo.server.SetScenario(DemoScenario(2, demo.folders, demo.today)); },
      [&demo](HostSession&, const RunResult&) -> std::string {
        QuoteTable expected = QuotesOfRun(1);
        for (const auto& [wkn, quotes] : QuotesOfRun(2)) {
          for (const auto& [datum, kurs] : quotes) expected[wkn][datum] = kurs;
        }
        return CompareQuotes(StoredQuotes(demo), expected);
      },
      [&demo](HostSession&) { ShowStored(demo); }};
}

// The log of the runs before, as a user sends it to the bank's support.
Step SendSupportLog(DemoRun& demo) {
  return {"Support-Protokoll senden",
          N_("Send the support log"),
          vexCommSendLog,
          [&demo](HostSession& s) {
            s.vc().SetLogSupport(demo.protocol);
            s.vc().SetLogDatum(demo.today);
            s.vc().SetLogText("Protokoll der Demo");
          },
          [&demo](HostSession&, const RunResult& r) -> std::string {
            if (r.code != vcerrSuccess) return Tr("the server did not confirm the log");
            const auto requests = demo.server.Requests();
            const std::string expected =
                std::string("VEXMSG:2:AKLOG:") + kBlz + ":" + kKundenNr + ":Erika:Mustermann:";
            if (requests.empty() || requests.back().rfind(expected, 0) != 0) {
              return Tr("the server received no support log of this installation");
            }
            return {};
          },
          nullptr};
}

// Empty when the run ended as the sample data says it should; otherwise why not.
std::string CheckAgainstSampleData(DemoRun& demo, const Step& step, const RunResult& result) {
  if (!result.ok()) {
    return result.text.empty()
               ? Fill(Tr("the run ended with Fehler.Code %1"), {std::to_string(result.code)})
               : Fill(Tr("the run ended with Fehler.Code %1: %2"),
                      {std::to_string(result.code), result.text});
  }
  return step.check(demo.session, result);
}

struct StepResults {
  int failed = 0;
  Json steps = Json::array();    // the one result line holds every step's
  std::optional<int> cancelled;  // the exit status of a cancelled run
};

// Each step in turn: prepared, run, checked and shown, or said why it failed.
StepResults RunSteps(DemoRun& demo, const std::vector<Step>& steps) {
  StepResults results;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    demo.output.Result("\n== " + Fill(Tr("%1/%2 %3 (Modus %4)"),
                                      {std::to_string(i + 1), std::to_string(steps.size()),
                                       Tr(step.title), std::to_string(step.modus)}));
    if (step.prepare) step.prepare(demo.session);
    const RunResult result = demo.session.Run(step.modus);
    if (result.cancelled) {
      results.cancelled = demo.output.Fail(128 + result.signal, "cancelled",
                                           Fill(Tr("cancelled (%1)"), {result.text}));
      return results;
    }
    const std::string why = CheckAgainstSampleData(demo, step, result);
    if (why.empty()) {
      if (step.show) step.show(demo.session);
      const std::string notice = demo.output.LastLogAfter("Meldung:");
      demo.output.Result(notice.empty() ? Tr("ok") : Fill(Tr("ok, notice: %1"), {notice}));
    } else {
      ++results.failed;
      demo.output.Note(Tr(step.title) + ": " + why);
    }
    results.steps.push_back(Json{{"step", step.name},
                                 {"Modus", step.modus},
                                 {"ok", why.empty()},
                                 {"result", demo.session.ResultJson(step.modus)}});
  }
  return results;
}

void OfferRerun(const DemoRun& demo) {
  WriteRerunFiles(demo.folders, demo.today, demo.protocol);
  demo.output.Result(
      "\n" +
      Fill(Tr("Everything to rerun the steps by hand is in %1; %2 runs them:"),
           {demo.folders.root.string(), (demo.folders.root / kCommandsFile).string()}) +
      "\n" + RerunSteps(demo.today));
}

// kurse.svg in the demo's folder: the stored quotes of each stock.
void DrawChart(const DemoRun& demo) {
  colAktien stored;
  ReadStored(demo, stored);
  std::vector<ChartSeries> series;
  for (int32_t i = 1; i <= stored.Count(); ++i) {
    const auto stock = stored.Item(i);
    series.push_back({stock->Name + " (" + stock->WKN + ")", QuotesByDate(*stock)});
  }
  const fs::path chart = demo.folders.root / "kurse.svg";
  std::ofstream(chart, std::ios::binary) << SvgChart(series, ChartOptions{});
  demo.output.Result(Fill(demo.folders.temporary
                              ? Tr("Chart of the stored quotes: %1 (removed with the folder; "
                                   "--dir keeps it)")
                              : Tr("Chart of the stored quotes: %1"),
                          {chart.string()}));
}

int Demo(Output& output, const DemoFolders& folders) {
  const std::string today = Today();
  if (const auto status = SetUpInstallation(output, folders)) return *status;
  vexmsg::Server server = StartServer(folders, today);
  HostSession session(SessionFor(folders, server.port()), output);
  AnnounceServer(output, folders, server.port());
  DemoRun demo{output, folders, today, server, session, {}};
  const RecordProtocol recording(output, demo.protocol);

  const std::vector<Step> steps = {FetchNewMessages(demo),         FetchDepositOffers(demo, false),
                                   FetchDepositOffers(demo, true), FetchQuotesIntoKurseDat(demo),
                                   FetchNewQuotes(demo),           SendSupportLog(demo)};
  StepResults results = RunSteps(demo, steps);
  if (results.cancelled) return *results.cancelled;
  output.EmitResult(Json{{"demo", std::move(results.steps)}});
  if (!folders.temporary) OfferRerun(demo);
  if (results.failed != 0) {
    return output.Fail(kExitRunFailed, "failed",
                       Fill(Tr("%1 of %2 runs did not end as expected"),
                            {std::to_string(results.failed), std::to_string(steps.size())}));
  }
  output.Result("\n" + Fill(Tr("All %1 runs ended as expected."), {std::to_string(steps.size())}));
  DrawChart(demo);
  return kExitOk;
}

}  // namespace

int RunDemo(const CommandLine& line, Output& output) {
  const DemoFolders folders = MakeFolders(line, output);
  int status = kExitRunFailed;
  try {
    status = Demo(output, folders);
  } catch (const std::exception& e) {
    output.Note(std::string("demo: ") + e.what());
  }
  if (folders.temporary) {
    std::error_code ec;
    fs::remove_all(folders.root, ec);
  }
  return status;
}

}  // namespace vexcomm::cli
