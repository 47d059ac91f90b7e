#pragma once

#define SQLITE_HAS_CODEC 1
#include <sqlite3.h>

namespace vexcomm::quotes {

// SQLCipher's functions, from the library loaded when the quote database is first used: a run
// that never touches Kurse.dat does not load it. Any thread.
struct SqliteLibrary {
  decltype(&sqlite3_bind_int64) bind_int64;
  decltype(&sqlite3_bind_text) bind_text;
  decltype(&sqlite3_busy_timeout) busy_timeout;
  decltype(&sqlite3_clear_bindings) clear_bindings;
  decltype(&sqlite3_close) close;
  decltype(&sqlite3_column_bytes) column_bytes;
  decltype(&sqlite3_column_int64) column_int64;
  decltype(&sqlite3_column_text) column_text;
  decltype(&sqlite3_column_type) column_type;
  decltype(&sqlite3_create_function) create_function;
  decltype(&sqlite3_errcode) errcode;
  decltype(&sqlite3_errmsg) errmsg;
  decltype(&sqlite3_finalize) finalize;
  decltype(&sqlite3_get_autocommit) get_autocommit;
  decltype(&sqlite3_key) key;
  decltype(&sqlite3_libversion) libversion;
  decltype(&sqlite3_open_v2) open_v2;
  decltype(&sqlite3_prepare_v2) prepare_v2;
  decltype(&sqlite3_reset) reset;
  decltype(&sqlite3_result_null) result_null;
  decltype(&sqlite3_result_text) result_text;
  decltype(&sqlite3_step) step;
  decltype(&sqlite3_value_bytes) value_bytes;
  decltype(&sqlite3_value_text) value_text;
};

// The library, loaded once; vexcomm::Error (the database's error number) when it cannot be.
const SqliteLibrary& Sqlite();

}  // namespace vexcomm::quotes
