// check-new, get-new, get-file, quote-date, quotes, new-quotes, all-quotes, tagesgeld,
// festgeld, send-log, send-password and run MODUS: every command that sends a request.
#include <algorithm>
#include <charconv>
#include <cstdint>

#include <vexcomm/identity.h>
#include <vexcomm/operation.h>
#include <vexcomm/quotes.h>
#include <vexcomm/text.h>

#include "commands/commands.h"
#include "commands/common.h"
#include "messages.h"
#include "quote_history.h"
#include "run_trace.h"
#include "stocks_csv.h"

namespace vexcomm::cli {
namespace {

namespace fs = std::filesystem;

int32_t ParseInt32(std::string_view text, std::string_view what) {
  int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
    throw UsageError(Fill(Tr("%1 wants a whole number, not \"%2\""), {what, text}));
  }
  return value;
}

bool IsFetch(int32_t modus) {
  return modus == VexCommGetNew || modus == VexCommGetFile || modus == vexCommCheckNew;
}

// Operation codes that send a request: those of the commands that send. Any other one would
// connect and send nothing.
bool SendsRequest(int32_t modus) {
  return modus != 0 &&
         std::ranges::any_of(Commands(), [modus](const CommandDef& c) { return c.modus == modus; });
}
// The texts of `run` name the codes.
static_assert(VexCommGetNew == 2 && VexCommGetFile == 3 && vexCommCheckNew == 8 &&
              vexCommWDT == 13 && vexCommSendPWD == 20);

// A date for the server in its form, DD.MM.YYYY, from either form the user may type.
std::string ServerDate(std::string_view text, std::string_view what) {
  const std::string iso = ParseUserDate(text, what);
  return iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4);
}

// The server's host name and where it came from, for a certificate that names another.
std::string RunHost(const GlobalOptions& global, const Folders& folders) {
  const std::string host = ServerHostName(folders.ini);
  if (global.connect_to)
    return Fill(Tr("%1 (from %2MorvaZedi.ini, reached by --connect-to %3)"),
                {host, folders.ini, *global.connect_to});
  if (fs::exists(folders.ini + "MorvaZedi.ini"))
    return Fill(Tr("%1 (IP in %2MorvaZedi.ini)"), {host, folders.ini});
  return Fill(Tr("%1 (the standard server)"), {host});
}

}  // namespace

int RunOperation(const CommandLine& line, Output& output) {
  const CommandDef& command = *line.command;
  const int32_t modus =
      command.modus != 0 ? command.modus : ParseInt32(line.arguments.at(0), "MODUS");
  if (!SendsRequest(modus)) {
    throw UsageError(
        Fill(Tr("operation %1 sends no request; the codes that do are 2, 3, 8 and 13 to 20"),
             {std::to_string(modus)}));
  }
  const Folders folders = ResolveFolders(line.global);

  // Every input is read before anything is sent.
  std::vector<StockRow> stocks;
  const auto stocks_file = line.Value("--stocks");
  const bool from_db = line.Has("--from-db");
  if (stocks_file && from_db) throw UsageError(Tr("--stocks and --from-db exclude each other"));
  if ((modus == vexCommWPK || modus == vexCommGetAllWPK) && !stocks_file && !from_db) {
    throw UsageError(Fill(Tr("%1 needs --stocks FILE or --from-db"), {command.name}));
  }
  if (stocks_file) {
    stocks = ReadStocksCsv(*stocks_file);
    if (stocks.empty())
      throw UsageError(Fill(Tr("the stocks file %1 lists no stock"), {*stocks_file}));
  }
  // An empty support log or password request reaches nobody.
  if (modus == vexCommSendLog && !line.Has("--log-file") && !line.Has("--datum") &&
      !line.Has("--text")) {
    throw UsageError(
        Fill(Tr("%1 needs --log-file FILE, --datum DATE or --text TEXT"), {command.name}));
  }
  if (modus == vexCommSendPWD && !line.Has("--datum") && !line.Has("--text")) {
    throw UsageError(Fill(Tr("%1 needs --datum DATE or --text TEXT"), {command.name}));
  }
  std::string log_support;
  if (auto file = line.Value("--log-file"))
    log_support = ReadTextFile(*file, N_("cannot read log file %1: %2"));
  std::optional<std::string> log_datum;
  if (auto datum = line.Value("--datum")) log_datum = ServerDate(*datum, "--datum");

  const bool writes_db = line.Has("--write-db") || modus == vexCommNewWPK;
  if (writes_db || from_db) {
    const bool has_db = fs::exists(folders.data + "Kurse.dat");
    if (!has_db && from_db) {
      throw UsageError(Fill(Tr("--from-db: there is no %1Kurse.dat"), {folders.data}));
    }
    if (!has_db && !fs::exists(folders.ini + "Kurse.dat")) {
      throw UsageError(Fill(Tr("neither %1Kurse.dat nor a template %2Kurse.dat exists; "
                               "'vexcomm db init-template %2' writes the template"),
                            {folders.data, folders.ini}));
    }
    // The component makes the data folder (private) when it first writes Kurse.dat.
  }

  SessionConfig config;
  config.ini_dir = folders.ini;
  config.data_dir = folders.data;
  config.registry_dir = folders.registry;
  config.out_dir = line.global.out.value_or(".");
  config.json_content = line.global.json_content;
  config.utf8_text = line.global.utf8_text;
  if (IsFetch(modus)) {
    try {
      ReceivedFiles(config.out_dir).Prepare();
    } catch (const std::exception& e) {
      throw UsageError(Fill(Tr("--out: %1"), {e.what()}));
    }
  }
  config.socket = ResolveSocketOptions(line.global, ServerHostName(folders.ini));
  config.trace = OpenRunTrace(line.global, output);
  config.trace_unmasked = line.global.trace_unmasked;
  // Held until the run has ended and its values are stored.
  const InstallationLock lock = LockInstallation(line.global, folders, output);
  // The standard server is the documented default: said only to those who ask.
  if (line.global.verbose && !fs::exists(folders.ini + "MorvaZedi.ini")) {
    output.Note(Fill(Tr("no %1MorvaZedi.ini: connecting to the standard server"), {folders.ini}));
  }

  HostSession session(std::move(config), output);
  VexComm& vc = session.vc();
  auto aktien = vc.Aktien();
  if (stocks_file) {
    aktien->Clear();
    for (const auto& row : stocks) {
      auto stock = aktien->Add(row.WKN, row.ISIN, row.Name);
      stock->VonDatum = row.VonDatum;
      stock->BisDatum = row.BisDatum;
    }
  } else if (from_db) {
    if (!aktien->ReadDB()) return DbUnreadable(folders, output);
    if (aktien->Count() == 0) {
      throw UsageError(Fill(Tr("--from-db: no stock is stored in %1Kurse.dat"), {folders.data}));
    }
  }
  if (line.Has("--write-db")) aktien->WriteDB = true;
  if (line.Has("--log-file")) vc.SetLogSupport(log_support);
  if (log_datum) vc.SetLogDatum(*log_datum);
  if (auto text = line.Text("--text")) vc.SetLogText(*text);

  const RunResult result = session.Run(modus);
  // The run appended the server's quotes to whatever was loaded: show each date once, in order,
  // and as stored when the run saved them.
  if (result.ok())
    SettleRunQuotes(*aktien, aktien->WriteDB && fs::exists(folders.data + "Kurse.dat"));
  PrintRunResult(output, session, modus, result, line.Has("--wide"));
  RunVerdict verdict =
      JudgeRun(result, RunHost(line.global, folders), line.global.pin_sha256.has_value());
  if (result.outcome == OutcomeKind::kServerError && result.code == vcerrKundeNotFound) {
    const Identity user = ReadIdentity(folders.registry);
    if (user.BLZ.empty() || user.KundenNr.empty()) {
      verdict.message +=
          Tr("; this installation has no identity yet: vexcomm user set --blz BLZ --kunden-nr NR");
    }
  }
  if (result.outcome == OutcomeKind::kServerError &&
      (modus == vexCommWPK || modus == vexCommNewWPK || modus == vexCommGetAllWPK)) {
    // The refusal names no stock; the stocks left without quotes are the ones to look at.
    std::string empty;
    std::size_t count = 0;
    for (int32_t i = 1; i <= aktien->Count(); ++i) {
      if (aktien->Item(i)->KursCount() != 0) continue;
      empty += (count++ == 0 ? "" : ", ") + aktien->Item(i)->WKN + " " + aktien->Item(i)->Name;
    }
    if (count != 0) {
      verdict.message += Fill(TrN("; no quotes arrived for the stock %1",
                                  "; no quotes arrived for the stocks %1", count),
                              {empty});
    }
  }
  if (result.outcome == OutcomeKind::kInvalidReply) {
    // What arrived instead tells a wrong server or port at once (an HTTP server answers text).
    const std::string arrived = output.LastLogAfter("Keine gültige Nachricht:");
    if (!arrived.empty()) {
      verdict.message += Fill(
          Tr("; the server sent \"%1\""),
          {std::string(CodePointPrefix(arrived, 60)) + (CodePointCount(arrived) > 60 ? "…" : "")});
    }
  }
  if (verdict.status == kExitOk) return kExitOk;
  return output.Fail(verdict.status, verdict.error_class, verdict.message);
}

}  // namespace vexcomm::cli
