#include "platform/host_services.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace vexcomm::platform {
namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string HomeDir() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "/tmp";
}

// An XDG base directory, ending in "/"; relative values are invalid by the XDG rules.
std::string XdgDir(const char* variable, const char* fallback_below_home) {
  std::string dir = EnvOrEmpty(variable);
  if (dir.empty() || dir.front() != '/') dir = WithSlash(HomeDir()) + fallback_below_home;
  return WithSlash(std::move(dir));
}

}  // namespace

void DefaultMessageBox(const std::string& title, const std::string& text) {
  std::string line = title + ": " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

std::string DefaultTextSetting(int number) {
  switch (number) {
    case HostServices::kIniFolderSetting: {
      std::string dir = EnvOrEmpty("VEXCOMM_INI_DIR");
      return dir.empty() ? XdgDir("XDG_CONFIG_HOME", ".config") + "vexcomm/" : WithSlash(dir);
    }
    case HostServices::kDataFolderSetting: {
      std::string dir = EnvOrEmpty("VEXCOMM_DATA_DIR");
      return dir.empty() ? XdgDir("XDG_DATA_HOME", ".local/share") + "vexcomm/" : WithSlash(dir);
    }
    default:
      return {};
  }
}

std::chrono::sys_days LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                     std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                     std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

std::filesystem::path DefaultRegistryDir() {
  std::string dir = EnvOrEmpty("VEXCOMM_REGISTRY_DIR");
  if (!dir.empty()) return WithSlash(std::move(dir));
  return XdgDir("XDG_CONFIG_HOME", ".config") + "vexcomm/registry/";
}

std::string FormatDate(std::chrono::sys_days day) {
  const std::chrono::year_month_day ymd{day};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02u.%02u.%04d", static_cast<unsigned>(ymd.day()),
                static_cast<unsigned>(ymd.month()), static_cast<int>(ymd.year()));
  return buf;
}

bool VisibleFileExists(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string_view name =
      std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  if (name.empty() || name.front() == '.') return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  return dir;
}

HostServices ResolveHostServices(HostServices given) {
  if (!given.message_box) given.message_box = DefaultMessageBox;
  if (!given.text_setting) given.text_setting = DefaultTextSetting;
  if (!given.date_to_text) given.date_to_text = FormatDate;
  if (!given.today) given.today = LocalToday;
  if (given.registry_dir.empty()) given.registry_dir = DefaultRegistryDir();
  return given;
}

}  // namespace vexcomm::platform

namespace vexcomm {

HostServices DefaultHostServices(HostServices given) {
  return platform::ResolveHostServices(std::move(given));
}

}  // namespace vexcomm
