#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include <vexcomm/host.h>

namespace vexcomm::platform {

// Fills every empty member of `given` with its default (see HostServices); filled members are
// kept. The function defaults read the environment at each call; the registry folder is read
// here, once.
HostServices ResolveHostServices(HostServices given);

// The defaults one by one.
void DefaultMessageBox(const std::string& title, const std::string& text);
std::string DefaultTextSetting(int number);  // 3 and 5; empty text for any other number
std::chrono::sys_days LocalToday();
std::filesystem::path DefaultRegistryDir();

// A folder's name as the host settings give it, ending in "/" (empty stays empty).
std::string WithSlash(std::string dir);

// DD.MM.YYYY.
std::string FormatDate(std::chrono::sys_days day);

// The file-existence test of the INI file: true only for an existing regular file (links
// followed) whose name does not start with "."; a directory or a hidden file counts as missing.
bool VisibleFileExists(const std::string& path);

}  // namespace vexcomm::platform
