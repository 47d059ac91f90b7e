#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vexcomm::cli {

struct StockRow {
  std::string WKN;
  std::string ISIN;
  std::string Name;
  std::string VonDatum;
  std::string BisDatum;
};

// One CSV record with the line it starts on.
struct CsvRecord {
  std::vector<std::string> fields;
  int line = 0;
};

// RFC 4180 records: fields may be quoted, with "" for a quote inside and line breaks allowed; a
// quoted field keeps its blanks, an unquoted one is trimmed; blank lines are skipped. Throws
// UsageError naming the line for a stray or open quote.
std::vector<CsvRecord> SplitCsvRecords(std::string_view text, char delimiter = ',');

// CSV with the header WKN,ISIN,Name,VonDatum,BisDatum (any case), separated by "," or ";" as the
// header shows; fields may be quoted, with "" for a quote inside and line breaks allowed;
// VonDatum and BisDatum may be left off, and are real dates as DD.MM.YYYY or YYYY-MM-DD, given
// back as DD.MM.YYYY. A UTF-8
// byte order mark, CR LF line ends and blank lines are accepted. Throws UsageError naming the
// line for anything else.
std::vector<StockRow> ParseStocksCsv(std::string_view text);

// Reads and parses the file, "-" standard input; UsageError when it cannot be read.
std::vector<StockRow> ReadStocksCsv(const std::filesystem::path& file);

// The whole content of a file; when it cannot be read, UsageError with `what`, an untranslated
// pattern with %1 for the file and %2 for the reason.
std::string ReadInputFile(const std::filesystem::path& file, std::string_view what);
// A file of text for the server or the stores: UTF-8 as it is, else Windows-1252 converted.
std::string ReadTextFile(const std::filesystem::path& file, std::string_view what);

}  // namespace vexcomm::cli
