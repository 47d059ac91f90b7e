#include <openssl/crypto.h>

#include <vexcomm/build_config.h>
#include <vexcomm/error.h>
#include <vexcomm/version.h>

#include "quotes/sqlite_library.h"

namespace vexcomm {

RuntimeVersions LoadedVersions() {
  RuntimeVersions v;
  v.library = VEXCOMM_VERSION;
  v.openssl = OpenSSL_version(OPENSSL_VERSION);
  try {
    const auto& lib = quotes::Sqlite();
    v.sqlite = lib.libversion();
    // SQLCipher answers its version only through a connection.
    sqlite3* db = nullptr;
    if (lib.open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
      sqlite3_stmt* statement = nullptr;
      if (lib.prepare_v2(db, "PRAGMA cipher_version", -1, &statement, nullptr) == SQLITE_OK &&
          lib.step(statement) == SQLITE_ROW) {
        if (const unsigned char* text = lib.column_text(statement, 0)) {
          v.sqlcipher = reinterpret_cast<const char*>(text);
        }
      }
      lib.finalize(statement);
    }
    lib.close(db);
  } catch (const Error&) {
    // Without SQLCipher its versions stay empty.
  }
  return v;
}

}  // namespace vexcomm
