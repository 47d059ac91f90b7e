#include "platform/private_folders.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include <vexcomm/host.h>

namespace vexcomm::platform {

void CreatePrivateFolders(const std::filesystem::path& dir) {
  std::error_code ec;
  if (dir.empty() || std::filesystem::is_directory(dir, ec)) return;
  if (dir.has_relative_path() && dir.parent_path() != dir) CreatePrivateFolders(dir.parent_path());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::system_error(errno, std::generic_category(), dir.string());
  }
}

}  // namespace vexcomm::platform

namespace vexcomm {

void CreatePrivateFolders(const std::filesystem::path& dir) {
  platform::CreatePrivateFolders(dir);
}

}  // namespace vexcomm
