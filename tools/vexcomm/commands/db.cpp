// db init-template, db show, db delete, db export, db import, db chart: the quote database.
#include <unistd.h>

#include <cctype>
#include <iostream>
#include <sstream>

#include <vexcomm/quotes.h>
#include <vexcomm/text.h>

#include "commands/commands.h"
#include "commands/common.h"
#include "messages.h"
#include "object_views.h"
#include "png_chart.h"
#include "quote_history.h"
#include "stocks_csv.h"
#include "svg_chart.h"
#include "text_table.h"

namespace vexcomm::cli {
namespace {

namespace fs = std::filesystem;

// The stored stocks, or an exit status when there is no database or it cannot be read (the
// message box said why).
std::optional<int> LoadDb(const Folders& folders, Output& output, colAktien& aktien) {
  if (!fs::exists(folders.data + "Kurse.dat")) {
    return output.Fail(kExitLocalStore, "local",
                       Fill(Tr("there is no quote database %1Kurse.dat"), {folders.data}));
  }
  aktien.SetDatabaseContext(DbContext(folders, output, true));
  if (!aktien.ReadDB()) return DbUnreadable(folders, output);
  return std::nullopt;
}

// The CSV as a terminal shows it: a server's control characters written out, line ends kept.
std::string ForTerminal(std::string_view csv) {
  std::string shown;
  shown.reserve(csv.size());
  while (!csv.empty()) {
    const std::size_t end = csv.find("\r\n");
    shown += EscapeControls(csv.substr(0, end), true);
    if (end == std::string_view::npos) break;
    shown += "\r\n";
    csv.remove_prefix(end + 2);
  }
  return shown;
}

std::string DateBound(const CommandLine& line, std::string_view option) {
  auto value = line.Value(option);
  return value ? ParseUserDate(*value, option) : std::string();
}

Json HistoryJson(const clsAktie& stock, const std::vector<DatedQuote>& quotes) {
  Json kurse = Json::array();
  for (const auto& q : quotes) {
    kurse.push_back(Json{{"Datum", q.datum}, {"ISO", q.iso}, {"Kurs", q.kurs}, {"Wert", q.value}});
  }
  return Json{
      {"WKN", stock.WKN}, {"ISIN", stock.ISIN}, {"Name", stock.Name}, {"Kurse", std::move(kurse)}};
}

void PrintHistory(std::ostream& out, const clsAktie& stock, const std::vector<DatedQuote>& quotes) {
  out << "\n  " << stock.WKN << "  " << stock.ISIN << "  " << stock.Name << "\n";
  if (quotes.empty()) {
    out << "    " << Tr("(no quotes)") << "\n";
    return;
  }
  TextTable table({Tr("date"), "ISO 8601", Tr("price")});
  for (const auto& q : quotes) table.AddRow({q.datum, q.iso, q.kurs});
  table.Print(out, "    ");
}

// The file --out names, checked before anything is read: .svg or .png. Throws UsageError.
fs::path ChartFile(const CommandLine& line) {
  if (!line.global.out) throw UsageError(Tr("db chart needs --out FILE.svg or FILE.png"));
  const fs::path file = *line.global.out;
  std::string extension = file.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension != ".svg" && extension != ".png") {
    throw UsageError(Fill(Tr("--out %1: the chart is written as .svg or .png"), {file.string()}));
  }
  return file;
}

}  // namespace

int DbInitTemplate(const CommandLine& line, Output& output) {
  const fs::path dir = line.arguments.at(0);
  const fs::path file = dir / "Kurse.dat";
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (fs::exists(file, ec)) {
    return output.Fail(kExitRunFailed, "failed",
                       Fill(Tr("%1 exists already; it is never replaced"), {file.string()}));
  }
  if (!CreateTemplateDatabase(file)) {
    return output.Fail(kExitLocalStore, "local", Fill(Tr("cannot write %1"), {file.string()}));
  }
  if (output.json()) {
    output.EmitResult(Json{{"template", file.string()}});
  } else {
    output.Result(Fill(Tr("Template written: %1"), {file.string()}));
  }
  return kExitOk;
}

int DbShow(const CommandLine& line, Output& output) {
  const Folders folders = ResolveFolders(line.global);
  colAktien aktien;
  if (auto status = LoadDb(folders, output, aktien)) return *status;
  const std::string from = DateBound(line, "--from");
  const std::string to = DateBound(line, "--to");
  if (!from.empty() && !to.empty() && from > to) throw UsageError(Tr("--from is after --to"));
  const bool overview = line.arguments.empty();
  if (overview && output.json() && from.empty() && to.empty()) {
    output.EmitResult(Json{{"Aktien", AktienJson(aktien)}});
    return kExitOk;
  }
  std::vector<std::shared_ptr<clsAktie>> stocks;
  if (overview) {
    for (int32_t i = 1; i <= aktien.Count(); ++i) stocks.push_back(aktien.Item(i));
  } else {
    stocks = SelectStocks(aktien, line.arguments);
  }
  if (output.json()) {
    Json list = Json::array();
    for (const auto& s : stocks) list.push_back(HistoryJson(*s, QuotesByDate(*s, from, to)));
    output.EmitResult(Json{{"Aktien", std::move(list)}});
    return kExitOk;
  }
  std::ostringstream text;
  if (overview) {
    text << aktien.DatabaseContext().data_dir << "Kurse.dat\n";
    if (stocks.empty()) text << "  " << Tr("(no stocks)") << "\n";
  }
  if (overview && !stocks.empty()) {
    // The overview: a line a stock over its stored quotes; the quotes when stocks are named.
    const bool utf8 = LocaleIsUtf8();
    TextTable table({"WKN", "ISIN", "Name", Tr("quotes"), Tr("first"), Tr("last"), Tr("last price"),
                     Tr("trend")});
    for (const auto& s : stocks) {
      const auto quotes = QuotesByDate(*s, from, to);
      std::vector<double> recent;
      const std::size_t start = quotes.size() > 30 ? quotes.size() - 30 : 0;
      for (std::size_t k = start; k < quotes.size(); ++k) recent.push_back(quotes[k].value);
      table.AddRow({s->WKN, s->ISIN, s->Name, std::to_string(quotes.size()),
                    quotes.empty() ? "" : quotes.front().datum,
                    quotes.empty() ? "" : quotes.back().datum,
                    quotes.empty() ? "" : quotes.back().kurs, Sparkline(recent, utf8)});
    }
    std::vector<std::string> dropped;
    bool cut = false;
    const std::size_t width = line.Has("--wide") ? 0 : TableWidth();
    if (width > 0) {
      // What a reader misses least goes first; the name is cut rather than the prices dropped.
      dropped = table.Fit(width, 2, {7, 1, 4, 3});
      cut = table.Shrink(2, width, 2);
    }
    table.Print(text, "  ");
    if (const auto note = LeftOutNote(dropped, cut, width, 2); !note.empty())
      text << "  " << note << "\n";
  }
  if (!overview) {
    for (const auto& s : stocks) PrintHistory(text, *s, QuotesByDate(*s, from, to));
  }
  std::string shown = text.str();
  shown.pop_back();
  output.Result(shown);
  return kExitOk;
}

int DbDelete(const CommandLine& line, Output& output) {
  const Folders folders = ResolveFolders(line.global);
  const std::string wkn = TextAsUtf8(line.arguments.at(0));
  colAktien aktien;
  if (auto status = LoadDb(folders, output, aktien)) return *status;
  Json deleted = Json::array();
  for (int32_t i = 1; i <= aktien.Count(); ++i) {
    auto stock = aktien.Item(i);
    if (stock->WKN != wkn && stock->ISIN != wkn) continue;
    // A failed deletion shows a message box with its cause; success is told only after it.
    if (!stock->DeleteFromDB()) {
      return output.Fail(kExitLocalStore, "local",
                         Fill(Tr("the stock %1 was not deleted from %2Kurse.dat: %3"),
                              {wkn, folders.data, output.LastMessageBoxText()}) +
                             DbAdvice(output.LastMessageBoxText()));
    }
    deleted.push_back(
        Json{{"WKN", stock->WKN}, {"Name", stock->Name}, {"Kurse", stock->KursCount()}});
    if (!output.json()) {
      output.Result(
          Fill(Tr("Deleted: %1 %2 (%3)"),
               {stock->WKN, stock->Name,
                Counted(static_cast<unsigned long>(stock->KursCount()), "%1 quote", "%1 quotes")}));
    }
  }
  if (deleted.empty()) {
    return output.Fail(kExitRunFailed, "failed",
                       Fill(Tr("no stock with WKN %1 in %2"), {wkn, folders.data + "Kurse.dat"}));
  }
  // What the file holds now is the proof.
  if (!aktien.ReadDB()) return DbUnreadable(folders, output);
  for (int32_t i = 1; i <= aktien.Count(); ++i) {
    if (aktien.Item(i)->WKN == wkn || aktien.Item(i)->ISIN == wkn) {
      return output.Fail(kExitLocalStore, "local", Fill(Tr("the stock %1 is still stored"), {wkn}));
    }
  }
  if (output.json()) output.EmitResult(Json{{"deleted", std::move(deleted)}});
  return kExitOk;
}

int DbExport(const CommandLine& line, Output& output) {
  if (line.Value("--csv") == "-" && output.json()) {
    throw UsageError(
        Tr("--json and --csv - both want standard output; name a file with --csv FILE"));
  }
  const Folders folders = ResolveFolders(line.global);
  colAktien aktien;
  if (auto status = LoadDb(folders, output, aktien)) return *status;
  CsvFormat format;
  format.decimal_comma = line.Has("--decimal-comma");
  format.delimiter = format.decimal_comma ? ';' : ',';
  if (auto d = line.Value("--delimiter")) {
    if (*d != "," && *d != ";") throw UsageError(Tr("--delimiter is , or ;"));
    format.delimiter = (*d)[0];
  }
  const std::string target = line.Value("--csv").value_or("");
  if (target.empty()) throw UsageError(Tr("db export needs --csv FILE (or - for standard output)"));
  std::vector<std::shared_ptr<clsAktie>> stocks;
  if (line.arguments.empty()) {
    for (int32_t i = 1; i <= aktien.Count(); ++i) stocks.push_back(aktien.Item(i));
  } else {
    stocks = SelectStocks(aktien, line.arguments);
  }
  const std::string csv = QuotesCsv(stocks, format);
  if (target == "-") {
    std::cout << (::isatty(STDOUT_FILENO) == 1 ? ForTerminal(csv) : csv) << std::flush;
    return kExitOk;
  }
  const fs::path file = target;
  if (std::error_code ec; fs::exists(fs::symlink_status(file, ec)) &&
                          !fs::is_regular_file(file, ec) && !fs::is_directory(file, ec)) {
    // A pipe or a device would be replaced by the file, not written.
    throw UsageError(Fill(Tr("cannot write %1: %2"), {file.string(), Tr("not a regular file")}));
  }
  ReplaceFile(file, csv);
  int32_t quotes = 0;
  for (const auto& s : stocks) quotes += s->KursCount();
  if (output.json()) {
    output.EmitResult(Json{
        {"export", Json{{"file", file.string()}, {"Aktien", stocks.size()}, {"Kurse", quotes}}}});
  } else {
    output.Result(Fill(Tr("%1 of %2 exported to %3"),
                       {Counted(quotes, "%1 quote", "%1 quotes"),
                        Counted(stocks.size(), "%1 stock", "%1 stocks"), file.string()}));
  }
  return kExitOk;
}

int DbImport(const CommandLine& line, Output& output) {
  // The component makes the data folder, for the owner alone, when it first writes.
  const Folders folders = ResolveFolders(line.global);
  const QuoteDbContext context = DbContext(folders, output);
  const std::string source = line.Value("--csv").value_or("");
  if (source.empty()) throw UsageError(Tr("db import needs --csv FILE (or - for standard input)"));
  // UTF-8 as it is, else Windows-1252, as a spreadsheet on Windows saves it.
  const std::string text =
      source == "-" ? TextAsUtf8(std::string(std::istreambuf_iterator<char>(std::cin), {}))
                    : ReadTextFile(source, N_("cannot read CSV file %1: %2"));
  std::vector<ImportedStock> rows;
  try {
    rows = ParseQuotesCsv(text);
  } catch (const UsageError& e) {
    throw UsageError(Fill(Tr("%1, %2; nothing was imported"), {source, e.what()}));
  }
  if (!fs::exists(context.data_dir + "Kurse.dat") && !fs::exists(context.ini_dir + "Kurse.dat")) {
    throw UsageError(Fill(Tr("neither %1Kurse.dat nor a template %2Kurse.dat exists"),
                          {context.data_dir, context.ini_dir}));
  }
  colAktien merge;
  merge.SetDatabaseContext(context);
  std::size_t quotes = 0;
  for (const auto& row : rows) {
    auto stock = merge.Add(row.wkn, row.isin, row.name);
    for (const auto& [datum, kurs] : row.quotes) stock->KursAdd(datum, kurs);
    quotes += row.quotes.size();
  }
  if (!MergeIntoDatabase(merge)) return kExitLocalStore;
  if (output.json()) {
    output.EmitResult(
        Json{{"import", Json{{"file", source}, {"Aktien", rows.size()}, {"Kurse", quotes}}}});
  } else {
    output.Result(
        Fill(Tr("%1 of %2 merged into %3"),
             {Counted(quotes, "%1 quote", "%1 quotes"),
              Counted(rows.size(), "%1 stock", "%1 stocks"), context.data_dir + "Kurse.dat"}));
  }
  return kExitOk;
}

int DbChart(const CommandLine& line, Output& output) {
  const fs::path file = ChartFile(line);
  const Folders folders = ResolveFolders(line.global);
  colAktien aktien;
  if (auto status = LoadDb(folders, output, aktien)) return *status;
  std::string from, to;
  if (auto v = line.Value("--from")) from = ParseUserDate(*v, "--from");
  if (auto v = line.Value("--to")) to = ParseUserDate(*v, "--to");
  if (!from.empty() && !to.empty() && from > to) throw UsageError(Tr("--from is after --to"));
  ChartOptions options;
  options.normalize = line.Has("--normalize");
  std::vector<ChartSeries> series;
  std::size_t points = 0;
  for (const auto& stock : SelectStocks(aktien, line.arguments)) {
    auto& s = series.emplace_back();
    s.label = stock->Name.empty() ? stock->WKN : stock->Name + " (" + stock->WKN + ")";
    s.quotes = QuotesByDate(*stock, from, to);
    points += s.quotes.size();
  }
  if (points == 0) throw std::runtime_error(Tr("no stored quote of these stocks in the range"));
  const std::string svg = SvgChart(series, options);
  std::string extension = file.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".png") {
    ReplaceFile(file, [&](const fs::path& partial) {
      WriteSvgAsPng(svg, options.width, ChartHeight(options, series.size()), partial);
    });
  } else {
    ReplaceFile(file, svg);
  }
  if (output.json()) {
    output.EmitResult(Json{{"chart", Json{{"file", file.string()},
                                          {"width", options.width},
                                          {"height", ChartHeight(options, series.size())},
                                          {"Aktien", series.size()},
                                          {"Kurse", points}}}});
  } else {
    output.Result(
        Fill(Tr("Chart (%1, %2): %3"), {Counted(series.size(), "%1 stock", "%1 stocks"),
                                        Counted(points, "%1 quote", "%1 quotes"), file.string()}));
  }
  return kExitOk;
}

}  // namespace vexcomm::cli
