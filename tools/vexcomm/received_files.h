#pragma once

#include <sys/types.h>

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
//
// A file is placed without waiting for the disk; Commit makes everything placed since the last
// one durable at once, before the server's cursor may pass it. The record names each file before
// it is renamed into place, with the inode that proves the rename happened, so that a run
// killed at any moment leaves no file the record does not know: fetched again, a file replaces
// its own earlier copy.
class ReceivedFiles {
 public:
  static constexpr std::string_view kRecordName = ".vexcomm-saved";

  explicit ReceivedFiles(std::filesystem::path dir) : dir_(std::move(dir)) {}
  ~ReceivedFiles();
  ReceivedFiles(const ReceivedFiles&) = delete;
  ReceivedFiles& operator=(const ReceivedFiles&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  // Once: creates the folder if needed (private to the user). Throws std::runtime_error when it
  // cannot. The rest waits for the first file: a run that brings none never reads the folder.
  void Prepare();
  // Writes the content under its safe name (or, when a file of that name is not one of ours,
  // beside it), replacing the file saved earlier under the number, and returns the path. The
  // file appears whole or not at all (written aside, then renamed). Throws std::runtime_error.
  std::filesystem::path Save(int32_t number, std::string_view name, std::string_view content,
                             SaveAs as = SaveAs::kOctets);
  // Removes the file saved under the number and returns its path; nothing when none was saved.
  // Throws std::runtime_error when the file is there but cannot be removed.
  std::optional<std::filesystem::path> Remove(int32_t number);
  // Makes the files saved and removed since the last Commit durable, together with the record.
  // Throws std::runtime_error when the disk refuses.
  void Commit();

 private:
  struct Temp {
    std::string path;
    uint64_t inode = 0;
  };
  // Writes the content to a new temp file, private to the user; durable only with `sync`.
  Temp WriteTemp(std::string_view content, const std::filesystem::path& target, bool sync,
                 SaveAs as = SaveAs::kUtf8) const;
  // Adds a line to the record; throws with the record unchanged when it cannot.
  void Append(const std::string& line);
  // Replaces the record by the lines of saved_ alone, durably.
  void WriteRecord();
  // Once, before the first file: removes the temp files of runs that were killed, reads the
  // record and settles what a killed run left in it.
  void Load();
  void CloseRecord();

  std::filesystem::path dir_;
  std::map<int32_t, std::string> saved_;  // number -> file name in dir_
  bool prepared_ = false;
  bool loaded_ = false;
  int record_fd_ = -1;        // the record, open for appending
  off_t record_size_ = 0;     // its size as last written
  bool uncommitted_ = false;  // saved or removed since the last Commit
};

// The number of a Delete event's array entry: its leading whole number, if it has one.
std::optional<int32_t> ParseFileNumber(std::string_view text);

}  // namespace vexcomm::cli
