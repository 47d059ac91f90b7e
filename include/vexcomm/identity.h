#pragma once

/// @file
/// The installation's identity record and the lock that gives one run at a time an installation.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <vexcomm/export.h>

namespace vexcomm {

/// The installation's identity record as the component keeps it in the registry store of
/// `registry_dir` (HostServices::registry_dir). DateiNr is the cursor into the server's series of
/// files: the number of the last file received.
/// @ownership A plain value: copy it freely, on any thread.
struct Identity {
  std::string BLZ;       ///< The bank code the server knows the installation by.
  std::string KundenNr;  ///< The customer number.
  int32_t DateiNr = 0;   ///< The number of the last file received; the next run asks after it.
  std::string Vorname;   ///< First name, for the password request.
  std::string Nachname;  ///< Last name, for the password request.
  std::string EMail;     ///< E-mail address, for the password request.

  /// Compares every field.
  friend bool operator==(const Identity&, const Identity&) = default;
};

/// Reads the identity record of a registry store.
/// @param registry_dir The store's folder (HostServices::registry_dir).
/// @return The record; values the store lacks read as empty text or 0.
/// @throws std::runtime_error When the store cannot be read or is damaged; a damaged store has
///   then been kept aside beside itself as `<file>.corrupt-YYYYMMDD-HHMMSS`.
/// @thread Any thread, while other processes read and write the same store.
VEXCOMM_EXPORT Identity ReadIdentity(const std::filesystem::path& registry_dir);

/// Writes the whole record in one atomic replace of the store; the connection-attempt counter
/// stays as stored.
/// @param registry_dir The store's folder, made (0700) when missing.
/// @param identity The record to store.
/// @throws std::runtime_error When it cannot be written; the store is then as it was.
/// @thread Any thread, while other processes read and write the same store.
VEXCOMM_EXPORT void WriteIdentity(const std::filesystem::path& registry_dir,
                                  const Identity& identity);

/// One run at a time per installation: a host holds it from the start to the end of a run (Send)
/// or of a change of the identity record, so that two runs never fetch the same files and a
/// change is never overwritten by a run that read the record before it. An advisory lock (flock)
/// on "installation.lock" in the registry folder, released when the object goes or the process
/// dies. Send does not take it itself.
/// @ownership Owns one file descriptor; movable, not copyable.
/// @thread Not to be shared between threads.
class VEXCOMM_EXPORT InstallationLock {
 public:
  /// Whether Acquire waits for a lock held elsewhere.
  enum class Wait {
    kNo,   ///< Give up at once.
    kYes,  ///< Block until the lock is free.
  };

  /// Takes the lock of an installation.
  /// @param registry_dir The registry folder; made (0700) when missing.
  /// @param wait Whether to wait while the lock is held elsewhere (another process, or another
  ///   InstallationLock of this process).
  /// @return The lock; nothing when `wait` is kNo and the lock is held elsewhere.
  /// @throws std::system_error When the folder or the lock file cannot be made or locked.
  static std::optional<InstallationLock> Acquire(const std::filesystem::path& registry_dir,
                                                 Wait wait);

  /// Takes over the lock of `other`, which then holds none.
  /// @param other The lock to move from.
  InstallationLock(InstallationLock&& other) noexcept;
  /// Releases this lock, then takes over the lock of `other`, which then holds none.
  /// @param other The lock to move from.
  /// @return This lock.
  InstallationLock& operator=(InstallationLock&& other) noexcept;
  InstallationLock(const InstallationLock&) = delete;
  InstallationLock& operator=(const InstallationLock&) = delete;
  /// Releases the lock.
  ~InstallationLock();

 private:
  explicit InstallationLock(int fd) noexcept : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace vexcomm
