#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <vexcomm/export.h>

namespace vexcomm {

// The installation's identity record as the component keeps it in the registry store of
// `registry_dir` (HostServices::registry_dir). DateiNr is the cursor into the server's series of
// files: the number of the last file received. A plain value: copy it freely, on any thread.
struct Identity {
  std::string BLZ;
  std::string KundenNr;
  int32_t DateiNr = 0;
  std::string Vorname;
  std::string Nachname;
  std::string EMail;

  friend bool operator==(const Identity&, const Identity&) = default;
};

// Both functions may run on any thread, while other processes read and write the same store.
// Reads the record; missing values read as empty text or 0. Throws std::runtime_error when the
// store cannot be read or is damaged (a damaged store has then been kept aside beside itself).
VEXCOMM_EXPORT Identity ReadIdentity(const std::filesystem::path& registry_dir);

// Writes the whole record in one atomic replace of the store (the connection-attempt counter
// stays as stored). Throws std::runtime_error when it cannot be written.
VEXCOMM_EXPORT void WriteIdentity(const std::filesystem::path& registry_dir,
                                  const Identity& identity);

// One run at a time per installation: held from the start to the end of a run (Send) or of a
// change of the identity record, so that two runs never fetch the same files and a change is
// never overwritten by a run that read the record before it. An advisory lock (flock) on
// "installation.lock" in `registry_dir`, released when the object goes or the process dies.
// Owns one file descriptor; movable, not copyable; not to be shared between threads.
class VEXCOMM_EXPORT InstallationLock {
 public:
  enum class Wait { kNo, kYes };

  // kNo: nothing at once when the lock is held elsewhere (another process or another
  // InstallationLock of this process); kYes: blocks until it is free. Throws std::system_error
  // when the lock file cannot be opened.
  static std::optional<InstallationLock> Acquire(const std::filesystem::path& registry_dir,
                                                 Wait wait);

  InstallationLock(InstallationLock&& other) noexcept;
  InstallationLock& operator=(InstallationLock&& other) noexcept;
  InstallationLock(const InstallationLock&) = delete;
  InstallationLock& operator=(const InstallationLock&) = delete;
  ~InstallationLock();

 private:
  explicit InstallationLock(int fd) noexcept : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace vexcomm
