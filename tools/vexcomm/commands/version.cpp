// vexcomm --version.
#include <vexcomm/version.h>

#include "commands/commands.h"
#include "messages.h"

namespace vexcomm::cli {

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

}  // namespace vexcomm::cli
