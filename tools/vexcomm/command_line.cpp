#include "command_line.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <sstream>

#include <vexcomm/operation.h>
#include <vexcomm/text.h>

#include "commands/commands.h"
#include "messages.h"
#include "settings.h"

namespace vexcomm::cli {
namespace {

const OptionDef kStocks{"--stocks", "FILE",
                        "CSV with the header WKN,ISIN,Name,VonDatum,BisDatum, separated by , or "
                        "; (- reads standard input); dates DD.MM.YYYY or YYYY-MM-DD"};
const OptionDef kFromDb{"--from-db", "", "take the stocks stored in Kurse.dat (ReadDB)"};
const OptionDef kWriteDb{"--write-db", "", "merge the quotes into Kurse.dat after the run"};
const OptionDef kLogFile{"--log-file", "FILE", "the support log to send (LogSupport)"};
const OptionDef kDatum{"--datum", "DATE", "the log date (LogDatum), DD.MM.YYYY or YYYY-MM-DD"};
const OptionDef kText{"--text", "TEXT", "the log text (LogText)"};
const OptionDef kWide{"--wide", "", "all columns, however wide the terminal"};
constexpr std::string_view kFitsTerminal =
    "On a terminal (or with COLUMNS set) the table leaves out its least important columns until "
    "it fits; --json always has every field.";
const OptionDef kFrom{"--from", "DATE", "only quotes from this date on"};
const OptionDef kTo{"--to", "DATE", "only quotes up to this date"};

constexpr std::string_view kReceives =
    "Received files are written to --out (default: the current folder) as "
    "<DateiNummer>-<name>, each holding exactly the octets the server sent (text in "
    "Windows-1252, as the Windows host saved it); --utf8-text saves text files as UTF-8. A "
    "deletion notice removes the saved file of that number.";

const std::vector<CommandDef> kCommands = {
    {"check-new",
     "",
     0,
     0,
     vexCommCheckNew,
     "look for new messages; fetch them if the server holds any",
     kReceives,
     {},
     &RunOperation},
    {"get-new",
     "",
     0,
     0,
     VexCommGetNew,
     "fetch every new message and file",
     kReceives,
     {},
     &RunOperation},
    {"get-file",
     "",
     0,
     0,
     VexCommGetFile,
     "fetch the next file only",
     kReceives,
     {},
     &RunOperation},
    {"quote-date",
     "",
     0,
     0,
     vexCommWDT,
     "ask for the date of the newest quotes",
     "",
     {},
     &RunOperation},
    {"quotes",
     "",
     0,
     0,
     vexCommWPK,
     "fetch the quotes of each stock for its date range",
     "The stocks come from --stocks or, with --from-db, from Kurse.dat.",
     {kStocks, kFromDb, kWriteDb},
     &RunOperation},
    {"new-quotes",
     "",
     0,
     0,
     vexCommNewWPK,
     "fetch the quotes since the last stored date of each stock in Kurse.dat and store them",
     "",
     {},
     &RunOperation},
    {"all-quotes",
     "",
     0,
     0,
     vexCommGetAllWPK,
     "fetch the quotes of the past year for each stock",
     "The stocks come from --stocks or, with --from-db, from Kurse.dat.",
     {kStocks, kFromDb, kWriteDb},
     &RunOperation},
    {"tagesgeld",
     "",
     0,
     0,
     vexCommTGA,
     "fetch the overnight-money offers",
     kFitsTerminal,
     {kWide},
     &RunOperation},
    {"festgeld",
     "",
     0,
     0,
     vexCommFGA,
     "fetch the fixed-term deposit offers",
     kFitsTerminal,
     {kWide},
     &RunOperation},
    {"send-log",
     "",
     0,
     0,
     vexCommSendLog,
     "send a support log with the user's contact data",
     "",
     {kLogFile, kDatum, kText},
     &RunOperation},
    {"send-password",
     "",
     0,
     0,
     vexCommSendPWD,
     "send a password request with the user's contact data",
     "",
     {kDatum, kText},
     &RunOperation},
    {"run",
     "MODUS",
     1,
     1,
     0,
     "run an operation by its code: 2, 3, 8 or 13 to 20",
     "MODUS is the code of an operation that sends a request: 2 get-new, 3 get-file, "
     "8 check-new, 13 quote-date, 14 quotes, 15 new-quotes, 16 tagesgeld, 17 festgeld, "
     "18 all-quotes, 19 send-log, 20 send-password; any other code is refused before anything "
     "is sent. The inputs of every operation may be given; each is used only by the operations "
     "that read it.",
     {kStocks, kFromDb, kWriteDb, kLogFile, kDatum, kText},
     &RunOperation},
    {"user show", "", 0, 0, 0, "show the installation's identity record", "", {}, &UserShow},
    {"user set",
     "",
     0,
     0,
     0,
     "change fields of the installation's identity record",
     "Fields not named keep their values; the record is written at once as a whole.",
     {{"--blz", "TEXT", "bank code (BLZ)"},
      {"--kunden-nr", "TEXT", "customer number (KundenNr)"},
      {"--datei-nr", "N", "number of the last file received (DateiNr)"},
      {"--vorname", "TEXT", "first name"},
      {"--nachname", "TEXT", "last name"},
      {"--email", "TEXT", "e-mail address"}},
     &UserSet},
    {"db init-template",
     "DIR",
     1,
     1,
     0,
     "write an empty quote database DIR/Kurse.dat",
     "The component copies the template from the INI folder when the data folder has no "
     "Kurse.dat yet. An existing file is never replaced.",
     {},
     &DbInitTemplate},
    {"db show",
     "[WKN|ISIN...]",
     0,
     1000,
     0,
     "list the stocks and quotes stored in Kurse.dat",
     "Without a stock: a line per stock, with its number of quotes, the first and last date, "
     "its last price and a line of its recent prices; with stocks: their quotes, in date order. "
     "Dates may be given as DD.MM.YYYY or YYYY-MM-DD.",
     {kFrom, kTo, kWide},
     &DbShow},
    {"db delete",
     "WKN|ISIN",
     1,
     1,
     0,
     "delete a stock and its quotes from Kurse.dat",
     "",
     {},
     &DbDelete},
    {"db export",
     "[WKN|ISIN...]",
     0,
     1000,
     0,
     "write the stored quotes as CSV",
     "One row per quote: WKN, ISIN, Name, Datum as stored, ISO date, Kurs. --decimal-comma "
     "writes prices as German spreadsheets read them (with ; between fields unless "
     "--delimiter says otherwise).",
     {{"--csv", "FILE", "the file to write, - for standard output"},
      {"--delimiter", "CHAR", ", or ;"},
      {"--decimal-comma", "", "prices with a decimal comma"}},
     &DbExport},
    {"db import",
     "",
     0,
     0,
     0,
     "merge quotes from a CSV file into Kurse.dat",
     "The header names the columns (WKN, Kurs and Datum or ISO; ISIN and Name optional), "
     "separated by , or ;. Every line is checked first: a bad line is named and nothing is "
     "written. A stored date of a stock gets the new price, other dates are added.",
     {{"--csv", "FILE", "the file to read, - for standard input"}},
     &DbImport},
    {"db chart",
     "WKN|ISIN...",
     1,
     1000,
     0,
     "draw the stored prices of stocks as an SVG line chart",
     "Writes the chart to the file named by --out FILE.svg. One line per stock; a line breaks "
     "where more than 7 days have no quote.",
     {kFrom, kTo, {"--normalize", "", "start each line at 100"}},
     &DbChart},
    {"trace show",
     "FILE",
     1,
     1,
     0,
     "print a trace written by --trace for a person",
     "One line per record: the time since the first, an arrow for each frame (-> sent, <- "
     "received), long elements shortened.",
     {},
     &TraceShow},
    {"config show",
     "",
     0,
     0,
     0,
     "show the settings in effect and where each comes from",
     "Settings come from the command line, else the environment, else the config file "
     "$XDG_CONFIG_HOME/vexcomm/config (else ~/.config/vexcomm/config), else the defaults. The "
     "file's section [connection] holds ca-file, proxy, proxy-user, no-proxy, connect-to, "
     "connect-timeout, idle-timeout, speed-limit, speed-time and pin-sha256; section [output] "
     "holds out.",
     {kWide},
     &ConfigShow},
    {"demo",
     "",
     0,
     0,
     0,
     "run everything against a built-in reference server on loopback",
     "Starts the reference server with sample data and a throwaway certificate authority, "
     "then fetches messages, the deposit offers, quotes into Kurse.dat, new quotes and sends a "
     "support log, as the home-banking application does.",
     {{"--dir", "DIR",
       "keep the demo's folders in DIR (default: a temporary folder, removed "
       "at the end)"}},
     &RunDemo},
};

struct GlobalDef {
  std::string_view name;
  std::string_view value_name;
  std::string_view help;
  std::optional<std::string> GlobalOptions::*field;
};

const std::vector<GlobalDef> kGlobals = {
    {"--ini-dir", "DIR",
     "settings folder of the home-banking application: MorvaZedi.ini and the template Kurse.dat",
     &GlobalOptions::ini_dir},
    {"--data-dir", "DIR",
     "data folder of the home-banking application: the quote database Kurse.dat",
     &GlobalOptions::data_dir},
    {"--registry-dir", "DIR", "folder of the registry store holding the identity record",
     &GlobalOptions::registry_dir},
    {"--ca-file", "FILE", "PEM file of the certificate authorities to trust (default: system)",
     &GlobalOptions::ca_file},
    {"--connect-to", "HOST:PORT:ADDRESS:PORT", "reach HOST:PORT at ADDRESS:PORT instead",
     &GlobalOptions::connect_to},
    {"--proxy", "[http://]HOST:PORT", "connect through this HTTP proxy", &GlobalOptions::proxy},
    {"--noproxy", "HOSTS", "hosts (comma-separated, * for all) reached without the proxy",
     &GlobalOptions::no_proxy},
    {"--proxy-user", "USER",
     "proxy user; the password comes from VEXCOMM_PROXY_PASSWORD or a prompt",
     &GlobalOptions::proxy_user},
    {"--connect-timeout", "SECONDS", "give up connecting after this long (default 30)",
     &GlobalOptions::connect_timeout},
    {"--idle-timeout", "SECONDS", "end a connection silent for this long (default 120, 0: never)",
     &GlobalOptions::idle_timeout},
    {"--speed-limit", "BYTES",
     "end a connection whose reply arrives slower than BYTES a second over --speed-time "
     "(default 100, 0: never)",
     &GlobalOptions::speed_limit},
    {"--speed-time", "SECONDS", "the span --speed-limit is measured over (default 60)",
     &GlobalOptions::speed_time},
    {"--pin-sha256", "PIN",
     "accept only a server whose public key has this pin, sha256//BASE64 (repeat for several)",
     &GlobalOptions::pin_sha256},
    {"--out", "DIR",
     "where received files go (default: the current folder), each as the octets the server sent",
     &GlobalOptions::out},
    {"--utf8-text", "",
     "save received text files (no control characters but tab and line ends) as UTF-8 instead",
     nullptr},
    {"--json", "", "one JSON object per line on standard output, nothing else", nullptr},
    {"--json-content", "", "with --json, each received file's content in its line as well",
     nullptr},
    {"--verbose", "", "the component's log lines on standard error (also -v)", nullptr},
    {"--quiet", "", "no progress bar and no remarks on standard error, only a failure's line",
     nullptr},
    {"--no-wait", "", "fail at once when another vexcomm run holds the installation", nullptr},
    {"--trace", "FILE",
     "write what went over the wire to FILE (JSON lines; identity, texts and large files masked)",
     &GlobalOptions::trace},
    {"--trace-unmasked", "", "trace frames as sent, identity and texts included: for your own eyes",
     nullptr},
    {"--version", "", "the versions of vexcomm, OpenSSL and SQLCipher", nullptr},
};

const GlobalDef* FindGlobal(std::string_view name) {
  for (const auto& g : kGlobals) {
    if (g.name == name) return &g;
  }
  if (name == "-v") return FindGlobal("--verbose");
  return nullptr;
}

bool IsGroup(std::string_view word) {
  return word == "user" || word == "db" || word == "trace" || word == "config";
}

constexpr std::size_t kHelpWidth = 80;

// `text` after a left column of `indent` characters, wrapped at word boundaries.
std::string Hanging(std::string_view text, std::size_t indent) {
  std::string result;
  std::size_t column = indent;
  while (!text.empty()) {
    const std::size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    if (column > indent && column + 1 + word.size() > kHelpWidth) {
      result += "\n" + std::string(indent, ' ');
      column = indent;
    } else if (column > indent) {
      result += ' ';
      ++column;
    }
    result += word;
    column += word.size();
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
  }
  return result;
}

void AppendOptions(std::ostringstream& out, const auto& options) {
  std::size_t width = 0;
  for (const auto& o : options) {
    width = std::max(width, o.name.size() + (o.value_name.empty() ? 0 : o.value_name.size() + 1));
  }
  for (const auto& o : options) {
    std::string left(o.name);
    if (!o.value_name.empty()) left += " " + std::string(o.value_name);
    out << "  " << left << std::string(width - left.size() + 2, ' ')
        << Hanging(Tr(o.help), width + 4) << "\n";
  }
}

std::string GlobalOptionsHelp() {
  std::ostringstream out;
  out << Tr("Global options (anywhere on the line):") << "\n";
  AppendOptions(out, kGlobals);
  return out.str();
}

std::string ExitStatusText() {
  std::ostringstream out;
  out << Tr("Exit status:") << "\n";
  for (const auto& e : kExitCodes) {
    const std::string number = std::to_string(e.code);
    out << "  " << std::string(3 - number.size(), ' ') << number << "  "
        << Hanging(Tr(e.meaning), 7) << "\n";
  }
  return out.str();
}

// Only the names: the command's own options matter here, the program's help explains these.
std::string GlobalOptionsBrief() {
  std::string names;
  for (const auto& g : kGlobals) {
    names += names.empty() ? "" : " ";
    // An option and its value stay on one line: joined by a stand-in for the space until wrapped.
    names += "[" + std::string(g.name) +
             (g.value_name.empty() ? "" : "\x01" + std::string(g.value_name)) + "]";
  }
  std::string wrapped = Hanging(names, 2);
  std::replace(wrapped.begin(), wrapped.end(), '\x01', ' ');
  return Tr("Global options ('vexcomm --help' describes them):") + "\n  " + wrapped + "\n";
}

}  // namespace

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

namespace {

// The command a typo most likely meant, as git suggests one; empty when none is close.
std::string NearestCommand(std::string_view name) {
  std::string best;
  std::size_t best_distance = std::max<std::size_t>(2, name.size() / 3) + 1;
  for (const auto& c : kCommands) {
    const std::size_t d = EditDistance(name, c.name);
    if (d < best_distance) {
      best_distance = d;
      best = c.name;
    }
  }
  return best;
}

std::string ProgramHelp() {
  std::ostringstream out;
  out << Tr("Usage: vexcomm [GLOBAL OPTIONS] COMMAND [OPTIONS] [ARGUMENTS]") << "\n\n"
      << Hanging(Tr("Runs the operations of the VexComm5 component against a VEXMSG server, as "
                    "the home-banking application does, and keeps the installation's identity "
                    "record and quote database."),
                 0)
      << "\n\n"
      << Tr("Commands:") << "\n";
  std::size_t width = 0;
  for (const auto& c : kCommands) {
    width = std::max(width, c.name.size() + (c.arguments.empty() ? 0 : c.arguments.size() + 1));
  }
  for (const auto& c : kCommands) {
    std::string left(c.name);
    if (!c.arguments.empty()) left += " " + std::string(c.arguments);
    std::string summary = Tr(c.summary);
    if (c.modus != 0) summary += " (" + std::to_string(c.modus) + ")";
    out << "  " << left << std::string(width - left.size() + 2, ' ') << Hanging(summary, width + 4)
        << "\n";
  }
  out << "\n" << GlobalOptionsHelp() << "\n" << EnvironmentHelp() << "\n" << ExitStatusText();
  out << "\n" << Tr("'vexcomm COMMAND --help' describes a command.") << "\n";
  return out.str();
}

std::string GroupHelp(std::string_view group) {
  std::ostringstream out;
  out << Fill(Tr("Usage: vexcomm %1 SUBCOMMAND"), {group}) << "\n\n" << Tr("Subcommands:") << "\n";
  std::vector<std::pair<std::string, std::string>> rows;
  std::size_t width = 0;
  for (const auto& c : kCommands) {
    if (c.name.substr(0, c.name.find(' ')) != group || c.name.find(' ') == std::string::npos) {
      continue;
    }
    std::string left(c.name.substr(group.size() + 1));
    if (!c.arguments.empty()) left += " " + std::string(c.arguments);
    width = std::max(width, left.size());
    rows.emplace_back(std::move(left), Tr(c.summary));
  }
  for (const auto& [left, summary] : rows) {
    out << "  " << left << std::string(width - left.size() + 2, ' ') << Hanging(summary, width + 4)
        << "\n";
  }
  return out.str();
}

std::string CommandHelp(const CommandDef& c) {
  std::ostringstream out;
  out << Tr("Usage: vexcomm [GLOBAL OPTIONS]") << " " << c.name;
  if (!c.options.empty()) out << " " << Tr("[OPTIONS]");
  if (!c.arguments.empty()) out << " " << c.arguments;
  std::string summary = Tr(c.summary);
  summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
  if (c.modus != 0) summary += " " + Fill(Tr("(operation %1)"), {std::to_string(c.modus)});
  out << "\n\n" << Hanging(summary + ".", 0) << "\n";
  if (!c.details.empty()) out << Hanging(Tr(c.details), 0) << "\n";
  if (!c.options.empty()) {
    out << "\n" << Tr("Options:") << "\n";
    AppendOptions(out, c.options);
  }
  out << "\n" << GlobalOptionsBrief();
  if (Sends(c)) {
    out << "\n" << Tr("Exit statuses: 'vexcomm --help' lists them.") << "\n";
  }
  return out.str();
}

unsigned ParsePort(std::string_view text, std::string_view what, bool allow_empty) {
  if (text.empty() && allow_empty) return 0;
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
    throw UsageError(Fill(Tr("%1: \"%2\" is not a port"), {what, text}));
  }
  return value;
}

// Splits at ':' outside brackets; the brackets of an IPv6 address are removed.
std::vector<std::string> SplitHostParts(std::string_view text) {
  std::vector<std::string> parts(1);
  bool in_brackets = false;
  for (char c : text) {
    if (c == '[' && !in_brackets) {
      in_brackets = true;
    } else if (c == ']' && in_brackets) {
      in_brackets = false;
    } else if (c == ':' && !in_brackets) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

}  // namespace

const std::vector<CommandDef>& Commands() {
  return kCommands;
}

std::vector<OptionDef> GlobalOptionList() {
  std::vector<OptionDef> list;
  for (const auto& g : kGlobals) list.push_back({g.name, g.value_name, g.help});
  return list;
}

std::string ExitStatusHelp() {
  return ExitStatusText();
}

const CommandDef* FindCommand(std::string_view name) {
  for (const auto& c : kCommands) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

bool Sends(const CommandDef& c) {
  return c.modus != 0 || c.name == "run";
}

std::optional<std::string> CommandLine::Value(std::string_view option) const {
  auto it = options.find(option);
  if (it == options.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> CommandLine::Text(std::string_view option) const {
  auto value = Value(option);
  if (value) value = TextAsUtf8(std::move(*value));
  return value;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  std::vector<std::string> words;  // command words and positional arguments, in order
  bool only_arguments = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (only_arguments || arg.size() < 2 || arg[0] != '-') {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_arguments = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      line.help = true;
      continue;
    }
    std::optional<std::string> inline_value;
    if (auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      inline_value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    auto take_value = [&](std::string_view value_name) -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= args.size()) {
        throw UsageError(Fill(Tr("%1 needs a value (%2)"), {arg, value_name}));
      }
      return args[++i];
    };

    if (const GlobalDef* g = FindGlobal(arg)) {
      if (g->value_name.empty()) {
        if (inline_value) throw UsageError(Fill(Tr("%1 takes no value"), {arg}));
        (g->name == "--json"             ? line.global.json
         : g->name == "--json-content"   ? line.global.json_content
         : g->name == "--verbose"        ? line.global.verbose
         : g->name == "--quiet"          ? line.global.quiet
         : g->name == "--trace-unmasked" ? line.global.trace_unmasked
         : g->name == "--utf8-text"      ? line.global.utf8_text
         : g->name == "--version"        ? line.version
                                         : line.global.no_wait) = true;
      } else {
        std::string value = take_value(g->value_name);
        auto& field = line.global.*(g->field);
        // Several pins are allowed, for a change of keys.
        if (g->name == "--pin-sha256" && field) value = *field + ";" + value;
        field = std::move(value);
      }
      continue;
    }
    // A command's own option: the command must be named before it.
    const std::size_t base = !words.empty() && words[0] == "help" ? 1 : 0;
    std::string name = words.size() > base ? words[base] : "";
    if (words.size() >= base + 2 && IsGroup(words[base])) name += " " + words[base + 1];
    const CommandDef* command = FindCommand(name);
    const OptionDef* def = nullptr;
    if (command) {
      for (const auto& o : command->options) {
        if (o.name == arg) def = &o;
      }
    }
    if (!def) {
      throw UsageError(command ? Fill(Tr("unknown option %1 for %2"), {arg, command->name})
                               : Fill(Tr("unknown option %1"), {arg}));
    }
    if (def->value_name.empty()) {
      if (inline_value) throw UsageError(Fill(Tr("%1 takes no value"), {arg}));
      line.options[arg] = "";
    } else {
      line.options[arg] = take_value(def->value_name);
    }
  }

  if (!words.empty() && words[0] == "help") {
    line.help = true;
    words.erase(words.begin());
  }
  if (words.empty()) {
    if (line.help || line.version) return line;
    throw UsageError(Tr("no command given"));
  }
  std::string name = words[0];
  std::size_t used = 1;
  if (IsGroup(words[0])) {
    if (words.size() < 2) {
      line.group = words[0];
      if (line.help) return line;
      throw UsageError(Fill(Tr("'%1' needs a subcommand"), {words[0]}));
    }
    name += " " + words[1];
    used = 2;
  }
  line.command = FindCommand(name);
  if (!line.command) {
    const std::string nearest = NearestCommand(name);
    throw UsageError(nearest.empty()
                         ? Fill(Tr("unknown command '%1'"), {name})
                         : Fill(Tr("unknown command '%1'; did you mean '%2'?"), {name, nearest}));
  }
  line.arguments.assign(words.begin() + static_cast<std::ptrdiff_t>(used), words.end());
  if (line.help) return line;
  const auto count = static_cast<int>(line.arguments.size());
  if (count < line.command->min_arguments || count > line.command->max_arguments) {
    if (line.command->max_arguments == 0) {
      throw UsageError(Fill(Tr("%1 takes no arguments, got '%2'"), {name, line.arguments.front()}));
    }
    throw UsageError(Fill(Tr("%1 wants %2"), {name, line.command->arguments}));
  }
  return line;
}

int Execute(const CommandLine& given, Output& output) {
  CommandLine line = given;
  // Only the runs connect and receive files; the other commands take none of these settings
  // (and `db chart` reads --out as the file it writes).
  if (Sends(*given.command)) {
    const Environment env = ProcessEnvironment();
    for (const auto& warning : ConfigFileWarnings(ConfigFilePath(env))) output.Note(warning);
    line.global = WithSettings(given.global, env, true);
  }
  return line.command->handler(line, output);
}

std::string HelpText(const CommandLine& line) {
  if (line.command) return CommandHelp(*line.command);
  if (!line.group.empty()) return GroupHelp(line.group);
  return ProgramHelp();
}

ConnectTo ParseConnectTo(std::string_view text) {
  const auto parts = SplitHostParts(text);
  if (parts.size() != 4 || parts[0].empty()) {
    throw UsageError(Fill(Tr("--connect-to wants HOST:PORT:ADDRESS:PORT, not \"%1\""), {text}));
  }
  ConnectTo c;
  c.host = parts[0];
  c.port = ParsePort(parts[1], "--connect-to", true);
  c.address = parts[2];
  c.address_port = ParsePort(parts[3], "--connect-to", true);
  return c;
}

std::pair<std::string, unsigned> ParseHostPort(std::string_view text, std::string_view what) {
  if (text.find('@') != std::string_view::npos) {
    // Never echoed: it may hold a password.
    throw UsageError(
        Fill(Tr("%1 wants HOST:PORT without user or password (see --proxy-user)"), {what}));
  }
  const auto parts = SplitHostParts(text);
  if (parts.size() != 2 || parts[0].empty()) {
    throw UsageError(Fill(Tr("%1 wants HOST:PORT, not \"%2\""), {what, text}));
  }
  return {parts[0], ParsePort(parts[1], what, false)};
}

long long ParseSeconds(std::string_view text, std::string_view what) {
  double seconds = -1;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (ec != std::errc() || end != text.data() + text.size() || !(seconds >= 0) ||
      seconds > 86400.0 * 365) {
    throw UsageError(Fill(Tr("%1 wants a number of seconds, not \"%2\""), {what, text}));
  }
  return std::llround(seconds * 1000);
}

std::size_t ParseSpeed(std::string_view text, std::string_view what) {
  std::size_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
    throw UsageError(
        Fill(Tr("%1 wants a whole number of bytes a second, not \"%2\""), {what, text}));
  }
  return value;
}

std::vector<std::string> ParsePins(std::string_view text, std::string_view what) {
  constexpr std::string_view kPrefix = "sha256//";
  constexpr std::string_view kBase64 =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<std::string> pins;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(";, \t", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view pin = text.substr(start, end - start);
    start = end + 1;
    if (pin.empty()) continue;
    const std::string_view value = pin.starts_with(kPrefix) ? pin.substr(kPrefix.size()) : pin;
    // A SHA-256 in base64: 43 characters and one "=".
    if (value.size() != 44 || value.back() != '=' ||
        value.substr(0, 43).find_first_not_of(kBase64) != std::string_view::npos) {
      throw UsageError(
          Fill(Tr("%1 wants sha256// and 44 characters of base64, not \"%2\""), {what, pin}));
    }
    pins.push_back(std::string(kPrefix) + std::string(value));
  }
  if (pins.empty()) throw UsageError(Fill(Tr("%1 names no pin"), {what}));
  return pins;
}

}  // namespace vexcomm::cli
