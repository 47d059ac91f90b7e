#pragma once

#include <filesystem>
#include <string>

namespace vexcomm::test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }
  // The path as text ending in "/", as the component's directory settings are.
  std::string dir() const { return path_.string() + "/"; }
  // Writes a file below the directory (creating parent folders) and returns its path.
  std::filesystem::path WriteFile(const std::filesystem::path& relative,
                                  const std::string& content) const;

 private:
  std::filesystem::path path_;
};

// A file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);

}  // namespace vexcomm::test
