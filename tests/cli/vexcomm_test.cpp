// The vexcomm program, run as a child process against the reference server.
#include <signal.h>
#include <sys/stat.h>

#include <clocale>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>

#include "child_process.h"
#include "cli_fixture.h"
#include "command_line.h"
#include "config/persistent_values.h"
#include "host_session.h"
#include "platform/cp1252.h"
#include "platform/utf8.h"
#include "quotes/quote_database.h"
#include "quotes/sqlite.h"
#include "support/tinyproxy.h"
#include "text_table.h"

namespace vexcomm::test {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::Not;
using Strings = std::vector<std::string>;

std::size_t WidestLine(const std::string& text) {
  std::size_t widest = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    widest = std::max(widest, platform::CodePointCount(line));
  }
  return widest;
}

std::set<std::string> FolderEntries(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

// Every line is one of the four kinds, with the keys in the documented order, and the result
// comes last and only there.
void ExpectJsonLines(const CliRun& run, const std::string& label) {
  ASSERT_FALSE(run.lines.empty()) << label << "\n" << run.out << run.err;
  const auto line_count = std::count(run.out.begin(), run.out.end(), '\n');
  EXPECT_EQ(static_cast<std::ptrdiff_t>(run.lines.size()), line_count)
      << label << ": a line that is not JSON\n"
      << run.out;
  // By kind, an event by its name: the keys of the line, or of its one key's object.
  const std::map<std::string, Strings> shapes = {
      {"callback", {"kind", "text"}},
      {"messagebox", {"title", "text"}},
      {"NeueDatei",
       {"event", "DateiNummer", "DateiName", "Typ", "VonDatum", "VonDatumISO", "BisDatum",
        "BisDatumISO", "AnzeigeDauer", "Wichtigkeit", "Titel", "URL", "saved"}},
      {"Delete", {"event", "DeleteArray", "removed"}},
      {"NochAufServer", {"event", "Anzahl"}},
      {"result", {"schema", "command", "result", "error"}}};
  for (std::size_t i = 0; i < run.lines.size(); ++i) {
    const auto& line = run.lines[i];
    const auto keys = CliTest::Keys(line);
    ASSERT_FALSE(keys.empty()) << label << ": line " << i;
    const std::string kind = keys.front() == "event"    ? line["event"].get<std::string>()
                             : keys.front() == "schema" ? "result"
                                                        : keys.back();
    const auto shape = shapes.find(kind);
    ASSERT_NE(shape, shapes.end()) << label << ": " << line.dump();
    const bool nested = kind == "callback" || kind == "messagebox";
    EXPECT_EQ(keys, nested ? Strings{kind} : shape->second) << label << ": " << line.dump();
    if (nested) {
      EXPECT_EQ(CliTest::Keys(line[kind]), shape->second) << label;
    }
    EXPECT_EQ(kind == "result", i + 1 == run.lines.size()) << label << ": " << line.dump();
    EXPECT_TRUE(kind != "callback" || line[kind]["kind"].is_number_integer()) << label;
    EXPECT_TRUE(kind != "result" ||
                (line["schema"] == 1 && line["result"].is_object() && line["error"].is_null()))
        << label;
  }
}

// The two deposit trees of the standard scenario, keys in the documented order.
const std::map<std::string, std::string> kDepositTrees = {
    {"Tagesgeld", R"({"Datum":"01.12.2026","DatumISO":"2026-12-01","Anbieter":[{"Name":"Bank A",
      "BLZ":"11122233","Produkte":[{"Name":"Tagesgeld Plus","MindestAnlage":"1000",
      "MindestAnlageWert":1000,"MaximalAnlage":"50000","MaximalAnlageWert":50000,
      "Gutschrift":"monatlich","Neukunde":true,"URLInfo":"info","URLNeu":"neu",
      "ZinsGueltigkeit":"3 Monate","Zinsen":[{"AbBetrag":"0","AbBetragWert":0,"ZinsAnfang":"2,5",
      "ZinsAnfangWert":2.5,"GueltigZinsAnfang":3,"ZinsDanach":"1,0","ZinsDanachWert":1.0,
      "GueltigZinsDanach":12}],"ZinsenFestgeld":[]}]}]})"},
    {"Festgeld", R"({"Datum":"02.12.2026","DatumISO":"2026-12-02","Anbieter":[{"Name":"Bank B",
      "BLZ":"22233344","Produkte":[{"Name":"Festgeld","MindestAnlage":"5000",
      "MindestAnlageWert":5000,"MaximalAnlage":"100000","MaximalAnlageWert":100000,
      "Gutschrift":"jährlich","Neukunde":false,"URLInfo":"info","URLNeu":"neu",
      "ZinsGueltigkeit":"","Zinsen":[],"ZinsenFestgeld":[{"AbBetrag":"5000","AbBetragWert":5000,
      "Zins_01":"1,0","Zins_01Wert":1.0,"Zins_03":"1,5","Zins_03Wert":1.5,"Zins_06":"2,0",
      "Zins_06Wert":2.0,"Zins_09":"2,2","Zins_09Wert":2.2,"Zins_12":"2,5","Zins_12Wert":2.5,
      "Zins_18":"2,7","Zins_18Wert":2.7}]}]}]})"}};

TEST_F(CliTest, EveryCommandSendsItsRequestAndPrintsTheDocumentedShapes) {
  StartServer(StandardScenario());
  const auto stocks = tmp.WriteFile("stocks.csv",
                                    "WKN,ISIN,Name,VonDatum,BisDatum\r\n716460,DE0007164600,"
                                    "\"SAP SE, Walldorf\",01.12.2026,2026-12-05\r\n");
  // A log written on Windows, and a text typed there: Windows-1252, not UTF-8.
  const auto log = tmp.WriteFile("support.log",
                                 "Zeile 1: 5 \x80\r\nZeile 2: 25 \xB0"
                                 "C\r\n");
  const std::string csv = (tmp.path() / "export.csv").string();
  const std::string svg = (tmp.path() / "chart.svg").string();
  const std::string fetched = "Dateien,Geloescht,Meldung";
  struct Case {
    Strings args;
    std::string request;  // the code the server must have received; empty: none
    int32_t modus_after;
    int32_t code;
    std::string keys;       // of the result, after Fehler and Modus for an operation
    std::string ends = {};  // how the request must end, or empty
  };
  // In this order: the quote runs build Kurse.dat for the ones after them, and the fetches
  // walk the server's series (get-file takes file 1, check-new the rest, get-new finds none).
  const std::vector<Case> cases = {
      {{"quote-date"}, "AKWDT", 13, 0, "Aktien,Kursdatum,KursdatumISO,Meldung"},
      {{"tagesgeld"}, "AKTGA", 16, 0, "Tagesgeld,Meldung"},
      {{"festgeld"}, "AKFGA", 17, 0, "Festgeld,Meldung"},
      {{"quotes", "--stocks", stocks.string(), "--write-db"},
       "AKWPK",
       14,
       0,
       "Aktien,Meldung",
       ":01.12.2026:05.12.2026:MSGEND"},
      {{"new-quotes"}, "AKWPK", 15, 0, "Aktien,Meldung"},
      {{"all-quotes", "--from-db"}, "AKWPK", 18, 0, "Aktien,Meldung"},
      {{"send-log", "--log-file", log.string(), "--datum", "2026-12-06", "--text", "T\xFCr"},
       "AKLOG",
       19,
       10,
       "Meldung",
       ":06.12.2026:Tür:@30@Zeile 1: 5 €\r\nZeile 2: 25 °C\r\n:MSGEND"},
      {{"send-password", "--datum", "6.12.2026", "--text", "T"}, "AKPWD", 20, 10, "Meldung"},
      {{"run", "16"}, "AKTGA", 16, 0, "Tagesgeld,Meldung"},
      {{"get-file"}, "AKGET", 3, 0, fetched},
      {{"check-new"}, "AKNEW", 2, 0, fetched},
      {{"get-new"}, "AKNEW", 2, 0, fetched},
      {{"user", "show"}, "", 0, 0, "user"},
      {{"user", "set", "--vorname", "Erika"}, "", 0, 0, "user"},
      {{"db", "show"}, "", 0, 0, "Aktien"},
      {{"db", "export", "--csv", csv}, "", 0, 0, "export"},
      {{"db", "import", "--csv", csv}, "", 0, 0, "import"},
      {{"db", "chart", "716460", "--out", svg}, "", 0, 0, "chart"},
      {{"db", "delete", "716460"}, "", 0, 0, "deleted"},
      {{"db", "init-template", (tmp.path() / "vorlage").string()}, "", 0, 0, "template"},
  };
  for (const auto& c : cases) {
    auto args = c.args;
    args.insert(args.begin(), "--json");
    const bool local = c.request.empty();
    const std::string label = c.args.front() + (local ? " " + c.args[1] : "");
    const CliRun run = Run(args);
    EXPECT_EQ(run.status, 0) << label << "\n" << run.err;
    EXPECT_EQ(run.err, "") << label;
    ExpectJsonLines(run, label);
    if (run.lines.empty()) continue;
    EXPECT_EQ(run.lines.back()["command"], label);
    const auto& result = run.lines.back()["result"];
    std::string keys;
    for (const auto& key : Keys(result)) keys += key + ",";
    EXPECT_EQ(keys, (local ? "" : "Fehler,Modus,") + c.keys + ",") << label;
    if (local) continue;
    EXPECT_EQ(Keys(result["Fehler"]), (Strings{"Code", "Text"})) << label;
    EXPECT_EQ(result["Fehler"]["Code"], c.code) << label;
    EXPECT_EQ(result["Modus"], c.modus_after) << label;
    EXPECT_EQ(result.value("KursdatumISO", "2026-12-05"), "2026-12-05") << label;
    EXPECT_EQ(result["Meldung"], c.code == 10 ? OrderedJson("Erhalten (10)") : OrderedJson(nullptr))
        << label;
    for (const auto& [tree, expected] : kDepositTrees) {
      if (result.contains(tree)) {
        EXPECT_EQ(result[tree], OrderedJson::parse(expected)) << label;
      }
    }
    // Each quote's own keys are pinned by the quote runs' whole lists.
    for (const auto& stock : result.value("Aktien", OrderedJson::array())) {
      EXPECT_EQ(Keys(stock), (Strings{"WKN", "ISIN", "Name", "VonDatum", "VonDatumISO", "BisDatum",
                                      "BisDatumISO", "ID", "Kurse"}))
          << label;
      EXPECT_TRUE(stock["ID"].is_number_integer()) << label;
    }
    EXPECT_THAT(NewRequests(), ::testing::Contains(::testing::AllOf(
                                   ::testing::StartsWith("VEXMSG:2:" + c.request + ":"),
                                   ::testing::EndsWith(c.ends))))
        << label;
  }
}

TEST_F(CliTest, QuoteRunsCarryTheStocksAndFillKurseDat) {
  StartServer(StandardScenario());
  // As a German spreadsheet writes it, and piped in.
  const auto stocks =
      tmp.WriteFile("stocks.csv",
                    "\xEF\xBB\xBFwkn;isin;name;vondatum;bisdatum\n716460;DE0007164600;"
                    "\"SAP \"\"SE\"\"\";01.12.2026;05.12.2026\n");
  Strings piped = {"-c", "exec \"$0\" \"$@\" < " + stocks.string(), Binary()};
  for (const auto& arg : Globals()) piped.push_back(arg);
  piped.insert(piped.end(), {"--json", "quotes", "--stocks", "-", "--write-db"});
  ChildProcess child("/bin/sh", piped, {{"HOME", tmp.path().string()}});
  CliRun run;
  run.status = child.Finish(std::chrono::seconds(90));
  run.lines = ParseLines(child.out());
  ASSERT_EQ(run.status, 0) << child.err();
  EXPECT_EQ(NewRequests(), (Strings{"VEXMSG:2:AKWPK:716460:DE0007164600:SAP \"SE\":01.12.2026:"
                                    "05.12.2026:MSGEND"}));
  const auto& stock = run.lines.back()["result"]["Aktien"][0];
  EXPECT_EQ(stock["Name"], "SAP SE");  // the server's name replaces the host's
  const auto stored = OrderedJson::parse(
      R"([{"Datum":"01.12.2026","ISO":"2026-12-01","Kurs":"140,10","Wert":140.1},
          {"Datum":"02.12.2026","ISO":"2026-12-02","Kurs":"141,20","Wert":141.2}])");
  EXPECT_EQ(stock["Kurse"], stored);

  // The new-quotes run asks from the last stored date on, with an empty end date.
  run = Run({"--json", "new-quotes"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(NewRequests(),
            (Strings{"VEXMSG:2:AKWPK:716460:DE0007164600:SAP SE:02.12.2026::MSGEND"}));

  // A database that refuses the deletion: no success is printed, the cause is.
  quotes::Connection(data / "Kurse.dat", quotes::kDatabaseKey, quotes::Connection::Mode::ReadWrite)
      .Execute(
          "CREATE TRIGGER keep BEFORE DELETE ON Aktien BEGIN SELECT RAISE(ABORT, 'gesperrt'); END");
  run = Run({"db", "delete", "716460"});
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(run.err, HasSubstr("gesperrt"));
  // Runs over stored stocks show each date once and in order, as now stored.
  for (const Strings& args : {Strings{"--json", "all-quotes", "--from-db"},
                              Strings{"--json", "all-quotes", "--from-db", "--write-db"}}) {
    run = Run(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.lines.back()["result"]["Aktien"][0]["Kurse"], stored) << args.back();
  }
}

TEST_F(CliTest, HistoryExportAndImportKeepEveryQuote) {
  const auto input =
      tmp.WriteFile("in.csv",
                    "WKN;ISIN;Name;Datum;Kurs\n"
                    "716460;DE0007164600;SAP SE;02.12.2026;141,20\n"
                    "716460;DE0007164600;SAP SE;30.11.2026;139\n"
                    "716460;DE0007164600;SAP SE;1.12.2026;140.10\n"
                    // Windows-1252, as a spreadsheet on Windows saves it
                    "514000;DE0005140008;\"Bank; M\xFCller \x80\";2026-12-01;12,5\n");
  const auto bad =
      tmp.WriteFile("bad.csv", "WKN,Datum,Kurs\n716460,03.12.2026,150\n716460,31.02.2026,1\n");
  const auto exported = tmp.path() / "out.csv";
  const std::string fifo = (tmp.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string history =
      R"({"schema":1,"command":"db show","result":{"Aktien":[{"WKN":"716460",)"
      R"("ISIN":"DE0007164600","Name":"SAP SE","Kurse":[)"
      R"({"Datum":"01.12.2026","ISO":"2026-12-01","Kurs":"140,10","Wert":140.1},)"
      R"({"Datum":"02.12.2026","ISO":"2026-12-02","Kurs":"141,20","Wert":141.2}]}]},"error":null})"
      "\n";
  struct Case {
    Strings args;
    int status;
    std::string out;  // the whole standard output, unless empty
    std::string err;  // a part of standard error
  };
  const std::vector<Case> cases = {
      {{"db", "import", "--csv", input.string()}, 0, "", ""},
      {{"--json", "db", "show", "DE0007164600", "--from", "2026-12-01", "--to", "02.12.2026"},
       0,
       history,
       ""},
      {{"db", "export", "--csv", "-", "--decimal-comma"},
       0,
       "\xEF\xBB\xBFWKN;ISIN;Name;Datum;ISO;Kurs\r\n"
       "716460;DE0007164600;SAP SE;30.11.2026;2026-11-30;139\r\n"
       "716460;DE0007164600;SAP SE;01.12.2026;2026-12-01;140,10\r\n"
       "716460;DE0007164600;SAP SE;02.12.2026;2026-12-02;141,20\r\n"
       "514000;DE0005140008;\"Bank; Müller €\";01.12.2026;2026-12-01;12,5\r\n",
       ""},
      {{"db", "export", "514000", "--csv", "-"},
       0,
       "WKN,ISIN,Name,Datum,ISO,Kurs\r\n514000,DE0005140008,Bank; "
       "Müller €,01.12.2026,2026-12-01,12.5\r\n",
       ""},
      {{"db", "export", "--csv", exported.string()}, 0, "", ""},
      {{"db", "export", "--csv", fifo}, 2, "", "not a regular file"},
      {{"db", "import", "--csv", bad.string()}, 2, "", "line 3: \"31.02.2026\" is no date"},
      {{"--json", "db", "show", "716460", "--from", "1.12.2026"}, 0, history, ""},
      {{"db", "show", "999999"}, 1, "", "no stock with WKN or ISIN 999999"},
      {{"--quiet", "db", "delete", "999999"}, 1, "", "no stock with WKN 999999"},
  };
  for (const auto& c : cases) {
    const std::string label = c.args[c.args[0] == "--json" ? 2 : 1] + " " + c.args.back();
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.status, c.status) << label << "\n" << run.err;
    EXPECT_TRUE(c.out.empty() || run.out == c.out) << label << "\n" << run.out;
    EXPECT_THAT(run.err, HasSubstr(c.err)) << label;
  }

  // Without a stock a line each, over the stored quotes; no quote lines.
  const std::string overview = Run({"db", "show"}).out;
  EXPECT_THAT(overview, HasSubstr("716460  DE0007164600  SAP SE          3       30.11.2026  "
                                  "02.12.2026  141,20"));
  EXPECT_THAT(overview, Not(HasSubstr("ISO 8601")));
  // On a narrow terminal a table leaves out or cuts what is missed least and says so.
  struct Fit {
    Strings args;
    std::size_t width;  // the widest line allowed; 0: whole, no note
    std::string note;
  };
  for (const Fit& f :
       std::vector<Fit>{{{"db", "show"}, 50, "columns left out; --wide shows all"},
                        {{"db", "show", "--wide"}, 0, ""},
                        {{"config", "show"}, 50, "(long values cut; --wide shows all)"},
                        {{"config", "show", "--wide"}, 0, ""}}) {
    const CliRun fit = Run(f.args, {{"COLUMNS", "50"}});
    ASSERT_EQ(fit.status, 0) << f.args.back() << fit.err;
    const std::string table = fit.out.substr(fit.out.find('\n') + 1);  // under the file's name
    if (f.width == 0) {
      EXPECT_GT(WidestLine(table), 50u) << fit.out;
      EXPECT_THAT(fit.out, Not(HasSubstr("--wide"))) << fit.out;
    } else {
      EXPECT_LE(WidestLine(table), f.width) << fit.out;
      EXPECT_THAT(fit.out, HasSubstr(f.note)) << fit.out;
    }
  }
  EXPECT_EQ(std::filesystem::status(exported).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  // The export, read into an empty database, gives the same quotes.
  const OrderedJson before = Run({"--json", "db", "show", "--from", "1900-01-01"}).lines.at(0);
  std::filesystem::remove(data / "Kurse.dat");
  ASSERT_EQ(Run({"db", "import", "--csv", exported.string()}).status, 0);
  EXPECT_EQ(Run({"--json", "db", "show", "--from", "1900-01-01"}).lines.at(0), before);
  EXPECT_EQ(before["result"]["Aktien"].size(), 2u);
  // A stock can be named by its ISIN.
  const CliRun run = Run({"db", "delete", "DE0005140008"});
  EXPECT_EQ(run.out, "Deleted: 514000 Bank; Müller € (1 quote)\n") << run.err;
}

TEST_F(CliTest, ChartDrawsEachStoredQuoteOnceAndRenders) {
  const auto input = tmp.WriteFile("in.csv",
                                   "WKN,Name,Datum,Kurs\n"
                                   "716460,SAP SE,01.11.2026,\"130,5\"\n"
                                   "716460,SAP SE,01.12.2026,140\n"
                                   "716460,SAP SE,02.12.2026,141\n"
                                   "716460,SAP SE,20.12.2026,150\n"
                                   "716460,SAP SE,21.12.2026,151\n"
                                   "514000,A & <B>,02.12.2026,12\n"
                                   "514000,A & <B>,09.12.2026,13\n");
  ASSERT_EQ(Run({"db", "import", "--csv", input.string()}).status, 0);
  // Parsed as XML by another program: per path the points and the pieces, the texts, and
  // anything that would reach outside the file.
  const auto inspect = tmp.WriteFile("inspect.py", R"(import sys, json, re
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
ns = '{http://www.w3.org/2000/svg}'
print(json.dumps({
  'size': [root.get('width'), root.get('height')],
  'paths': [[len(re.findall('[ML]', p.get('d'))), p.get('d').count('M')] for p in root.iter(ns + 'path')],
  'texts': [e.text for e in root.iter(ns + 'text')],
  'outside': [e.tag for e in root.iter()
              if e.tag.endswith('script') or any('href' in k for k in e.attrib)]}))
)");
  struct Case {
    Strings options;
    std::vector<std::vector<int>> paths;  // points and pieces per stock
    Strings texts;                        // some of the texts: legend and axis labels
  };
  const std::vector<Case> cases = {
      {{"--from", "2026-11-15"}, {{4, 2}, {2, 1}}, {"SAP SE (716460)", "150", "07.12."}},
      {{"--from", "01.12.2026", "--to", "2026-12-02", "--normalize"},
       {{2, 1}, {1, 1}},
       {"A & <B> (514000) (first day = 100)", "100,6", "02.12."}},
  };
  for (const auto& c : cases) {
    const auto svg = tmp.path() / "chart.svg";
    Strings args = {"--json", "db", "chart", "716460", "514000", "--out", svg.string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CliRun run = Run(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto& chart = run.lines.at(0)["result"]["chart"];

    ChildProcess python("/usr/bin/python3", {inspect.string(), svg.string()});
    ASSERT_EQ(python.Finish(std::chrono::seconds(20)), 0) << python.err();
    const auto seen = OrderedJson::parse(python.out());
    EXPECT_EQ(seen["paths"], OrderedJson(c.paths)) << c.options[0];
    EXPECT_EQ(seen["outside"], OrderedJson::array());
    EXPECT_EQ(seen["size"], OrderedJson({std::to_string(chart["width"].get<int>()),
                                         std::to_string(chart["height"].get<int>())}));
    EXPECT_THAT(seen["texts"].get<Strings>(), ::testing::IsSupersetOf(c.texts));

    const auto png = tmp.path() / "chart.png";
    ChildProcess render("/usr/bin/rsvg-convert", {svg.string(), "-o", png.string()});
    ASSERT_EQ(render.Finish(std::chrono::seconds(20)), 0) << render.err();
    EXPECT_EQ(render.err(), "");
    const std::string header = ReadFile(png).substr(0, 24);
    ASSERT_EQ(header.size(), 24u);  // signature and size

    // The program's own PNG: the same chart, rasterised, of the same size.
    args[args.size() - c.options.size() - 1] = png.string();
    std::filesystem::remove(png);
    const CliRun as_png = Run(args);
    ASSERT_EQ(as_png.status, 0) << as_png.err;
    EXPECT_EQ(as_png.lines.at(0)["result"]["chart"]["height"], chart["height"]);
    const std::string own = ReadFile(png);
    ASSERT_GT(own.size(), 24u);
    EXPECT_EQ(own.substr(0, 24), header);
  }
}

TEST_F(CliTest, DepositTablesFitTheTerminalUnlessWide) {
  StartServer(StandardScenario());
  struct Case {
    Strings args;
    std::string columns;
    std::size_t width;  // the widest line allowed; 0: the whole table
  };
  const std::vector<Case> cases = {
      {{"tagesgeld"}, "70", 70},
      {{"festgeld"}, "70", 70},
      {{"tagesgeld", "--wide"}, "70", 0},
  };
  for (const auto& c : cases) {
    const std::string label = c.args.front() + " " + c.args.back();
    const CliRun run = Run(c.args, {{"COLUMNS", c.columns}});
    ASSERT_EQ(run.status, 0) << label << run.err;
    if (c.width > 0) {
      EXPECT_LE(WidestLine(run.out), c.width) << label << "\n" << run.out;
      EXPECT_THAT(run.out, HasSubstr("provider")) << label;
      EXPECT_THAT(run.out, ::testing::Not(HasSubstr("  BLZ  "))) << label;
      EXPECT_THAT(run.out, HasSubstr("; --wide shows all)")) << label;
    } else {
      EXPECT_THAT(run.out, HasSubstr("max. deposit")) << label;
    }
  }
}

TEST_F(CliTest, FetchReportsEventsInOrderAndKeepsTheFolderInStep) {
  auto scenario = StandardScenario();
  std::string octets;  // every octet value: a binary file
  for (int b = 0; b < 256; ++b) octets += static_cast<char>(b);
  auto& files = scenario["installations"][0]["files"];
  files.push_back({{"nr", 4}, {"name", "leer.txt"}});
  files.push_back({{"nr", 5}, {"name", "alle.bin"}, {"content", platform::Cp1252ToUtf8(octets)}});
  files.push_back({{"nr", 6}, {"name", "gruss.txt"}, {"content", "Grüße, 5 €\r\n"}});
  StartServer(scenario);
  // The user's own files, under the numbers (one even under the name) that the server sends.
  const std::set<std::string> own = {"1-brief.txt", "1-vertrag.pdf", "3-notizen.txt"};
  for (const auto& name : own) tmp.WriteFile("out/" + name, "privat " + name);
  const CliRun run = Run({"--json", "--json-content", "get-new"});
  // A file the server sent without content was lost: the run is not a success.
  ASSERT_EQ(run.status, 1) << run.err;
  std::vector<OrderedJson> events;
  std::string kinds;
  for (const auto& line : run.lines) {
    if (line.contains("event")) events.push_back(line), kinds += line["event"].dump();
  }
  ASSERT_EQ(kinds,
            R"("NeueDatei""NeueDatei""Delete""Skipped""NeueDatei""NeueDatei""NochAufServer")");
  // A file without content is counted by the server: the host is told, not left to guess.
  EXPECT_EQ(events[3],
            OrderedJson::parse(R"({"event":"Skipped","DateiNummer":4,"DateiName":"leer.txt"})"));
  EXPECT_THAT(run.err, HasSubstr("warning: file 4 (leer.txt) skipped, it has no content"));
  EXPECT_EQ(events[1], OrderedJson::parse(R"({"event":"NeueDatei","DateiNummer":2,
      "DateiName":"liste.csv","Typ":"CSV","VonDatum":"01.12.2026","VonDatumISO":"2026-12-01",
      "BisDatum":"31.12.2026","BisDatumISO":"2026-12-31",
      "AnzeigeDauer":7,"Wichtigkeit":2,"Titel":"Liste","URL":"www.example.test/liste",
      "saved":")" + (out / "2-liste.csv").string() +
                                          R"(","Datei":"a;b\r\n1;2\r\n"})"));
  EXPECT_EQ(events[2], OrderedJson({{"event", "Delete"},
                                    {"DeleteArray", OrderedJson::parse(R"([null,"1"])")},
                                    {"removed", (out / "1-brief-2.txt").string()}}));
  // A file's number is a JSON number wherever it stands.
  EXPECT_EQ(run.lines.back()["result"]["Geloescht"][0]["DateiNummer"], 1);
  // File 1 came and was withdrawn in the same run; file 2 stays with its exact content.
  auto expected = own;
  expected.insert({"2-liste.csv", "5-alle.bin", "6-gruss.txt", ".vexcomm-saved"});
  EXPECT_EQ(FolderEntries(out), expected);
  EXPECT_EQ(ReadFile(out / "2-liste.csv"), "a;b\r\n1;2\r\n");
  // Each file holds the octets the server sent, as the Windows host saved them.
  EXPECT_EQ(ReadFile(out / "5-alle.bin"), octets);
  EXPECT_EQ(ReadFile(out / "6-gruss.txt"),
            "Gr\xFC\xDF"
            "e, 5 \x80\r\n");
  for (const auto& name : own) EXPECT_EQ(ReadFile(out / name), "privat " + name);

  EXPECT_EQ(Run({"--json", "user", "show"}).lines.at(0)["result"]["user"]["DateiNr"], 6);

  // The deletion notice again, now for a file that is not saved: nothing goes, and it says so.
  // Text files are asked for as UTF-8 this time; a binary file keeps its octets all the same.
  ASSERT_EQ(Run({"user", "set", "--datei-nr", "2"}).status, 0);
  const CliRun repeat = Run({"--utf8-text", "get-new"});
  EXPECT_EQ(repeat.status, 1) << repeat.err;
  EXPECT_THAT(repeat.err, HasSubstr("no file saved here under number 1: none removed"));
  EXPECT_EQ(FolderEntries(out), expected);
  EXPECT_EQ(ReadFile(out / "5-alle.bin"), octets);
  EXPECT_EQ(ReadFile(out / "6-gruss.txt"), "Grüße, 5 €\r\n");
}

// Killed at a random moment of a fetch into a fresh folder, the program leaves no file that the
// next run would not replace: never a second copy of a file, none lost. VEXCOMM_KILLS=150 for
// the long run by hand.
TEST_F(CliTest, AFetchKilledAtARandomMomentLeavesNoTwinAndLosesNothing) {
  constexpr int kFiles = 40;
  json files = json::array();
  std::set<std::string> expected = {".vexcomm-saved"};
  for (int nr = 1; nr <= kFiles; ++nr) {
    files.push_back({{"nr", nr},
                     {"name", "f" + std::to_string(nr) + ".txt"},
                     {"content", "Datei " + std::to_string(nr)}});
    expected.insert(std::to_string(nr) + "-f" + std::to_string(nr) + ".txt");
  }
  StartServer({{"installations", {{{"blz", "11122233"}, {"kundennr", "4711"}, {"files", files}}}}});
  const char* kills_text = std::getenv("VEXCOMM_KILLS");
  const int kills = kills_text ? std::atoi(kills_text) : 10;
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // How long a whole fetch takes, into a folder of its own.
  auto timing = Globals();
  *(std::find(timing.begin(), timing.end(), "--out") + 1) = (tmp.path() / "timing").string();
  timing.push_back("get-new");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(timing, {}, false).status, 0);
  std::uniform_int_distribution<long> moment(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
             .count());
  auto args = Globals();
  args.push_back("get-new");
  for (int k = 0; k < kills; ++k) {
    std::filesystem::remove_all(out);
    WriteIdentity(0);
    ChildProcess child(Binary(), args, {{"HOME", tmp.path().string()}});
    child.WaitForLine([](const std::string&) { return false; },
                      std::chrono::milliseconds(moment(random)));
    child.Signal(SIGKILL);
    child.Finish(std::chrono::seconds(30));
    ASSERT_EQ(Run({"get-new"}).status, 0) << k;
    ASSERT_EQ(FolderEntries(out), expected) << k;
    for (int nr = 1; nr <= kFiles; ++nr) {
      const auto name = std::to_string(nr) + "-f" + std::to_string(nr) + ".txt";
      ASSERT_EQ(ReadFile(out / name), "Datei " + std::to_string(nr)) << name;
    }
  }
}

TEST_F(CliTest, AFileThatCannotBeSavedStaysOnTheServerForTheNextRun) {
  StartServer(StandardScenario());
  // A read-only folder, and a record that cannot be replaced even by root.
  std::filesystem::create_directories(out / ".vexcomm-saved");
  std::filesystem::permissions(
      out, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const CliRun run = Run({"--json", "get-new"});
  EXPECT_EQ(run.status, 7) << run.err;
  ASSERT_GE(run.lines.size(), 2u) << run.out;
  const auto& fehler = run.lines.back()["result"]["Fehler"];
  EXPECT_EQ(fehler["Code"], 2);
  EXPECT_THAT(fehler["Text"].get<std::string>(), ::testing::StartsWith("Datei nicht angenommen: "));
  EXPECT_EQ(run.lines[run.lines.size() - 2],
            OrderedJson::parse(R"({"event":"NochAufServer","Anzahl":3})"));
  EXPECT_EQ(NewRequests().size(), 2u);  // no AKGET after the refused file
  // The cursor stays: the next run asks for the refused file again.
  EXPECT_EQ(Run({"--json", "user", "show"}).lines.at(0)["result"]["user"]["DateiNr"], 0);
  std::filesystem::permissions(out, std::filesystem::perms::owner_all);  // for the clean-up
}

// One language per run: the program's own texts follow LANG, the component's German texts stay
// as they are in both.
TEST_F(CliTest, MessagesSpeakTheLanguageOfTheLocale) {
  ASSERT_NE(std::setlocale(LC_MESSAGES, "de_DE.UTF-8"), nullptr)
      << "no de_DE.UTF-8 locale (scripts/install-deps.sh generates it)";
  std::setlocale(LC_MESSAGES, "C");
  StartServer(StandardScenario());
  const auto quotes = tmp.WriteFile(
      "quotes.csv",
      "WKN,Name,Datum,Kurs\n716460,SAP SE,01.12.2026,140.1\n716460,SAP SE,02.12.2026,141.2\n");
  ASSERT_EQ(Run({"db", "import", "--csv", quotes.string()}).status, 0);
  const auto bad_price = tmp.WriteFile("price.csv", "WKN,Kurs,Datum\n1,abc,01.12.2026\n");
  const auto bad_header = tmp.WriteFile("stocks.csv", "WKN,Name\n1,A\n");
  const auto not_a_folder = tmp.WriteFile("file", "");
  const std::string missing = (tmp.path() / "missing").string();
  std::filesystem::create_directories(tmp.path() / "empty" / "vexcomm" / "config");
  const std::string empty = (tmp.path() / "empty").string();
  struct Case {
    Strings args;
    std::string english;
    std::string german;
    std::map<std::string, std::string> env = {};
  };
  // A row for each kind of text the program writes itself: refusals of the command line and of
  // inputs, notes, result lines and tables; the component's own words stay as they are.
  const std::vector<Case> cases = {
      {{"--help"}, "Usage: vexcomm [GLOBAL OPTIONS]", "Aufruf: vexcomm [GLOBALE OPTIONEN]"},
      {{"--help"}, "\nExit status:\n", "\nRückgabewert:\n"},
      {{"run", "--help"}, "un an operation by its code", "ine Operation über ihren Code"},
      {{"chek-new"}, "(vexcomm --help shows the commands)", "(vexcomm --help zeigt die Befehle)"},
      {{"run", "1"}, "operation 1 sends no request", "Operation 1 sendet keine Anfrage"},
      {{"user", "set", "--blz", "123"}, "--blz wants the 8 digits", "--blz erwartet die 8 Ziffern"},
      {{"send-password"}, "send-password needs --datum", "send-password braucht --datum"},
      {{"--out", "k.jpg", "db", "chart", "1"}, "the chart is written as", "das Diagramm wird als"},
      {{"config", "show"},
       "abc (unusable)",
       "abc (unbrauchbar)",
       {{"VEXCOMM_CONNECT_TIMEOUT", "abc"}}},
      {{"--connect-to", "vexmsg.test:443:127.0.0.1:1", "check-new"},
       "no connection to the server (Fehler.Code 1: Der Server hat die Verbindung abgelehnt",
       "keine Verbindung zum Server (Fehler.Code 1: Der Server hat die Verbindung abgelehnt"},
      {{"--connect-to", "bad", "check-new"},
       "--connect-to wants HOST:PORT:ADDRESS:PORT, not \"bad\"",
       "--connect-to erwartet RECHNER:PORT:ADRESSE:PORT, nicht „bad“"},
      {{"db", "show", "--bogus"},
       "unknown option --bogus for db show",
       "unbekannte Option --bogus für db show"},
      {{"user", "set", "--datei-nr", "7x"},
       "--datei-nr wants a whole number",
       "--datei-nr erwartet eine ganze Zahl"},
      {{"--data-dir", empty, "db", "show"},
       "there is no quote database",
       "es gibt keine Kursdatenbank"},
      {{"user", "show"}, "field", "Feld"},
      {{"send-log", "--text", "x"}, "Sent\nNotice: Erhalten", "Gesendet\nMeldung: Erhalten"},
      {{"tagesgeld"},
       "Overnight-money offers of 01.12.2026\n  provider",
       "Tagesgeld-Angebote vom 01.12.2026\n  Anbieter"},
      {{"db", "import", "--csv", bad_price.string()},
       "line 2: \"abc\" is no price",
       "Zeile 2: „abc“ ist kein Kurs"},
      {{"quotes", "--stocks", bad_header.string()},
       "line 1: the header must be",
       "Zeile 1: die Kopfzeile muss"},
      {{"db", "chart", "716460", "--out", (tmp.path() / "c.svg").string()},
       "Chart (1 stock, 2 quotes)",
       "Diagramm (1 Aktie, 2 Kurse)"},
      {{"config", "show"},
       "environment (VEXCOMM_CONNECT_TIMEOUT)",
       "Umgebung (VEXCOMM_CONNECT_TIMEOUT)",
       {{"VEXCOMM_CONNECT_TIMEOUT", "5"}}},
      {{"config", "show"},
       "cannot read the config file",
       "Konfigurationsdatei",
       {{"XDG_CONFIG_HOME", empty}}},
      {{"--out", not_a_folder.string(), "get-new"},
       "for received files: not a folder",
       "ist für empfangene Dateien nicht verwendbar"},
      {{"trace", "show", missing},
       "trace show: cannot read",
       "trace show: " + missing + " kann nicht"},
      {{"demo", "--dir", "/dev/null/demo"}, "cannot make the folder", "kann nicht angelegt werden"},
  };
  for (const auto& c : cases) {
    for (const std::string lang : {"C", "de_DE.UTF-8"}) {
      auto env = c.env;
      env["LANG"] = lang;
      const CliRun run = Run(c.args, env);
      const std::string shown = run.out + run.err;
      const bool german = lang != "C";
      EXPECT_THAT(shown, HasSubstr(german ? c.german : c.english)) << lang << " " << c.args[0];
      EXPECT_THAT(shown, Not(HasSubstr(german ? c.english : c.german))) << lang;
    }
  }
}

TEST_F(CliTest, ServerTextReachesTheTerminalDisarmed) {
  json scenario = json::parse(R"({
    "installations": [{"blz": "11122233", "kundennr": "4711", "files": [
      {"nr": 1, "name": "n\u001b[2J.txt", "typ": "txt", "titel": "\u001b]0;x\u0007T\u00c2\u009b",
       "content": "c"}]}],
    "rules": [{"code": "AKTGA", "raw": "VEXMSG:2:AIERR:9999:\u001b[31mkaputt:MSGEND"}]})");
  StartServer(scenario);
  struct Case {
    Strings args;
    int status;
    std::string shown;  // in standard output or error
  };
  for (const Case& c : {Case{{"--verbose", "get-new"}, 0, "\\x1b]0;x\\x07T"},
                        Case{{"--verbose", "tagesgeld"}, 6, "\\x1b[31mkaputt"}}) {
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.status, c.status) << c.args.back() << run.err;
    EXPECT_THAT(run.out + run.err, HasSubstr(c.shown)) << c.args.back();
    EXPECT_EQ((run.out + run.err).find_first_of("\x1b\x07"), std::string::npos) << c.args.back();
  }
  // A stored name that came from a server, exported to a terminal.
  const auto csv = tmp.WriteFile("evil.csv", "WKN,Name,Datum,Kurs\n1,\x1b]0;x\x07T,01.12.2026,1\n");
  ASSERT_EQ(Run({"db", "import", "--csv", csv.string()}).status, 0);
  std::string command = Binary();
  for (const auto& arg : Globals()) command += " '" + arg + "'";
  ChildProcess terminal("/usr/bin/script", {"-qec", command + " db export --csv -", "/dev/null"});
  EXPECT_EQ(terminal.Finish(std::chrono::seconds(60)), 0) << terminal.err();
  EXPECT_THAT(terminal.out(), HasSubstr("\\x1b]0;x\\x07T"));
  EXPECT_EQ(terminal.out().find_first_of("\x1b\x07"), std::string::npos) << terminal.out();
}

// The parsers' own tests hold their messages; here each kind of input fails the same way.
TEST_F(CliTest, InputsThatCannotBeReadEndWithStatusTwoBeforeAnythingIsSent) {
  StartServer(StandardScenario());
  const auto header_only = tmp.WriteFile("empty.csv", "WKN,ISIN,Name,VonDatum,BisDatum\n");
  const std::string missing = (tmp.path() / "missing").string();
  const std::string fifo = (tmp.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    Strings args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"send-log"}, "send-log needs --log-file FILE, --datum DATE or --text TEXT"},
      {{"send-password"}, "send-password needs --datum DATE or --text TEXT"},
      {{"run", "20"}, "run needs --datum DATE or --text TEXT"},
      {{"user", "set", "--blz", "1112223"}, "--blz wants the 8 digits of a bank code"},
      {{"user", "set", "--email", "not an email"}, "--email wants an address"},
      {{"user", "set", "--email", "erika@localhost"}, "--email wants an address"},
      {{"db", "chart", "716460", "--out", "x.jpg"}, "written as .svg or .png"},
      {{"db", "chart", "716460", "--out", "chart"}, "written as .svg or .png"},
      {{"db", "export", "--csv", "-"}, "--json and --csv - both want standard output"},
      {{"run", "1"}, "operation 1 sends no request"},
      {{"quotes", "--stocks", missing}, "cannot read stocks file"},
      {{"quotes", "--stocks", tmp.path().string()}, "not a regular file"},
      {{"quotes", "--stocks", fifo}, "not a regular file"},
      {{"db", "import", "--csv", fifo}, "not a regular file"},
      {{"all-quotes", "--stocks", header_only.string()}, "lists no stock"},
      {{"quotes"}, "needs --stocks FILE or --from-db"},
      {{"quotes", "--from-db"}, "there is no"},
      {{"send-log", "--log-file", missing}, "cannot read log file"},
      {{"--ini-dir", missing, "check-new"}, "--ini-dir: the folder " + missing},
      {{"--data-dir", missing, "tagesgeld"}, "--data-dir: the folder"},
      {{"--ca-file", missing, "get-new"}, "cannot read CA file"},
      {{"--connect-to", "vexmsg.test:443", "get-new"}, "HOST:PORT:ADDRESS:PORT"},
      {{"--proxy", "proxy.test", "get-new"}, "--proxy wants HOST:PORT"},
      {{"--proxy", "127.0.0.1:3128", "--proxy-user", "u", "get-new"}, "VEXCOMM_PROXY_PASSWORD"},
      {{"--idle-timeout", "soon", "get-new"}, "number of seconds"},
      {{"run", "zwei"}, "whole number"},
      {{"run", "5"}, "operation 5 sends no request"},
      {{"user", "set", "--datei-nr", "7x"}, "whole number"},
      {{"user", "set", "--datei-nr", "2147483648"}, "out of range"},
      {{"user", "set", "--vorname", "A:B"}, "must not contain \":\""},
      {{"user", "set", "--kunden-nr", "47 11"}, "--kunden-nr wants digits only"},
      {{"send-log", "--datum", "2026-02-29"}, "--datum wants a date"},
  };
  for (const auto& c : cases) {
    auto args = c.args;
    args.insert(args.begin(), "--json");
    const std::string label = c.args.front() + " " + c.args.back();
    // The later options win, so a case's own folder or server option replaces the fixture's.
    auto globals = Globals();
    globals.insert(globals.end(), args.begin(), args.end());
    const CliRun run = Run(globals, {}, false);
    EXPECT_EQ(run.status, 2) << label << "\n" << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.message)) << label;
    ASSERT_EQ(run.lines.size(), 1u) << label << "\n" << run.out;
    EXPECT_EQ(run.lines[0]["error"]["class"], "input") << label;
    EXPECT_THAT(run.lines[0]["error"]["message"].get<std::string>(), HasSubstr(c.message));
  }
  EXPECT_EQ(server->ConnectionCount(), 0u);
}

// Each signal ends a run as the user's cancel; while it runs, other runs and user set wait.
TEST_F(CliTest, SignalsEndTheRunWithBenutzerAbbruchAndItHoldsTheInstallation) {
  json scenario = StandardScenario();
  scenario["rules"] = json::array({json{{"code", "AKNEW"}, {"silent", true}}});
  StartServer(scenario);
  auto args = Globals();
  args.insert(args.end(), {"--json", "get-new"});
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    ChildProcess child(Binary(), args, {{"HOME", tmp.path().string()}});
    // The operation name comes before the connection is made: the run is under way.
    ASSERT_TRUE(child.WaitForLine(
        [](const std::string& line) { return line.find("\"callback\"") != std::string::npos; },
        std::chrono::seconds(30)))
        << child.err();
    if (signal_number == SIGINT) {
      for (const Strings& command : {Strings{"--no-wait", "check-new"},
                                     Strings{"--no-wait", "user", "set", "--vorname", "X"}}) {
        const CliRun run = Run(command);
        EXPECT_EQ(run.status, 1) << command.back() << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr("another vexcomm run holds this installation"));
      }
    }
    // A local command waiting for the installation ends at once, with the status a run gives,
    // and leaves the record as it was.
    auto waiting_args = Globals();
    waiting_args.insert(waiting_args.end(), {"user", "set", "--vorname", "X"});
    ChildProcess waiting(Binary(), waiting_args, {{"HOME", tmp.path().string()}});
    ASSERT_TRUE(waiting.WaitForLine(
        [](const std::string& line) { return line.find("waiting") != std::string::npos; },
        std::chrono::seconds(30), true))
        << waiting.err();
    waiting.Signal(signal_number);
    EXPECT_EQ(waiting.Finish(std::chrono::seconds(30)), 128 + signal_number) << waiting.err();
    child.Signal(signal_number);
    EXPECT_EQ(child.Finish(std::chrono::seconds(30)), 128 + signal_number) << child.err();
    // Only the first run connected: the refused ones never did.
    EXPECT_TRUE(signal_number != SIGINT || server->ConnectionCount() == 1u);
    const auto lines = ParseLines(child.out());
    ASSERT_GE(lines.size(), 2u) << signal_number;
    EXPECT_EQ(lines.back()["result"]["Fehler"],
              OrderedJson::parse(R"({"Code":2,"Text":"Benutzer-Abbruch"})"));
    EXPECT_EQ(lines[lines.size() - 2],
              OrderedJson::parse(R"({"event":"NochAufServer","Anzahl":0})"));
  }
  EXPECT_EQ(Run({"--json", "user", "show"}).lines.at(0)["result"]["user"]["Vorname"], "Erika");
}

// Each way a run can fail, once: a script tells them apart by the status alone, a person by the
// one line that says what to do.
TEST_F(CliTest, EachFailureClassHasItsStatusAndOneLine) {
  auto scenario = StandardScenario();
  scenario["rules"][0]["raw"] = "VEXMSG:2:AITGA:01.12.2026:::Bank A|1*Kurz:MSGEND";
  scenario["rules"][2]["chunk_size"] = 1;  // AIWDT, a byte every 20 ms
  scenario["rules"][2]["chunk_delay_ms"] = 20;
  scenario["rules"][1]["raw"] = "HTTP/1.1 400 Bad Request\r\n\r\n:MSGEND";  // not our server
  scenario["rules"].insert(scenario["rules"].begin(), nlohmann::json::parse(R"(
      {"code": "AKWPK", "nth": 2, "error": {"number": "9060", "text": "Wertpapier nicht gefunden"}})"));
  StartServer(scenario);
  const std::string other_pin = "sha256//" + std::string(43, 'A') + "=";
  TinyProxy proxy(TinyProxy::Credentials{"vex", "richtig"});
  const TestPki stranger({"vexmsg.test"});
  const auto stocks =
      tmp.WriteFile("stocks.csv", "WKN,ISIN,Name,VonDatum,BisDatum\n716460,DE0007164600,SAP\n");
  const auto unknown =
      tmp.WriteFile("unknown.csv", "WKN,ISIN,Name,VonDatum,BisDatum\n716460,,SAP\n999999,,Fehlt\n");
  const std::string at = "@127.0.0.1:" + std::to_string(proxy.port());
  const std::string yes = "http://vex:richtig" + at, no = "http://vex:falsch" + at;
  const Strings via_proxy = {"--proxy", "http://" + at.substr(1), "--proxy-user", "vex",
                             "check-new"};
  struct Verdict {
    int status;
    std::string error_class;  // of the JSON result's error member
  };
  struct Case {
    Strings args;
    Verdict verdict;
    std::string line;  // what the one "vexcomm:" line on standard error says; empty: no line
    std::function<void()> prepare = [] {};
    std::map<std::string, std::string> env = {{"VEXCOMM_PROXY_PASSWORD", "richtig"}};
  };
  const std::vector<Case> cases = {
      {{"db", "init-template", ini.string()},
       {1, "failed"},
       "Kurse.dat exists already; it is never replaced"},
      {{"tagesgeld"},
       {1, "invalid_reply"},
       "the run failed: a reply could not be processed (VerarbeiteAITGA"},
      {{"chek-new"}, {2, "usage"}, "did you mean 'check-new'?"},
      {{"--connect-to", "vexmsg.test:443:127.0.0.1:1", "check-new"},
       {3, "network_refused"},
       "no connection"},
      {{"--ca-file", stranger.ca_file().string(), "check-new"},
       {4, "certificate_refused"},
       "--ca-file FILE"},
      // No authority can be read from it: no certificate passes the check.
      {{"--ca-file", tmp.WriteFile("leer.pem", "-").string(), "check-new"},
       {4, "certificate_refused"},
       "nicht lesbar"},
      {{"--speed-limit", "1000", "--speed-time", "0.3", "quote-date"},
       {3, "network_timeout"},
       "no connection to the server (Fehler.Code 1: Zeitüberschreitung: weniger als 1000 Bytes/s"},
      {via_proxy,
       {5, "proxy_refused"},
       "the proxy refused",
       [] {},
       {{"VEXCOMM_PROXY_PASSWORD", "falsch"}}},
      {via_proxy, {0, ""}, ""},
      // Proxies from the environment, as curl reads them.
      {{"check-new"},
       {5, "proxy_refused"},
       "refused the user name or password",
       [] {},
       {{"HTTPS_PROXY", no}}},
      {{"check-new"}, {0, ""}, "", [] {}, {{"HTTPS_PROXY", yes}}},
      // Not through the proxy at all: its credentials would be refused.
      {{"check-new"}, {0, ""}, "", [] {}, {{"https_proxy", no}, {"no_proxy", ".test"}}},
      // A fresh installation: the server does not know it, and the user learns how to set it.
      {{"check-new"},
       {6, "server_error"},
       "(Fehler.Code 5: Kunde nicht gefunden); this installation has no identity yet: vexcomm "
       "user set",
       [&] { ASSERT_TRUE(config::StorePersistentValues(registry, {})); }},
      {{"festgeld"}, {1, "invalid_reply"}, "the server sent \"HTTP/1.1 400 Bad Request\\x0d"},
      {{"--pin-sha256", other_pin, "check-new"},
       {4, "certificate_refused"},
       "if the server changed its key on purpose, add the pin seen with --pin-sha256 (config: "
       "pin-sha256 in [connection]); otherwise"},
      // The local commands fail into the same contract.
      {{"quotes", "--stocks", stocks.string(), "--write-db"}, {0, ""}, ""},
      {{"quotes", "--stocks", unknown.string()},
       {6, "server_error"},
       "(Fehler.Code 9060: Wertpapier nicht gefunden); no quotes arrived for the stock 999999 "
       "Fehlt"},
      {{"db", "show", "999999"}, {1, "failed"}, "no stock with WKN or ISIN 999999"},
      {{"db", "delete", "999999"}, {1, "failed"}, "no stock with WKN 999999"},
      {{"db", "delete"}, {2, "usage"}, "db delete wants WKN|ISIN"},
      {{"db", "export", "--csv", out.string()}, {7, "local"}, out.string() + ": Is a directory"},
      {{"--out", (out / "kurse.svg").string(), "db", "chart", "716460"},
       {7, "local"},
       "kurse.svg: Is a directory",
       [&] { std::filesystem::create_directories(out / "kurse.svg"); }},
      {{"db", "show"},
       {7, "local"},
       "Kurse.dat cannot be read: Die Datei ",
       [&] { tmp.WriteFile("data/Kurse.dat", "kaputt"); }},
      {{"quotes", "--stocks", stocks.string(), "--write-db"},
       {7, "local_store_quote_database"},
       "the quote database failed: ",
       [&] { tmp.WriteFile("data/Kurse.dat", "kaputt"); }},
      // Nothing left: the server's answer to get-file means what "0 new" means to check-new.
      {{"get-file"}, {0, ""}, "", [&] { WriteIdentity(3); }},
      // The files came, but the cursor cannot be stored: the next run would fetch them again.
      {{"get-new"},
       {7, "local_store_registry"},
       "HKEY_CURRENT_USER.txt: Is a directory; what the run received is not",
       [&] {
         WriteIdentity(0);
         std::filesystem::create_directories(registry / "HKEY_CURRENT_USER.txt.tmp");
       }},
  };
  for (const auto& c : cases) {
    c.prepare();
    Strings args = c.args;
    args.insert(args.begin(), "--json");
    const CliRun run = Run(args, c.env);
    const int status = c.verdict.status;
    const std::string label =
        c.args.front() + " " + std::to_string(status) + " " + c.env.begin()->first;
    EXPECT_EQ(run.status, status) << label << "\n" << run.err;
    // Whatever the failure, a script gets one result line that says it.
    ASSERT_FALSE(run.lines.empty()) << label;
    const auto& error = run.lines.back()["error"];
    if (status == 0) {
      EXPECT_TRUE(error.is_null()) << label << ": " << error;
    } else {
      EXPECT_EQ(error["status"], status) << label;
      EXPECT_EQ(error["class"], c.verdict.error_class) << label;
      EXPECT_THAT(run.err, HasSubstr("vexcomm: " + error["message"].get<std::string>()));
    }
    Strings notes;
    std::istringstream err(run.err);
    for (std::string line; std::getline(err, line);) {
      if (line.starts_with("vexcomm: ")) notes.push_back(line);
    }
    if (c.line.empty()) {
      EXPECT_EQ(notes, Strings{}) << label;
    } else {
      ASSERT_EQ(notes.size(), 1u) << label << "\n" << run.err;
      EXPECT_THAT(notes[0], HasSubstr(c.line)) << label;
    }
  }
  std::filesystem::remove_all(registry / "HKEY_CURRENT_USER.txt.tmp");
  // The stocks that arrived are shown beside the one refused.
  EXPECT_THAT(Run({"quotes", "--stocks", unknown.string()}).out, HasSubstr("02.12.2026  141,20"));
  // A folder named as the file to write is left as it was, with nothing beside it.
  for (const auto& folder : {out.parent_path(), out}) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      EXPECT_THAT(entry.path().filename().string(), Not(HasSubstr(".part"))) << entry.path();
    }
  }
  WriteIdentity(3);
  EXPECT_THAT(Run({"get-file"}).out, HasSubstr("No new messages"));
}

// A first run shows the server's pin; pinned to another key a run is refused as a certificate
// is, naming both; one of two pins is enough.
TEST_F(CliTest, APinnedKeyAdmitsOnlyItsServer) {
  StartServer(StandardScenario());
  const std::string pin = pki->PublicKeyPin();
  const std::string other = "sha256//" + std::string(43, 'A') + "=";
  const CliRun first = Run({"--verbose", "check-new"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_THAT(first.err, HasSubstr("public key pin " + pin));
  tmp.WriteFile("xdg/vexcomm/config", "[connection]\npin-sha256 = " + other + "\n");
  const CliRun refused = Run({"check-new"});
  EXPECT_EQ(refused.status, 4);
  EXPECT_THAT(refused.err, HasSubstr("erwartet " + other + ", gesehen " + pin));
  EXPECT_EQ(Run({"--pin-sha256", other, "--pin-sha256", pin, "check-new"}).status, 0);
}

TEST_F(CliTest, ALargeFileShowsItsBytesArrivingAndTheBarEndsAtAHundred) {
  json scenario = StandardScenario();
  scenario["installations"][0]["files"] =
      json::array({{{"nr", 1}, {"name", "gross.txt"}, {"content", std::string(3 << 20, 'x')}}});
  StartServer(scenario);
  std::ostringstream shown_out, shown_err;
  cli::Output output(false, false, true, shown_out, shown_err);
  cli::SessionConfig config;
  config.ini_dir = ini.string() + "/";
  config.data_dir = data.string() + "/";
  config.registry_dir = registry;
  config.out_dir = out;
  config.socket.ca_file = pki->ca_file().string();
  config.socket.connect_to_host = "vexmsg.test";
  config.socket.connect_to_address = "127.0.0.1";
  config.socket.connect_to_address_port = static_cast<uint16_t>(server->port());
  std::filesystem::create_directories(out);
  cli::HostSession session(config, output);
  ASSERT_TRUE(session.Run(VexCommGetNew).ok()) << shown_err.str();
  const std::string err = shown_err.str();
  EXPECT_THAT(err, HasSubstr(" of 3.0 MB"));
  EXPECT_THAT(err.substr(err.rfind('\r')),
              ::testing::AllOf(HasSubstr("100%"), ::testing::EndsWith("\n")));

  // After Ctrl-C the run's last reports draw no bar: it goes and stays gone.
  std::ostringstream cancelled_err;
  cli::Output cancelled(false, false, true, shown_out, cancelled_err);
  cancelled.StartProgress();
  cancelled.Callback(2, "40");
  cancelled.StopDrawing();
  cancelled.Callback(2, "60");
  cancelled.EndProgress();
  EXPECT_THAT(cancelled_err.str(), HasSubstr("40%"));
  EXPECT_THAT(cancelled_err.str(), ::testing::Not(HasSubstr("60%")));
  EXPECT_THAT(cancelled_err.str(), ::testing::EndsWith("\r\x1b[K"));
}

TEST_F(CliTest, UserSetChangesOnlyTheNamedFieldsAndTheNextRunUsesThem) {
  StartServer(StandardScenario());
  CliRun run = Run(
      {"user", "set", "--datei-nr", "2", "--email", "neu@example.test", "--nachname", "M\xFCller"});
  ASSERT_EQ(run.status, 0) << run.err;
  run = Run({"--json", "user", "show"});
  ASSERT_EQ(run.lines.size(), 1u);
  EXPECT_EQ(run.lines[0]["result"], OrderedJson::parse(R"({"user":{"BLZ":"11122233",
      "KundenNr":"4711","DateiNr":2,"Vorname":"Erika","Nachname":"Müller",
      "EMail":"neu@example.test"}})"));
  EXPECT_EQ(Run({"check-new"}).status, 0);
  EXPECT_EQ(NewRequests().front(), "VEXMSG:2:AKNEW:11122233:4711:2:5:MSGEND");
  EXPECT_EQ(Run({"user", "set"}).status, 2);
}

TEST_F(CliTest, EveryCommandHasHelpAndTheProgramItsVersions) {
  const CliRun version = Run({"--json", "--version"}, {}, false);
  ASSERT_EQ(version.lines.size(), 1u) << version.out << version.err;
  EXPECT_THAT(version.lines[0]["result"]["version"]["openssl"].get<std::string>(),
              HasSubstr("OpenSSL 3"));
  EXPECT_FALSE(version.lines[0]["result"]["version"]["sqlcipher"].get<std::string>().empty());

  std::vector<Strings> lines = {{"--help"}, {"help"}, {"user", "--help"}, {"db", "-h"}};
  for (const auto& c : cli::Commands()) {
    Strings words;
    std::istringstream name{std::string(c.name)};
    for (std::string w; name >> w;) words.push_back(w);
    words.push_back("--help");
    lines.push_back(words);
  }
  for (const auto& args : lines) {
    const CliRun run = Run(args, {}, false);
    EXPECT_EQ(run.status, 0) << args.front();
    EXPECT_EQ(run.out.rfind("Usage: vexcomm", 0), 0u) << args.front() << ": " << run.out;
    if (args.size() > 1 && args[0] != "user" && args[0] != "db") {
      EXPECT_THAT(run.out, HasSubstr(args[0])) << args.front();
    }
    EXPECT_LE(WidestLine(run.out), 80u) << args.front() << ": " << run.out;
  }
  // The exit statuses: one table, in the help and word for word in the README.
  const std::string help = Run({"--help"}, {}, false).out;
  const std::string readme = ReadFile(std::filesystem::path(VEXCOMM_SOURCE_DIR) / "README.md");
  for (const auto& e : cli::kExitCodes) {
    const std::string code = std::to_string(e.code);
    EXPECT_THAT(help, HasSubstr(code + "  " + std::string(e.meaning.substr(0, 40))));
    EXPECT_THAT(readme, HasSubstr("| " + code + " | " + std::string(e.meaning) + " |"));
  }
}

TEST_F(CliTest, DemoRunsEverythingAsExpectedAndLeavesItsStepsToRerun) {
  const auto dir = tmp.path() / "demo";
  tmp.WriteFile("demo/commands.sh", "exit 1\n");  // as an earlier demo left it
  const CliRun run = Run({"demo", "--dir", dir.string()}, {}, false);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("holds an earlier demo"));
  EXPECT_THAT(run.out, HasSubstr("All 6 runs ended as expected."));
  EXPECT_THAT(run.out, HasSubstr("vx new-quotes"));
  EXPECT_TRUE(std::filesystem::exists(dir / "data" / "Kurse.dat"));
  EXPECT_TRUE(std::filesystem::exists(dir / "files" / "1-willkommen.txt"));

  ChildProcess rerun("/bin/bash", {(dir / "commands.sh").string()},
                     {{"HOME", tmp.path().string()}});
  EXPECT_EQ(rerun.Finish(std::chrono::seconds(90)), 0) << rerun.out() << rerun.err();
  EXPECT_THAT(rerun.out(), HasSubstr("+ vexcomm new-quotes"));
  EXPECT_THAT(rerun.out(), HasSubstr("Siemens AG"));  // db show at the end
  // Its server answers every operation a person may try against it.
  std::ifstream scenario(dir / "scenario-1.json");
  StartServer(nlohmann::json::parse(scenario));
  for (const Strings& args :
       {Strings{"quote-date"}, Strings{"send-password", "--datum", "1.1.2026"},
        Strings{"tagesgeld"}, Strings{"send-log", "--text", "x"}}) {
    const CliRun tried = Run(args);
    EXPECT_EQ(tried.status, 0) << args[0] << "\n" << tried.err;
  }
  // The certificates serve a month of reruns.
  ChildProcess valid("/usr/bin/openssl",
                     {"x509", "-checkend", std::to_string(30 * 86400), "-noout", "-in",
                      (dir / "pki" / "server.pem").string()},
                     {});
  EXPECT_EQ(valid.Finish(std::chrono::seconds(30)), 0) << valid.out();
}

}  // namespace
}  // namespace vexcomm::test
