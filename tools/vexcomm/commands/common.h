#pragma once

#include <filesystem>
#include <string>

#include <vexcomm/host.h>
#include <vexcomm/identity.h>
#include <vexcomm/quotes.h>

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

// One run (or change of the identity record) at a time per installation.
InstallationLock LockInstallation(const GlobalOptions& global, const Folders& folders,
                                  Output& output);

// `quiet`: the component's boxes are kept for the one line that says what failed, not shown.
QuoteDbContext DbContext(const Folders& folders, Output& output, bool quiet = false);

// What a person can do about a quote database that fails, by its cause.
std::string DbAdvice(const std::string& cause);

// Says that Kurse.dat cannot be read, with the message box's cause; the exit status.
int DbUnreadable(const Folders& folders, Output& output);

}  // namespace vexcomm::cli
