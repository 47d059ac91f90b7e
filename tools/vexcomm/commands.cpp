#include "commands.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include <vexcomm/host.h>
#include <vexcomm/identity.h>
#include <vexcomm/quotes.h>
#include <vexcomm/text.h>
#include <vexcomm/version.h>

#include "demo.h"
#include "messages.h"
#include "object_views.h"
#include "quote_history.h"
#include "settings.h"
#include "signal_cancel.h"
#include "stocks_csv.h"
#include "svg_chart.h"
#include "text_table.h"
#include "trace_commands.h"

namespace vexcomm::cli {
namespace {

namespace fs = std::filesystem;

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string ExistingFolder(const std::optional<std::string>& given, int setting,
                           std::string_view option) {
  if (!given) return DefaultHostServices().text_setting(setting);
  std::error_code ec;
  if (!fs::is_directory(*given, ec)) {
    throw UsageError(Fill(Tr("%1: the folder %2 does not exist"), {option, *given}));
  }
  return WithSlash(*given);
}

int32_t ParseInt32(std::string_view text, std::string_view what) {
  int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
    throw UsageError(Fill(Tr("%1 wants a whole number, not \"%2\""), {what, text}));
  }
  return value;
}

// The number of the last file received: what the server counts from, 0 or more.
int32_t ParseFileNumberOption(std::string_view text) {
  int64_t value = -1;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || end != text.data() + text.size() ||
      (ec != std::errc() && ec != std::errc::result_out_of_range)) {
    throw UsageError(Fill(Tr("%1 wants a whole number, not \"%2\""), {"--datei-nr", text}));
  }
  if (ec != std::errc() || value < 0 || value > INT32_MAX) {
    throw UsageError(Fill(Tr("--datei-nr %1 is out of range (0 to 2147483647)"), {text}));
  }
  return static_cast<int32_t>(value);
}

// Reads the password on the terminal without echo; the terminal is restored on Ctrl-C too.
std::string PromptPassword(const std::string& user) {
  const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    throw UsageError(
        Tr("--proxy-user needs the password in VEXCOMM_PROXY_PASSWORD (no terminal to ask on)"));
  }
  termios saved{};
  const bool is_tty = ::tcgetattr(fd, &saved) == 0;
  const std::string prompt = Fill(Tr("Proxy password for %1: "), {user});
  [[maybe_unused]] auto w = ::write(fd, prompt.data(), prompt.size());
  SignalCancel* signals = CurrentSignalCancel();
  if (is_tty) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
    if (signals) {
      signals->SetCancel([fd, saved] {
        ::tcsetattr(fd, TCSAFLUSH, &saved);
        std::_Exit(130);
      });
    }
  }
  std::string password;
  char c = 0;
  while (::read(fd, &c, 1) == 1 && c != '\n') password += c;
  if (is_tty) {
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    if (signals) signals->SetCancel({});
  }
  w = ::write(fd, "\n", 1);
  ::close(fd);
  return password;
}

bool IsFetch(int32_t modus) {
  return modus == VexCommGetNew || modus == VexCommGetFile || modus == vexCommCheckNew;
}

// Operation codes that send a request; any other one would connect and send nothing.
bool SendsRequest(int32_t modus) {
  return IsFetch(modus) || (modus >= vexCommWDT && modus <= vexCommSendPWD);
}

// A date for the server in its form, DD.MM.YYYY, from either form the user may type.
std::string ServerDate(std::string_view text, std::string_view what) {
  const std::string iso = ParseUserDate(text, what);
  return iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4);
}

// A field of the identity record travels between ":" in every request.
std::string IdentityField(const CommandLine& line, std::string_view option, bool digits) {
  std::string value = *line.Text(option);
  if (value.find(':') != std::string::npos) {
    throw UsageError(
        Fill(Tr("%1 must not contain \":\" (it separates the fields of a request)"), {option}));
  }
  if (digits && (value.empty() || value.find_first_not_of("0123456789") != std::string::npos)) {
    throw UsageError(Fill(Tr("%1 wants digits only, not \"%2\""), {option, value}));
  }
  return value;
}

// NAME@DOMAIN.TLD without blanks: what the server can answer to. Empty clears the field.
bool IsMailAddress(std::string_view text) {
  if (text.empty()) return true;
  const auto at = text.find('@');
  if (at == 0 || at == std::string_view::npos || text.find('@', at + 1) != std::string_view::npos) {
    return false;
  }
  const std::string_view domain = text.substr(at + 1);
  const auto dot = domain.rfind('.');
  return text.find_first_of(" \t,;<>()[]\\\"") == std::string_view::npos &&
         dot != std::string_view::npos && dot > 0 && domain.size() - dot > 2 &&
         domain.find("..") == std::string_view::npos;
}

// One run (or change of the identity record) at a time per installation.
InstallationLock LockInstallation(const GlobalOptions& global, const Folders& folders,
                                  Output& output) {
  auto lock = InstallationLock::Acquire(folders.registry, InstallationLock::Wait::kNo);
  if (lock) return std::move(*lock);
  if (global.no_wait) throw std::runtime_error(Tr("another vexcomm run holds this installation"));
  output.Note(Tr("another vexcomm run holds this installation; waiting…"));
  return std::move(*InstallationLock::Acquire(folders.registry, InstallationLock::Wait::kYes));
}

// `quiet`: the component's boxes are kept for the one line that says what failed, not shown.
QuoteDbContext DbContext(const Folders& folders, Output& output, bool quiet = false) {
  QuoteDbContext context;
  context.data_dir = folders.data;
  context.ini_dir = folders.ini;
  context.message_box = [&output, quiet](const std::string& title, const std::string& text) {
    if (quiet) {
      output.KeepMessageBox(text);
    } else {
      output.MessageBox(title, text);
    }
  };
  return context;
}

// What a person can do about a quote database that fails, by its cause.
std::string DbAdvice(const std::string& cause) {
  if (cause.find("locked") != std::string::npos || cause.find("busy") != std::string::npos) {
    return Tr("; another program is using it: try again when it has ended");
  }
  return Tr(
      "; restore it from a backup, or move it aside and the next quote run starts a new "
      "one from the template");
}

int DbUnreadable(const Folders& folders, Output& output) {
  const std::string cause = output.LastMessageBoxText();
  return output.Fail(
      kExitLocalStore, "local",
      Fill(Tr("the quote database %1 cannot be read"), {folders.data + "Kurse.dat"}) +
          (cause.empty() ? std::string() : ": " + cause) + DbAdvice(cause));
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

Json UserJson(const Identity& user) {
  return Json{{"BLZ", user.BLZ},         {"KundenNr", user.KundenNr}, {"DateiNr", user.DateiNr},
              {"Vorname", user.Vorname}, {"Nachname", user.Nachname}, {"EMail", user.EMail}};
}

void ShowUser(Output& output, const Identity& user) {
  if (output.json()) {
    output.EmitResult(Json{{"user", UserJson(user)}});
    return;
  }
  TextTable table({Tr("field"), Tr("value")});
  table.AddRow({"BLZ", user.BLZ});
  table.AddRow({"KundenNr", user.KundenNr});
  table.AddRow({"DateiNr", std::to_string(user.DateiNr)});
  table.AddRow({"Vorname", user.Vorname});
  table.AddRow({"Nachname", user.Nachname});
  table.AddRow({"EMail", user.EMail});
  std::ostringstream text;
  table.Print(text);
  std::string shown = text.str();
  shown.pop_back();
  output.Result(shown);
}

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

int UserShow(const CommandLine& line, Output& output) {
  const Folders folders = ResolveFolders(line.global);
  try {
    ShowUser(output, ReadIdentity(folders.registry));
  } catch (const std::runtime_error& e) {
    return output.Fail(kExitLocalStore, "local", e.what());
  }
  return kExitOk;
}

int UserSet(const CommandLine& line, Output& output) {
  if (line.options.empty()) throw UsageError(Tr("user set: name at least one field to change"));
  const Folders folders = ResolveFolders(line.global);
  // A run that read the record before this change would write its old values back.
  const InstallationLock lock = LockInstallation(line.global, folders, output);
  Identity user;
  try {
    user = ReadIdentity(folders.registry);
  } catch (const std::runtime_error& e) {
    return output.Fail(kExitLocalStore, "local", e.what());
  }
  if (line.Has("--blz")) {
    user.BLZ = IdentityField(line, "--blz", true);
    if (user.BLZ.size() != 8)
      throw UsageError(Fill(Tr("--blz wants the 8 digits of a bank code, not \"%1\""), {user.BLZ}));
  }
  if (line.Has("--kunden-nr")) user.KundenNr = IdentityField(line, "--kunden-nr", true);
  if (auto v = line.Value("--datei-nr")) user.DateiNr = ParseFileNumberOption(*v);
  if (line.Has("--vorname")) user.Vorname = IdentityField(line, "--vorname", false);
  if (line.Has("--nachname")) user.Nachname = IdentityField(line, "--nachname", false);
  if (line.Has("--email")) {
    user.EMail = IdentityField(line, "--email", false);
    if (!IsMailAddress(user.EMail)) {
      throw UsageError(
          Fill(Tr("--email wants an address as name@example.de, not \"%1\""), {user.EMail}));
    }
  }
  try {
    WriteIdentity(folders.registry, user);
  } catch (const std::exception& e) {
    return output.Fail(kExitLocalStore, "local", e.what());
  }
  ShowUser(output, user);
  return kExitOk;
}

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
  return DbShowHistory(line, output, aktien);
}

int DbExport(const CommandLine& line, Output& output) {
  if (line.Value("--csv") == "-" && output.json()) {
    throw UsageError(
        Tr("--json and --csv - both want standard output; name a file with --csv FILE"));
  }
  const Folders folders = ResolveFolders(line.global);
  colAktien aktien;
  if (auto status = LoadDb(folders, output, aktien)) return *status;
  return DbExport(line, output, aktien);
}

int DbChart(const CommandLine& line, Output& output) {
  ChartFile(line);
  const Folders folders = ResolveFolders(line.global);
  colAktien aktien;
  if (auto status = LoadDb(folders, output, aktien)) return *status;
  return DbChart(line, output, aktien);
}

int DbImport(const CommandLine& line, Output& output) {
  // The component makes the data folder, for the owner alone, when it first writes.
  const Folders folders = ResolveFolders(line.global);
  return DbImport(line, output, DbContext(folders, output));
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

Folders ResolveFolders(const GlobalOptions& global) {
  Folders folders;
  folders.ini = ExistingFolder(global.ini_dir, 3, "--ini-dir");
  folders.data = ExistingFolder(global.data_dir, 5, "--data-dir");
  if (global.registry_dir) {
    folders.registry = *global.registry_dir;
    std::error_code ec;
    try {
      CreatePrivateFolders(folders.registry);
    } catch (const std::system_error&) {
      // Told below.
    }
    if (!fs::is_directory(folders.registry, ec)) {
      throw UsageError(Fill(Tr("--registry-dir: cannot use %1"), {folders.registry.string()}));
    }
  } else {
    folders.registry = DefaultHostServices().registry_dir;
  }
  return folders;
}

SocketOptions ResolveSocketOptions(const GlobalOptions& global, const std::string& server_host) {
  SocketOptions options;
  if (global.ca_file) {
    ReadInputFile(*global.ca_file, N_("cannot read CA file %1: %2"));
    options.ca_file = *global.ca_file;
  }
  if (global.connect_to) {
    const ConnectTo c = ParseConnectTo(*global.connect_to);
    options.connect_to_host = c.host;
    options.connect_to_port = static_cast<uint16_t>(c.port);
    options.connect_to_address = c.address;
    options.connect_to_address_port = static_cast<uint16_t>(c.address_port);
  }
  // As curl: no_proxy names the hosts reached directly, whatever set the proxy.
  const bool direct = global.no_proxy && NoProxyMatches(*global.no_proxy, server_host);
  if (global.proxy && !direct) {
    // Credentials in the URL are allowed from the environment only, and checked there.
    const ProxyAddress proxy = ParseProxy(*global.proxy, "--proxy", true);
    options.proxy_host = proxy.host;
    options.proxy_port = static_cast<uint16_t>(proxy.port);
  }
  if (global.proxy_user && !direct) {
    if (!global.proxy) throw UsageError(Tr("--proxy-user needs --proxy"));
    options.proxy_user = *global.proxy_user;
    const char* password = std::getenv("VEXCOMM_PROXY_PASSWORD");
    options.proxy_password = password                ? std::string(password)
                             : global.proxy_password ? *global.proxy_password
                                                     : PromptPassword(*global.proxy_user);
  }
  if (global.connect_timeout) {
    options.connect_timeout =
        std::chrono::milliseconds(ParseSeconds(*global.connect_timeout, "--connect-timeout"));
  }
  if (global.idle_timeout) {
    options.idle_timeout =
        std::chrono::milliseconds(ParseSeconds(*global.idle_timeout, "--idle-timeout"));
  }
  if (global.speed_limit) options.speed_limit = ParseSpeed(*global.speed_limit, "--speed-limit");
  if (global.speed_time) {
    options.speed_time =
        std::chrono::milliseconds(ParseSeconds(*global.speed_time, "--speed-time"));
  }
  if (global.pin_sha256) options.pinned_public_keys = ParsePins(*global.pin_sha256, "--pin-sha256");
  return options;
}

std::string VersionText(bool json) {
  const RuntimeVersions v = LoadedVersions();
  if (json) {
    const Json versions{{"vexcomm", v.library},
                        {"openssl", v.openssl},
                        {"sqlcipher", v.sqlcipher},
                        {"sqlite", v.sqlite}};
    return JsonLine(Json{{"schema", kJsonSchema},
                         {"command", "--version"},
                         {"result", Json{{"version", versions}}}}) +
           "\n";
  }
  return "vexcomm " + v.library + "\n" + v.openssl + "\nSQLCipher " +
         (v.sqlcipher.empty() ? Tr("(unknown)") : v.sqlcipher) + " (SQLite " + v.sqlite + ")\n";
}

int Execute(const CommandLine& given, Output& output) {
  CommandLine line = given;
  // Only the runs connect and receive files; the other commands take none of these settings
  // (and `db chart` reads --out as the file it writes).
  if (given.command->modus != 0 || given.command->name == "run") {
    const Environment env = ProcessEnvironment();
    for (const auto& warning : ConfigFileWarnings(ConfigFilePath(env))) output.Note(warning);
    line.global = WithSettings(given.global, env, true);
  }
  return line.command->handler(line, output);
}

}  // namespace vexcomm::cli
