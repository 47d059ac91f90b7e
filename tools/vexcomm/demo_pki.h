#pragma once

#include <filesystem>
#include <string>

namespace vexcomm::cli {

// A throwaway certificate authority and a server certificate it signed for `host`, with fresh
// P-256 keys, valid for a day: ca.pem, server.pem and server.key in `dir` (replaced if there).
// Throws std::runtime_error.
void WriteDemoPki(const std::filesystem::path& dir, const std::string& host);

}  // namespace vexcomm::cli
