#include "quotes/sqlite_library.h"

#include <dlfcn.h>

#include <string>

#include <vexcomm/error.h>

#include "quotes/sqlite.h"

namespace vexcomm::quotes {

namespace {

template <class Fn>
void Resolve(void* library, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(::dlsym(library, name));
  if (fn == nullptr) throw Error(kDatabaseError, std::string("SQLCipher: ") + name + " fehlt");
}

SqliteLibrary Load() {
  void* library = ::dlopen("libsqlcipher.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = ::dlerror();
    throw Error(kDatabaseError, std::string("SQLCipher ist nicht ladbar: ") +
                                    (why != nullptr ? why : "libsqlcipher.so.0"));
  }
  SqliteLibrary l{};
  Resolve(library, l.bind_int64, "sqlite3_bind_int64");
  Resolve(library, l.bind_text, "sqlite3_bind_text");
  Resolve(library, l.busy_timeout, "sqlite3_busy_timeout");
  Resolve(library, l.clear_bindings, "sqlite3_clear_bindings");
  Resolve(library, l.close, "sqlite3_close");
  Resolve(library, l.column_bytes, "sqlite3_column_bytes");
  Resolve(library, l.column_int64, "sqlite3_column_int64");
  Resolve(library, l.column_text, "sqlite3_column_text");
  Resolve(library, l.column_type, "sqlite3_column_type");
  Resolve(library, l.create_function, "sqlite3_create_function");
  Resolve(library, l.errcode, "sqlite3_errcode");
  Resolve(library, l.errmsg, "sqlite3_errmsg");
  Resolve(library, l.finalize, "sqlite3_finalize");
  Resolve(library, l.get_autocommit, "sqlite3_get_autocommit");
  Resolve(library, l.key, "sqlite3_key");
  Resolve(library, l.libversion, "sqlite3_libversion");
  Resolve(library, l.open_v2, "sqlite3_open_v2");
  Resolve(library, l.prepare_v2, "sqlite3_prepare_v2");
  Resolve(library, l.reset, "sqlite3_reset");
  Resolve(library, l.result_null, "sqlite3_result_null");
  Resolve(library, l.result_text, "sqlite3_result_text");
  Resolve(library, l.step, "sqlite3_step");
  Resolve(library, l.value_bytes, "sqlite3_value_bytes");
  Resolve(library, l.value_text, "sqlite3_value_text");
  return l;
}

}  // namespace

const SqliteLibrary& Sqlite() {
  // Loaded for the process's life; a failed load is tried again next time.
  static const SqliteLibrary library = Load();
  return library;
}

}  // namespace vexcomm::quotes
