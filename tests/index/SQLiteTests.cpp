// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "index/SQLite.h"
#include "support/TempDirectory.h"

namespace quillmere {
namespace {

class SQLiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = std::make_unique<SQLite>((dir / "test.sqlite").string());
    db->exec("CREATE TABLE t(id INTEGER PRIMARY KEY, a INTEGER, b TEXT, c BLOB);");
  }

  std::int64_t count(const std::string& table = "t") {
    std::int64_t n = -1;
    db->query("SELECT count(*) FROM " + table, [&](const SQLite::Row& row) { n = row.integer(0); });
    return n;
  }

  test::TempDirectory dir;
  std::unique_ptr<SQLite> db;
};

TEST_F(SQLiteTest, OpeningInsideAMissingDirectoryFailsWithCodeMinusOne) {
  try {
    SQLite missing((dir / "no/such/dir/x.sqlite").string());
    FAIL() << "opened";
  } catch (const SQLite::Failure& failure) {
    EXPECT_EQ(failure.code(), -1);
    EXPECT_FALSE(failure.message().empty());
    EXPECT_EQ(std::string(failure.what()), "SQLite -1: " + failure.message());
  }
}

TEST_F(SQLiteTest, ConnectionSettingsAreApplied) {
  std::string mode;
  db->query("PRAGMA journal_mode", [&](const SQLite::Row& row) { mode = *row.text(0); });
  EXPECT_EQ(mode, "wal");
  std::int64_t foreignKeys = 0;
  db->query("PRAGMA foreign_keys", [&](const SQLite::Row& row) { foreignKeys = row.integer(0); });
  EXPECT_EQ(foreignKeys, 1);
}

TEST_F(SQLiteTest, CachedStatementsDoNotLeakBindingsBetweenRuns) {
  const std::string insert = "INSERT INTO t(a, b) VALUES(?, ?)";
  EXPECT_EQ(db->run(insert, {1, "first"}), 1);
  EXPECT_EQ(db->run(insert, {2}), 2);  // b left unbound must be NULL, not "first"
  std::vector<std::optional<std::string>> texts;
  db->query("SELECT b FROM t ORDER BY id",
            [&](const SQLite::Row& row) { texts.push_back(row.text(0)); });
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "first");
  EXPECT_EQ(texts[1], std::nullopt);
}

TEST_F(SQLiteTest, RunReturnsTheLastInsertedRowID) {
  EXPECT_EQ(db->run("INSERT INTO t(id, a) VALUES(?, ?)", {41, 1}), 41);
  EXPECT_EQ(db->run("INSERT INTO t(a) VALUES(?)", {2}), 42);
  EXPECT_EQ(db->run("UPDATE t SET a = 5 WHERE id = ?", {41}), 42);
  EXPECT_EQ(db->changes(), 1);
  db->run("UPDATE t SET a = 6");
  EXPECT_EQ(db->changes(), 2);
}

TEST_F(SQLiteTest, FailuresCarryCodeAndMessage) {
  db->run("INSERT INTO t(id) VALUES(1)");
  try {
    db->run("INSERT INTO t(id) VALUES(1)");
    FAIL();
  } catch (const SQLite::Failure& failure) {
    EXPECT_EQ(failure.code(), 19);  // SQLITE_CONSTRAINT
    EXPECT_EQ(std::string(failure.what()), "SQLite 19: " + failure.message());
  }
  // The failed statement was reset: the next use starts clean.
  EXPECT_EQ(db->run("INSERT INTO t(id) VALUES(?)", {2}), 2);
  EXPECT_THROW(db->exec("SELECT * FROM nowhere"), SQLite::Failure);
}

// As SQLite reports a write the system refused: an I/O error with the system's number.
TEST(SQLiteFailure, TheSystemsNumberTellsTheDisksFault) {
  using Cause = SQLite::Failure::Cause;
  for (const auto& [error, cause] : std::vector<std::pair<int, Cause>>{
           {EDQUOT, Cause::overQuota}, {EROFS, Cause::diskReadOnly}, {EIO, Cause::diskFailing}}) {
    EXPECT_EQ(SQLite::Failure(SQLITE_IOERR_WRITE, "disk I/O error", error).cause(), cause);
  }
}

TEST_F(SQLiteTest, TextWithoutAStatementFailsNamingTheText) {
  for (const std::string sql : {"   ", "-- only a comment", "SELEC 1"}) {
    try {
      db->run(sql);
      FAIL() << sql;
    } catch (const SQLite::Failure& failure) {
      const std::string suffix = " in: " + sql;
      ASSERT_GE(failure.message().size(), suffix.size());
      EXPECT_EQ(failure.message().substr(failure.message().size() - suffix.size()), suffix);
    }
  }
}

TEST_F(SQLiteTest, AFailingCallbackLeavesTheQueryReusable) {
  for (int i = 0; i < 3; ++i) db->run("INSERT INTO t(a) VALUES(?)", {i});
  const std::string select = "SELECT a FROM t ORDER BY a";
  EXPECT_THROW(db->query(select, [](const SQLite::Row&) { throw std::logic_error("stop"); }),
               std::logic_error);
  std::vector<std::int64_t> seen;
  db->query(select, [&](const SQLite::Row& row) { seen.push_back(row.integer(0)); });
  EXPECT_EQ(seen, (std::vector<std::int64_t>{0, 1, 2}));
}

TEST_F(SQLiteTest, TheSameQueryMayRunInsideItsOwnCallback) {
  for (int i = 0; i < 3; ++i) db->run("INSERT INTO t(a) VALUES(?)", {i});
  const std::string select = "SELECT a FROM t WHERE a >= ? ORDER BY a";
  std::vector<std::int64_t> outer, inner;
  db->query(select, {0}, [&](const SQLite::Row& row) {
    outer.push_back(row.integer(0));
    db->query(select, {2}, [&](const SQLite::Row& r) { inner.push_back(r.integer(0)); });
  });
  EXPECT_EQ(outer, (std::vector<std::int64_t>{0, 1, 2}));
  EXPECT_EQ(inner, (std::vector<std::int64_t>{2, 2, 2}));
}

TEST_F(SQLiteTest, RowAccessorsTreatNullAndEmptyBlobsAsSpecified) {
  db->run("INSERT INTO t(id, a, b, c) VALUES(1, NULL, NULL, ?)", {Bytes{}});
  db->run("INSERT INTO t(id, a, b, c) VALUES(2, 7, ?, ?)",
          {std::string("ab\0cd", 5), Bytes{1, 2, 3}});
  db->run("INSERT INTO t(id, c) VALUES(3, NULL)");
  std::vector<std::string> seen;
  db->query("SELECT a, b, c FROM t ORDER BY id", [&](const SQLite::Row& row) {
    std::string line =
        std::to_string(row.integer(0)) + "|" + row.text(1).value_or("<null>") + "|" +
        (row.blob(2) ? std::to_string(row.blob(2)->size()) : "<none>") + "|" +
        std::to_string(row.withBlob(2, [](std::span<const std::uint8_t> v) { return v.size(); })) +
        "|" + (row.isNull(2) ? "null" : "value") + "|" + (row.isNull(0) ? "n" : "v");
    seen.push_back(line);
  });
  // Text binds up to its first NUL.
  EXPECT_EQ(seen, (std::vector<std::string>{"0|<null>|<none>|0|value|n", "7|ab|3|3|value|v",
                                            "0|<null>|<none>|0|null|n"}));
  std::optional<Bytes> bytes;
  db->query("SELECT c FROM t WHERE id = 2", [&](const SQLite::Row& row) { bytes = row.blob(0); });
  EXPECT_EQ(bytes, (Bytes{1, 2, 3}));
  double real = -1;
  db->query("SELECT NULL", [&](const SQLite::Row& row) { real = row.real(0); });
  EXPECT_EQ(real, 0.0);
}

TEST_F(SQLiteTest, AFailingTransactionBodyChangesNothing) {
  db->run("INSERT INTO t(a) VALUES(1)");
  EXPECT_THROW(db->transaction([&] {
    db->run("INSERT INTO t(a) VALUES(2)");  // nested use on the same thread
    db->run("DELETE FROM t WHERE a = 1");
    throw std::runtime_error("body failed");
  }),
               std::runtime_error);
  EXPECT_EQ(count(), 1);
  const int result = db->transaction([&] {
    db->run("INSERT INTO t(a) VALUES(3)");
    return 17;
  });
  EXPECT_EQ(result, 17);
  EXPECT_EQ(count(), 2);
}

TEST_F(SQLiteTest, AFailingCommitIsRolledBackAndReported) {
  db->exec(
      "CREATE TABLE parent(id INTEGER PRIMARY KEY);"
      "CREATE TABLE child(id INTEGER PRIMARY KEY, parent_id INTEGER REFERENCES parent(id) "
      "DEFERRABLE INITIALLY DEFERRED);");
  try {
    db->transaction([&] { db->run("INSERT INTO child(parent_id) VALUES(99)"); });
    FAIL() << "commit succeeded";
  } catch (const SQLite::Failure& failure) {
    EXPECT_EQ(failure.code() & 0xff, 19);
  }
  EXPECT_EQ(count("child"), 0);
  // The connection is usable again, outside any transaction.
  db->transaction([&] { db->run("INSERT INTO parent(id) VALUES(1)"); });
  EXPECT_EQ(count("parent"), 1);
}

TEST_F(SQLiteTest, OtherThreadsWaitForAnOpenTransaction) {
  std::atomic<bool> inside{false};
  std::thread other;
  db->transaction([&] {
    db->run("INSERT INTO t(a) VALUES(1)");
    other = std::thread([&] {
      while (!inside) std::this_thread::yield();
      db->run("INSERT INTO t(a) VALUES(2)");
    });
    inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    db->run("INSERT INTO t(a) VALUES(3)");
  });
  other.join();
  std::vector<std::int64_t> order;
  db->query("SELECT a FROM t ORDER BY id",
            [&](const SQLite::Row& row) { order.push_back(row.integer(0)); });
  EXPECT_EQ(order, (std::vector<std::int64_t>{1, 3, 2}));
}

TEST_F(SQLiteTest, ASecondConnectionSeesCommittedData) {
  db->transaction([&] { db->run("INSERT INTO t(a) VALUES(5)"); });
  SQLite second((dir / "test.sqlite").string());
  std::int64_t a = 0;
  second.query("SELECT a FROM t", [&](const SQLite::Row& row) { a = row.integer(0); });
  EXPECT_EQ(a, 5);
}

}  // namespace
}  // namespace quillmere
