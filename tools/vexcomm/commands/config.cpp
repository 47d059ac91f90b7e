// config show: the settings in effect and where each comes from.
#include <filesystem>
#include <sstream>

#include "commands/commands.h"
#include "messages.h"
#include "settings.h"
#include "text_table.h"

namespace vexcomm::cli {
namespace {

namespace fs = std::filesystem;

std::string SourceName(SettingSource source) {
  switch (source) {
    case SettingSource::kCommandLine:
      return N_("command line");
    case SettingSource::kEnvironment:
      return N_("environment");
    case SettingSource::kConfigFile:
      return N_("config file");
    case SettingSource::kDefault:
      break;
  }
  return N_("default");
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

int ConfigShow(const CommandLine& line, Output& output) {
  const Environment env = ProcessEnvironment();
  const fs::path file = ConfigFilePath(env);
  std::error_code ec;
  const bool exists = fs::is_regular_file(file, ec);
  const auto settings = ResolveSettings(line.global, env, false);
  const auto warnings = ConfigFileWarnings(file);
  for (const auto& warning : warnings) output.Note(warning);
  // What a run would refuse, found now rather than when it connects.
  std::vector<std::string> problems;
  for (std::size_t i = 0; i < settings.size(); ++i) {
    const auto& s = settings[i];
    problems.emplace_back();
    if (!s.value) continue;
    try {
      CheckSetting(s.key, *s.value, s.origin, s.source == SettingSource::kEnvironment);
    } catch (const UsageError& e) {
      problems.back() = e.what();
      output.Note(problems.back());
    }
  }
  if (output.json()) {
    Json values = Json::object();
    for (std::size_t i = 0; i < settings.size(); ++i) {
      const auto& s = settings[i];
      values[std::string(s.key)] =
          Json{{"value", s.value ? Json(Shown(s)) : Json(nullptr)},
               {"source", SourceName(s.source)},
               {"origin", s.origin},
               {"problem", problems[i].empty() ? Json(nullptr) : Json(problems[i])}};
    }
    output.EmitResult(Json{{"config", Json{{"file", file.string()},
                                           {"file_exists", exists},
                                           {"settings", std::move(values)},
                                           {"warnings", warnings}}}});
    return kExitOk;
  }
  // The JSON above keeps its fixed words; the table speaks the user's language.
  TextTable table({Tr("setting"), Tr("value"), Tr("from")});
  for (std::size_t i = 0; i < settings.size(); ++i) {
    const auto& s = settings[i];
    const std::string from = s.source == SettingSource::kDefault
                                 ? Tr(SourceName(s.source))
                                 : Tr(SourceName(s.source)) + " (" + s.origin + ")";
    std::string value = s.value ? Shown(s) : Tr(s.origin);
    if (!problems[i].empty()) value += " " + Tr("(unusable)");
    table.AddRow({std::string(s.key), value, from});
  }
  std::ostringstream text;
  text << Fill(Tr(exists ? "Config file: %1" : "Config file: %1 (none)"), {file.string()}) << "\n";
  bool cut = false;
  const std::size_t width = line.Has("--wide") ? 0 : TableWidth();
  if (width > 0) {
    // The value is cut first: where it comes from is what the table is read for.
    cut = table.Shrink(1, width, 0);
    cut = table.Shrink(2, width, 0) || cut;
  }
  table.Print(text);
  if (const auto note = LeftOutNote({}, cut, width, 0); !note.empty()) text << note << "\n";
  std::string shown = text.str();
  shown.pop_back();
  output.Result(shown);
  return kExitOk;
}

}  // namespace vexcomm::cli
