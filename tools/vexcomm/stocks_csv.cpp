#include "stocks_csv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <iterator>

#include <vexcomm/text.h>

#include "command_line.h"
#include "messages.h"
#include "quote_history.h"

namespace vexcomm::cli {
namespace {

constexpr std::array<std::string_view, 5> kHeader = {"WKN", "ISIN", "Name", "VonDatum", "BisDatum"};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::vector<CsvRecord> SplitCsvRecords(std::string_view text, char delimiter) {
  std::vector<CsvRecord> records;
  CsvRecord current{{}, 1};
  std::string field;
  bool quoted = false;      // inside quotes
  bool was_quoted = false;  // the current field began with a quote
  bool any = false;         // the record has content
  int line = 1;
  auto end_field = [&] {
    current.fields.push_back(was_quoted ? field : std::string(Trim(field)));
    field.clear();
    was_quoted = false;
  };
  auto end_record = [&] {
    end_field();
    if (any) records.push_back(std::move(current));
    current = CsvRecord{{}, line};
    any = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        if (c == '\n') ++line;
        field += c;
      }
      continue;
    }
    if (c == '"') {
      if (!Trim(field).empty()) {
        throw UsageError(
            Fill(Tr("line %1: a quote inside an unquoted field"), {std::to_string(line)}));
      }
      field.clear();
      quoted = was_quoted = any = true;
    } else if (c == delimiter) {
      end_field();
      any = true;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++line;
      end_record();
    } else {
      if (was_quoted) {
        if (c != ' ' && c != '\t') {
          throw UsageError(Fill(Tr("line %1: text after a closing quote"), {std::to_string(line)}));
        }
        continue;
      }
      if (c != ' ' && c != '\t') any = true;
      field += c;
    }
  }
  if (quoted) {
    throw UsageError(Fill(Tr("line %1: unterminated quote"), {std::to_string(current.line)}));
  }
  end_record();
  return records;
}

std::vector<StockRow> ParseStocksCsv(std::string_view text) {
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.remove_prefix(3);
  // A German spreadsheet writes ";": the header, which holds no other separator, tells.
  const std::string_view first_line = text.substr(0, text.find('\n'));
  const char delimiter = first_line.find(';') != std::string_view::npos ? ';' : ',';
  const auto records = SplitCsvRecords(text, delimiter);
  if (records.empty()) throw UsageError(Tr("no header line WKN,ISIN,Name,VonDatum,BisDatum"));
  const auto& header = records.front().fields;
  bool header_ok = header.size() == kHeader.size();
  for (std::size_t i = 0; header_ok && i < kHeader.size(); ++i) {
    header_ok = EqualsNoCase(header[i], kHeader[i]);
  }
  if (!header_ok) {
    throw UsageError(Fill(Tr("line %1: the header must be WKN,ISIN,Name,VonDatum,BisDatum"),
                          {std::to_string(records.front().line)}));
  }
  std::vector<StockRow> rows;
  for (std::size_t r = 1; r < records.size(); ++r) {
    const auto& f = records[r].fields;
    if (f.size() < 3 || f.size() > 5) {
      throw UsageError(Fill(Tr("line %1: %2 fields, 3 to 5 expected"),
                            {std::to_string(records[r].line), std::to_string(f.size())}));
    }
    StockRow row{f[0], f[1], f[2], f.size() > 3 ? f[3] : "", f.size() > 4 ? f[4] : ""};
    for (std::string* date : {&row.VonDatum, &row.BisDatum}) {
      if (date->empty()) continue;
      const auto iso = IsoDate(*date);
      if (!iso) {
        throw UsageError(Fill(Tr("line %1: \"%2\" is no date as DD.MM.YYYY or YYYY-MM-DD"),
                              {std::to_string(records[r].line), *date}));
      }
      // The server reads DD.MM.YYYY.
      *date = iso->substr(8, 2) + "." + iso->substr(5, 2) + "." + iso->substr(0, 4);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string ReadInputFile(const std::filesystem::path& file, std::string_view what) {
  // Without waiting: opening a pipe would wait for a writer, before it could be refused.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const std::string reason = fd < 0 ? std::strerror(errno) : Tr("not a regular file");
    if (fd >= 0) ::close(fd);
    throw UsageError(Fill(Tr(what), {file.string(), reason}));
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const std::string reason = std::strerror(errno);
      ::close(fd);
      throw UsageError(Fill(Tr(what), {file.string(), reason}));
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

std::string ReadTextFile(const std::filesystem::path& file, std::string_view what) {
  return TextAsUtf8(ReadInputFile(file, what));
}

std::vector<StockRow> ReadStocksCsv(const std::filesystem::path& file) {
  std::string text;
  if (file == "-") {
    text = TextAsUtf8(std::string(std::istreambuf_iterator<char>(std::cin), {}));
  } else {
    text = ReadTextFile(file, N_("cannot read stocks file %1: %2"));
  }
  try {
    return ParseStocksCsv(text);
  } catch (const UsageError& e) {
    throw UsageError(Fill(Tr("stocks file %1, %2"), {file.string(), e.what()}));
  }
}

}  // namespace vexcomm::cli
