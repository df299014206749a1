// SPDX-License-Identifier: GPL-3.0-or-later
// A thin, thread-safe wrapper over one SQLite connection: cached prepared statements,
// positional binding, and four ways to talk to the database (a script, one statement, a
// query with a per-row callback, an immediate transaction).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <variant>
#include <vector>

#include "core/Records.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quillmere {

class SQLite {
 public:
  // The store's error: SQLite's result code (-1 when the file could not be opened) and
  // message, with the system's error number behind it when there was one (else 0); what()
  // is "SQLite {code}: {message}".
  class Failure : public std::runtime_error {
   public:
    Failure(int code, std::string message, int systemError = 0);
    int code() const { return code_; }
    const std::string& message() const { return message_; }
    // The database could not take a write at all (disk full, I/O error, read-only, locked,
    // damaged): a fault of the store, whatever was being written.
    bool isStorageFault() const;
    // Why, in the system's words when it gave any: a full database reads as a full disk.
    std::string reason() const;
    // What refused the write: the disk (full, over the user's quota, mounted read-only,
    // failing), the file or connection that is read-only, or something else, which only
    // reason() tells.
    enum class Cause { diskFull, overQuota, diskReadOnly, diskFailing, fileReadOnly, other };
    Cause cause() const;

   private:
    int code_;
    std::string message_;
    int systemError_;
  };

  // One bound parameter: integer, double, text, blob or null.
  class Value {
   public:
    using Storage = std::variant<std::int64_t, double, std::string, Bytes, std::nullptr_t>;
    Value(std::nullptr_t = nullptr) : storage_(nullptr) {}
    Value(std::int64_t v) : storage_(v) {}
    Value(int v) : storage_(std::int64_t{v}) {}
    Value(bool v) : storage_(std::int64_t{v ? 1 : 0}) {}
    Value(double v) : storage_(v) {}
    Value(std::string v) : storage_(std::move(v)) {}
    Value(const char* v) : storage_(std::string(v)) {}
    Value(Bytes v) : storage_(std::move(v)) {}
    // Absent optionals bind NULL.
    template <typename T>
    Value(const std::optional<T>& v) : storage_(nullptr) {
      if (v) *this = Value(*v);
    }
    const Storage& storage() const { return storage_; }

   private:
    Storage storage_;
  };

  // The current result row of a running query; valid only inside the row callback.
  class Row {
   public:
    explicit Row(sqlite3_stmt* s) : s(s) {}
    std::int64_t integer(int column) const;             // NULL gives 0
    double real(int column) const;                      // NULL gives 0
    std::optional<std::string> text(int column) const;  // up to the first NUL
    std::optional<Bytes> blob(int column) const;        // absent when NULL or empty
    bool isNull(int column) const;
    // Calls body with the column's bytes, uncopied; the view must not outlive the call.
    template <typename Body>
    auto withBlob(int column, Body&& body) const {
      return body(blobView(column));
    }

   private:
    std::span<const std::uint8_t> blobView(int column) const;
    sqlite3_stmt* s;
  };

  using RowCallback = std::function<void(const Row&)>;

  enum class Access {
    readWrite,  // creates the file when missing
    readOnly,   // never writes; the file must exist
  };

  // Opens or creates the database at path, with WAL, NORMAL sync, foreign keys on. Read-only,
  // it leaves the journal mode to the file (a writer set WAL) and fails on every write.
  explicit SQLite(const std::string& path, Access access = Access::readWrite);
  ~SQLite();
  SQLite(const SQLite&) = delete;
  SQLite& operator=(const SQLite&) = delete;

  // Runs a script of one or more statements.
  void exec(const std::string& sql);
  // Executes one statement once; returns the connection's last inserted row id.
  std::int64_t run(const std::string& sql, std::initializer_list<Value> values = {});
  std::int64_t run(const std::string& sql, std::span<const Value> values);
  // Calls row for each result row, in SQLite's order. A failure of row is passed on.
  void query(const std::string& sql, std::initializer_list<Value> values, const RowCallback& row);
  void query(const std::string& sql, std::span<const Value> values, const RowCallback& row);
  void query(const std::string& sql, const RowCallback& row) { query(sql, {}, row); }
  // Runs body inside BEGIN IMMEDIATE ... COMMIT, holding the connection's lock throughout
  // (body may use this object again). A failing body or commit is rolled back.
  template <typename Body>
  auto transaction(Body&& body) -> std::invoke_result_t<Body&>;
  // Rows changed by the most recent statement.
  int changes();

 private:
  struct Cached {
    sqlite3_stmt* statement = nullptr;
    bool inUse = false;
  };
  class Lease;

  Lease prepared(const std::string& sql);
  void bind(sqlite3_stmt* statement, std::span<const Value> values);
  void rollbackQuietly();
  // Runs body inside the open transaction, then commits; rolls back when either fails.
  void commitAfter(const std::function<void()>& body);

  sqlite3* db = nullptr;
  // Guards the connection and statements_: held through every call that uses them, and by a
  // transaction throughout (recursive: its body, or a row callback, runs statements too).
  std::recursive_mutex lock_;
  std::unordered_map<std::string, Cached> statements_;
};

template <typename Body>
auto SQLite::transaction(Body&& body) -> std::invoke_result_t<Body&> {
  std::lock_guard guard(lock_);
  exec("BEGIN IMMEDIATE");
  using Result = std::invoke_result_t<Body&>;
  if constexpr (std::is_void_v<Result>) {
    commitAfter([&] { body(); });
  } else {
    std::optional<Result> result;
    commitAfter([&] { result.emplace(body()); });
    return std::move(*result);
  }
}

}  // namespace quillmere
