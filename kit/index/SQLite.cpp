// SPDX-License-Identifier: GPL-3.0-or-later
// The SQLite connection wrapper: cached statements, bound values, transactions, failures.
#include "index/SQLite.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace quillmere {

SQLite::Failure::Failure(int code, std::string message, int systemError)
    : std::runtime_error("SQLite " + std::to_string(code) + ": " + message),
      code_(code),
      message_(std::move(message)),
      systemError_(systemError) {}

bool SQLite::Failure::isStorageFault() const {
  switch (code_ & 0xff) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_NOMEM:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return true;
    default:
      return false;
  }
}

std::string SQLite::Failure::reason() const {
  // SQLite says "database or disk is full" also when its own page limit is reached.
  const int primary = code_ & 0xff;
  if (primary == SQLITE_FULL) return std::strerror(ENOSPC);
  // SQLite keeps the system's number only from failed reads, writes and openings.
  if ((primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) && systemError_ != 0) {
    return std::strerror(systemError_);
  }
  return message_;
}

SQLite::Failure::Cause SQLite::Failure::cause() const {
  const int primary = code_ & 0xff;
  if (primary == SQLITE_FULL) return Cause::diskFull;
  if (primary == SQLITE_READONLY) return Cause::fileReadOnly;
  if (primary != SQLITE_IOERR && primary != SQLITE_CANTOPEN) return Cause::other;
  // SQLite gives a short write as full but any other failed write as an I/O error.
  switch (systemError_) {
    case ENOSPC:
      return Cause::diskFull;
    case EDQUOT:
      return Cause::overQuota;
    case EROFS:
      return Cause::diskReadOnly;
    case EIO:
      return Cause::diskFailing;
    default:
      return Cause::other;
  }
}

// A statement taken for one call. Normally the cached one; when that one is already
// stepping further up this thread's stack (a callback running the same SQL), a private
// statement that is finalized afterwards, so the outer iteration is never disturbed.
class SQLite::Lease {
 public:
  Lease(sqlite3_stmt* statement, Cached* cached) : statement_(statement), cached_(cached) {
    if (cached_) cached_->inUse = true;
  }
  Lease(Lease&& other) noexcept
      : statement_(std::exchange(other.statement_, nullptr)),
        cached_(std::exchange(other.cached_, nullptr)) {}
  Lease(const Lease&) = delete;
  ~Lease() {
    if (!statement_) return;
    if (cached_) {
      sqlite3_reset(statement_);
      cached_->inUse = false;
    } else {
      sqlite3_finalize(statement_);
    }
  }
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
  Cached* cached_;
};

SQLite::SQLite(const std::string& path, Access access) {
  sqlite3* handle = nullptr;
  const bool readOnly = access == Access::readOnly;
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                    SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &handle, flags, nullptr) != SQLITE_OK) {
    std::string message = "cannot open";
    if (handle) {
      if (const char* text = sqlite3_errmsg(handle)) message = text;
      sqlite3_close(handle);
    }
    throw Failure(-1, message);
  }
  db = handle;
  sqlite3_busy_timeout(db, 5000);
  try {
    // Setting the journal mode writes to the file, so a reader leaves it as the writer set it.
    if (!readOnly) exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    exec("PRAGMA foreign_keys=ON; PRAGMA temp_store=MEMORY;");
  } catch (...) {
    sqlite3_close(db);
    db = nullptr;
    throw;
  }
}

SQLite::~SQLite() {
  for (auto& [sql, cached] : statements_) sqlite3_finalize(cached.statement);
  sqlite3_close(db);
}

void SQLite::exec(const std::string& sql) {
  std::lock_guard guard(lock_);
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "?";
    sqlite3_free(error);
    throw Failure(sqlite3_errcode(db), message, sqlite3_system_errno(db));
  }
  sqlite3_free(error);
}

SQLite::Lease SQLite::prepared(const std::string& sql) {
  auto found = statements_.find(sql);
  if (found != statements_.end() && !found->second.inUse) {
    sqlite3_reset(found->second.statement);
    sqlite3_clear_bindings(found->second.statement);
    return Lease(found->second.statement, &found->second);
  }
  sqlite3_stmt* statement = nullptr;
  const bool nested = found != statements_.end();
  const unsigned flags = nested ? 0 : SQLITE_PREPARE_PERSISTENT;
  if (sqlite3_prepare_v3(db, sql.c_str(), -1, flags, &statement, nullptr) != SQLITE_OK ||
      statement == nullptr) {
    sqlite3_finalize(statement);
    throw Failure(sqlite3_errcode(db), std::string(sqlite3_errmsg(db)) + " in: " + sql);
  }
  if (nested) return Lease(statement, nullptr);
  Cached& cached = statements_[sql];
  cached.statement = statement;
  return Lease(statement, &cached);
}

void SQLite::bind(sqlite3_stmt* statement, std::span<const Value> values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const int index = static_cast<int>(i + 1);
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::int64_t>) {
            sqlite3_bind_int64(statement, index, v);
          } else if constexpr (std::is_same_v<T, double>) {
            sqlite3_bind_double(statement, index, v);
          } else if constexpr (std::is_same_v<T, std::string>) {
            sqlite3_bind_text(statement, index, v.c_str(), -1, SQLITE_TRANSIENT);
          } else if constexpr (std::is_same_v<T, Bytes>) {
            // An empty byte string is a zero-length blob, not NULL.
            static const std::uint8_t empty = 0;
            sqlite3_bind_blob64(statement, index, v.empty() ? &empty : v.data(), v.size(),
                                SQLITE_TRANSIENT);
          } else {
            sqlite3_bind_null(statement, index);
          }
        },
        values[i].storage());
  }
}

std::int64_t SQLite::run(const std::string& sql, std::initializer_list<Value> values) {
  return run(sql, std::span<const Value>(values.begin(), values.size()));
}

std::int64_t SQLite::run(const std::string& sql, std::span<const Value> values) {
  std::lock_guard guard(lock_);
  Lease statement = prepared(sql);
  bind(statement.get(), values);
  const int result = sqlite3_step(statement.get());
  if (result != SQLITE_ROW && result != SQLITE_DONE) {
    throw Failure(result, sqlite3_errmsg(db), sqlite3_system_errno(db));
  }
  return sqlite3_last_insert_rowid(db);
}

void SQLite::query(const std::string& sql, std::initializer_list<Value> values,
                   const RowCallback& row) {
  query(sql, std::span<const Value>(values.begin(), values.size()), row);
}

void SQLite::query(const std::string& sql, std::span<const Value> values, const RowCallback& row) {
  std::lock_guard guard(lock_);
  Lease statement = prepared(sql);
  bind(statement.get(), values);
  int result;
  while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
    row(Row(statement.get()));  // a throw resets the statement through the lease
  }
  if (result != SQLITE_DONE) throw Failure(result, sqlite3_errmsg(db), sqlite3_system_errno(db));
}

int SQLite::changes() {
  std::lock_guard guard(lock_);
  return sqlite3_changes(db);
}

void SQLite::commitAfter(const std::function<void()>& body) {
  try {
    body();
    exec("COMMIT");
  } catch (...) {
    rollbackQuietly();
    throw;
  }
}

void SQLite::rollbackQuietly() {
  try {
    exec("ROLLBACK");
  } catch (const Failure&) {
    // The transaction may already be gone (SQLite rolls back on some errors itself).
  }
}

std::int64_t SQLite::Row::integer(int column) const {
  return sqlite3_column_int64(s, column);
}

double SQLite::Row::real(int column) const {
  return sqlite3_column_double(s, column);
}

std::optional<std::string> SQLite::Row::text(int column) const {
  const unsigned char* text = sqlite3_column_text(s, column);
  if (text == nullptr) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(text));
}

std::optional<Bytes> SQLite::Row::blob(int column) const {
  std::span<const std::uint8_t> view = blobView(column);
  if (view.empty()) return std::nullopt;
  return Bytes(view.begin(), view.end());
}

std::span<const std::uint8_t> SQLite::Row::blobView(int column) const {
  const void* data = sqlite3_column_blob(s, column);
  const int size = sqlite3_column_bytes(s, column);
  if (data == nullptr || size <= 0) return {};
  return {static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
}

bool SQLite::Row::isNull(int column) const {
  return sqlite3_column_type(s, column) == SQLITE_NULL;
}

}  // namespace quillmere
