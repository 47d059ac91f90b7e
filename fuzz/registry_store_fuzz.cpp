// The registry loader on any root file: every key and value it reads survives a write of
// another value unchanged, and a second identical write leaves the file as the first did.
//
// Input: the text of HKEY_CURRENT_USER.txt.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/persistent_values.h"
#include "config/registry_store.h"
#include "fuzz_check.h"

namespace {

using namespace vexcomm;
using config::HKEY_CURRENT_USER;

constexpr std::string_view kProbeKey = "VexCommFuzz\\Probe";

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Key paths and value names as they stand in the text, without decoding escapes: enough to
// ask the store about most of what it parsed.
struct Probe {
  std::vector<std::string> paths;
  std::vector<std::pair<std::string, std::string>> values;  // path, name
};

Probe FindNames(std::string_view text) {
  Probe probe;
  std::string path;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      path = std::string(line.substr(1, line.size() - 2));
      probe.paths.push_back(path);
    } else if (line.size() >= 2 && line.front() == '"' && !path.empty()) {
      const auto close = line.find('"', 1);
      if (close != std::string_view::npos) {
        probe.values.emplace_back(path, std::string(line.substr(1, close - 1)));
      }
    }
  }
  return probe;
}

struct Seen {
  std::vector<bool> keys;
  std::vector<std::optional<config::RegistryValue>> values;
  bool operator==(const Seen&) const = default;
};

Seen Read(const config::RegistryStore& store, const Probe& probe) {
  Seen seen;
  for (const auto& path : probe.paths)
    seen.keys.push_back(store.KeyExists(HKEY_CURRENT_USER, path));
  for (const auto& [path, name] : probe.values) {
    seen.values.push_back(store.QueryValue(HKEY_CURRENT_USER, path, name));
  }
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = vexcomm::fuzz::AsText(data, size);
  const std::filesystem::path dir = vexcomm::fuzz::ScratchDir() + "/registry";
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir);
  // Damaged input is the rule here: keeping it aside needs no notice.
  const auto quiet = [](const std::string&) {};
  config::RegistryStore store(dir, quiet);
  std::ofstream(store.FileOf(HKEY_CURRENT_USER), std::ios::binary)
      .write(text.data(), static_cast<std::streamsize>(text.size()));

  // The probe's own key must be new, or the writes would rightly change what is read.
  if (store.KeyExists(HKEY_CURRENT_USER, "VexCommFuzz")) return 0;
  const Probe probe = FindNames(text);
  const Seen before = Read(store, probe);
  (void)config::LoadPersistentValues(dir, quiet);

  const config::RegistryValue written{config::REG_BINARY, std::string(text.substr(0, 16))};
  FUZZ_CHECK(store.SetValue(HKEY_CURRENT_USER, kProbeKey, "v", written));
  FUZZ_CHECK(store.QueryValue(HKEY_CURRENT_USER, kProbeKey, "v") == written);
  FUZZ_CHECK(Read(store, probe) == before);

  // The file the store writes reads back into itself.
  const std::string first = ReadFile(store.FileOf(HKEY_CURRENT_USER));
  FUZZ_CHECK(store.SetValue(HKEY_CURRENT_USER, kProbeKey, "v", written));
  FUZZ_CHECK(ReadFile(store.FileOf(HKEY_CURRENT_USER)) == first);
  return 0;
}
