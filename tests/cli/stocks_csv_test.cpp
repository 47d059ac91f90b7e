#include "stocks_csv.h"

#include "cli_fixture.h"

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

}  // namespace
}  // namespace vexcomm::test
