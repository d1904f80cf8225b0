// Thin RAII layer over the SQLite C API: a connection, a prepared statement
// and a transaction. Every error becomes a SqliteError, so that callers can
// unwind with statements finalised and transactions rolled back on every path.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace Orvex::micdb {

class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
  // The primary result code (SQLITE_BUSY, SQLITE_CORRUPT, ...).
  int code() const noexcept { return code_ & 0xFF; }
  int extendedCode() const noexcept { return code_; }

 private:
  int code_;
};

class Connection {
 public:
  Connection() = default;
  // Opens utf8Path with the given sqlite3_open_v2 flags; throws on failure.
  Connection(const std::string& utf8Path, int flags);
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  bool isOpen() const noexcept { return db_ != nullptr; }
  sqlite3* handle() const noexcept { return db_; }
  void close() noexcept;

  // Runs one or more statements that return no rows of interest.
  void exec(const char* sql);
  // Runs a statement that yields one integer (for example a pragma).
  std::int64_t queryInt(const char* sql);
  void setBusyTimeout(int milliseconds);
  std::int64_t lastInsertRowId() const noexcept;
  int changes() const noexcept;

  [[noreturn]] void fail(int rc, const char* context) const;

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement(Connection& db, const char* sql);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  Statement& bind(int index, std::int64_t value);
  Statement& bindText(int index, std::string_view utf8);
  // An empty span binds NULL: an empty BLOB and no BLOB mean the same here.
  Statement& bindBlob(int index, std::span<const std::uint8_t> bytes);
  Statement& bindNull(int index);

  // True when a row is ready, false when the statement has finished.
  bool step();
  // Steps a statement that must finish without yielding rows.
  void run();
  void reset();

  bool isNull(int column) const;
  std::int64_t columnInt(int column) const;
  std::string columnText(int column) const;
  std::vector<std::uint8_t> columnBlob(int column) const;

 private:
  Connection& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class Transaction {
 public:
  enum class Kind { Deferred, Immediate };
  Transaction(Connection& db, Kind kind);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  // Rolls back unless commit() succeeded.
  ~Transaction();
  void commit();

 private:
  Connection& db_;
  bool open_ = true;
};

}  // namespace Orvex::micdb
