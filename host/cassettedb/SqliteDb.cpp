#include "host/cassettedb/SqliteDb.h"

#include <sqlite3.h>

#include <climits>
#include <utility>

namespace Orvex::micdb {

namespace {

std::string describe(sqlite3* db, int rc, const char* context) {
  std::string text = context;
  text += ": ";
  // The connection's message is only meaningful for the last call on it.
  text += db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  return text;
}

}  // namespace

Connection::Connection(const std::string& utf8Path, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(utf8Path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string what = describe(db, rc, "open");
    const int code = db != nullptr ? sqlite3_extended_errcode(db) : rc;
    sqlite3_close_v2(db);  // a handle is returned even on failure
    throw SqliteError(code, what);
  }
  db_ = db;
  sqlite3_extended_result_codes(db_, 1);
}

Connection::Connection(Connection&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    close();
    db_ = std::exchange(other.db_, nullptr);
  }
  return *this;
}

Connection::~Connection() { close(); }

void Connection::close() noexcept {
  if (db_ != nullptr) {
    // Statements are scoped objects, so none can be pending here; _v2 keeps
    // this safe even if one were.
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

void Connection::fail(int rc, const char* context) const { throw SqliteError(rc, describe(db_, rc, context)); }

void Connection::exec(const char* sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    std::string what = "exec: ";
    what += message != nullptr ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    throw SqliteError(sqlite3_extended_errcode(db_), what);
  }
}

std::int64_t Connection::queryInt(const char* sql) {
  Statement st(*this, sql);
  if (!st.step()) throw SqliteError(SQLITE_ERROR, std::string("no result: ") + sql);
  return st.columnInt(0);
}

void Connection::setBusyTimeout(int milliseconds) {
  const int rc = sqlite3_busy_timeout(db_, milliseconds);
  if (rc != SQLITE_OK) fail(rc, "busy timeout");
}

std::int64_t Connection::lastInsertRowId() const noexcept { return sqlite3_last_insert_rowid(db_); }

int Connection::changes() const noexcept { return sqlite3_changes(db_); }

Statement::Statement(Connection& db, const char* sql) : db_(db) {
  if (!db.isOpen()) throw SqliteError(SQLITE_MISUSE, "database is not open");
  const int rc = sqlite3_prepare_v2(db.handle(), sql, -1, &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    db.fail(rc, "prepare");
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) db_.fail(rc, "bind");
  return *this;
}

Statement& Statement::bindText(int index, std::string_view utf8) {
  if (utf8.size() > static_cast<std::size_t>(INT_MAX)) throw SqliteError(SQLITE_TOOBIG, "text too long");
  // An empty text must stay text, not NULL: give SQLite a valid pointer.
  const char* data = utf8.data() != nullptr ? utf8.data() : "";
  const int rc = sqlite3_bind_text(stmt_, index, data, static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) db_.fail(rc, "bind text");
  return *this;
}

Statement& Statement::bindBlob(int index, std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return bindNull(index);
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) throw SqliteError(SQLITE_TOOBIG, "blob too large");
  const int rc =
      sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) db_.fail(rc, "bind blob");
  return *this;
}

Statement& Statement::bindNull(int index) {
  const int rc = sqlite3_bind_null(stmt_, index);
  if (rc != SQLITE_OK) db_.fail(rc, "bind null");
  return *this;
}

bool Statement::step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_.fail(rc, "step");
}

void Statement::run() {
  while (step()) {
  }
}

void Statement::reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool Statement::isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::int64_t Statement::columnInt(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::columnText(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  if (text == nullptr) {
    // NULL column, or out of memory while converting.
    if (sqlite3_errcode(db_.handle()) == SQLITE_NOMEM) throw SqliteError(SQLITE_NOMEM, "out of memory");
    return {};
  }
  return std::string(text, static_cast<std::size_t>(size));
}

std::vector<std::uint8_t> Statement::columnBlob(int column) const {
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  if (data == nullptr || size <= 0) return {};
  return std::vector<std::uint8_t>(data, data + size);
}

Transaction::Transaction(Connection& db, Kind kind) : db_(db) {
  db_.exec(kind == Kind::Immediate ? "BEGIN IMMEDIATE" : "BEGIN DEFERRED");
}

Transaction::~Transaction() {
  // Some errors (a full disk, for one) already rolled back; a second
  // ROLLBACK would only report that no transaction is active.
  if (open_ && db_.isOpen() && sqlite3_get_autocommit(db_.handle()) == 0) {
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void Transaction::commit() {
  db_.exec("COMMIT");
  open_ = false;
}

}  // namespace Orvex::micdb
