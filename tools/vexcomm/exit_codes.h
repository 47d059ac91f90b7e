#pragma once

#include <array>
#include <string_view>

namespace vexcomm::cli {

// Exit statuses of the program. Scripts depend on them: a number, once given, keeps its meaning.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRunFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNetwork = 3;
inline constexpr int kExitCertificate = 4;
inline constexpr int kExitProxyAuth = 5;
inline constexpr int kExitServerError = 6;
inline constexpr int kExitLocalStore = 7;
inline constexpr int kExitCancelled = 130;  // 128 + SIGINT; SIGTERM gives 143, SIGHUP 129

struct ExitCodeDef {
  int code;
  std::string_view name;     // short, for tables and completion
  std::string_view meaning;  // one sentence, for --help, the README and the man page
};

// The one table of exit statuses: --help prints it and the README repeats it word for word.
inline constexpr std::array<ExitCodeDef, 9> kExitCodes = {{
    {kExitOk, "ok", "the run ended well, or there were no new messages"},
    {kExitRunFailed, "failed", "the run failed for another reason (see the message)"},
    {kExitUsage, "usage", "a wrong command line or an input refused before anything was sent"},
    {kExitNetwork, "network",
     "the server could not be reached or the connection broke (refused, unreachable, time-out)"},
    {kExitCertificate, "certificate", "the server's certificate was refused"},
    {kExitProxyAuth, "proxy-auth", "the proxy refused or wanted the user name and password"},
    {kExitServerError, "server-error",
     "the server refused the request (AIERR; its number is in the output)"},
    {kExitLocalStore, "local-store",
     "the quote database, the registry store or the output folder failed"},
    {kExitCancelled, "cancelled", "cancelled by Ctrl-C (128 + the signal's number)"},
}};

}  // namespace vexcomm::cli
