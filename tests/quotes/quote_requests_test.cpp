#include "quotes/quote_requests.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <vexcomm/cls_fehler.h>
#include <vexcomm/quotes.h>

#include "platform/number_text.h"
#include "quotes/sqlite.h"
#include "services/reply_dispatcher.h"
#include "services/run_state_fixture.h"
#include "support/temp_dir.h"
#include "transport/cls_element.h"
#include "transport/frame.h"

namespace vexcomm::quotes {
namespace {

using namespace std::chrono;

// A quote run's state with its own data and INI folders, and a date converter unlike the
// default, so a test sees that its text is the one sent.
class QuoteRun : public testing::RecordingRunState {
 public:
  QuoteRun() {
    state.host.date_to_text = [](sys_days day) {
      year_month_day ymd{day};
      return std::to_string(int(ymd.year())) + "/" + std::to_string(unsigned(ymd.month())) + "/" +
             std::to_string(unsigned(ymd.day()));
    };
    state.host.today = [] { return sys_days{2024y / March / 1}; };
    state.session_done = false;
    state.aktien->SetDatabaseContext(
        QuoteDbContext{data.dir(),
                       ini.dir(),
                       state.host.message_box,
                       [this](std::string_view text) { services::Log(state, text, {}); },
                       [this] {
                         ++state.progress_counter;
                         services::ReportProgress(state);
                       },
                       {}});
  }

  void Start(int32_t operation) {
    state.operations = {0, operation, 6};
    state.step = 1;
  }

  // A quote run as the component drives it, by the quote rows' rule: one request per stock
  // until the position passes the end. `reply` answers each request.
  void RunQuotes(void (*request)(services::RunState&),
                 const std::function<std::string(int32_t index)>& reply) {
    static constexpr services::ReplyHandlerEntry kReplies[] = {
        {"AIWPK", VerarbeiteWIWPK}, {"AIERR", services::VerarbeiteAIERR}};
    request(state);
    while (!state.session_done) {
      const int32_t index = state.cursor.StockPosition(*state.aktien);
      services::DispatchReceivedFrame(state, reply(index), kReplies);
      if (AfterQuoteReply(state) == services::Next::kAgain) {
        request(state);
      } else {
        FinishQuoteRun(state);
        state.session_done = true;
      }
    }
  }

  static std::string Percent(double counter, double total) {
    return platform::FormatGeneralNumber(counter / total * 100.0);
  }

  test::TempDir data;
  test::TempDir ini;
};

TEST(QuoteRequestsTest, RequestTextsByteForByte) {
  struct Case {
    const char* what;
    void (*request)(services::RunState&);
    std::string wkn, isin, name, von, bis;
    std::string frame, log, von_after;
  } const cases[] = {
      {"14: colons in the name become blanks, only there", SendeAKWPK, "710:000", "DE:1", "A:B:C",
       "01.01.2024", "31.01.2024", "VEXMSG:2:AKWPK:710:000:DE:1:A B C:01.01.2024:31.01.2024:MSGEND",
       "WP-Kurs abrufen WKN=710:000 ISIN=DE:1 Name=A:B:C ", "01.01.2024"},
      {"14: empty fields stay empty", SendeAKWPK, "", "", "", "", "", "VEXMSG:2:AKWPK::::::MSGEND",
       "WP-Kurs abrufen WKN= ISIN= Name= ", ""},
      {"18: four fields, one year back from the converter", SendeAKWPKAlle, "519000",
       "DE0005190003", "BMW:St", "01.01.2000", "31.12.2000",
       "VEXMSG:2:AKWPK:519000:DE0005190003:BMW St:2023/3/2:MSGEND",
       "Alle Kurse abrufen WKN=519000 ISIN=DE0005190003 Name=BMW:St ", "2023/3/2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QuoteRun run;
    run.state.aktien->Add("other", "", "");
    auto stock = run.state.aktien->Add(c.wkn, c.isin, c.name);
    stock->VonDatum = c.von;
    stock->BisDatum = c.bis;
    run.state.cursor.SetStockPosition(*run.state.aktien, 2);
    c.request(run.state);
    EXPECT_EQ(run.sent, std::vector<std::string>{c.frame});
    EXPECT_EQ(run.Lines(), std::vector<std::string>{c.log});
    EXPECT_EQ(stock->VonDatum, c.von_after);
    EXPECT_EQ(run.state.progress_total, 4);
    EXPECT_FALSE(run.state.session_done);
  }
}

// Only quotes are kept: a day of the calendar and a price; whatever else a row holds is left
// out with a log line.
TEST(QuoteRequestsTest, QuoteListGrammar) {
  using Quotes = std::vector<std::pair<std::string, std::string>>;
  const std::string d1 = "01.12.2026", d3 = "2026-12-03";
  const struct {
    std::string list;
    Quotes quotes;
    std::vector<std::string> left_out;
  } cases[] = {
      {d1 + "*1,5#d2#" + d3 + "*3*x#", {{d1, "1,5"}, {d3, "3"}}, {}},
      {"", {}, {}},
      {"#", {}, {}},
      {"##" + d1 + "*2.25##", {{d1, "2.25"}}, {}},
      {"*#" + d1 + "*#*7", {}, {"*", d1 + "*", "*7"}},
      {"31.02.2026*5#29.02.2028*5#00.01.2026*5",
       {{"29.02.2028", "5"}},
       {"31.02.2026*5", "00.01.2026*5"}},
      {d1 + "*nan#" + d1 + "*1e308#" + d1 + "*-5#" + d1 + "*1.234,5#" + d1 + "*inf",
       {},
       {d1 + "*nan", d1 + "*1e308", d1 + "*-5", d1 + "*1.234,5", d1 + "*inf"}},
      {d1 + "*1#" + d1 + "*2", {{d1, "1"}, {d1, "2"}}, {}},  // no merging while receiving
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    QuoteRun run;
    run.Start(14);
    auto stock = run.state.aktien->Add("w", "i", "n");
    stock->KursAdd("old", "0");
    run.Receive("VEXMSG:2:AIWPK:w:I2:N2:" + c.list + ":MSGEND");
    VerarbeiteWIWPK(run.state);
    Quotes got;
    for (int32_t i = 2; i <= stock->KursCount(); ++i)
      got.emplace_back(stock->Kurs(i)->Datum, stock->Kurs(i)->Kurs);
    EXPECT_EQ(got, c.quotes);
    EXPECT_EQ(stock->Kurs(1)->Datum, "old");  // appended, never replaced
    EXPECT_EQ(stock->WKN + stock->ISIN + stock->Name, "wI2N2");
    std::vector<std::string> lines{"WKN  :  w", "ISIN :  I2", "Name :  N2"};
    for (const auto& entry : c.left_out) lines.push_back("Kein Kurs, übergangen: " + entry);
    EXPECT_EQ(run.Lines(), lines);
    EXPECT_EQ(run.state.cursor.StockPosition(*run.state.aktien), 2);
  }
}

// The reply is the asked stock's and may fill in, correct or clear its identifiers; one that
// names neither its WKN nor its ISIN is another stock's: skipped, its quotes kept from the
// asked stock (and so from the database).
TEST(QuoteRequestsTest, AReplyForAnotherStockIsNotTaken) {
  const struct {
    std::string wkn, isin, reply, after;  // after: WKN/ISIN/Name
    int quotes;
  } cases[] = {
      {"716460", "", "716460:DE0007164600:SAP", "716460/DE0007164600/SAP", 1},
      {"", "DE0007164600", "716460:DE0007164600:SAP", "716460/DE0007164600/SAP", 1},
      {"999999", "DE0007164600", "716460:DE0007164600:SAP", "716460/DE0007164600/SAP", 1},
      {"", "", "716460:DE0007164600:SAP", "716460/DE0007164600/SAP", 1},
      {"w", "i", "::", "//", 1},
      {"716460", "DE0007164600", "840400:DE0008404005:Allianz", "716460/DE0007164600/n", 0},
      {"716460", "", "840400::Allianz", "716460//n", 0},
  };
  for (const auto& c : cases) {
    QuoteRun run;
    run.Start(14);
    auto stock = run.state.aktien->Add(c.wkn, c.isin, "n");
    run.Receive("VEXMSG:2:AIWPK:" + c.reply + ":01.12.2026*140,10:MSGEND");
    VerarbeiteWIWPK(run.state);
    EXPECT_EQ(stock->WKN + "/" + stock->ISIN + "/" + stock->Name, c.after) << c.reply;
    EXPECT_EQ(stock->KursCount(), c.quotes) << c.reply;
    EXPECT_EQ(run.state.cursor.StockPosition(*run.state.aktien), 2) << c.reply;
  }
}

TEST(QuoteRequestsTest, RunOverThreeStocksSavesAndReportsProgress) {
  QuoteRun run;
  ASSERT_TRUE(CreateTemplateDatabase(run.ini.path() / "Kurse.dat"));
  run.Start(14);
  for (const char* wkn : {"1", "2", "3"}) run.state.aktien->Add(wkn, "", std::string("S") + wkn);
  run.state.aktien->WriteDB = true;
  run.RunQuotes(SendeAKWPK, [](int32_t i) {
    const std::string n = std::to_string(i);
    return "VEXMSG:2:AIWPK:" + n + ":ISIN" + n + ":Neu" + n + ":02.01.2024*" + n + "0:MSGEND";
  });
  EXPECT_EQ(run.sent, (std::vector<std::string>{"VEXMSG:2:AKWPK:1::S1:::MSGEND",
                                                "VEXMSG:2:AKWPK:2::S2:::MSGEND",
                                                "VEXMSG:2:AKWPK:3::S3:::MSGEND"}));
  // Fetching, then one step per stock saved: never back, never past 100.
  EXPECT_EQ(run.Lines(2),
            (std::vector<std::string>{QuoteRun::Percent(2, 6), QuoteRun::Percent(3, 6),
                                      QuoteRun::Percent(4, 6), QuoteRun::Percent(4, 6),
                                      QuoteRun::Percent(5, 6), QuoteRun::Percent(6, 6)}));
  // Saved once more by the host after the run: still no more than 100.
  MergeIntoDatabase(*run.state.aktien);
  EXPECT_EQ(run.Lines(2).back(), QuoteRun::Percent(6, 6));
  EXPECT_TRUE(run.boxes.empty());
  auto saved = std::make_shared<colAktien>();
  saved->SetDatabaseContext(run.state.aktien->DatabaseContext());
  ASSERT_TRUE(saved->ReadDB());
  ASSERT_EQ(saved->Count(), 3);
  EXPECT_EQ(saved->Item(3)->Name, "Neu3");
  EXPECT_EQ(saved->Item(3)->Kurs(1)->Kurs, "30");
}

TEST(QuoteRequestsTest, ServerErrorSkipsTheStock) {
  QuoteRun run;
  run.Start(18);
  for (const char* wkn : {"1", "2", "3"}) run.state.aktien->Add(wkn, "", "");
  run.RunQuotes(SendeAKWPKAlle, [](int32_t i) -> std::string {
    if (i == 2) return "VEXMSG:2:AIERR:9001:unbekannt:MSGEND";
    return "VEXMSG:2:AIWPK:" + std::to_string(i) + ":::01.01.2024*1:MSGEND";
  });
  EXPECT_EQ(run.sent.size(), 3u);
  EXPECT_EQ(run.sent[2], "VEXMSG:2:AKWPK:3:::2023/3/2:MSGEND");
  EXPECT_EQ(run.state.aktien->Item(2)->KursCount(), 0);
  EXPECT_EQ(run.state.aktien->Item(3)->KursCount(), 1);
  EXPECT_EQ(run.state.fehler->Code, 9001) << "the skipped stock's error stays for the host";
  EXPECT_EQ(run.Lines(2),
            (std::vector<std::string>{QuoteRun::Percent(2, 6), QuoteRun::Percent(4, 6)}));
}

TEST(QuoteRequestsTest, NoStockToRequestEndsAtOnce) {
  struct Case {
    const char* what;
    void (*request)(services::RunState&);
    int stocks;
    int32_t position;
  } const cases[] = {
      {"14 on an empty collection", SendeAKWPK, 0, 0},
      {"18 on an empty collection", SendeAKWPKAlle, 0, 0},
      {"14 past the end", SendeAKWPK, 2, 3},
      {"18 past the end", SendeAKWPKAlle, 1, 2},
      {"15 on an empty database", SendeNeueWPK, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QuoteRun run;
    for (int i = 0; i < c.stocks; ++i) run.state.aktien->Add(std::to_string(i), "", "");
    run.state.cursor.SetStockPosition(*run.state.aktien, c.position);
    c.request(run.state);
    EXPECT_TRUE(run.sent.empty());
    EXPECT_TRUE(run.state.session_done);
    EXPECT_EQ(run.Lines(), std::vector<std::string>{"keine Aktien vorhanden "});
  }
}

TEST(QuoteRequestsTest, HandlerFailureSkipsTheStockInAQuoteRun) {
  const std::pair<int32_t, int32_t> cases[] = {{14, 3}, {18, 3}, {13, 2}};
  for (const auto& [operation, position_after] : cases) {
    SCOPED_TRACE(operation);
    QuoteRun run;
    run.Start(operation);
    run.state.aktien->Add("1", "", "");
    run.state.cursor.SetStockPosition(*run.state.aktien, 2);  // no stock there
    run.Receive("VEXMSG:2:AIWPK:1:::d*p:MSGEND");
    VerarbeiteWIWPK(run.state);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].first, "VerarbeiteWIWPK");
    EXPECT_EQ(run.state.cursor.StockPosition(*run.state.aktien), position_after);
    EXPECT_TRUE(run.Lines(2).empty());
    EXPECT_EQ(run.state.aktien->Item(1)->KursCount(), 0);
  }
}

}  // namespace
}  // namespace vexcomm::quotes
