#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vexcomm::cli {

// "<number>-<name>" with the server's name made harmless: no "/", "\", "..", control
// characters or leading dots, at most 200 octets of name, "datei" for a name left empty. The
// number prefix keeps the files of different numbers apart whatever the names are.
std::string SafeFileName(int32_t number, std::string_view name);

// The received files in one folder, one file per number.
class ReceivedFiles {
 public:
  explicit ReceivedFiles(std::filesystem::path dir) : dir_(std::move(dir)) {}

  const std::filesystem::path& dir() const { return dir_; }
  // Creates the folder if needed. Throws std::runtime_error when it cannot.
  void Prepare() const;
  // Writes the content under its safe name, replacing an earlier file of the same number, and
  // returns the path. The file appears whole or not at all (written aside, then renamed).
  // Throws std::runtime_error.
  std::filesystem::path Save(int32_t number, std::string_view name, std::string_view content) const;
  // Removes the saved file of the number, if there is one; returns its path.
  std::optional<std::filesystem::path> Remove(int32_t number) const;

 private:
  // Regular files (no links, no folders) named "<number>-...", except `keep`.
  void RemoveNumber(int32_t number, const std::filesystem::path& keep,
                    std::optional<std::filesystem::path>* removed) const;

  std::filesystem::path dir_;
};

// The number of a Delete event's array entry: its leading whole number, if it has one.
std::optional<int32_t> ParseFileNumber(std::string_view text);

}  // namespace vexcomm::cli
