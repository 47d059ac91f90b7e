#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>

#include "quote_db_fixture.h"

namespace vexcomm::quotes {
namespace {

using WriteCrashTest = QuoteDbFixture;

constexpr int kStocks = 5;

std::map<std::string, std::string> QuotesOf(const std::vector<QuoteDbFixture::QuoteRow>& rows,
                                            int64_t stock) {
  std::map<std::string, std::string> quotes;
  for (const auto& row : rows) {
    if (row.stock_id == stock) quotes[row.datum] = row.kurs;
  }
  return quotes;
}

// Stock s holds the dates 1..20 of January priced `tag`; the new run also brings 21..25.
void Fill(colAktien& aktien, const std::string& tag, int days) {
  for (int s = 1; s <= kStocks; ++s) {
    auto stock = aktien.Add(std::to_string(s), "", "S" + std::to_string(s));
    for (int d = 1; d <= days; ++d) stock->KursAdd(std::to_string(d) + ".01.2024", tag);
  }
}

TEST_F(WriteCrashTest, KilledWriterLeavesEachStockOldOrNew) {
  MakeTemplate();
  {
    auto old_run = NewCollection();
    Fill(*old_run, "old", 20);
    MergeIntoDatabase(*old_run);
  }
  const auto baseline = Database().string() + ".baseline";
  std::filesystem::copy_file(Database(), baseline);

  // Killed before each stock, and not at all (the last case).
  for (int kill_at = 1; kill_at <= kStocks + 1; ++kill_at) {
    SCOPED_TRACE(kill_at);
    std::filesystem::copy_file(baseline, Database(),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(Database().string() + "-journal");
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      auto run = std::make_shared<colAktien>();
      QuoteDbContext crashing = context;
      int reached = 0;
      crashing.progress_step = [&reached, kill_at] {
        if (++reached == kill_at) raise(SIGKILL);
      };
      run->SetDatabaseContext(crashing);
      Fill(*run, "new", 25);
      MergeIntoDatabase(*run);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (kill_at <= kStocks) {
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    } else {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    // The file opens, is whole, and each stock's quotes are all old or all new.
    {
      Connection c(Database(), kDatabaseKey, Connection::Mode::ReadWrite);
      Statement check(c.handle(), "PRAGMA integrity_check");
      ASSERT_TRUE(check.Step());
      EXPECT_EQ(check.Text(0), "ok");
    }
    const auto rows = QuoteRows();
    for (int s = 1; s <= kStocks; ++s) {
      const auto quotes = QuotesOf(rows, s);
      const bool all_old =
          quotes.size() == 20 && std::all_of(quotes.begin(), quotes.end(),
                                             [](const auto& q) { return q.second == "old"; });
      const bool all_new =
          quotes.size() == 25 && std::all_of(quotes.begin(), quotes.end(),
                                             [](const auto& q) { return q.second == "new"; });
      EXPECT_TRUE(all_old || all_new) << "stock " << s << ": " << quotes.size() << " quotes";
      EXPECT_EQ(all_new, kill_at > kStocks) << "stock " << s;
    }
    EXPECT_EQ(StockRows().size(), static_cast<std::size_t>(kStocks));
  }
}

}  // namespace
}  // namespace vexcomm::quotes
