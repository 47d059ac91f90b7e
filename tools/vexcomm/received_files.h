#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "file_content.h"

namespace vexcomm::cli {

// "<number>-<name>" with the server's name made harmless: no "/", "\", "..", control
// characters or leading dots, at most 200 octets of name, "datei" for a name left empty. The
// number prefix keeps the files of different numbers apart whatever the names are.
std::string SafeFileName(int32_t number, std::string_view name);

// The received files in one folder, one file per number. A record in the folder names the files
// this program saved, so that it replaces and removes only those: whatever else lies in the
// folder, whatever its name, is never touched.
class ReceivedFiles {
 public:
  static constexpr std::string_view kRecordName = ".vexcomm-saved";

  explicit ReceivedFiles(std::filesystem::path dir) : dir_(std::move(dir)) {}

  const std::filesystem::path& dir() const { return dir_; }
  // Once: creates the folder if needed (private to the user), removes the temp files of runs
  // that were killed and reads the record. Throws std::runtime_error when it cannot.
  void Prepare();
  // Writes the content under its safe name (or, when a file of that name is not one of ours,
  // beside it), replacing the file saved earlier under the number, and returns the path. The
  // file appears whole or not at all (written aside, then renamed). Throws std::runtime_error.
  std::filesystem::path Save(int32_t number, std::string_view name, std::string_view content,
                             SaveAs as = SaveAs::kOctets);
  // Removes the file saved under the number and returns its path; nothing when none was saved.
  // Throws std::runtime_error when the file is there but cannot be removed.
  std::optional<std::filesystem::path> Remove(int32_t number);

 private:
  void WriteRecord() const;
  // Writes the content to a new temp file, private to the user; returns its path.
  std::string WriteTemp(std::string_view content, const std::filesystem::path& target,
                        SaveAs as = SaveAs::kUtf8) const;

  std::filesystem::path dir_;
  std::map<int32_t, std::string> saved_;  // number -> file name in dir_
  bool prepared_ = false;
};

// The number of a Delete event's array entry: its leading whole number, if it has one.
std::optional<int32_t> ParseFileNumber(std::string_view text);

}  // namespace vexcomm::cli
