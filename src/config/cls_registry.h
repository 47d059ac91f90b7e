#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <vexcomm/variant.h>

#include "config/registry_store.h"

namespace vexcomm::config {

// The registry accessor: reads and writes single values of the key SectionKey below the root
// ClassKey. Set the three fields, then call a member; no key stays open between calls.
// Used inside the component only (not late-bound).
class clsRegistry {
 public:
  explicit clsRegistry(std::filesystem::path registry_dir);

  int32_t ClassKey = 0;  // a predefined root's handle value, e.g. HKEY_CURRENT_USER
  std::string SectionKey;
  std::string ValueKey;

  bool KeyExists() const;
  // Creates the key with its missing parents, or opens it; error 26001 when that fails.
  bool CreateKey();
  // Empty for a missing key or value; text for REG_SZ and REG_MULTI_SZ (without the final
  // terminator), Int32 for REG_DWORD, an array of byte values (Int16) for every other type.
  automation::Variant Value() const;
  // Writes the value's text as REG_SZ, creating the key; failures to store are ignored.
  void Value(const automation::Variant& value);

 private:
  RegistryStore store_;
};

}  // namespace vexcomm::config
