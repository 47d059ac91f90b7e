#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// The quote database's access to SQLite (SQLCipher), one RAII class per handle: a prepared
// statement, an encrypted connection, a transaction and a savepoint inside one.
namespace vexcomm::quotes {

// The error number a host sees for a failed database call (the provider's "unspecified error").
inline constexpr int32_t kDatabaseError = -2147467259;

// One prepared statement. Bind numbers are one-based, column numbers zero-based. Failures throw
// vexcomm::Error with the database's message; the destructor never throws.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view text);
  // True while a row is ready; false when done.
  bool Step();
  // Runs a statement that returns no rows.
  void Execute();
  // Makes the statement ready for new bindings.
  void Reset() noexcept;

  bool IsNull(int column) const;
  int64_t Int64(int column) const;
  // Text of a column; error 94 (invalid use of Null) when the value is null.
  std::string Text(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// One encrypted connection, opened per operation.
class Connection {
 public:
  enum class Mode { ReadOnly, ReadWrite, Create };

  // Opens the file with the key and checks that it reads; a foreign file or another key fails
  // with a message that says so and leaves the file as it was.
  Connection(const std::filesystem::path& file, std::string_view key, Mode mode);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* handle() const noexcept { return db_; }
  void Execute(std::string_view sql);
  [[noreturn]] void Fail() const;  // throws the connection's last error

 private:
  sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT; rolls back when left without Commit.
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();
  // Commits when the database still has the transaction open (a failure may have ended it);
  // a failing commit is left to the caller's first error.
  void CommitIfActive() noexcept;

 private:
  Connection& connection_;
  bool open_ = true;
};

// A savepoint inside a transaction: Release keeps its work, leaving without Release undoes it.
class Savepoint {
 public:
  explicit Savepoint(Connection& connection);
  ~Savepoint();
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
  void Release();

 private:
  Connection& connection_;
  bool open_ = true;
};

}  // namespace vexcomm::quotes
