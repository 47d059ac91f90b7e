// The quote database: merging a year of quotes into ten stored years, and loading ten years,
// each beside the plain statements that do the same rows' work (the floor).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <vexcomm/quotes.h>

#include "quotes/quote_database.h"
#include "quotes/quote_internals.h"
#include "quotes/sqlite.h"
#include "quotes/stored_value.h"

namespace {

using namespace std::chrono;
using vexcomm::colAktien;
using vexcomm::QuoteDbContext;
using vexcomm::quotes::Connection;
using vexcomm::quotes::kDatabaseKey;
using vexcomm::quotes::Statement;

constexpr int kStocks = 100;
constexpr int kStoredDays = 3650;
constexpr int kNewDays = 365;
const sys_days kFirstDay = sys_days{2014y / January / 1};

std::string Datum(sys_days day) {
  year_month_day ymd{day};
  char text[16];
  std::snprintf(text, sizeof text, "%02u.%02u.%04d", unsigned(ymd.day()), unsigned(ymd.month()),
                int(ymd.year()));
  return text;
}

std::string Price(int stock, int day) {
  return std::to_string(10 + stock) + "," + std::to_string(day % 100);
}

// A folder with the ten-year database, made once with plain inserts.
struct Files {
  Files() {
    char pattern[] = "/tmp/vexcomm-bench-XXXXXX";
    dir = mkdtemp(pattern);
    data = dir / "data";
    ini = dir / "ini";
    std::filesystem::create_directories(data);
    std::filesystem::create_directories(ini);
    vexcomm::CreateTemplateDatabase(ini / "Kurse.dat");
    std::filesystem::copy_file(ini / "Kurse.dat", baseline());
    Connection c(baseline(), kDatabaseKey, Connection::Mode::ReadWrite);
    c.Execute("BEGIN");
    Statement stock(c.handle(), "INSERT INTO Aktien (ID, WKN, ISIN, Name) VALUES (?1, ?2, ?3, ?4)");
    Statement quote(c.handle(),
                    "INSERT INTO Kurse (ID, AktienID, Datum, Kurs) VALUES (?1, ?2, ?3, ?4)");
    int64_t id = 0;
    for (int s = 1; s <= kStocks; ++s) {
      stock.Bind(1, s)
          .Bind(2, vexcomm::quotes::encode(Wkn(s)))
          .Bind(3, vexcomm::quotes::encode("DE000" + Wkn(s)))
          .Bind(4, vexcomm::quotes::encode("Aktie " + std::to_string(s)))
          .Execute();
      for (int d = 0; d < kStoredDays; ++d) {
        quote.Bind(1, ++id)
            .Bind(2, s)
            .Bind(3, Datum(kFirstDay + days(d)))
            .Bind(4, vexcomm::quotes::encode(Price(s, d)))
            .Execute();
      }
    }
    c.Execute("COMMIT");
  }
  ~Files() { std::filesystem::remove_all(dir); }

  static std::string Wkn(int s) { return std::to_string(700000 + s); }
  std::filesystem::path baseline() const { return dir / "Kurse.baseline"; }
  std::filesystem::path database() const { return data / "Kurse.dat"; }
  void Restore() const {
    std::filesystem::copy_file(baseline(), database(),
                               std::filesystem::copy_options::overwrite_existing);
  }
  QuoteDbContext Context() const {
    QuoteDbContext context;
    context.data_dir = data.string() + "/";
    context.ini_dir = ini.string() + "/";
    context.message_box = [](const std::string& title, const std::string& text) {
      std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    };
    return context;
  }

  std::filesystem::path dir, data, ini;
};

const Files& TheFiles() {
  static Files files;
  return files;
}

// Day offsets of the year to write: the year after the stored ones (all new rows), or the last
// stored year again (all updates in place).
int FirstNewDay(bool updates) {
  return updates ? kStoredDays - kNewDays : kStoredDays;
}

void BM_WriteToDB(benchmark::State& state) {
  const auto& files = TheFiles();
  const bool updates = state.range(0) == 1;
  for (auto _ : state) {
    state.PauseTiming();
    files.Restore();
    colAktien aktien;
    aktien.SetDatabaseContext(files.Context());
    for (int s = 1; s <= kStocks; ++s) {
      auto stock = aktien.Add(Files::Wkn(s), "", "");
      for (int d = FirstNewDay(updates); d < FirstNewDay(updates) + kNewDays; ++d) {
        stock->KursAdd(Datum(kFirstDay + days(d)), Price(s, d + 1));
      }
    }
    state.ResumeTiming();
    MergeIntoDatabase(aktien);
  }
  state.SetItemsProcessed(state.iterations() * kStocks * kNewDays);
}
BENCHMARK(BM_WriteToDB)->ArgName("updates")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The floor: the same rows written by plain prepared statements, IDs and stocks known.
void BM_PlainWrite(benchmark::State& state) {
  const auto& files = TheFiles();
  const bool updates = state.range(0) == 1;
  for (auto _ : state) {
    state.PauseTiming();
    files.Restore();
    state.ResumeTiming();
    Connection c(files.database(), kDatabaseKey, Connection::Mode::ReadWrite);
    c.Execute("BEGIN IMMEDIATE");
    Statement insert(c.handle(),
                     "INSERT INTO Kurse (ID, AktienID, Datum, Kurs) VALUES (?1, ?2, ?3, ?4)");
    Statement update(c.handle(), "UPDATE Kurse SET Kurs = ?3 WHERE AktienID = ?1 AND Datum = ?2");
    int64_t id = int64_t{kStocks} * kStoredDays;
    for (int s = 1; s <= kStocks; ++s) {
      for (int d = FirstNewDay(updates); d < FirstNewDay(updates) + kNewDays; ++d) {
        const std::string kurs = vexcomm::quotes::encode(Price(s, d + 1));
        if (updates) {
          update.Bind(1, s).Bind(2, Datum(kFirstDay + days(d))).Bind(3, kurs).Execute();
        } else {
          insert.Bind(1, ++id)
              .Bind(2, s)
              .Bind(3, Datum(kFirstDay + days(d)))
              .Bind(4, kurs)
              .Execute();
        }
      }
    }
    c.Execute("COMMIT");
  }
  state.SetItemsProcessed(state.iterations() * kStocks * kNewDays);
}
BENCHMARK(BM_PlainWrite)->ArgName("updates")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReadDB(benchmark::State& state) {
  const auto& files = TheFiles();
  files.Restore();
  colAktien aktien;
  aktien.SetDatabaseContext(files.Context());
  using vexcomm::detail::QuoteInternals;
  const auto what = state.range(0) == 1 ? QuoteInternals::Stored::kLastDateOnly
                                        : QuoteInternals::Stored::kAllQuotes;
  for (auto _ : state) {
    if (QuoteInternals::ReadDB(aktien, what) || aktien.Count() != kStocks) {
      state.SkipWithError("ReadDB failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * kStocks * (state.range(0) == 1 ? 1 : kStoredDays));
}
BENCHMARK(BM_ReadDB)->ArgName("last_date_only")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The floor: every quote read and decoded by one plain SELECT in stored order.
void BM_PlainSelect(benchmark::State& state) {
  const auto& files = TheFiles();
  files.Restore();
  for (auto _ : state) {
    Connection c(files.database(), kDatabaseKey, Connection::Mode::ReadWrite);
    Statement select(c.handle(), "SELECT AktienID, Datum, Kurs FROM Kurse ORDER BY AktienID, ID");
    std::vector<std::pair<std::string, std::string>> quotes;
    quotes.reserve(kStocks * kStoredDays);
    while (select.Step()) {
      quotes.emplace_back(select.Text(1), vexcomm::quotes::decode(select.Text(2)));
    }
    benchmark::DoNotOptimize(quotes.data());
  }
  state.SetItemsProcessed(state.iterations() * kStocks * kStoredDays);
}
BENCHMARK(BM_PlainSelect)->Unit(benchmark::kMillisecond);

}  // namespace
