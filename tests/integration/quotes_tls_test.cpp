// Securities quotes end to end: the reference server's AKWDT/AKWPK answers, and runs of
// operations 13, 14, 15 and 18 over real TLS, with the quote database in between.
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <vexcomm/quotes.h>

#include "integration/tls_fixture.h"
#include "vexmsg-server/lib/request_handlers.h"

namespace vexcomm::test {
namespace {

// ---- the server's answers ------------------------------------------------------------------

TEST(QuoteHandlersTest, QuotesFollowTheRequestedRange) {
  const auto scenario = vexmsg::Scenario::Parse(R"({"wertpapiere": {"datum": "05.12.2026",
    "aktien": [
      {"wkn": "766403", "isin": "DE0007664039", "name": "VW", "kurse": [
        ["28.11.2026", "99,00"], {"datum": "2026-12-01", "kurs": "100,10"},
        ["2.12.2026", "101,20", "x"], ["04.12.2026", "103,40"]]},
      {"wkn": "", "isin": "DE0005140008", "name": "DB", "kurse": [["01.01.2026", "9,50"]]},
      {"wkn": 840400, "isin": "X", "name": "Roh", "list": "d1*p1#d2#d3*p3*x#"}]}})");
  const std::string vw = "VEXMSG:2:AIWPK:766403:DE0007664039:VW:";
  // Ranges with both ends, open ends, a lookup by ISIN and the date request are what
  // QuotesTlsTest asks; here the rest.
  const std::pair<std::string, std::string> cases[] = {
      {"AKWPK:766403:::2026-12-02:2026-12-31:", vw + "2.12.2026*101,20*x#04.12.2026*103,40:MSGEND"},
      {"AKWPK:766403:::05.12.2026::", vw + ":MSGEND"},
      // Found by ISIN when the WKN is unknown; an empty WKN never matches.
      {"AKWPK:999:DE0005140008:x:::", "VEXMSG:2:AIWPK::DE0005140008:DB:01.01.2026*9,50:MSGEND"},
      {"AKWPK:840400::::", "VEXMSG:2:AIWPK:840400:X:Roh:d1*p1#d2#d3*p3*x#:MSGEND"},
      {"AKWPK::::::", "VEXMSG:2:AIERR:9060:Wertpapier nicht gefunden:MSGEND"},
      {"AKWPK:766403:::31.02.2026::", "VEXMSG:2:AIERR:9061:Ungültiges Datum 31.02.2026:MSGEND"},
      {"AKWPK:766403:::", "VEXMSG:2:AIERR:9005:Anfrage fehlerhaft:MSGEND"},
      {"AKWPK:766403:DE0007664039:A:B:01.12.2026::",
       "VEXMSG:2:AIERR:9005:Anfrage fehlerhaft:MSGEND"},
  };
  for (const auto& [request, reply] : cases) {
    EXPECT_EQ(Answer(scenario, vexmsg::ParseRequest("VEXMSG:2:" + request + "MSGEND")).ToString(),
              Wire(reply))
        << request;
  }
}

TEST(QuoteHandlersTest, MissingOrFaultyDataAreServerErrors) {
  struct Case {
    std::string scenario;
    std::string request;
    std::string reply;
  };
  const Case cases[] = {
      {"{}", "AKWDT", "VEXMSG:2:AIERR:9003:Keine Kursdaten vorhanden:MSGEND"},
      {"{}", "AKWPK:1:::01.12.2026", "VEXMSG:2:AIERR:9003:Keine Kursdaten vorhanden:MSGEND"},
      {R"({"wertpapiere": {"unbekannt": {"number": 9071, "text": "Kein Wertpapier"}}})",
       "AKWPK:1:::01.12.2026", "VEXMSG:2:AIERR:9071:Kein Wertpapier:MSGEND"},
      {R"({"wertpapiere": {"aktien": [{"wkn": "1", "kurse": [["1.12.2026", "1"], ["gestern", "2"]]}]}})",
       "AKWPK:1::::",
       "VEXMSG:2:AIERR:9004:scenario wertpapiere.aktien[0].kurse[1] - date DD.MM.YYYY or "
       "YYYY-MM-DD "
       "expected:MSGEND"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Answer(vexmsg::Scenario::Parse(c.scenario),
                     vexmsg::ParseRequest("VEXMSG:2:" + c.request + ":MSGEND"))
                  .ToString(),
              c.reply)
        << c.scenario;
  }
}

// ---- runs over TLS ---------------------------------------------------------------------------

// Dates in the text order of DD.MM.YYYY differ from their order in time: "15.11.2026" sorts
// after "04.12.2026" as text.
constexpr const char* kScenario = R"({"wertpapiere": {"datum": "05.12.2026", "aktien": [
  {"wkn": "766403", "isin": "DE0007664039", "name": "Volkswagen AG Vz.", "kurse": [
    ["01.11.2025", "120,00"], ["06.12.2025", "118,50"], ["15.11.2026", "101,00"],
    ["01.12.2026", "100,10"], ["02.12.2026", "101,20"], ["04.12.2026", "103,40"]]},
  {"wkn": "514000", "isin": "DE0005140008", "name": "Deutsche Bank AG", "kurse": [
    ["01.12.2026", "9,50"], ["03.12.2026", "9,70"]]},
  {"wkn": "840400", "isin": "DE0008404005", "name": "Allianz SE", "kurse": [
    ["05.12.2025", "250,00"], ["30.06.2026", "260,00"], ["03.12.2026", "270,00"]]}]}})";

// A stock as the host sees it: its properties, then its quotes.
std::string Describe(const clsAktie& stock) {
  std::string out = stock.WKN + "|" + stock.ISIN + "|" + stock.Name + "|" + stock.VonDatum + "|" +
                    stock.BisDatum + ":";
  for (int32_t i = 1; i <= stock.KursCount(); ++i) {
    out += " " + stock.Kurs(i)->Datum + "=" + stock.Kurs(i)->Kurs;
  }
  return out;
}

std::vector<std::string> Describe(const colAktien& aktien) {
  std::vector<std::string> out;
  for (int32_t i = 1; i <= aktien.Count(); ++i) out.push_back(Describe(*aktien.Item(i)));
  return out;
}

class QuotesTlsTest : public TlsComponentTest {};

TEST_F(QuotesTlsTest, TheDateOfTheQuotesIsLogged) {
  Start(kScenario);
  EXPECT_EQ(Run(vexCommWDT), vcerrNoError);
  EXPECT_EQ(WireRequests(), std::vector<std::string>{"VEXMSG:2:AKWDT:MSGEND"});
  const std::vector<std::string> lines = {"SSL-Connect : vexmsg.invalid ",
                                          "Datum WP-Kurse anfordern ", "WP-Datum:  05.12.2026"};
  EXPECT_EQ(LogLines(), lines);
  EXPECT_TRUE(Reports(4).empty());
}

TEST_F(QuotesTlsTest, EachStockGetsTheQuotesOfItsRange) {
  Start(kScenario);
  auto aktien = vc->Aktien();
  auto vw = aktien->Add("766403", "DE0007664039", "VW: Vorzüge");
  vw->VonDatum = "01.12.2026";
  vw->BisDatum = "03.12.2026";
  aktien->Add("514000", "", "Deutsche Bank");
  aktien->Add("", "DE0008404005", "Allianz")->VonDatum = "2026-06-30";

  EXPECT_EQ(Run(vexCommWPK), vcerrNoError);

  EXPECT_EQ(WireRequests(),
            (std::vector<std::string>{
                Wire("VEXMSG:2:AKWPK:766403:DE0007664039:VW  Vorzüge:01.12.2026:03.12.2026:MSGEND"),
                "VEXMSG:2:AKWPK:514000::Deutsche Bank:::MSGEND",
                "VEXMSG:2:AKWPK::DE0008404005:Allianz:2026-06-30::MSGEND"}));
  // The reply's WKN, ISIN and name replace the stock's; the range the host set stays.
  EXPECT_EQ(
      Describe(*aktien),
      (std::vector<std::string>{
          "766403|DE0007664039|Volkswagen AG Vz.|01.12.2026|03.12.2026: 01.12.2026=100,10 "
          "02.12.2026=101,20",
          "514000|DE0005140008|Deutsche Bank AG||: 01.12.2026=9,50 03.12.2026=9,70",
          "840400|DE0008404005|Allianz SE|2026-06-30|: 30.06.2026=260,00 03.12.2026=270,00"}));
  EXPECT_EQ(LogLines().at(1), "WP-Kurs abrufen WKN=766403 ISIN=DE0007664039 Name=VW: Vorzüge ");
  EXPECT_EQ(Reports(2).size(), 3u);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "data" / "Kurse.dat"));
}

TEST_F(QuotesTlsTest, AYearOfQuotesIsAskedFromTheConvertedDate) {
  Start(kScenario);
  auto aktien = vc->Aktien();
  aktien->Add("840400", "DE0008404005", "Allianz SE")->VonDatum = "01.01.2000";
  aktien->Add("514000", "DE0005140008", "Deutsche Bank AG")->BisDatum = "02.12.2026";

  EXPECT_EQ(Run(vexCommGetAllWPK), vcerrNoError);

  // Today is 06.12.2026: a year back, in the converter's DD.MM.YYYY, and no end date field.
  EXPECT_EQ(WireRequests(),
            (std::vector<std::string>{
                "VEXMSG:2:AKWPK:840400:DE0008404005:Allianz SE:06.12.2025:MSGEND",
                "VEXMSG:2:AKWPK:514000:DE0005140008:Deutsche Bank AG:06.12.2025:MSGEND"}));
  EXPECT_EQ(Describe(*aktien),
            (std::vector<std::string>{
                "840400|DE0008404005|Allianz SE|06.12.2025|: 30.06.2026=260,00 03.12.2026=270,00",
                "514000|DE0005140008|Deutsche Bank AG|06.12.2025|02.12.2026: 01.12.2026=9,50 "
                "03.12.2026=9,70"}));
  EXPECT_EQ(LogLines().at(1), "Alle Kurse abrufen WKN=840400 ISIN=DE0008404005 Name=Allianz SE ");
  EXPECT_EQ(Reports(4).front(), "Alle Wertpapierdaten abrufen");
}

TEST_F(QuotesTlsTest, NewQuotesContinueFromTheLastStoredDate) {
  ASSERT_TRUE(CreateTemplateDatabase(dir.path() / "ini" / "Kurse.dat"));
  Start(kScenario);
  // Nothing stored yet: the run ends without a request.
  EXPECT_EQ(Run(vexCommNewWPK), vcerrNoError);
  EXPECT_TRUE(server->Requests().empty());
  EXPECT_EQ(LogLines().back(), "keine Aktien vorhanden ");

  auto aktien = vc->Aktien();
  aktien->Add("766403", "", "VW")->VonDatum = "01.11.2025";
  aktien->Add("514000", "", "DB");
  aktien->WriteDB = true;
  ASSERT_EQ(Run(vexCommWPK), vcerrNoError);
  ASSERT_TRUE(std::filesystem::exists(dir.path() / "data" / "Kurse.dat"));

  // The server has moved on: one price corrected, one new day each.
  auto document = nlohmann::json::parse(kScenario);
  auto& stocks = document["wertpapiere"]["aktien"];
  stocks[0]["kurse"][5] = {"04.12.2026", "103,50"};
  stocks[0]["kurse"].push_back({"05.12.2026", "104,00"});
  stocks[1]["kurse"].push_back({"04.12.2026", "9,80"});
  server->SetScenario(vexmsg::Scenario::FromJson(document, {}));
  reports.clear();
  aktien->WriteDB = false;  // a run for new quotes stores them whatever the host set
  EXPECT_EQ(Run(vexCommNewWPK), vcerrNoError);

  const auto requests = WireRequests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[2], "VEXMSG:2:AKWPK:766403:DE0007664039:Volkswagen AG Vz.:04.12.2026::MSGEND");
  EXPECT_EQ(requests[3], "VEXMSG:2:AKWPK:514000:DE0005140008:Deutsche Bank AG:03.12.2026::MSGEND");
  EXPECT_EQ(Reports(4).front(), "Wertpapierdaten abrufen");

  // Read back: the corrected price in place, the new days added, nothing doubled.
  ASSERT_TRUE(aktien->ReadDB());
  EXPECT_EQ(Describe(*aktien),
            (std::vector<std::string>{
                "766403|DE0007664039|Volkswagen AG Vz.|01.11.2025|05.12.2026: 01.11.2025=120,00 "
                "06.12.2025=118,50 15.11.2026=101,00 01.12.2026=100,10 02.12.2026=101,20 "
                "04.12.2026=103,50 05.12.2026=104,00",
                "514000|DE0005140008|Deutsche Bank AG|01.12.2026|04.12.2026: 01.12.2026=9,50 "
                "03.12.2026=9,70 04.12.2026=9,80"}));
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace vexcomm::test
