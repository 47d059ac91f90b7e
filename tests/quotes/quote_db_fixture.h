#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <vexcomm/quotes.h>

#include "quotes/quote_database.h"
#include "quotes/sqlite.h"
#include "quotes/stored_value.h"
#include "support/temp_dir.h"

namespace vexcomm::quotes {

// A data and an INI directory of their own, with the component's reports recorded.
class QuoteDbFixture : public ::testing::Test {
 public:
  struct QuoteRow {
    int64_t id;
    int64_t stock_id;
    std::string datum;
    std::string kurs;  // decoded
    friend bool operator==(const QuoteRow&, const QuoteRow&) = default;
  };
  struct StockRow {
    int64_t id;
    std::string wkn, isin, name;  // decoded
    friend bool operator==(const StockRow&, const StockRow&) = default;
  };

 protected:
  QuoteDbFixture() {
    context.data_dir = data.dir();
    context.ini_dir = ini.dir();
    context.message_box = [this](const std::string& title, const std::string& text) {
      boxes.emplace_back(title, text);
    };
    context.log = [this](std::string_view text) { log.emplace_back(text); };
    context.progress_step = [this] { ++steps; };
  }

  std::shared_ptr<colAktien> NewCollection() {
    auto aktien = std::make_shared<colAktien>();
    aktien->SetDatabaseContext(context);
    return aktien;
  }

  std::filesystem::path Database() const { return data.path() / "Kurse.dat"; }
  void MakeTemplate() { ASSERT_TRUE(CreateTemplateDatabase(ini.path() / "Kurse.dat")); }

  std::vector<QuoteRow> QuoteRows() const {
    Connection c(Database(), kDatabaseKey, Connection::Mode::ReadOnly);
    Statement s(c.handle(), "SELECT ID, AktienID, Datum, Kurs FROM Kurse ORDER BY ID");
    std::vector<QuoteRow> rows;
    while (s.Step()) rows.push_back({s.Int64(0), s.Int64(1), s.Text(2), decode(s.Text(3))});
    return rows;
  }

  std::vector<StockRow> StockRows() const {
    Connection c(Database(), kDatabaseKey, Connection::Mode::ReadOnly);
    Statement s(c.handle(), "SELECT ID, WKN, ISIN, Name FROM Aktien ORDER BY ID");
    std::vector<StockRow> rows;
    while (s.Step())
      rows.push_back({s.Int64(0), decode(s.Text(1)), decode(s.Text(2)), decode(s.Text(3))});
    return rows;
  }

  void ExecuteSql(std::string_view sql) const {
    Connection c(Database(), kDatabaseKey, Connection::Mode::ReadWrite);
    c.Execute(sql);
  }

  test::TempDir data;
  test::TempDir ini;
  QuoteDbContext context;
  std::vector<std::pair<std::string, std::string>> boxes;
  std::vector<std::string> log;
  int steps = 0;
};

}  // namespace vexcomm::quotes
