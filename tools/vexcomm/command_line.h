#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "exit_codes.h"

namespace vexcomm::cli {

// A wrong command line, or an input that cannot be read: exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file the user asked for that cannot be written: exit status 7.
class LocalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct GlobalOptions {
  std::optional<std::string> ini_dir;
  std::optional<std::string> data_dir;
  std::optional<std::string> registry_dir;
  std::optional<std::string> ca_file;
  std::optional<std::string> connect_to;
  std::optional<std::string> proxy;
  std::optional<std::string> proxy_user;
  std::optional<std::string> connect_timeout;
  std::optional<std::string> idle_timeout;
  std::optional<std::string> speed_limit;
  std::optional<std::string> speed_time;
  std::optional<std::string> pin_sha256;  // pins separated by ";" (the option may be repeated)
  std::optional<std::string> out;
  std::optional<std::string> trace;
  bool trace_unmasked = false;
  std::optional<std::string> no_proxy;
  std::optional<std::string> proxy_password;  // from a proxy URL in the environment only
  bool json = false;
  bool json_content = false;  // received files inlined in the JSON lines
  bool utf8_text = false;     // received text files saved as UTF-8
  bool verbose = false;
  bool quiet = false;
  bool no_wait = false;
};

struct OptionDef {
  std::string_view name;        // "--stocks"
  std::string_view value_name;  // "FILE"; empty for a flag
  std::string_view help;
};

class Output;
struct CommandLine;
// Runs a command and returns its exit status; throws UsageError for an input it refuses.
using CommandHandler = int (*)(const CommandLine& line, Output& output);

struct CommandDef {
  std::string_view name;       // "get-new", "user set"
  std::string_view arguments;  // positional arguments for the usage line, e.g. "WKN"
  int min_arguments = 0;
  int max_arguments = 0;
  int modus = 0;  // the operation code it sends; 0 for local commands
  std::string_view summary;
  std::string_view details;
  std::vector<OptionDef> options;
  CommandHandler handler = nullptr;
};

const std::vector<CommandDef>& Commands();
// The options that may stand anywhere on the line.
std::vector<OptionDef> GlobalOptionList();
// What the exit statuses mean, as --help says it.
std::string ExitStatusHelp();
const CommandDef* FindCommand(std::string_view name);
// Whether the command sends requests to the server: an operation's command, or `run`.
bool Sends(const CommandDef& c);

struct CommandLine {
  GlobalOptions global;
  const CommandDef* command = nullptr;
  std::string group;  // "user" or "db" when only the group was named
  std::map<std::string, std::string, std::less<>> options;  // flags map to ""
  std::vector<std::string> arguments;
  bool help = false;
  bool version = false;

  bool Has(std::string_view option) const { return options.count(option) != 0; }
  std::optional<std::string> Value(std::string_view option) const;
  // A value that is text for the server or the stores: UTF-8, Windows-1252 converted.
  std::optional<std::string> Text(std::string_view option) const;
};

// Global options may stand anywhere; a command's own options after its name. Throws UsageError.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Runs the command of the line and returns the exit status. Throws UsageError.
int Execute(const CommandLine& line, Output& output);

// The help text of a command, of a group ("user", "db"), or of the program (empty name).
std::string HelpText(const CommandLine& line);

// Parses the curl-style HOST:PORT:ADDRESS:PORT; an IPv6 address may stand in brackets.
struct ConnectTo {
  std::string host;
  unsigned port = 0;  // 0: any
  std::string address;
  unsigned address_port = 0;  // 0: the same
};
ConnectTo ParseConnectTo(std::string_view text);

// HOST:PORT with a port above 0.
std::pair<std::string, unsigned> ParseHostPort(std::string_view text, std::string_view what);

// Seconds as a decimal number, 0 or more; the result in milliseconds.
long long ParseSeconds(std::string_view text, std::string_view what);

// How many single-character edits turn `a` into `b`: what a misspelt name is nearest to.
std::size_t EditDistance(std::string_view a, std::string_view b);

// Octets a second as a whole number, 0 or more.
std::size_t ParseSpeed(std::string_view text, std::string_view what);

// Public-key pins as curl's --pinnedpubkey writes them, "sha256//" + 44 characters of base64
// ("sha256//" may be left off), separated by ";", "," or blanks; each as "sha256//…".
std::vector<std::string> ParsePins(std::string_view text, std::string_view what);

}  // namespace vexcomm::cli
