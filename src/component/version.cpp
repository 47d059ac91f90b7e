#include <openssl/crypto.h>
#include <sqlite3.h>

#include <vexcomm/build_config.h>
#include <vexcomm/version.h>

namespace vexcomm {

RuntimeVersions LoadedVersions() {
  RuntimeVersions v;
  v.library = VEXCOMM_VERSION;
  v.openssl = OpenSSL_version(OPENSSL_VERSION);
  v.sqlite = sqlite3_libversion();
  // SQLCipher answers its version only through a connection.
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA cipher_version", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      if (const unsigned char* text = sqlite3_column_text(statement, 0)) {
        v.sqlcipher = reinterpret_cast<const char*>(text);
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return v;
}

}  // namespace vexcomm
