#include "settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <sstream>

#include <vexcomm/host.h>

#include "messages.h"
#include "text_table.h"

namespace vexcomm::cli {
namespace {

namespace fs = std::filesystem;

struct SettingDef {
  std::string_view key;
  std::string_view section;              // of the config file
  std::string_view option;               // empty: not on the command line
  std::vector<const char*> environment;  // the first one set wins
  std::optional<std::string> GlobalOptions::*field;
  std::string_view default_text;
  bool path = false;  // "~/" in the config file is the home folder
};

const std::vector<SettingDef> kSettings = {
    {"ca-file",
     "connection",
     "--ca-file",
     {"VEXCOMM_CA_FILE"},
     &GlobalOptions::ca_file,
     "the system's certificate authorities",
     true},
    {"proxy",
     "connection",
     "--proxy",
     {"https_proxy", "HTTPS_PROXY"},
     &GlobalOptions::proxy,
     "none"},
    {"proxy-user",
     "connection",
     "--proxy-user",
     {"VEXCOMM_PROXY_USER"},
     &GlobalOptions::proxy_user,
     "none"},
    {"no-proxy",
     "connection",
     "--noproxy",
     {"no_proxy", "NO_PROXY"},
     &GlobalOptions::no_proxy,
     "none"},
    {"connect-to",
     "connection",
     "--connect-to",
     {"VEXCOMM_CONNECT_TO"},
     &GlobalOptions::connect_to,
     "none"},
    {"connect-timeout",
     "connection",
     "--connect-timeout",
     {"VEXCOMM_CONNECT_TIMEOUT"},
     &GlobalOptions::connect_timeout,
     "30"},
    {"idle-timeout",
     "connection",
     "--idle-timeout",
     {"VEXCOMM_IDLE_TIMEOUT"},
     &GlobalOptions::idle_timeout,
     "120"},
    {"speed-limit",
     "connection",
     "--speed-limit",
     {"VEXCOMM_SPEED_LIMIT"},
     &GlobalOptions::speed_limit,
     "100"},
    {"speed-time",
     "connection",
     "--speed-time",
     {"VEXCOMM_SPEED_TIME"},
     &GlobalOptions::speed_time,
     "60"},
    {"pin-sha256",
     "connection",
     "--pin-sha256",
     {"VEXCOMM_PIN_SHA256"},
     &GlobalOptions::pin_sha256,
     "none: any key the authorities vouch for"},
    {"out", "output", "--out", {"VEXCOMM_OUT"}, &GlobalOptions::out, "the current folder", true},
};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

const char* Get(const Environment& env, const char* name) {
  const char* value = env(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

std::string ExpandHome(std::string value, const Environment& env) {
  const char* home = Get(env, "HOME");
  if (home != nullptr && (value == "~" || value.starts_with("~/"))) {
    value = std::string(home) + value.substr(1);
  }
  return value;
}

// Throws UsageError naming `origin` when the value cannot be used.
void Check(const SettingDef& def, const std::string& value, const std::string& origin,
           bool allow_credentials) {
  if (def.key == "proxy") ParseProxy(value, origin, allow_credentials);
  if (def.key == "connect-to") ParseConnectTo(value);
  if (def.key == "connect-timeout" || def.key == "idle-timeout" || def.key == "speed-time") {
    ParseSeconds(value, origin);
  }
  if (def.key == "speed-limit") ParseSpeed(value, origin);
  if (def.key == "pin-sha256") ParsePins(value, origin);
}

// A URL's user or password: "%40" is "@".
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned value = 0;
    const char* hex = text.data() + i + 1;
    if (text[i] == '%' && i + 3 <= text.size() &&
        std::from_chars(hex, hex + 2, value, 16).ptr == hex + 2) {
      decoded += static_cast<char>(value);
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string SourceName(SettingSource source) {
  switch (source) {
    case SettingSource::kCommandLine:
      return "command line";
    case SettingSource::kEnvironment:
      return "environment";
    case SettingSource::kConfigFile:
      return "config file";
    case SettingSource::kDefault:
      break;
  }
  return "default";
}

// A proxy URL as shown: its password is never printed.
std::string Shown(const EffectiveSetting& s) {
  if (!s.value) return "";
  if (s.key != "proxy") return *s.value;
  const auto at = s.value->rfind('@');
  if (at == std::string::npos) return *s.value;
  const auto scheme = s.value->find("://");
  const std::size_t user_start = scheme == std::string::npos ? 0 : scheme + 3;
  const auto colon = s.value->find(':', user_start);
  if (colon == std::string::npos || colon > at) return *s.value;
  return s.value->substr(0, colon + 1) + "***" + s.value->substr(at);
}

}  // namespace

Environment ProcessEnvironment() {
  return [](const char* name) -> const char* { return std::getenv(name); };
}

fs::path ConfigFilePath(const Environment& env) {
  const char* xdg = Get(env, "XDG_CONFIG_HOME");
  // Relative values are invalid by the XDG rules.
  if (xdg != nullptr && xdg[0] == '/') return fs::path(xdg) / "vexcomm" / "config";
  const char* home = Get(env, "HOME");
  return fs::path(home != nullptr ? home : "/") / ".config" / "vexcomm" / "config";
}

std::vector<EffectiveSetting> ResolveSettings(const GlobalOptions& given, const Environment& env,
                                              bool check) {
  const fs::path file = ConfigFilePath(env);
  // A pipe or a device is no config file: reading one could wait for ever.
  if (std::error_code ec; fs::exists(file, ec) && !fs::is_regular_file(file, ec)) {
    throw UsageError("cannot read the config file " + file.string() + ": not a regular file");
  }
  std::vector<EffectiveSetting> settings;
  for (const auto& def : kSettings) {
    EffectiveSetting s{def.key, given.*(def.field), SettingSource::kCommandLine,
                       std::string(def.option)};
    if (s.value && check) Check(def, *s.value, s.origin, false);
    if (!s.value) {
      for (const char* name : def.environment) {
        if (const char* value = Get(env, name)) {
          s = {def.key, value, SettingSource::kEnvironment, name};
          if (check) Check(def, *s.value, s.origin, true);
          break;
        }
      }
    }
    if (!s.value) {
      std::string value = ReadIniValue(file, std::string(def.section), std::string(def.key));
      if (!value.empty()) {
        if (def.path) value = ExpandHome(std::move(value), env);
        s = {def.key, value, SettingSource::kConfigFile,
             file.string() + " [" + std::string(def.section) + "] " + std::string(def.key)};
        if (check) Check(def, *s.value, s.origin, false);
      }
    }
    if (!s.value)
      s = {def.key, std::nullopt, SettingSource::kDefault, std::string(def.default_text)};
    settings.push_back(std::move(s));
  }
  return settings;
}

GlobalOptions WithSettings(GlobalOptions given, const Environment& env, bool check) {
  const auto settings = ResolveSettings(given, env, check);
  for (std::size_t i = 0; i < settings.size(); ++i) given.*(kSettings[i].field) = settings[i].value;
  // curl takes the proxy's credentials from the URL in the environment.
  const auto& proxy = *std::find_if(settings.begin(), settings.end(),
                                    [](const auto& s) { return s.key == "proxy"; });
  if (check && proxy.source == SettingSource::kEnvironment && !given.proxy_user) {
    const ProxyAddress address = ParseProxy(*proxy.value, proxy.origin, true);
    if (address.user) {
      given.proxy_user = address.user;
      given.proxy_password = address.password.value_or("");
    }
  }
  return given;
}

ProxyAddress ParseProxy(std::string_view text, std::string_view what, bool allow_credentials) {
  std::string_view rest = text;
  if (const auto scheme = rest.find("://"); scheme != std::string_view::npos) {
    if (Lower(rest.substr(0, scheme)) != "http") {
      throw UsageError(std::string(what) + ": only http:// proxies can be used");
    }
    rest.remove_prefix(scheme + 3);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  }
  ProxyAddress proxy;
  if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
    if (!allow_credentials) {
      // Never echoed: it may hold a password.
      throw UsageError(std::string(what) +
                       " wants HOST:PORT without user or password (see --proxy-user)");
    }
    const std::string_view credentials = rest.substr(0, at);
    const auto colon = credentials.find(':');
    proxy.user = PercentDecoded(credentials.substr(0, colon));
    if (colon != std::string_view::npos) {
      proxy.password = PercentDecoded(credentials.substr(colon + 1));
    }
    rest.remove_prefix(at + 1);
  }
  const auto [host, port] = ParseHostPort(rest, what);
  proxy.host = host;
  proxy.port = port;
  return proxy;
}

bool NoProxyMatches(std::string_view no_proxy, std::string_view host) {
  const std::string name = Lower(host);
  std::size_t start = 0;
  while (start < no_proxy.size()) {
    std::size_t end = no_proxy.find_first_of(", \t", start);
    if (end == std::string_view::npos) end = no_proxy.size();
    std::string entry = Lower(no_proxy.substr(start, end - start));
    start = end + 1;
    if (entry == "*") return true;
    if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
    if (entry.empty()) continue;
    if (name == entry || (name.size() > entry.size() && name.ends_with(entry) &&
                          name[name.size() - entry.size() - 1] == '.')) {
      return true;
    }
  }
  return false;
}

const std::vector<EnvironmentVariable>& EnvironmentVariables() {
  static const std::vector<EnvironmentVariable> kVariables = {
      {"VEXCOMM_CA_FILE", "--ca-file"},
      {"https_proxy, HTTPS_PROXY", "--proxy, as http://[USER:PASSWORD@]HOST:PORT"},
      {"no_proxy, NO_PROXY", "--noproxy: hosts reached without the proxy"},
      {"VEXCOMM_PROXY_USER", "--proxy-user"},
      {"VEXCOMM_PROXY_PASSWORD", "the proxy password (else asked on the terminal)"},
      {"VEXCOMM_CONNECT_TO", "--connect-to"},
      {"VEXCOMM_CONNECT_TIMEOUT", "--connect-timeout"},
      {"VEXCOMM_IDLE_TIMEOUT", "--idle-timeout"},
      {"VEXCOMM_SPEED_LIMIT", "--speed-limit"},
      {"VEXCOMM_SPEED_TIME", "--speed-time"},
      {"VEXCOMM_PIN_SHA256", "--pin-sha256 (pins separated by ;)"},
      {"VEXCOMM_OUT", "--out"},
      {"VEXCOMM_INI_DIR", "--ini-dir"},
      {"VEXCOMM_DATA_DIR", "--data-dir"},
      {"VEXCOMM_REGISTRY_DIR", "--registry-dir"},
      {"XDG_CONFIG_HOME, HOME", "where the config file and default folders are"},
      {"XDG_DATA_HOME", "where the default data folder is"},
      {"SSL_CERT_FILE", "OpenSSL's system certificate file"},
      {"SSL_CERT_DIR", "OpenSSL's system certificate folder"},
      {"COLUMNS", "the width of tables"},
      {"TERM", "dumb: no progress bar"},
      {"LC_ALL, LC_NUMERIC", "the number format"},
      {"LC_CTYPE, LANG", "the character set"},
      {"TMPDIR", "where demo makes its folder without --dir"},
  };
  return kVariables;
}

std::string EnvironmentHelp() {
  std::ostringstream out;
  out << Tr("Environment (the command line wins over the environment, which wins over the\n"
            "config file $XDG_CONFIG_HOME/vexcomm/config, else ~/.config/vexcomm/config):")
      << "\n";
  std::size_t width = 0;
  for (const auto& v : EnvironmentVariables()) width = std::max(width, v.names.size());
  for (const auto& v : EnvironmentVariables()) {
    out << "  " << v.names << std::string(width - v.names.size() + 2, ' ') << Tr(v.help) << "\n";
  }
  return out.str();
}

int ConfigShow(const CommandLine& line, Output& output) {
  const Environment env = ProcessEnvironment();
  const fs::path file = ConfigFilePath(env);
  std::error_code ec;
  const bool exists = fs::is_regular_file(file, ec);
  const auto settings = ResolveSettings(line.global, env, false);
  if (output.json()) {
    Json values = Json::object();
    for (const auto& s : settings) {
      values[std::string(s.key)] = Json{{"value", s.value ? Json(Shown(s)) : Json(nullptr)},
                                        {"source", SourceName(s.source)},
                                        {"origin", s.origin}};
    }
    output.EmitResult(Json{
        {"config",
         Json{{"file", file.string()}, {"file_exists", exists}, {"settings", std::move(values)}}}});
    return kExitOk;
  }
  TextTable table({"setting", "value", "from"});
  for (const auto& s : settings) {
    const std::string from = s.source == SettingSource::kDefault
                                 ? "default"
                                 : SourceName(s.source) + " (" + s.origin + ")";
    table.AddRow({std::string(s.key), s.value ? Shown(s) : s.origin, from});
  }
  std::ostringstream text;
  text << "Config file: " << file.string() << (exists ? "" : " (none)") << "\n";
  table.Print(text);
  std::string shown = text.str();
  shown.pop_back();
  output.Result(shown);
  return kExitOk;
}

}  // namespace vexcomm::cli
