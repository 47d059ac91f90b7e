#include "stocks_csv.h"

#include <vexcomm/quotes.h>

#include "cli_fixture.h"
#include "quote_history.h"

namespace vexcomm::test {
namespace {

using cli::ParseStocksCsv;

std::vector<std::vector<std::string>> Rows(std::string_view text) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& r : ParseStocksCsv(text)) {
    rows.push_back({r.WKN, r.ISIN, r.Name, r.VonDatum, r.BisDatum});
  }
  return rows;
}

TEST(StocksCsv, ReadsTheFieldsAsAHostWroteThem) {
  constexpr std::string_view kHeader = "WKN,ISIN,Name,VonDatum,BisDatum\n";
  struct Case {
    std::string text;
    std::vector<std::vector<std::string>> rows;
  };
  const std::vector<Case> cases = {
      {std::string(kHeader) + "716460,DE0007164600,SAP SE,01.12.2026,05.12.2026\n",
       {{"716460", "DE0007164600", "SAP SE", "01.12.2026", "05.12.2026"}}},
      // Quotes keep commas, doubled quotes and line breaks; blanks around unquoted fields go.
      {std::string(kHeader) + "1, 2 ,\"A, \"\"B\"\"\nC\",1.2.2024,2026-12-05\n",
       {{"1", "2", "A, \"B\"\nC", "01.02.2024", "05.12.2026"}}},
      // A German spreadsheet's separator.
      {"WKN;ISIN;Name;VonDatum;BisDatum\n1;2;A, B;29.02.2024\n",
       {{"1", "2", "A, B", "29.02.2024", ""}}},
      // Byte order mark, CR LF, another case in the header, blank lines, missing dates.
      {"\xEF\xBB\xBFwkn,Isin,NAME,vondatum,bisdatum\r\n\r\n1,2,3\r\n4,5,6,01.12.2026\r\n",
       {{"1", "2", "3", "", ""}, {"4", "5", "6", "01.12.2026", ""}}},
      {std::string(kHeader) + "1,2,\"\",,", {{"1", "2", "", "", ""}}},
      {std::string(kHeader), {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Rows(c.text), c.rows) << c.text;
}

TEST(StocksCsv, NamesTheLineOfWhatItCannotRead) {
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", "no header line"},
      {"WKN,ISIN,Name,VonDatum,BisDatum\n1,2,3\n1,2,3,29.02.2026\n",
       "line 3: \"29.02.2026\" is no date"},
      {"WKN,ISIN,Name,VonDatum,BisDatum\n1,2,3,,2026-13-01\n", "line 2: \"2026-13-01\" is no date"},
      {"WKN,ISIN,Name,VonDatum\n", "line 1: the header must be"},
      {"WKN,ISIN,Name,VonDatum,BisDatum\n1,2\n", "line 2: 2 fields"},
      {"WKN,ISIN,Name,VonDatum,BisDatum\n1,2,3\n1,2,3,4,5,6\n", "line 3: 6 fields"},
      {"WKN,ISIN,Name,VonDatum,BisDatum\n1,2,\"3\n4\n", "line 2: unterminated quote"},
      {"WKN,ISIN,Name,VonDatum,BisDatum\n1,2,\"3\"x\n", "line 2: text after a closing quote"},
      {"WKN,ISIN,Name,VonDatum,BisDatum\n1,2,a\"b\n", "line 2: a quote inside"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(UsageErrorOf([&] { ParseStocksCsv(c.text); }), ::testing::HasSubstr(c.message))
        << c.text;
  }
}

// An import stores what a quote run would store, or names the line and why not.
TEST(QuotesCsv, ImportStoresWhatAQuoteRunStores) {
  const std::pair<std::string, std::string> cases[] = {
      {"1,A,2026-12-08,\"140,10\"", "08.12.2026 140,10"},
      {"1,A,8.12.2026, 140.1 ", "08.12.2026 140,1"},
      {"1,A,08.12.2026,\"1,563.77\"", "line 2: \"1,563.77\" is no price: one decimal separator"},
      {"1,A,08.12.2026,\"1.563,77\"", "no grouping"},
      {"1,A,08.12.2026,-5", "no sign"},
      {"1,A,08.12.2026,1e3", "no exponent"},
      {"1,A,08.12.2026,0", "above zero"},
      {"1,A,08.12.2026,.5", "digits with one decimal separator"},
      {"1,A,31.02.2026,1", "line 2: \"31.02.2026\" is no date"},
      {"1,A,08.12.2026,1\n2,B,08.12.2026,1\n1,A,2026-12-08,2",
       "line 4: a second price of 1 for 08.12.2026, after line 2"},
  };
  for (const auto& [lines, expected] : cases) {
    std::string stored;
    const std::string error = UsageErrorOf([&] {
      const auto quote = cli::ParseQuotesCsv("WKN,Name,Datum,Kurs\n" + lines).at(0).quotes.at(0);
      stored = quote.first + " " + quote.second;
    });
    EXPECT_THAT(error.empty() ? stored : error, ::testing::HasSubstr(expected)) << lines;
  }
}

// What the server or an import put into a name must not reach a spreadsheet as a formula, and
// an export read back must give the same stocks.
TEST(QuotesCsv, ExportNeutralisesFormulasAndImportReadsThemBack) {
  const std::vector<std::string> texts = {
      "=cmd|' /C calc'!A0", "+1", "-1", "@SUM(A1)", "\tx", "\rx", "'=x", "''+x", "'plain", "plain"};
  std::vector<std::shared_ptr<clsAktie>> stocks;
  for (const auto& text : texts) {
    auto stock = std::make_shared<clsAktie>();
    stock->WKN = text + std::to_string(stocks.size());
    stock->ISIN = text;
    stock->Name = text;
    stock->KursAdd("01.12.2026", "1,5");
    stocks.push_back(stock);
  }
  for (const bool comma : {false, true}) {
    const std::string csv = cli::QuotesCsv(stocks, {comma ? ';' : ',', comma});
    for (const auto& record : cli::SplitCsvRecords(csv.substr(comma ? 3 : 0), comma ? ';' : ',')) {
      for (const auto& cell : record.fields) {
        EXPECT_TRUE(cell.empty() || std::string_view("=+-@\t\r").find(cell[0]) == cell.npos)
            << cell;
      }
    }
    const auto back = cli::ParseQuotesCsv(csv);
    ASSERT_EQ(back.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(back[i].wkn + "|" + back[i].isin + "|" + back[i].name,
                stocks[i]->WKN + "|" + texts[i] + "|" + texts[i]);
    }
  }
}

}  // namespace
}  // namespace vexcomm::test
