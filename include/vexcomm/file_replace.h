#pragma once

/// @file
/// Writing a file whole or not at all: readers see the old file (or none) or the whole new one,
/// never a part, and a crash leaves no half-written file under the name.

#include <filesystem>
#include <string>
#include <string_view>

#include <vexcomm/export.h>

namespace vexcomm {

/// A file written beside its name first: a temporary file in the same folder that Commit syncs
/// and then puts in place, syncing the folder after. What is not committed is removed.
/// @thread One thread at a time.
class VEXCOMM_EXPORT AtomicFile {
 public:
  /// How Commit puts the written file in place.
  enum class Placement {
    kReplace,   ///< Renamed over the file of that name, if there is one.
    kIfAbsent,  ///< Linked to the name only if no file has it; Commit fails with EEXIST else.
  };

  /// Creates the temporary file, with the file mode `mode`.
  /// @param path The file to write.
  /// @param placement How Commit puts it in place.
  /// @param temp_suffix Added to the name of `path` for the temporary file. A suffix that ends
  ///   in "XXXXXX" is made unique there; any other names a file that is the caller's alone (it
  ///   holds a lock, say), emptied first.
  /// @param mode The new file's permission bits; private (0600) unless said otherwise.
  explicit AtomicFile(std::filesystem::path path, Placement placement = Placement::kReplace,
                      std::string_view temp_suffix = ".part-XXXXXX", unsigned mode = 0600);
  /// Removes the temporary file unless it was committed.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  /// @return 0 while all went well, else the errno of the first step that failed.
  int error() const noexcept { return error_; }
  /// @return The temporary file, for a writer that opens it by name (it exists, empty).
  const std::filesystem::path& temp_path() const noexcept { return temp_; }
  /// Appends to the temporary file.
  /// @param data The octets.
  /// @return False when this or an earlier step failed (error() says why).
  bool Write(std::string_view data);
  /// Syncs the temporary file and puts it in place, then syncs the folder. The temporary file
  /// is gone afterwards either way.
  /// @return 0, or the errno of the step that failed (EEXIST: kIfAbsent found a file).
  int Commit();

 private:
  std::filesystem::path path_;
  std::filesystem::path temp_;
  Placement placement_;
  int fd_ = -1;
  int error_ = 0;
  bool created_ = false;
};

}  // namespace vexcomm
