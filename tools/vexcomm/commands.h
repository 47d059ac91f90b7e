#pragma once

#include <filesystem>
#include <string>

#include "command_line.h"
#include "host_session.h"
#include "output.h"

namespace vexcomm::cli {

// The folders a command works with, each ending in "/" where the component wants it so.
struct Folders {
  std::string ini;
  std::string data;
  std::filesystem::path registry;
};

// An explicitly named INI or data folder must exist; a named registry folder is created.
// The defaults are the component's (environment, then XDG). Throws UsageError.
Folders ResolveFolders(const GlobalOptions& global);

// The socket settings of the global options for a run to `server_host`; asks for the proxy
// password when needed. Throws UsageError.
SocketOptions ResolveSocketOptions(const GlobalOptions& global, const std::string& server_host);

// `vexcomm --version`: the library and the libraries it runs on, as lines or one JSON line.
std::string VersionText(bool json);

// The handlers of the command table: each runs its command and returns the exit status.
int RunOperation(const CommandLine& line, Output& output);  // every command that sends
int UserShow(const CommandLine& line, Output& output);
int UserSet(const CommandLine& line, Output& output);
int DbInitTemplate(const CommandLine& line, Output& output);
int DbShow(const CommandLine& line, Output& output);
int DbDelete(const CommandLine& line, Output& output);
int DbExport(const CommandLine& line, Output& output);
int DbImport(const CommandLine& line, Output& output);
int DbChart(const CommandLine& line, Output& output);

// Runs the command of the line and returns the exit status. Throws UsageError.
int Execute(const CommandLine& line, Output& output);

}  // namespace vexcomm::cli
