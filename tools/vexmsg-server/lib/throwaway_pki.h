#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace vexmsg {

// A throwaway certificate authority and a server certificate it signed for `server_names`
// (DNS names or IP addresses; the first is also the common name), with fresh P-256 keys,
// valid from an hour back (for clocks that differ a little) for `valid_for`. Writes ca.pem,
// server.pem and server.key (owner only) into `dir`, replacing them. For tests and
// demonstrations, never for a real server. Without `alt_names` the server certificate names the
// server in its common name only, as old certificates did. Throws std::runtime_error.
void WriteThrowawayPki(const std::filesystem::path& dir,
                       const std::vector<std::string>& server_names,
                       const std::string& organization,
                       std::chrono::days valid_for = std::chrono::days(1), bool alt_names = true);

}  // namespace vexmsg
