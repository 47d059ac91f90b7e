#pragma once

#include <filesystem>

namespace vexcomm::platform {

// Creates the missing folders of `dir` for the owner alone (0700): they hold the user's identity
// record and quotes. Folders that exist keep their modes. Throws std::system_error.
void CreatePrivateFolders(const std::filesystem::path& dir);

}  // namespace vexcomm::platform
