#include "quotes/sqlite.h"

#include <utility>

#include <vexcomm/error.h>

#include "quotes/date_sort_key.h"
#include "quotes/sqlite_library.h"

namespace vexcomm::quotes {

namespace {

constexpr int32_t kInvalidUseOfNull = 94;

[[noreturn]] void Throw(sqlite3* db) {
  throw Error(kDatabaseError, db ? Sqlite().errmsg(db) : "out of memory");
}

void DateSortKeyFunction(sqlite3_context* context, int, sqlite3_value** values) {
  const auto* text = Sqlite().value_text(values[0]);
  if (!text) {
    Sqlite().result_null(context);
    return;
  }
  std::string key =
      DateSortKey(std::string_view(reinterpret_cast<const char*>(text),
                                   static_cast<std::size_t>(Sqlite().value_bytes(values[0]))));
  Sqlite().result_text(context, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  if (Sqlite().prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
      SQLITE_OK) {
    Throw(db);
  }
}

Statement::~Statement() {
  Sqlite().finalize(stmt_);
}

Statement& Statement::Bind(int index, int64_t value) {
  if (Sqlite().bind_int64(stmt_, index, value) != SQLITE_OK) Throw(db_);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  // An empty text is bound as empty text, never as null.
  const char* data = text.data() ? text.data() : "";
  if (Sqlite().bind_text(stmt_, index, data, static_cast<int>(text.size()), SQLITE_TRANSIENT) !=
      SQLITE_OK) {
    Throw(db_);
  }
  return *this;
}

bool Statement::Step() {
  int rc = Sqlite().step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  // Reset before throwing: a failed statement left pending would block the COMMIT that keeps
  // the work done before it.
  std::string message = Sqlite().errmsg(db_);
  Sqlite().reset(stmt_);
  throw Error(kDatabaseError, message);
}

void Statement::Execute() {
  while (Step()) {
  }
  Reset();
}

void Statement::Reset() noexcept {
  Sqlite().reset(stmt_);
  Sqlite().clear_bindings(stmt_);
}

bool Statement::IsNull(int column) const {
  return Sqlite().column_type(stmt_, column) == SQLITE_NULL;
}

int64_t Statement::Int64(int column) const {
  if (IsNull(column)) throw Error(kInvalidUseOfNull, "Invalid use of Null");
  return Sqlite().column_int64(stmt_, column);
}

std::string Statement::Text(int column) const {
  if (IsNull(column)) throw Error(kInvalidUseOfNull, "Invalid use of Null");
  const auto* text = Sqlite().column_text(stmt_, column);
  const int size = Sqlite().column_bytes(stmt_, column);
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
}

Connection::Connection(const std::filesystem::path& file, std::string_view key, Mode mode) {
  int flags = mode == Mode::ReadOnly    ? SQLITE_OPEN_READONLY
              : mode == Mode::ReadWrite ? SQLITE_OPEN_READWRITE
                                        : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (Sqlite().open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string message = db_ ? Sqlite().errmsg(db_) : "out of memory";
    Sqlite().close(db_);
    throw Error(kDatabaseError, message + ": " + file.string());
  }
  try {
    // Another run writing the file at the same moment holds its lock only briefly; the probe
    // below must wait for it too.
    Sqlite().busy_timeout(db_, 5000);
    if (Sqlite().key(db_, key.data(), static_cast<int>(key.size())) != SQLITE_OK) Fail();
    // The key is only tried on the first read; a wrong one must fail here, before any write.
    {
      Statement probe(db_, "SELECT count(*) FROM sqlite_master");
      probe.Step();
    }
    if (Sqlite().create_function(db_, kDateSortFunction.data(), 1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, DateSortKeyFunction,
                                 nullptr, nullptr) != SQLITE_OK) {
      Fail();
    }
    // Ten years of quotes fit: a merge then decrypts each page once.
    Execute("PRAGMA cache_size = -32768");
  } catch (const Error& e) {
    int code = Sqlite().errcode(db_);
    Sqlite().close(db_);
    db_ = nullptr;
    if (code == SQLITE_NOTADB) {
      throw Error(kDatabaseError, "Die Datei " + file.string() +
                                      " ist keine Kursdatenbank oder hat ein anderes Kennwort");
    }
    throw;
  }
}

Connection::~Connection() {
  Sqlite().close(db_);
}

void Connection::Execute(std::string_view sql) {
  Statement statement(db_, sql);
  statement.Execute();
}

void Connection::Fail() const {
  Throw(db_);
}

Transaction::Transaction(Connection& connection) : connection_(connection) {
  connection_.Execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
  if (!open_) return;
  try {
    connection_.Execute("ROLLBACK");
  } catch (...) {
    // Closing the connection rolls back whatever is left.
  }
}

void Transaction::Commit() {
  connection_.Execute("COMMIT");
  open_ = false;
}

void Transaction::CommitIfActive() noexcept {
  if (!std::exchange(open_, false)) return;
  if (Sqlite().get_autocommit(connection_.handle()) != 0) return;
  try {
    connection_.Execute("COMMIT");
  } catch (...) {
    // Closing the connection rolls back whatever is left.
  }
}

Savepoint::Savepoint(Connection& connection) : connection_(connection) {
  connection_.Execute("SAVEPOINT stock");
}

Savepoint::~Savepoint() {
  if (!open_) return;
  try {
    connection_.Execute("ROLLBACK TO stock");
    connection_.Execute("RELEASE stock");
  } catch (...) {
    // The enclosing transaction then rolls back as a whole.
  }
}

void Savepoint::Release() {
  connection_.Execute("RELEASE stock");
  open_ = false;
}

}  // namespace vexcomm::quotes
