#include "quotes/quote_database.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quote_db_fixture.h"
#include "quotes/quote_internals.h"
#include "services/run_cursor.h"

namespace vexcomm::quotes {
namespace {

// Each case also with the host's own event processing given: the statements and the commit
// then run on a thread of their own, and whatever reaches the host must still come on its thread.
class QuoteDatabaseTest : public QuoteDbFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    if (!GetParam()) return;
    auto on_host = [host = std::this_thread::get_id()] {
      EXPECT_EQ(std::this_thread::get_id(), host) << "host code called off the host's thread";
    };
    context.message_box = [on_host, box = context.message_box](auto& title, auto& text) {
      on_host(), box(title, text);
    };
    context.log = [on_host, log = context.log](std::string_view text) { on_host(), log(text); };
    context.progress_step = [on_host, step = context.progress_step] { on_host(), step(); };
    context.process_host_events = on_host;
  }
};
INSTANTIATE_TEST_SUITE_P(HostEvents, QuoteDatabaseTest, ::testing::Bool());
using Box = std::pair<std::string, std::string>;

TEST_P(QuoteDatabaseTest, WithoutFileOrTemplate) {
  auto aktien = NewCollection();
  aktien->Add("710000", "DE0007100000", "Daimler")->KursAdd("02.01.2024", "50");
  // Reading a missing file leaves the collection empty and shows nothing.
  EXPECT_TRUE(aktien->ReadDB());
  EXPECT_EQ(aktien->Count(), 0);
  EXPECT_TRUE(boxes.empty());

  aktien->Add("710000", "DE0007100000", "Daimler")->KursAdd("02.01.2024", "50");
  EXPECT_FALSE(MergeIntoDatabase(*aktien));
  EXPECT_EQ(boxes,
            (std::vector<Box>{{"VexComm5", "Template-Datenbank Kurse.dat nicht vorhanden"}}));
  EXPECT_FALSE(std::filesystem::exists(Database()));
  EXPECT_EQ(steps, 0);
  EXPECT_TRUE(log.empty());

  // A data folder that cannot exist (a file stands in its way) is no missing file: both fail.
  MakeTemplate();
  QuoteDbContext blocked = context;
  blocked.data_dir = data.WriteFile("datei", "x").string() + "/daten/";
  aktien->SetDatabaseContext(blocked);
  EXPECT_FALSE(aktien->ReadDB());
  EXPECT_FALSE(MergeIntoDatabase(*aktien));
  EXPECT_EQ(boxes.size(), 3u);
}

TEST_P(QuoteDatabaseTest, FirstWriteCopiesTheTemplateAndNumbersFromOne) {
  MakeTemplate();
  const std::string template_bytes = test::ReadFile(ini.path() / "Kurse.dat");
  auto aktien = NewCollection();
  auto a = aktien->Add("710000", "DE0007100000", "Daimler");
  a->KursAdd("02.01.2024", "50,10");
  a->KursAdd("03.01.2024", "51,20");
  aktien->Add("519000", "DE0005190003", "BMW")->KursAdd("02.01.2024", "90");
  MergeIntoDatabase(*aktien);

  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(test::ReadFile(ini.path() / "Kurse.dat"), template_bytes);  // only ever copied
  EXPECT_EQ(StockRows(), (std::vector<StockRow>{{1, "710000", "DE0007100000", "Daimler"},
                                                {2, "519000", "DE0005190003", "BMW"}}));
  EXPECT_EQ(QuoteRows(), (std::vector<QuoteRow>{{1, 1, "02.01.2024", "50,10"},
                                                {2, 1, "03.01.2024", "51,20"},
                                                {3, 2, "02.01.2024", "90"}}));
  EXPECT_EQ(log,
            (std::vector<std::string>{"Daimler: 2 Kurse speichern", "BMW: 1 Kurse speichern"}));
  EXPECT_EQ(steps, 2);
}

TEST_P(QuoteDatabaseTest, FirstRunsAtOnceShareOnePrivateDatabase) {
  MakeTemplate();
  auto mode = [](const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  std::mutex mutex;
  std::vector<std::string> failures;
  for (int round = 0; round < 8; ++round) {
    const auto top = data.path() / std::to_string(round);
    QuoteDbContext own;
    own.ini_dir = context.ini_dir;
    own.data_dir = (top / "daten").string();
    own.message_box = [&](const std::string&, const std::string& text) {
      std::lock_guard lock(mutex);
      failures.push_back(text);
    };
    std::latch start(2);
    std::vector<std::thread> runs;
    for (const std::string wkn : {"1", "2"}) {
      runs.emplace_back([&, wkn] {
        colAktien aktien;
        aktien.SetDatabaseContext(own);
        aktien.Add(wkn, "", wkn)->KursAdd("01.01.2024", wkn);
        start.arrive_and_wait();
        MergeIntoDatabase(aktien);
      });
    }
    for (auto& run : runs) run.join();
    ASSERT_TRUE(failures.empty()) << round << ": " << failures.front();
    colAktien stored;
    stored.SetDatabaseContext(own);
    ASSERT_TRUE(stored.ReadDB());
    EXPECT_EQ(stored.Count(), 2) << round << ": a run wrote into a copy that was replaced";
    EXPECT_EQ(mode(top), 0700u);
    EXPECT_EQ(mode(top / "daten"), 0700u);
    EXPECT_EQ(mode(top / "daten" / "Kurse.dat"), 0600u);
    for (const auto& entry : std::filesystem::directory_iterator(top / "daten"))
      EXPECT_EQ(entry.path().filename(), "Kurse.dat");
  }
}

TEST_P(QuoteDatabaseTest, CopiesLeftByKilledRunsAreRemoved) {
  MakeTemplate();
  const std::string own = "Kurse.dat.part-" + std::to_string(::getpid());
  struct Case {
    std::string name;
    bool old;
    bool kept;
  } const cases[] = {
      {"Kurse.dat.part-999999999-aaaaaa", false, false},  // its writer is gone
      {own + "-bbbbbb", false, true},                     // under way
      {own + "-cccccc", true, false},                     // older than any copy takes
      {"Kurse.dat.part", true, false},                    // of an earlier version
      {"Kurse.dat.bak", true, true},                      // not ours
  };
  auto aktien = NewCollection();
  aktien->Add("1", "", "A")->KursAdd("01.01.2024", "1");
  MergeIntoDatabase(*aktien);  // a database there already: the copies go all the same
  for (const auto& c : cases) {
    const auto file = data.path() / c.name;
    std::ofstream(file) << "copy";
    if (c.old) {
      std::filesystem::last_write_time(
          file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
    }
  }
  MergeIntoDatabase(*aktien);
  EXPECT_TRUE(boxes.empty());
  for (const auto& c : cases)
    EXPECT_EQ(std::filesystem::exists(data.path() / c.name), c.kept) << c.name;
}

TEST_P(QuoteDatabaseTest, MergeNeitherLosesNorDoublesQuotes) {
  MakeTemplate();
  {
    auto first = NewCollection();
    auto s = first->Add("710000", "DE0007100000", "Daimler");
    s->KursAdd("02.01.2024", "50");
    s->KursAdd("03.01.2024", "51");
    MergeIntoDatabase(*first);
  }
  auto second = NewCollection();
  // Same WKN, other ISIN and name: the stored ones stay.
  auto s = second->Add("710000", "XX0000000000", "Mercedes-Benz Group");
  s->KursAdd("03.01.2024", "61");  // stored date: updated in place
  s->KursAdd("04.01.2024", "70");
  s->KursAdd("04.01.2024", "71");  // two quotes of one date: the later wins
  s->KursAdd("it's", "1");         // a quote in the date is data, not SQL
  MergeIntoDatabase(*second);

  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(StockRows(), (std::vector<StockRow>{{1, "710000", "DE0007100000", "Daimler"}}));
  EXPECT_EQ(QuoteRows(), (std::vector<QuoteRow>{{1, 1, "02.01.2024", "50"},
                                                {2, 1, "03.01.2024", "61"},
                                                {3, 1, "04.01.2024", "71"},
                                                {4, 1, "it's", "1"}}));
}

TEST_P(QuoteDatabaseTest, StocksWithoutWknOrQuotesAreLoggedAndCountedAndNamesCut) {
  MakeTemplate();
  auto aktien = NewCollection();
  // Umlauts take two bytes: the cut to sixty counts characters.
  const std::string name = std::string(50, 'a') + "ÄÖÜäöüßéèê" + std::string(10, 'z');
  aktien->Add("", "DE1", "Ohne WKN")->KursAdd("01.01.2024", "1");
  aktien->Add("2", "DE2", "Ohne Kurse");
  aktien->Add("3", "", name)->KursAdd("01.01.2024", "3");
  MergeIntoDatabase(*aktien);
  EXPECT_EQ(log, (std::vector<std::string>{"Ohne WKN: Aktie hat keine WKN",
                                           "Ohne Kurse: keine Kurse vorhanden ",
                                           name + ": 1 Kurse speichern"}));
  EXPECT_EQ(steps, 3);
  EXPECT_EQ(StockRows(),
            (std::vector<StockRow>{{1, "3", "", std::string(50, 'a') + "ÄÖÜäöüßéèê"}}));
  EXPECT_EQ(QuoteRows().size(), 1u);
}

TEST_P(QuoteDatabaseTest, WrittenRunIsReadBackInDateOrderInBothModes) {
  MakeTemplate();
  {
    auto run = NewCollection();
    auto a = run->Add("710000", "DE0007100000", "Daimler: Aktie");
    // Sent out of order, and across a year: as text "01.01.2024" < "31.12.2023".
    for (auto [d, p] : {std::pair{"15.01.2024", "c"},
                        {"31.12.2023", "a"},
                        {"01.01.2024", "b"},
                        {"2.2.2023", "0"}}) {
      a->KursAdd(d, p);
    }
    auto b = run->Add("519000", "DE0005190003", "BMW");
    for (auto [d, p] : {std::pair{"2024-01-10", "y"}, {"2023-12-01", "x"}}) b->KursAdd(d, p);
    run->Add("ohne", "", "Ohne Kurse");
    MergeIntoDatabase(*run);
  }
  // A stock row without quotes, as another writer may leave it.
  ExecuteSql("INSERT INTO Aktien (ID, WKN, ISIN, Name) VALUES (7, '', '', '')");

  auto aktien = NewCollection();
  aktien->Add("stale", "", "")->KursAdd("1", "1");
  services::RunCursor cursor;
  cursor.SetStockPosition(*aktien, 2);
  using Stored = vexcomm::detail::QuoteInternals::Stored;
  // Each stock as read: its fields, the row it came from, its range and its quotes.
  auto read = [&](Stored what) {
    EXPECT_TRUE(what == Stored::kAllQuotes
                    ? aktien->ReadDB()
                    : !vexcomm::detail::QuoteInternals::ReadDB(*aktien, what));
    std::vector<std::string> out;
    for (int32_t i = 1; i <= aktien->Count(); ++i) {
      const auto a = aktien->Item(i);
      out.push_back(a->WKN + "|" + a->ISIN + "|" + a->Name + "|" + std::to_string(a->ID) + "|" +
                    std::to_string(vexcomm::detail::QuoteInternals::DBID(*a)) + "|" + a->VonDatum +
                    "|" + a->BisDatum + ":");
      for (int32_t k = 1; k <= a->KursCount(); ++k)
        out.back() += " " + a->Kurs(k)->Datum + "=" + a->Kurs(k)->Kurs;
    }
    return out;
  };
  EXPECT_EQ(read(Stored::kAllQuotes),
            (std::vector<std::string>{
                "710000|DE0007100000|Daimler: Aktie|1|1|2.2.2023|15.01.2024: 2.2.2023=0 "
                "31.12.2023=a 01.01.2024=b 15.01.2024=c",
                "519000|DE0005190003|BMW|2|2|2023-12-01|2024-01-10: 2023-12-01=x "
                "2024-01-10=y",
                "|||7|7||:"}));
  EXPECT_EQ(cursor.StockPosition(*aktien), 1);

  EXPECT_EQ(read(Stored::kLastDateOnly),
            (std::vector<std::string>{"710000|DE0007100000|Daimler: Aktie|1|1|15.01.2024|:",
                                      "519000|DE0005190003|BMW|2|2|2024-01-10|:", "|||7|7||:"}));
  EXPECT_TRUE(boxes.empty());
}

TEST_P(QuoteDatabaseTest, ForeignFileOrOtherPasswordIsReportedAndLeftUntouched) {
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"text file",
       [this] { std::ofstream(Database(), std::ios::binary) << std::string(4096, 'x'); }},
      {"other password",
       [this] {
         Connection c(Database(), "apfel+birnen", Connection::Mode::Create);
         c.Execute("CREATE TABLE Aktien (ID INTEGER PRIMARY KEY, WKN TEXT, ISIN TEXT, Name TEXT)");
       }},
  };
  MakeTemplate();
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    std::filesystem::remove(Database());
    make();
    const std::string before = test::ReadFile(Database());
    boxes.clear();

    auto aktien = NewCollection();
    aktien->Add("1", "", "A")->KursAdd("01.01.2024", "1");
    EXPECT_FALSE(MergeIntoDatabase(*aktien));
    EXPECT_FALSE(aktien->ReadDB());
    auto stock = vexcomm::detail::QuoteInternals::AddFromDB(*aktien, 1, "1", "", "A");
    vexcomm::detail::QuoteInternals::SetDBID(*stock, 1);
    EXPECT_FALSE(stock->DeleteFromDB());

    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].first, "VexComm.Aktien.WriteToDB");
    EXPECT_EQ(boxes[1].first, "VexComm.Aktien.WriteToDB");
    EXPECT_EQ(boxes[2].first, "VexComm.Aktien.DeleteFromDB");
    for (const auto& box : boxes) {
      EXPECT_NE(box.second.find("keine Kursdatenbank oder hat ein anderes Kennwort"),
                std::string::npos)
          << box.second;
    }
    EXPECT_EQ(test::ReadFile(Database()), before);
    EXPECT_EQ(steps, 0);
  }
}

TEST_P(QuoteDatabaseTest, DeleteFromDBRemovesOneStockAtOnce) {
  MakeTemplate();
  auto run = NewCollection();
  for (const char* wkn : {"1", "2"}) {
    auto s = run->Add(wkn, "", std::string("S") + wkn);
    s->KursAdd("01.01.2024", "1");
    s->KursAdd("02.01.2024", "2");
  }
  // A stock made with Add is not deletable, even with an ID set, and nothing is deleted.
  auto made = run->Item(1);
  made->ID = 1;
  EXPECT_FALSE(made->DeleteFromDB());  // no file yet either: the ID check comes first
  EXPECT_EQ(boxes, (std::vector<Box>{{"VexComm.Aktien.DeleteFromDB", "Keine gültige Aktien-ID"}}));
  boxes.clear();

  auto loaded = NewCollection();
  vexcomm::detail::QuoteInternals::SetDBID(
      *vexcomm::detail::QuoteInternals::AddFromDB(*loaded, 1, "1", "", "S1"), 1);
  EXPECT_FALSE(loaded->Item(1)->DeleteFromDB());  // no file: nothing to delete, no message
  EXPECT_TRUE(boxes.empty());

  MergeIntoDatabase(*run);
  ASSERT_TRUE(loaded->ReadDB());
  ASSERT_EQ(loaded->Count(), 2);

  // A row that refuses deletion: the quotes deleted before it come back with the rollback.
  ExecuteSql(
      "CREATE TRIGGER keep BEFORE DELETE ON Aktien WHEN OLD.ID = 2 "
      "BEGIN SELECT RAISE(ABORT, 'gesperrt'); END");
  EXPECT_FALSE(loaded->Item(2)->DeleteFromDB());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].first, "VexComm.Aktien.DeleteFromDB");
  EXPECT_NE(boxes[0].second.find("gesperrt"), std::string::npos);
  EXPECT_EQ(QuoteRows().size(), 4u);

  auto first = loaded->Item(1);
  EXPECT_TRUE(first->DeleteFromDB());
  EXPECT_EQ(StockRows(), (std::vector<StockRow>{{2, "2", "", "S2"}}));
  EXPECT_EQ(QuoteRows(),
            (std::vector<QuoteRow>{{3, 2, "01.01.2024", "1"}, {4, 2, "02.01.2024", "2"}}));
  // Only the file changes.
  EXPECT_EQ(loaded->Count(), 2);
  EXPECT_EQ(first->KursCount(), 2);
  EXPECT_EQ(vexcomm::detail::QuoteInternals::DBID(*first), 1);
}

TEST_P(QuoteDatabaseTest, FailureKeepsTheStocksWrittenBeforeIt) {
  MakeTemplate();
  auto run = NewCollection();
  run->Add("1", "", "A")->KursAdd("01.01.2024", "a");
  MergeIntoDatabase(*run);
  ExecuteSql(
      "CREATE TRIGGER boom BEFORE INSERT ON Kurse WHEN NEW.Datum = 'boom' "
      "BEGIN SELECT RAISE(ABORT, 'kaputt'); END");

  auto next = NewCollection();
  next->Add("1", "", "A")->KursAdd("02.01.2024", "a2");
  auto b = next->Add("2", "", "B");
  b->KursAdd("01.01.2024", "b1");
  b->KursAdd("boom", "x");
  next->Add("3", "", "C")->KursAdd("01.01.2024", "c");
  steps = 0;
  EXPECT_FALSE(MergeIntoDatabase(*next));

  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].first, "VexComm.Aktien.WriteToDB");
  EXPECT_NE(boxes[0].second.find("kaputt"), std::string::npos);
  EXPECT_EQ(steps, 2);  // the failure ends the pass
  // A's new quote stays; B is undone as a whole (no stock row without its quotes); C never ran.
  EXPECT_EQ(StockRows(), (std::vector<StockRow>{{1, "1", "", "A"}}));
  EXPECT_EQ(QuoteRows(),
            (std::vector<QuoteRow>{{1, 1, "01.01.2024", "a"}, {2, 1, "02.01.2024", "a2"}}));
}

TEST_P(QuoteDatabaseTest, AWriteWaitingForAnotherWriterKeepsTheHostsLoopRunning) {
  if (!GetParam()) GTEST_SKIP() << "the host gave no event processing";
  MakeTemplate();
  auto first = NewCollection();
  first->Add("710000", "DE0007100000", "Daimler")->KursAdd("02.01.2024", "50");
  ASSERT_TRUE(MergeIntoDatabase(*first));
  // Another writer holds the database; only the host's loop ends it (closing rolls back), so
  // the write finishes only if that loop runs while the write waits.
  auto other = std::make_unique<Connection>(Database(), kDatabaseKey, Connection::Mode::ReadWrite);
  other->Execute("BEGIN IMMEDIATE");
  context.process_host_events = [&other] { other.reset(); };
  auto aktien = NewCollection();
  aktien->Add("710000", "DE0007100000", "Daimler")->KursAdd("03.01.2024", "51");
  EXPECT_TRUE(MergeIntoDatabase(*aktien)) << ::testing::PrintToString(boxes);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(QuoteRows().size(), 2u);
}

TEST_P(QuoteDatabaseTest, AFullDiskIsReportedByItsOwnCause) {
  MakeTemplate();
  auto first = NewCollection();
  first->Add("1", "", "A")->KursAdd("01.01.2024", "a");
  MergeIntoDatabase(*first);
  const auto report = data.path() / "report.txt";
  // In a child: the file size limit makes every write past it fail, as on a full disk.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    auto aktien = NewCollection();
    auto stock = aktien->Add("2", "", std::string(50, 'B'));
    for (int day = 1; day <= 3000; ++day) stock->KursAdd(std::to_string(day), std::string(40, 'k'));
    std::string text;
    QuoteDbContext own = context;
    own.message_box = [&](const std::string&, const std::string& t) { text += t; };
    aktien->SetDatabaseContext(own);
    MergeIntoDatabase(*aktien);
    std::ofstream(report) << text;
    std::_Exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const std::string text = test::ReadFile(report);
  // The write fails as EFBIG, which the database reports as an I/O error.
  EXPECT_EQ(text, "disk I/O error");
  EXPECT_EQ(StockRows(), (std::vector<StockRow>{{1, "1", "", "A"}}));
}

TEST_P(QuoteDatabaseTest, FindLastID) {
  MakeTemplate();
  std::filesystem::copy_file(ini.path() / "Kurse.dat", Database());
  const auto resolved = Resolve(context);
  {
    Connection c(Database(), kDatabaseKey, Connection::Mode::ReadWrite);
    EXPECT_EQ(FindLastID(c, Table::Aktien, resolved), 0);
    c.Execute("INSERT INTO Kurse (ID, AktienID, Datum, Kurs) VALUES (41, 1, 'd', 'k')");
    c.Execute("INSERT INTO Kurse (ID, AktienID, Datum, Kurs) VALUES (3, 1, 'e', 'k')");
    EXPECT_EQ(FindLastID(c, Table::Kurse, resolved), 41);
    c.Execute("DROP TABLE Kurse");
    EXPECT_EQ(FindLastID(c, Table::Kurse, resolved), 0);
  }
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].first, "HbProc:FindLastID");
  EXPECT_NE(boxes[0].second.find("no such table"), std::string::npos);
  EXPECT_TRUE(boxes[0].second.ends_with("\r\n\r\nTable = Kurse")) << boxes[0].second;
}

TEST_P(QuoteDatabaseTest, TemplateIsEncryptedAndNeverReplaced) {
  const auto file = ini.path() / "Kurse.dat";
  ASSERT_TRUE(CreateTemplateDatabase(file));
  const std::string bytes = test::ReadFile(file);
  EXPECT_NE(bytes.substr(0, 15), "SQLite format 3");
  EXPECT_FALSE(CreateTemplateDatabase(file));
  EXPECT_EQ(test::ReadFile(file), bytes);
  EXPECT_THROW(Connection(file, "falsch", Connection::Mode::ReadOnly), Error);
  Connection c(file, kDatabaseKey, Connection::Mode::ReadOnly);
  Statement s(c.handle(),
              "SELECT name FROM sqlite_master WHERE type IN ('table', 'index') ORDER BY name");
  std::vector<std::string> names;
  while (s.Step()) names.push_back(s.Text(0));
  EXPECT_EQ(names, (std::vector<std::string>{"Aktien", "AktienWKN", "Kurse", "KurseAktienDatum"}));
}

}  // namespace
}  // namespace vexcomm::quotes
