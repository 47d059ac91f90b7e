#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <vexcomm/identity.h>

#include "config/registry_store.h"

namespace vexcomm::config {

// The installation's identity record, as hosts see it. DateiNr is the cursor into the server's
// series of files.
using clsUserDaten = vexcomm::Identity;

// What survives runs and restarts: the identity record and the connection-attempt counter,
// under HKEY_CURRENT_USER\Software\VexComm5 of the registry store in `registry_dir`.
struct PersistentRecord {
  clsUserDaten user;
  int32_t attempts = 0;
};

// Reads the record; missing values read as empty text or 0. Never fails: an unreadable store
// reads as a fresh record.
PersistentRecord LoadPersistentValues(const std::filesystem::path& registry_dir,
                                      const RegistryStore::Reporter& report = {});

// The same, telling a store that could not be read (`record` is then fresh) from one that was
// damaged (kept aside by now; `record` holds what could be read).
struct LoadedRecord {
  PersistentRecord record;
  bool unreadable = false;
  bool damaged = false;
};
LoadedRecord ReadPersistentValues(const std::filesystem::path& registry_dir,
                                  const RegistryStore::Reporter& report = {});

// Writes the whole record at once (one atomic replace of the store file): never half-written.
// Returns false when the store could not be written.
bool StorePersistentValues(const std::filesystem::path& registry_dir,
                           const PersistentRecord& record);

// Writes only the values that differ between `before` (as read) and `after`, in one
// read-modify-write under the store's lock: what another process wrote meanwhile to the other
// values stays. True when nothing needed writing. A failure names the file and its cause in
// `failure`.
bool StoreChangedValues(const std::filesystem::path& registry_dir, const PersistentRecord& before,
                        const PersistentRecord& after, std::string* failure = nullptr);

// The identity record alone, whole; the counter is left as stored.
bool StoreIdentity(const std::filesystem::path& registry_dir, const clsUserDaten& user,
                   std::string* failure = nullptr);

}  // namespace vexcomm::config
