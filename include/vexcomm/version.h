#pragma once

/// @file
/// The version macros of the headers and the versions a running host works with.

#include <string>

#include <vexcomm/export.h>
#include <vexcomm/version_number.h>  // VEXCOMM_VERSION_MAJOR, ..., made from the project's version

namespace vexcomm {

/// The versions a running host works with: the library's own, and those of the OpenSSL and
/// SQLCipher libraries loaded with it (not the ones it was built against).
/// @ownership A plain value.
struct VEXCOMM_EXPORT RuntimeVersions {
  std::string library;    ///< The library's version, "5.1.13".
  std::string openssl;    ///< OpenSSL's version text, "OpenSSL 3.0.15 3 Sep 2024".
  std::string sqlcipher;  ///< "4.5.4 community"; empty when it cannot be asked.
  std::string sqlite;     ///< The SQLite underneath SQLCipher, "3.40.1".
};

/// Asks the loaded libraries for their versions.
/// @return The versions; sqlcipher is empty when an in-memory database could not be opened to
///   ask it. Never throws for want of an answer.
/// @thread Any thread.
VEXCOMM_EXPORT RuntimeVersions LoadedVersions();

}  // namespace vexcomm
