// Deposit conditions end to end: the reference server's AKTGA/AKFGA answers, and runs of
// operations 16 and 17 over real TLS that rebuild the two trees a host then walks.
#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <vexcomm/deposits.h>

#include "integration/tls_fixture.h"
#include "support/error_of.h"
#include "vexmsg-server/lib/request_handlers.h"

namespace vexcomm::test {
namespace {

using automation::Dispatch;
using automation::InvokeKind;
using automation::Variant;

// ---- the server's answers ------------------------------------------------------------------

TEST(DepositHandlersTest, ConditionsAreWrittenInTheGrammarOfTheReply) {
  struct Case {
    const char* name;
    std::string scenario;
    std::string request;
    std::string reply;        // exact, when no error is expected
    std::string error_start;  // else the beginning of the AIERR reply
  };
  const std::string product =
      R"({"name": "P", "mindestanlage": 1000, "maximalanlage": "50000", "gutschrift": "m",
          "neukunde": true, "url_info": "i", "url_neu": "n", "zinsgueltigkeit": "3 Monate")";
  const Case cases[] = {
      {"fixed term: head of seven fields, rows of seven",
       R"({"festgeld": {"datum": "05.12.2026", "element5": "x", "element6": 7, "anbieter": [
          {"name": "Bank F", "blz": "", "produkte": [)" +
           product + R"(, "zinsen": [{"ab_betrag": "5000", "zins_01": "1,1", "zins_03": "1,3",
             "zins_06": "1,6", "zins_09": "1,9", "zins_12": "2,2", "zins_18": "2,8"}]}]}]}})",
       "VEXMSG:2:AKFGA:MSGEND",
       "VEXMSG:2:AIFGA:05.12.2026:x:7:Bank F|*P|1000|50000|m|1|i|n~5000|1,1|1,3|1,6|1,9|2,2|2,8:"
       "MSGEND",
       ""},
      {"no section", R"({"festgeld": {"datum": "d"}})", "VEXMSG:2:AKTGA:MSGEND",
       "VEXMSG:2:AIERR:9003:Keine Konditionen vorhanden:MSGEND", ""},
      {"a separator inside a field",
       R"({"tagesgeld": {"anbieter": [{"name": "A"}, {"name": "B*C"}]}})", "VEXMSG:2:AKTGA:MSGEND",
       "", "VEXMSG:2:AIERR:9004:scenario tagesgeld.anbieter[1].name - "},
      {"a request with a field", R"({"tagesgeld": {"list": "A"}})", "VEXMSG:2:AKTGA:x:MSGEND",
       "VEXMSG:2:AIERR:9005:Anfrage fehlerhaft:MSGEND", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto scenario = vexmsg::Scenario::Parse(c.scenario);
    const std::string reply = Answer(scenario, vexmsg::ParseRequest(c.request)).ToString();
    if (c.error_start.empty()) {
      EXPECT_EQ(reply, c.reply);
    } else {
      EXPECT_TRUE(reply.starts_with(c.error_start) && reply.ends_with(":MSGEND")) << reply;
      EXPECT_EQ(std::count(reply.begin(), reply.end(), ':'), 5) << "the text shifts fields";
    }
  }
}

// ---- runs over TLS ---------------------------------------------------------------------------

constexpr const char* kScenario = R"({
  "installations": [{"blz": "11122233", "kundennr": "4711", "files": [
    {"nr": 18, "name": "zinsen.txt", "typ": "TXT", "content": "Neue Zinsen: ab Montag"}]}],
  "tagesgeld": {"datum": "06.12.2026", "anbieter": [
    {"name": "Bank Ä", "blz": "11122233", "produkte": [
      {"name": "Tagesgeld Plus", "mindestanlage": "1000", "maximalanlage": "50000",
       "gutschrift": "monatlich", "neukunde": true, "url_info": "www.bank-ae.example/info",
       "url_neu": "www.bank-ae.example/neu", "zinsgueltigkeit": "3 Monate", "zinsen": [
        {"ab_betrag": "0", "zins_anfang": "2,5", "gueltig_zins_anfang": 3, "zins_danach": "1,0",
         "gueltig_zins_danach": 12},
        {"ab_betrag": "50000", "zins_anfang": "2,0", "gueltig_zins_anfang": 6,
         "zins_danach": "0,75", "gueltig_zins_danach": 0}]},
      {"name": "Tagesgeld Basis", "gutschrift": "vierteljährlich", "neukunde": false}]},
    {"name": "Sparkasse Süd"},
    {"name": "Bank C", "blz": "30030030", "produkte": [
      {"name": "Flex", "mindestanlage": "1", "gutschrift": "jährlich", "neukunde": "01",
       "zinsgueltigkeit": "bis 31.03.2027", "zinsen": [
        {"ab_betrag": "1", "zins_anfang": "3,1", "gueltig_zins_anfang": "4",
         "zins_danach": "1,5", "gueltig_zins_danach": "-1"}]}]}]},
  "festgeld": {"datum": "05.12.2026", "list": "Bank F|50050050*Festgeld|5000|1000000|jährlich|1|www.f.example|www.f.example/neu~5000|1,10|1,20|1,30|1,40|1,50|1,60~100000|1,15|1,25|1,35|1,45|1,55|1,65#Bank G|60060060|Filiale 7"}
})";

constexpr const char* kTagesgeldTree = R"(Datum 06.12.2026
Anbieter Bank Ä|11122233
  Produkt Tagesgeld Plus|1000|50000|monatlich|neu|www.bank-ae.example/info|www.bank-ae.example/neu|3 Monate
    TG 0|2,5|3|1,0|12
    TG 50000|2,0|6|0,75|0
  Produkt Tagesgeld Basis|||vierteljährlich|-|||
Anbieter Sparkasse Süd|
Anbieter Bank C|30030030
  Produkt Flex|1||jährlich|neu|||bis 31.03.2027
    TG 1|3,1|4|1,5|-1
)";

constexpr const char* kFestgeldTree = R"(Datum 05.12.2026
Anbieter Bank F|50050050
  Produkt Festgeld|5000|1000000|jährlich|neu|www.f.example|www.f.example/neu|
    FG 5000|1,10|1,20|1,30|1,40|1,50|1,60
    FG 100000|1,15|1,25|1,35|1,45|1,55|1,65
Anbieter Bank G|60060060
)";

// Item by name, or left out as a host may: the list's default member with the index.
std::shared_ptr<Dispatch> ItemOf(Dispatch& list, int32_t index, bool by_name) {
  if (by_name) return list.Call("Item", {Variant(index)}).ToObject();
  Variant args[] = {Variant(index)};
  return list.Invoke(automation::kDispIdValue, InvokeKind::PropertyGet, args).ToObject();
}

std::string Texts(Dispatch& object, std::initializer_list<const char*> names) {
  std::string out;
  for (const char* const& name : names) {
    if (&name != names.begin()) out += '|';
    out += object.Get(name).ToString();
  }
  return out;
}

// The same walk bound late, by name, from the VexComm object down. Fixed-term rows have no
// default member, so they are always asked by Item.
std::string LateBoundDump(Dispatch& vexcomm, const char* tree, bool by_name) {
  const auto root = vexcomm.Get(tree).ToObject();
  std::string out = "Datum " + root->Get("Datum").ToString() + "\n";
  const auto providers = root->Call("Anbieter").ToObject();
  for (int32_t a = 1; a <= providers->Get("Count").ToInt32(); ++a) {
    const auto p = ItemOf(*providers, a, by_name);
    out += "Anbieter " + Texts(*p, {"Name", "BLZ"}) + "\n";
    const auto products = p->Call("Produkte").ToObject();
    for (int32_t b = 1; b <= products->Get("Count").ToInt32(); ++b) {
      const auto d = ItemOf(*products, b, by_name);
      out += "  Produkt " + Texts(*d, {"Name", "MindestAnlage", "MaximalAnlage", "Gutschrift"}) +
             (d->Get("Neukunde").ToBool() ? "|neu|" : "|-|") +
             Texts(*d, {"URLInfo", "URLNeu", "ZinsGueltigkeit"}) + "\n";
      const auto tiers = d->Call("Zinsen").ToObject();
      for (int32_t c = 1; c <= tiers->Get("Count").ToInt32(); ++c) {
        const auto z = ItemOf(*tiers, c, by_name);
        out += "    TG " +
               Texts(*z, {"AbBetrag", "ZinsAnfang", "GueltigZinsAnfang", "ZinsDanach",
                          "GueltigZinsDanach"}) +
               "\n";
      }
      const auto rows = d->Call("ZinsenFestgeld").ToObject();
      for (int32_t c = 1; c <= rows->Get("Count").ToInt32(); ++c) {
        const auto z = rows->Call("Item", {Variant(c)}).ToObject();
        out += "    FG " +
               Texts(*z, {"AbBetrag", "Zins_01", "Zins_03", "Zins_06", "Zins_09", "Zins_12",
                          "Zins_18"}) +
               "\n";
      }
    }
  }
  return out;
}

class DepositsTlsTest : public TlsComponentTest {};

TEST_F(DepositsTlsTest, BothTreesAreBuiltAsSentAndAHostWalksThemWithAndWithoutItem) {
  Start(kScenario);
  ASSERT_EQ(Run(vexCommTGA), vcerrNoError);
  ASSERT_EQ(Run(vexCommFGA), vcerrNoError);
  EXPECT_EQ(WireRequests(),
            (std::vector<std::string>{"VEXMSG:2:AKTGA:MSGEND", "VEXMSG:2:AKFGA:MSGEND"}));
  EXPECT_EQ(server->ConnectionCount(), 2u);
  EXPECT_TRUE(boxes.empty());
  const std::vector<std::string> lines = {
      "SSL-Connect : vexmsg.invalid ", "Tagesgeld-Konditionen abrufen ", "Datum  :  06.12.2026",
      "SSL-Connect : vexmsg.invalid ", "Festgeld-Konditionen abrufen ",  "Datum  :  05.12.2026"};
  EXPECT_EQ(LogLines(), lines);
  Dispatch& host_view = *vc;
  for (const bool by_name : {true, false}) {
    SCOPED_TRACE(by_name ? "with Item" : "without Item");
    EXPECT_EQ(LateBoundDump(host_view, "Tagesgeld", by_name), kTagesgeldTree);
    EXPECT_EQ(LateBoundDump(host_view, "Festgeld", by_name), kFestgeldTree);
  }

  const auto providers = host_view.Get("Tagesgeld").ToObject()->Call("Anbieter").ToObject();
  const int32_t count = providers->Get("Count").ToInt32();
  EXPECT_EQ(ErrorOf([&] { providers->Call("Item", {Variant(int32_t{0})}); }),
            errnum::kSubscriptOutOfRange);
  EXPECT_EQ(ErrorOf([&] { ItemOf(*providers, count + 1, false); }), errnum::kSubscriptOutOfRange);
  const auto fg =
      ItemOf(*host_view.Get("Festgeld").ToObject()->Call("Anbieter").ToObject(), 1, true);
  const auto product = ItemOf(*fg->Call("Produkte").ToObject(), 1, true);
  const auto rows = product->Call("ZinsenFestgeld").ToObject();
  EXPECT_EQ(ErrorOf([&] { ItemOf(*rows, 1, false); }), errnum::kMemberNotFound);
}

TEST_F(DepositsTlsTest, AFailingListKeepsTheProvidersBeforeItAndTheOtherTree) {
  struct Case {
    int32_t modus;
    const char* section;
    const char* list;
    const char* box_title;
    const char* box_text;
    std::string tree_after;
  };
  const Case cases[] = {
      // The second provider fails at its second product, whose head lacks the eighth field.
      {vexCommTGA, "tagesgeld",
       "A|1*P|1|2|m|1|i|n|g~0|1|3|1|12#B|2*Gut|1|2|m|0|i|n|g~0|1|3|1|12*Kurz|1|2|m|1|i|n#C|3",
       "VerarbeiteAITGA", "Subscript out of range",
       "Datum neu\nAnbieter A|1\n  Produkt P|1|2|m|neu|i|n|g\n    TG 0|1|3|1|12\n"},
      // A trailing "~" is an empty rate entry.
      {vexCommFGA, "festgeld", "X|9#Y|8*P|1|2|m|1|i|n~1|2|3|4|5|6|7~#Z", "VerarbeiteAIFGA",
       "Subscript out of range", "Datum neu\nAnbieter X|9\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box_title);
    server.reset();
    vc.reset();
    boxes.clear();
    Start(kScenario);
    ASSERT_EQ(Run(vexCommTGA), vcerrNoError);
    ASSERT_EQ(Run(vexCommFGA), vcerrNoError);
    const bool tagesgeld = c.modus == vexCommTGA;
    const char* failing = tagesgeld ? "Tagesgeld" : "Festgeld";
    const char* other = tagesgeld ? "Festgeld" : "Tagesgeld";
    const std::string other_before = LateBoundDump(*vc, other, true);

    auto document = nlohmann::json::parse(kScenario);
    document[c.section] = {{"datum", "neu"}, {"list", c.list}};
    server->SetScenario(vexmsg::Scenario::FromJson(document, {}));
    // No failure reaches the host: the run ends normally after the reply.
    EXPECT_EQ(Run(c.modus), vcerrNoError);

    EXPECT_EQ(LateBoundDump(*vc, failing, true), c.tree_after);
    EXPECT_EQ(LateBoundDump(*vc, other, true), other_before);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], std::make_pair(std::string(c.box_title), std::string(c.box_text)));
    EXPECT_EQ(server->Requests().size(), 3u);
  }
}

TEST_F(DepositsTlsTest, MessagesAreStillFetchedAlongside) {
  SetIdentity({"11122233", "4711", 17, "", "", ""});
  Start(kScenario);

  EXPECT_EQ(Run(VexCommGetNew), vcerrNoError);
  EXPECT_EQ(Run(vexCommTGA), vcerrNoError);
  EXPECT_EQ(Run(VexCommGetNew), vcerrNoError);

  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].DateiName, "zinsen.txt");
  EXPECT_EQ(files[0].Datei, "Neue Zinsen: ab Montag");
  EXPECT_EQ(LateBoundDump(*vc, "Tagesgeld", true), kTagesgeldTree);
  EXPECT_EQ(WireRequests(), (std::vector<std::string>{
                                "VEXMSG:2:AKNEW:11122233:4711:17:5:MSGEND",
                                "VEXMSG:2:AKGET:11122233:4711:17:5:MSGEND",
                                "VEXMSG:2:AKTGA:MSGEND",
                                "VEXMSG:2:AKNEW:11122233:4711:18:5:MSGEND",
                            }));
}

}  // namespace
}  // namespace vexcomm::test
