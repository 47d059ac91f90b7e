#pragma once

#include <string>

#include <vexcomm/export.h>
#include <vexcomm/version_number.h>  // VEXCOMM_VERSION_MAJOR, ..., made from the project's version

namespace vexcomm {

// The versions a running host works with: the library's own, and those of the OpenSSL and
// SQLCipher libraries loaded with it (not the ones it was built against). Any thread.
struct VEXCOMM_EXPORT RuntimeVersions {
  std::string library;    // "5.1.13"
  std::string openssl;    // "OpenSSL 3.0.15 3 Sep 2024"
  std::string sqlcipher;  // "4.5.4 community", empty when it cannot be asked
  std::string sqlite;     // the SQLite underneath SQLCipher, "3.40.1"
};
VEXCOMM_EXPORT RuntimeVersions LoadedVersions();

}  // namespace vexcomm
