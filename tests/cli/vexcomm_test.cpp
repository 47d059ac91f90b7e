// The vexcomm program, run as a child process against the reference server.
#include <signal.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "child_process.h"
#include "cli_fixture.h"
#include "command_line.h"
#include "platform/utf8.h"
#include "quotes/quote_database.h"
#include "quotes/sqlite_handle.h"
#include "support/tinyproxy.h"
#include "text_table.h"

namespace vexcomm::test {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;
using Strings = std::vector<std::string>;

std::set<std::string> FolderEntries(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

// The keys in their order, each with the shape of its value ("#" integer, "?" Boolean), an
// event with its name; an array shows its first element.
std::string Shape(const OrderedJson& v) {
  if (v.is_array()) return "[" + (v.empty() ? "" : Shape(v[0])) + "]";
  if (!v.is_object()) return v.is_number_integer() ? "#" : v.is_boolean() ? "?" : "";
  std::string out = "{";
  for (const auto& [key, value] : v.items()) {
    out += key + (key == "event" ? "=" + value.get<std::string>() : Shape(value)) + " ";
  }
  return out + "}";
}

// Every line is one of the documented kinds, and the result comes last and only there.
void ExpectJsonLines(const CliRun& run, const std::string& label) {
  ASSERT_FALSE(run.lines.empty()) << label << "\n" << run.out << run.err;
  EXPECT_EQ(run.lines.size(),
            static_cast<std::size_t>(std::count(run.out.begin(), run.out.end(), '\n')))
      << label << ": a line that is not JSON\n"
      << run.out;
  const std::set<std::string> kinds = {
      "{callback{kind# text } }", "{messagebox{title text } }", "{event=NochAufServer Anzahl# }",
      "{event=Delete DeleteArray[] removed }",
      "{event=NeueDatei DateiNummer# DateiName Typ VonDatum BisDatum AnzeigeDauer# Wichtigkeit# "
      "Titel URL Datei }"};
  for (std::size_t i = 0; i < run.lines.size(); ++i) {
    const std::string shape = Shape(run.lines[i]);
    const bool result = shape.starts_with("{result");
    EXPECT_EQ(result, i + 1 == run.lines.size()) << label << ": " << shape;
    if (!result) {
      EXPECT_EQ(kinds.count(shape), 1u) << label << ": " << shape;
    }
  }
}

// The products of the standard scenario's deposit lists.
constexpr const char* kTagesgeldProduct = R"({"Name":"Tagesgeld Plus","MindestAnlage":"1000",
    "MaximalAnlage":"50000","Gutschrift":"monatlich","Neukunde":true,"URLInfo":"info",
    "URLNeu":"neu","ZinsGueltigkeit":"3 Monate","Zinsen":[{"AbBetrag":"0","ZinsAnfang":"2,5",
    "GueltigZinsAnfang":3,"ZinsDanach":"1,0","GueltigZinsDanach":12}],"ZinsenFestgeld":[]})";
constexpr const char* kFestgeldProduct = R"({"Name":"Festgeld","MindestAnlage":"5000",
    "MaximalAnlage":"100000","Gutschrift":"jährlich","Neukunde":false,"URLInfo":"info",
    "URLNeu":"neu","ZinsGueltigkeit":"","Zinsen":[],"ZinsenFestgeld":[{"AbBetrag":"5000",
    "Zins_01":"1,0","Zins_03":"1,5","Zins_06":"2,0","Zins_09":"2,2","Zins_12":"2,5",
    "Zins_18":"2,7"}]})";

TEST_F(CliTest, EveryOperationSendsItsRequestAndPrintsTheDocumentedShapes) {
  StartServer(StandardScenario());
  const auto stocks = tmp.WriteFile("stocks.csv",
                                    "WKN,ISIN,Name,VonDatum,BisDatum\r\n716460,DE0007164600,"
                                    "\"SAP SE, Walldorf\",01.12.2026,05.12.2026\r\n");
  // A log written on Windows, and a text typed there: Windows-1252, not UTF-8.
  const auto log = tmp.WriteFile("support.log", "Zeile 1: 5 \x80\r\nZeile 2: 25 \xB0\x43\r\n");
  struct Case {
    Strings args;
    std::string request;  // the code the server must have received
    int32_t modus_after;
    int32_t code;
    std::string tree;       // the extra key of the result, or empty
    std::string ends = {};  // how the request must end, or empty
  };
  // In this order: the quote runs build Kurse.dat for the ones after them, and the fetches
  // walk the server's series (get-file takes file 1, check-new the rest, get-new finds none).
  const std::vector<Case> cases = {
      {{"quote-date"}, "AKWDT", 13, 0, "Aktien"},
      {{"tagesgeld"}, "AKTGA", 16, 0, "Tagesgeld"},
      {{"festgeld"}, "AKFGA", 17, 0, "Festgeld"},
      {{"quotes", "--stocks", stocks.string(), "--write-db"}, "AKWPK", 14, 0, "Aktien"},
      {{"new-quotes"}, "AKWPK", 15, 0, "Aktien"},
      {{"all-quotes", "--from-db"}, "AKWPK", 18, 0, "Aktien"},
      {{"send-log", "--log-file", log.string(), "--datum", "D", "--text", "T\xFCr"},
       "AKLOG",
       19,
       10,
       "",
       ":D:Tür:@30@Zeile 1: 5 €\r\nZeile 2: 25 °C\r\n:MSGEND"},
      {{"send-password", "--datum", "D", "--text", "T"}, "AKPWD", 20, 10, ""},
      {{"run", "16"}, "AKTGA", 16, 0, "Tagesgeld"},
      {{"get-file"}, "AKGET", 3, 0, ""},
      {{"check-new"}, "AKNEW", 2, 0, ""},
      {{"get-new"}, "AKNEW", 2, 0, ""},
  };
  for (const auto& c : cases) {
    auto args = c.args;
    args.insert(args.begin(), "--json");
    const std::string label = c.args.front();
    const CliRun run = Run(args);
    EXPECT_EQ(run.status, 0) << label << "\n" << run.err;
    EXPECT_EQ(run.err, "") << label;
    ExpectJsonLines(run, label);
    if (run.lines.empty()) continue;
    const auto& result = run.lines.back()["result"];
    std::string shape = "{Fehler{Code# Text } Modus# ";
    if (c.tree == "Tagesgeld" || c.tree == "Festgeld") {
      shape += c.tree +
               "{Datum Anbieter[{Name BLZ Produkte[{Name MindestAnlage MaximalAnlage "
               "Gutschrift Neukunde? URLInfo URLNeu ZinsGueltigkeit Zinsen[" +
               (c.tree == "Festgeld" ? "] ZinsenFestgeld[{AbBetrag Zins_01 Zins_03 Zins_06 "
                                       "Zins_09 Zins_12 Zins_18 }]"
                                     : "{AbBetrag ZinsAnfang GueltigZinsAnfang# ZinsDanach "
                                       "GueltigZinsDanach# }] ZinsenFestgeld[]") +
               " }] }] } ";
    } else if (c.tree == "Aktien") {
      shape += result["Aktien"].empty()
                   ? "Aktien[] "
                   : "Aktien[{WKN ISIN Name VonDatum BisDatum ID# Kurse[{Datum Kurs }] }] ";
    }
    EXPECT_EQ(Shape(result), shape + "}") << label;
    if (c.tree == "Tagesgeld" || c.tree == "Festgeld") {
      EXPECT_EQ(result[c.tree]["Anbieter"][0]["Produkte"][0],
                OrderedJson::parse(c.tree == "Tagesgeld" ? kTagesgeldProduct : kFestgeldProduct));
    }
    EXPECT_EQ(result["Fehler"]["Code"], c.code) << label;
    EXPECT_EQ(result["Modus"], c.modus_after) << label;
    bool sent = false;
    std::string seen;
    for (const auto& request : NewRequests()) {
      sent = sent ||
             (request.rfind("VEXMSG:2:" + c.request + ":", 0) == 0 && request.ends_with(c.ends));
      seen += "\n" + request;
    }
    EXPECT_TRUE(sent) << label << " did not send " << c.request << "..." << c.ends << seen;
  }
}

TEST_F(CliTest, QuoteRunsCarryTheStocksAndFillKurseDat) {
  StartServer(StandardScenario());
  const auto stocks =
      tmp.WriteFile("stocks.csv",
                    "\xEF\xBB\xBFwkn,isin,name,vondatum,bisdatum\n716460,DE0007164600,"
                    "\"SAP \"\"SE\"\"\",01.12.2026,05.12.2026\n");
  CliRun run = Run({"--json", "quotes", "--stocks", stocks.string(), "--write-db"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(NewRequests(), (Strings{"VEXMSG:2:AKWPK:716460:DE0007164600:SAP \"SE\":01.12.2026:"
                                    "05.12.2026:MSGEND"}));
  const auto& stock = run.lines.back()["result"]["Aktien"][0];
  EXPECT_EQ(stock["Name"], "SAP SE");  // the server's name replaces the host's
  EXPECT_EQ(stock["Kurse"], OrderedJson::parse(R"([{"Datum":"01.12.2026","Kurs":"140,10"},
                                                  {"Datum":"02.12.2026","Kurs":"141,20"}])"));

  run = Run({"--json", "db", "show"});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.lines.size(), 1u);
  EXPECT_EQ(run.lines[0]["Aktien"][0]["Kurse"].size(), 2u);

  // The new-quotes run asks from the last stored date on, with an empty end date.
  run = Run({"--json", "new-quotes"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(NewRequests(),
            (Strings{"VEXMSG:2:AKWPK:716460:DE0007164600:SAP SE:02.12.2026::MSGEND"}));

  // A database that refuses the deletion: no success is printed, the cause is.
  const auto refuse = [&](std::string_view sql) {
    quotes::Connection(data / "Kurse.dat", quotes::kDatabaseKey,
                       quotes::Connection::Mode::ReadWrite)
        .Execute(sql);
  };
  refuse("CREATE TRIGGER keep BEFORE DELETE ON Aktien BEGIN SELECT RAISE(ABORT, 'gesperrt'); END");
  run = Run({"db", "delete", "716460"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(run.err, HasSubstr("gesperrt"));
  refuse("DROP TRIGGER keep");
  // Runs over stored stocks show each date once and in order, as now stored.
  const auto stored = OrderedJson::parse(R"([{"Datum":"01.12.2026","Kurs":"140,10"},
                                             {"Datum":"02.12.2026","Kurs":"141,20"}])");
  for (const Strings& args : {Strings{"--json", "all-quotes", "--from-db"},
                              Strings{"--json", "all-quotes", "--from-db", "--write-db"}}) {
    run = Run(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.lines.back()["result"]["Aktien"][0]["Kurse"], stored) << args.back();
  }

  run = Run({"db", "delete", "716460"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Gelöscht: 716460"));
  run = Run({"--json", "db", "show"});
  EXPECT_EQ(run.lines.at(0)["Aktien"], OrderedJson::array());
  run = Run({"db", "delete", "716460"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("no stock with WKN 716460"));
}

TEST_F(CliTest, HistoryExportAndImportKeepEveryQuote) {
  const auto input = tmp.WriteFile("in.csv",
                                   "WKN;ISIN;Name;Datum;Kurs\n"
                                   "716460;DE0007164600;SAP SE;02.12.2026;141,20\n"
                                   "716460;DE0007164600;SAP SE;30.11.2026;139\n"
                                   "716460;DE0007164600;SAP SE;1.12.2026;140.10\n"
                                   "514000;DE0005140008;\"Bank; AG\";2026-12-01;12,5\n");
  const auto bad =
      tmp.WriteFile("bad.csv", "WKN,Datum,Kurs\n716460,03.12.2026,150\n716460,31.02.2026,1\n");
  const auto exported = tmp.path() / "out.csv";
  const std::string history =
      R"({"Aktien":[{"WKN":"716460","ISIN":"DE0007164600","Name":"SAP SE","Kurse":[)"
      R"({"Datum":"1.12.2026","ISO":"2026-12-01","Kurs":"140,10","Wert":140.1},)"
      R"({"Datum":"02.12.2026","ISO":"2026-12-02","Kurs":"141,20","Wert":141.2}]}]})"
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
       "716460;DE0007164600;SAP SE;1.12.2026;2026-12-01;140,10\r\n"
       "716460;DE0007164600;SAP SE;02.12.2026;2026-12-02;141,20\r\n"
       "514000;DE0005140008;\"Bank; AG\";2026-12-01;2026-12-01;12,5\r\n",
       ""},
      {{"db", "export", "514000", "--csv", "-"},
       0,
       "WKN,ISIN,Name,Datum,ISO,Kurs\r\n514000,DE0005140008,Bank; "
       "AG,2026-12-01,2026-12-01,12.5\r\n",
       ""},
      {{"db", "export", "--csv", exported.string()}, 0, "", ""},
      {{"db", "import", "--csv", bad.string()}, 2, "", "line 3: \"31.02.2026\" is no date"},
      {{"--json", "db", "show", "716460", "--from", "1.12.2026"}, 0, history, ""},
      {{"db", "show", "999999"}, 1, "", "no stock with WKN or ISIN 999999"},
  };
  for (const auto& c : cases) {
    const std::string label = c.args[c.args[0] == "--json" ? 2 : 1] + " " + c.args.back();
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.status, c.status) << label << "\n" << run.err;
    if (!c.out.empty()) {
      EXPECT_EQ(run.out, c.out) << label;
    }
    EXPECT_THAT(run.err, HasSubstr(c.err)) << label;
  }

  // The export, read into an empty database, gives the same quotes.
  const OrderedJson before = Run({"--json", "db", "show", "--from", "1900-01-01"}).lines.at(0);
  std::filesystem::remove(data / "Kurse.dat");
  ASSERT_EQ(Run({"db", "import", "--csv", exported.string()}).status, 0);
  EXPECT_EQ(Run({"--json", "db", "show", "--from", "1900-01-01"}).lines.at(0), before);
  EXPECT_EQ(before["Aktien"].size(), 2u);
  // A stock can be named by its ISIN.
  const CliRun run = Run({"db", "delete", "DE0005140008"});
  EXPECT_EQ(run.out, "Gelöscht: 514000 Bank; AG (1 Kurse)\n") << run.err;
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
       {"A & <B> (514000) (erster Tag = 100)", "100,6", "02.12."}},
  };
  for (const auto& c : cases) {
    const auto svg = tmp.path() / "chart.svg";
    Strings args = {"--json", "db", "chart", "716460", "514000", "--out", svg.string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CliRun run = Run(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto& chart = run.lines.at(0)["chart"];

    ChildProcess python("/usr/bin/python3", {inspect.string(), svg.string()});
    ASSERT_EQ(python.Finish(std::chrono::seconds(20)), 0) << python.err();
    const auto seen = OrderedJson::parse(python.out());
    EXPECT_EQ(seen["paths"], OrderedJson(c.paths)) << c.options[0];
    EXPECT_EQ(seen["outside"], OrderedJson::array());
    EXPECT_EQ(seen["size"], OrderedJson({std::to_string(chart["width"].get<int>()),
                                         std::to_string(chart["height"].get<int>())}));
    EXPECT_THAT(seen["texts"].get<Strings>(), ::testing::IsSupersetOf(c.texts));

    // The program's own PNG: the same chart, rasterised, of the same size.
    const auto png = tmp.path() / "chart.png";
    args[args.size() - c.options.size() - 1] = png.string();
    const CliRun as_png = Run(args);
    ASSERT_EQ(as_png.status, 0) << as_png.err;
    const std::string header = ReadFile(png).substr(0, 24);
    ASSERT_EQ(header.substr(1, 3), "PNG");
    auto be32 = [&header](std::size_t at) {
      return (static_cast<unsigned char>(header[at]) << 24) |
             (static_cast<unsigned char>(header[at + 1]) << 16) |
             (static_cast<unsigned char>(header[at + 2]) << 8) |
             static_cast<unsigned char>(header[at + 3]);
    };
    EXPECT_EQ(be32(16), chart["width"].get<int>());
    EXPECT_EQ(be32(20), chart["height"].get<int>());
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
    std::size_t widest = 0;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      widest = std::max(widest, platform::CodePointCount(line));
    }
    if (c.width > 0) {
      EXPECT_LE(widest, c.width) << label << "\n" << run.out;
      EXPECT_THAT(run.out, HasSubstr("Anbieter")) << label;
      EXPECT_THAT(run.out, ::testing::Not(HasSubstr("BLZ"))) << label;
    } else {
      EXPECT_THAT(run.out, HasSubstr("Maximalanlage")) << label;
    }
  }
}

TEST_F(CliTest, FetchReportsEventsInOrderAndKeepsTheFolderInStep) {
  auto scenario = StandardScenario();
  scenario["installations"][0]["files"].push_back({{"nr", 4}, {"name", "leer.txt"}});
  StartServer(scenario);
  // The user's own files, under the numbers (one even under the name) that the server sends.
  const std::set<std::string> own = {"1-brief.txt", "1-vertrag.pdf", "3-notizen.txt"};
  for (const auto& name : own) tmp.WriteFile("out/" + name, "privat " + name);
  const CliRun run = Run({"--json", "get-new"});
  // A file the server sent without content was lost: the run is not a success.
  ASSERT_EQ(run.status, 1) << run.err;
  Strings events;
  for (const auto& line : run.lines) {
    if (line.contains("event")) events.push_back(line["event"]);
  }
  EXPECT_EQ(events, (Strings{"NeueDatei", "NeueDatei", "Delete", "Skipped", "NochAufServer"}));
  // A file without content is counted by the server: the host is told, not left to guess.
  EXPECT_THAT(run.lines, ::testing::Contains(OrderedJson::parse(
                             R"({"event":"Skipped","DateiNummer":4,"DateiName":"leer.txt"})")));
  EXPECT_THAT(run.err, HasSubstr("Warnung: Datei 4 (leer.txt) ohne Inhalt übersprungen"));
  const OrderedJson* second = nullptr;
  const OrderedJson* deletion = nullptr;
  for (const auto& line : run.lines) {
    if (line.value("event", "") == "NeueDatei" && line["DateiNummer"] == 2) second = &line;
    if (line.value("event", "") == "Delete") deletion = &line;
  }
  ASSERT_TRUE(second && deletion);
  EXPECT_EQ(*second, OrderedJson::parse(R"({"event":"NeueDatei","DateiNummer":2,
      "DateiName":"liste.csv","Typ":"CSV","VonDatum":"01.12.2026","BisDatum":"31.12.2026",
      "AnzeigeDauer":7,"Wichtigkeit":2,"Titel":"Liste","URL":"www.example.test/liste",
      "Datei":"a;b\r\n1;2\r\n"})"));
  EXPECT_EQ((*deletion)["DeleteArray"], OrderedJson::parse(R"([null,"1"])"));
  EXPECT_EQ((*deletion)["removed"], (out / "1-brief-2.txt").string());
  // File 1 came and was withdrawn in the same run; file 2 stays with its exact content.
  auto expected = own;
  expected.insert({"2-liste.csv", ".vexcomm-saved"});
  EXPECT_EQ(FolderEntries(out), expected);
  EXPECT_EQ(ReadFile(out / "2-liste.csv"), "a;b\r\n1;2\r\n");
  for (const auto& name : own) EXPECT_EQ(ReadFile(out / name), "privat " + name);

  const CliRun again = Run({"--json", "user", "show"});
  EXPECT_EQ(again.lines.at(0)["user"]["DateiNr"], 4);

  // The deletion notice again, now for a file that is not saved: nothing goes, and it says so.
  ASSERT_EQ(Run({"user", "set", "--datei-nr", "2"}).status, 0);
  const CliRun repeat = Run({"get-new"});
  EXPECT_EQ(repeat.status, 1) << repeat.err;
  EXPECT_THAT(repeat.err, HasSubstr("no file saved here under number 1: none removed"));
  EXPECT_EQ(FolderEntries(out), expected);
}

TEST_F(CliTest, AFileThatCannotBeSavedStaysOnTheServerForTheNextRun) {
  StartServer(StandardScenario());
  // A read-only folder, and a record that cannot be replaced even by root.
  std::filesystem::create_directories(out / ".vexcomm-saved");
  std::filesystem::permissions(
      out, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const CliRun run = Run({"--json", "get-new"});
  EXPECT_EQ(run.status, 1) << run.err;
  ASSERT_GE(run.lines.size(), 2u) << run.out;
  const auto& fehler = run.lines.back()["result"]["Fehler"];
  EXPECT_EQ(fehler["Code"], 2);
  EXPECT_THAT(fehler["Text"].get<std::string>(), ::testing::StartsWith("Datei nicht angenommen: "));
  EXPECT_EQ(run.lines[run.lines.size() - 2],
            OrderedJson::parse(R"({"event":"NochAufServer","Anzahl":3})"));
  EXPECT_EQ(NewRequests().size(), 2u);  // no AKGET after the refused file
  EXPECT_EQ(Run({"--json", "user", "show"}).lines.at(0)["user"]["DateiNr"], 0);
  std::filesystem::permissions(out, std::filesystem::perms::owner_all);  // for the clean-up
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
                        Case{{"--verbose", "tagesgeld"}, 1, "\\x1b[31mkaputt"}}) {
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.status, c.status) << c.args.back() << run.err;
    EXPECT_THAT(run.out + run.err, HasSubstr(c.shown)) << c.args.back();
    EXPECT_EQ((run.out + run.err).find('\x1b'), std::string::npos) << c.args.back();
    EXPECT_EQ((run.out + run.err).find('\x07'), std::string::npos) << c.args.back();
  }
}

// The parsers' own tests hold their messages; here each kind of input fails the same way.
TEST_F(CliTest, InputsThatCannotBeReadEndWithStatusTwoBeforeAnythingIsSent) {
  StartServer(StandardScenario());
  const auto header_only = tmp.WriteFile("empty.csv", "WKN,ISIN,Name,VonDatum,BisDatum\n");
  const std::string missing = (tmp.path() / "missing").string();
  struct Case {
    Strings args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"quotes", "--stocks", missing}, "cannot read stocks file"},
      {{"quotes", "--stocks", tmp.path().string()}, "not a regular file"},
      {{"all-quotes", "--stocks", header_only.string()}, "lists no stock"},
      {{"quotes"}, "needs --stocks FILE or --from-db"},
      {{"quotes", "--from-db"}, "there is no"},
      {{"send-log", "--log-file", missing}, "cannot read log file"},
      {{"--ini-dir", missing, "check-new"}, "--ini-dir: the folder " + missing},
      {{"--data-dir", missing, "tagesgeld"}, "--data-dir: the folder"},
      {{"--ca-file", missing, "get-new"}, "cannot read CA file"},
      {{"--proxy", "127.0.0.1:3128", "--proxy-user", "u", "get-new"}, "VEXCOMM_PROXY_PASSWORD"},
      {{"run", "zwei"}, "whole number"},
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
    EXPECT_EQ(run.out, "") << label;
  }
  EXPECT_EQ(server->ConnectionCount(), 0u);
}

TEST_F(CliTest, SignalsEndTheRunWithBenutzerAbbruch) {
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
    child.Signal(signal_number);
    EXPECT_EQ(child.Finish(std::chrono::seconds(30)), 1) << signal_number << child.err();
    const auto lines = ParseLines(child.out());
    ASSERT_GE(lines.size(), 2u) << signal_number;
    EXPECT_EQ(lines.back(), OrderedJson::parse(R"({"result":{"Fehler":{"Code":2,
        "Text":"Benutzer-Abbruch"},"Modus":2}})"));
    EXPECT_EQ(lines[lines.size() - 2],
              OrderedJson::parse(R"({"event":"NochAufServer","Anzahl":0})"));
  }
}

TEST_F(CliTest, ARunHoldsTheInstallationAgainstOtherRunsAndUserSet) {
  json scenario = StandardScenario();
  scenario["rules"] = json::array({json{{"code", "AKNEW"}, {"silent", true}}});
  StartServer(scenario);
  auto args = Globals();
  args.insert(args.end(), {"--json", "get-new"});
  ChildProcess child(Binary(), args, {{"HOME", tmp.path().string()}});
  ASSERT_TRUE(child.WaitForLine(
      [](const std::string& line) { return line.find("\"callback\"") != std::string::npos; },
      std::chrono::seconds(30)))
      << child.err();
  for (const Strings& command :
       {Strings{"--no-wait", "check-new"}, Strings{"--no-wait", "user", "set", "--vorname", "X"}}) {
    const CliRun run = Run(command);
    EXPECT_EQ(run.status, 1) << command.back() << "\n" << run.err;
    EXPECT_THAT(run.err, HasSubstr("another vexcomm run holds this installation"));
  }
  child.Signal(SIGINT);
  EXPECT_EQ(child.Finish(std::chrono::seconds(30)), 1) << child.err();
  EXPECT_EQ(server->ConnectionCount(), 1u);
  const CliRun run = Run({"--json", "user", "show"});
  EXPECT_EQ(run.lines.at(0)["user"]["Vorname"], "Erika");
}

TEST_F(CliTest, ProxyCredentialsAreCheckedByTheProxy) {
  StartServer(StandardScenario());
  TinyProxy proxy(TinyProxy::Credentials{"vex", "richtig"});
  struct Case {
    std::string password;
    int status;
    std::string message;
  };
  for (const Case& c :
       {Case{"falsch", 1, "the proxy refused the user name or password"}, Case{"richtig", 0, ""}}) {
    const CliRun run = Run({"--proxy", "127.0.0.1:" + std::to_string(proxy.port()), "--proxy-user",
                            "vex", "check-new"},
                           {{"VEXCOMM_PROXY_PASSWORD", c.password}});
    EXPECT_EQ(run.status, c.status) << c.password << "\n" << run.err << proxy.Output();
    if (!c.message.empty()) {
      EXPECT_THAT(run.err, HasSubstr(c.message));
    }
  }
  EXPECT_EQ(server->ConnectionCount(), 1u);
}

TEST_F(CliTest, UserSetChangesOnlyTheNamedFieldsAndTheNextRunUsesThem) {
  StartServer(StandardScenario());
  CliRun run = Run(
      {"user", "set", "--datei-nr", "2", "--email", "neu@example.test", "--nachname", "M\xFCller"});
  ASSERT_EQ(run.status, 0) << run.err;
  run = Run({"--json", "user", "show"});
  ASSERT_EQ(run.lines.size(), 1u);
  EXPECT_EQ(run.lines[0], OrderedJson::parse(R"({"user":{"BLZ":"11122233","KundenNr":"4711",
      "DateiNr":2,"Vorname":"Erika","Nachname":"Müller","EMail":"neu@example.test"}})"));
  run = Run({"check-new"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(NewRequests().front(), "VEXMSG:2:AKNEW:11122233:4711:2:5:MSGEND");
  EXPECT_EQ(Run({"user", "set"}).status, 2);
}

TEST_F(CliTest, TemplateDatabaseIsWrittenOnceAndNeverReplaced) {
  const std::string dir = (tmp.path() / "vorlage").string();
  ASSERT_EQ(Run({"db", "init-template", dir}, {}, false).status, 0);
  const CliRun again = Run({"db", "init-template", dir}, {}, false);
  EXPECT_EQ(again.status, 1);
  EXPECT_THAT(again.err, HasSubstr("never replaced"));
}

TEST_F(CliTest, EveryCommandHasHelp) {
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
  }
}

TEST_F(CliTest, DemoRunsEverythingAsExpected) {
  const auto dir = tmp.path() / "demo";
  const CliRun run = Run({"demo", "--dir", dir.string()}, {}, false);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("All 6 runs ended as expected."));
  EXPECT_TRUE(std::filesystem::exists(dir / "data" / "Kurse.dat"));
  EXPECT_TRUE(std::filesystem::exists(dir / "files" / "1-willkommen.txt"));
}

}  // namespace
}  // namespace vexcomm::test
