#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "output.h"

namespace vexcomm::cli {

// Reads an environment variable; null when it is not set.
using Environment = std::function<const char*(const char*)>;
Environment ProcessEnvironment();

// $XDG_CONFIG_HOME/vexcomm/config, else ~/.config/vexcomm/config.
std::filesystem::path ConfigFilePath(const Environment& env);

enum class SettingSource { kCommandLine, kEnvironment, kConfigFile, kDefault };

struct EffectiveSetting {
  std::string_view key;  // the config file's key, e.g. "ca-file"
  std::optional<std::string> value;
  SettingSource source = SettingSource::kDefault;
  std::string origin;  // "--ca-file", "VEXCOMM_CA_FILE", "[connection] ca-file", or the default
};

// Each setting as the program uses it: command line, then environment, then config file, then
// the default. With `check`, a value that cannot be used is refused here, naming where it came
// from (a command that does not connect need not care). Throws UsageError.
std::vector<EffectiveSetting> ResolveSettings(const GlobalOptions& given, const Environment& env,
                                              bool check);

// One line per fault of the config file that makes the reader pass over a line ("FILE:LINE:
// what"): unknown sections and keys, keys in the wrong section, repeated sections and keys,
// empty values, lines that are no setting.
std::vector<std::string> ConfigFileWarnings(const std::filesystem::path& file);

// `given` with each setting it leaves open taken from the environment or the config file.
GlobalOptions WithSettings(GlobalOptions given, const Environment& env, bool check);

// A proxy as "http://[USER[:PASSWORD]@]HOST:PORT[/]" or "HOST:PORT". Credentials only where
// `allow_credentials` (the environment, as curl reads it). Throws UsageError naming `what`.
struct ProxyAddress {
  std::string host;
  unsigned port = 0;
  std::optional<std::string> user;
  std::optional<std::string> password;
};
ProxyAddress ParseProxy(std::string_view text, std::string_view what, bool allow_credentials);

// curl's no_proxy: "*" or a list of names (separated by "," or blanks); a name matches itself
// and every name below it, a leading "." ignored, without regard to case.
bool NoProxyMatches(std::string_view no_proxy, std::string_view host);

// The environment variables the program reads, with what each stands for.
struct EnvironmentVariable {
  std::string_view names;  // "https_proxy, HTTPS_PROXY"
  std::string_view help;
};
const std::vector<EnvironmentVariable>& EnvironmentVariables();
// The same for --help.
std::string EnvironmentHelp();

// Throws UsageError naming `origin` when the value of the setting `key` cannot be used.
void CheckSetting(std::string_view key, const std::string& value, const std::string& origin,
                  bool allow_credentials);

}  // namespace vexcomm::cli
