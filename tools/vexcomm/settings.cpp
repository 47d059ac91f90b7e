#include "settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <vexcomm/host.h>

#include "messages.h"

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
     N_("the system's certificate authorities"),
     true},
    {"proxy",
     "connection",
     "--proxy",
     {"https_proxy", "HTTPS_PROXY"},
     &GlobalOptions::proxy,
     N_("none")},
    {"proxy-user",
     "connection",
     "--proxy-user",
     {"VEXCOMM_PROXY_USER"},
     &GlobalOptions::proxy_user,
     N_("none")},
    {"no-proxy",
     "connection",
     "--noproxy",
     {"no_proxy", "NO_PROXY"},
     &GlobalOptions::no_proxy,
     N_("none")},
    {"connect-to",
     "connection",
     "--connect-to",
     {"VEXCOMM_CONNECT_TO"},
     &GlobalOptions::connect_to,
     N_("none")},
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
     N_("none: any key the authorities vouch for")},
    {"out",
     "output",
     "--out",
     {"VEXCOMM_OUT"},
     &GlobalOptions::out,
     N_("the current folder"),
     true},
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

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// " (did you mean X?)" for the nearest of `names` to a misspelt `name`, else "".
std::string Suggestion(std::string_view name, const std::vector<std::string_view>& names,
                       std::string_view before = "", std::string_view after = "") {
  for (const auto candidate : names) {
    if (EditDistance(Lower(name), candidate) <= 2) {
      return Fill(Tr(" (did you mean %1?)"),
                  {std::string(before) + std::string(candidate) + std::string(after)});
    }
  }
  return "";
}

std::string ValueShown(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
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

std::vector<std::string> ConfigFileWarnings(const fs::path& file) {
  // Nothing to say of a missing file; a pipe is refused where the settings are read.
  if (std::error_code ec; !fs::is_regular_file(file, ec)) return {};
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // UTF-16 or binary content: the reader decodes the one and ignores the other; no line to name.
  if (text.starts_with("\xFF\xFE") || text.find('\0') != std::string::npos) return {};
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  std::vector<std::string_view> sections, keys;
  for (const auto& def : kSettings) {
    if (std::find(sections.begin(), sections.end(), def.section) == sections.end()) {
      sections.push_back(def.section);
    }
    keys.push_back(def.key);
  }
  std::vector<std::string> warnings;
  std::vector<std::string> sections_seen, keys_seen;
  std::string section;          // lower case; empty before the first one
  bool section_counts = false;  // a known section seen for the first time
  std::istringstream lines(text);
  std::string raw;
  for (int number = 1; std::getline(lines, raw); ++number) {
    const std::string_view line = Trim(raw);
    auto warn = [&](const std::string& what) {
      warnings.push_back(file.string() + ":" + std::to_string(number) + ": " + what);
    };
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (const auto close = line.rfind(']');
        line.front() == '[' && close != 0 && close != std::string_view::npos) {
      section = Lower(Trim(line.substr(1, close - 1)));
      const bool known = std::find(sections.begin(), sections.end(), section) != sections.end();
      const bool again =
          std::find(sections_seen.begin(), sections_seen.end(), section) != sections_seen.end();
      section_counts = known && !again;
      sections_seen.push_back(section);
      keys_seen.clear();
      if (!known) {
        warn(Fill(Tr("unknown section [%1], its settings are ignored"), {section}) +
             Suggestion(section, sections, "[", "]"));
      } else if (again) {
        warn(Fill(Tr("a second [%1] section is ignored: only the first one is read"), {section}));
      }
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      warn(Tr("not a setting (KEY = VALUE), a [section] or a ; comment: ignored"));
      continue;
    }
    if (!section.empty() && !section_counts) continue;  // that section has its one warning
    const std::string key = Lower(Trim(line.substr(0, equals)));
    const auto def = std::find_if(kSettings.begin(), kSettings.end(),
                                  [&](const SettingDef& d) { return d.key == key; });
    if (def == kSettings.end()) {
      warn(Fill(Tr("unknown setting %1, ignored"), {key}) + Suggestion(key, keys));
    } else if (def->section != section) {
      warn(Fill(Tr("%1 belongs in section [%2]: ignored here"), {key, def->section}));
    } else if (std::find(keys_seen.begin(), keys_seen.end(), key) != keys_seen.end()) {
      warn(Fill(Tr("a second %1 is ignored: the first one counts"), {key}));
    } else {
      keys_seen.push_back(key);
      if (ValueShown(Trim(line.substr(equals + 1))).empty()) {
        warn(Fill(Tr("%1 has no value: the default applies"), {key}));
      }
    }
  }
  return warnings;
}

std::vector<EffectiveSetting> ResolveSettings(const GlobalOptions& given, const Environment& env,
                                              bool check) {
  const fs::path file = ConfigFilePath(env);
  // A pipe or a device is no config file: reading one could wait for ever.
  if (std::error_code ec; fs::exists(file, ec) && !fs::is_regular_file(file, ec)) {
    throw UsageError(
        Fill(Tr("cannot read the config file %1: %2"), {file.string(), Tr("not a regular file")}));
  }
  std::vector<EffectiveSetting> settings;
  for (const auto& def : kSettings) {
    EffectiveSetting s{def.key, given.*(def.field), SettingSource::kCommandLine,
                       std::string(def.option)};
    if (s.value && check) CheckSetting(def.key, *s.value, s.origin, false);
    if (!s.value) {
      for (const char* name : def.environment) {
        if (const char* value = Get(env, name)) {
          s = {def.key, value, SettingSource::kEnvironment, name};
          if (check) CheckSetting(def.key, *s.value, s.origin, true);
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
        if (check) CheckSetting(def.key, *s.value, s.origin, false);
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

void CheckSetting(std::string_view key, const std::string& value, const std::string& origin,
                  bool allow_credentials) {
  if (key == "proxy") ParseProxy(value, origin, allow_credentials);
  if (key == "connect-to") ParseConnectTo(value);
  if (key == "connect-timeout" || key == "idle-timeout" || key == "speed-time") {
    ParseSeconds(value, origin);
  }
  if (key == "speed-limit") ParseSpeed(value, origin);
  if (key == "pin-sha256") ParsePins(value, origin);
}

ProxyAddress ParseProxy(std::string_view text, std::string_view what, bool allow_credentials) {
  std::string_view rest = text;
  if (const auto scheme = rest.find("://"); scheme != std::string_view::npos) {
    if (Lower(rest.substr(0, scheme)) != "http") {
      throw UsageError(Fill(Tr("%1: only http:// proxies can be used"), {what}));
    }
    rest.remove_prefix(scheme + 3);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  }
  ProxyAddress proxy;
  if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
    if (!allow_credentials) {
      // Never echoed: it may hold a password.
      throw UsageError(
          Fill(Tr("%1 wants HOST:PORT without user or password (see --proxy-user)"), {what}));
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

}  // namespace vexcomm::cli
