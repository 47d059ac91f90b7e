#include "platform/host_services.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace vexcomm::platform {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;
using test::ScopedEnv;
using test::TempDir;

TEST(HostServicesTest, FormatDateIsDayMonthYear) {
  const std::pair<year_month_day, std::string> cases[] = {
      {year{2024} / 2 / 29, "29.02.2024"},
      {year{1999} / 12 / 31, "31.12.1999"},
      {year{2000} / 1 / 1, "01.01.2000"},
      {year{987} / 7 / 4, "04.07.0987"},
  };
  for (const auto& [date, text] : cases) EXPECT_EQ(FormatDate(sys_days{date}), text);
}

TEST(HostServicesTest, DirectorySettingsFollowTheEnvironment) {
  struct Case {
    std::optional<std::string> ini, data, registry, xdg_config, xdg_data, home;
    std::string want_ini, want_data, want_registry;
  } const cases[] = {
      {"/x/ini", "/x/data/", "/x/reg", "/cfg", "/dat", "/home/u", "/x/ini/", "/x/data/", "/x/reg/"},
      {std::nullopt, std::nullopt, std::nullopt, "/cfg", "/dat", "/home/u", "/cfg/vexcomm/",
       "/dat/vexcomm/", "/cfg/vexcomm/registry/"},
      {"", "", "", "/cfg/", "/dat/", "/home/u", "/cfg/vexcomm/", "/dat/vexcomm/",
       "/cfg/vexcomm/registry/"},
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "/home/u",
       "/home/u/.config/vexcomm/", "/home/u/.local/share/vexcomm/",
       "/home/u/.config/vexcomm/registry/"},
      // Relative XDG directories are invalid and ignored.
      {std::nullopt, std::nullopt, std::nullopt, "rel", "rel", "/home/u/",
       "/home/u/.config/vexcomm/", "/home/u/.local/share/vexcomm/",
       "/home/u/.config/vexcomm/registry/"},
  };
  for (const auto& c : cases) {
    ScopedEnv ini("VEXCOMM_INI_DIR", c.ini);
    ScopedEnv data("VEXCOMM_DATA_DIR", c.data);
    ScopedEnv registry("VEXCOMM_REGISTRY_DIR", c.registry);
    ScopedEnv xdg_config("XDG_CONFIG_HOME", c.xdg_config);
    ScopedEnv xdg_data("XDG_DATA_HOME", c.xdg_data);
    ScopedEnv home("HOME", c.home);
    const HostServices host = ResolveHostServices({});
    EXPECT_EQ((std::vector{host.text_setting(3), host.text_setting(5), host.text_setting(4),
                           host.registry_dir.string()}),
              (std::vector<std::string>{c.want_ini, c.want_data, "", c.want_registry}));
  }
}

TEST(HostServicesTest, ResolveKeepsWhatTheHostInstalled) {
  std::vector<std::string> boxes;
  HostServices given;
  given.message_box = [&](const std::string& title, const std::string& text) {
    boxes.push_back(title + "|" + text);
  };
  given.text_setting = [](int n) { return "/host/" + std::to_string(n) + "/"; };
  given.registry_dir = "/host/registry";
  const HostServices host = ResolveHostServices(given);
  host.message_box("VexComm.Connect", "failed");
  EXPECT_EQ(boxes, std::vector<std::string>{"VexComm.Connect|failed"});
  EXPECT_EQ(host.text_setting(3), "/host/3/");
  EXPECT_EQ(host.registry_dir, "/host/registry");
  // The members left empty are filled.
  ASSERT_TRUE(host.date_to_text);
  ASSERT_TRUE(host.today);
  EXPECT_EQ(host.date_to_text(sys_days{year{2023} / 3 / 9}), "09.03.2023");
  testing::internal::CaptureStderr();
  ResolveHostServices({}).message_box("VerarbeiteAITGA", "Type mismatch");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "VerarbeiteAITGA: Type mismatch\n");
}

TEST(HostServicesTest, HiddenFilesAndDirectoriesCountAsMissing) {
  TempDir tmp;
  tmp.WriteFile("MorvaZedi.ini", "[Comm]\n");
  tmp.WriteFile(".MorvaZedi.ini", "[Comm]\n");
  std::filesystem::create_directory(tmp.path() / "Folder.ini");
  std::filesystem::create_symlink(tmp.path() / "MorvaZedi.ini", tmp.path() / "Link.ini");
  std::filesystem::create_symlink(tmp.path() / "gone", tmp.path() / "Dangling.ini");
  const std::pair<std::string, bool> cases[] = {
      {"MorvaZedi.ini", true},   {".MorvaZedi.ini", false}, {"Folder.ini", false},
      {"Link.ini", true},        {"Dangling.ini", false},   {"Missing.ini", false},
      {"MorvaZedi.ini/", false},
  };
  for (const auto& [name, exists] : cases)
    EXPECT_EQ(VisibleFileExists(tmp.dir() + name), exists) << name;
}

}  // namespace
}  // namespace vexcomm::platform
