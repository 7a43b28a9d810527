#include "core/clipboard/sqlite_database.h"

#include <new>

#include <gtest/gtest.h>

#include "tests/core/clipboard/clip_test_folder.h"

namespace vesk {
namespace {

using Statement = SQLiteDatabase::Statement;

int64_t firstInteger(const Statement& row) {
  return row.integer(0);
}

std::unique_ptr<SQLiteDatabase> openWithTable(const test::TemporaryFolder& folder) {
  auto db = SQLiteDatabase::open(folder / "test.sqlite").value();
  EXPECT_TRUE(db->execute("CREATE TABLE t (n INTEGER NOT NULL, s TEXT)").ok());
  return db;
}

TEST(SQLiteDatabase, QueriesReadTheirRowsAndHoldNoTransactionOpenAfterwards) {
  const test::TemporaryFolder folder;
  auto db = openWithTable(folder);
  for (int64_t n : {3, 1, 2}) {
    ASSERT_TRUE(db->run("INSERT INTO t (n, s) VALUES (?, ?)", {n, std::to_string(n)}).ok());
  }
  EXPECT_EQ(db->rows("SELECT n FROM t ORDER BY n", {}, firstInteger).value(),
            (std::vector<int64_t>{1, 2, 3}));
  EXPECT_EQ(db->row("SELECT n FROM t WHERE s = ?", {std::string("2")}, firstInteger).value(),
            std::optional<int64_t>(2));
  EXPECT_EQ(db->row("SELECT n FROM t WHERE n > ?", {int64_t{9}}, firstInteger).value(),
            std::nullopt);

  // A statement kept for reuse, stopped on its first of three rows: the journal mode can only
  // change when no read transaction is left open.
  auto kept = db->prepare("SELECT n FROM t ORDER BY n").value();
  EXPECT_EQ(kept.row({}, firstInteger).value(), std::optional<int64_t>(1));
  ASSERT_TRUE(db->execute("PRAGMA journal_mode = WAL").ok());
  EXPECT_EQ(
      db->row("PRAGMA journal_mode", {}, [](const Statement& row) { return row.text(0); }).value(),
      std::optional<std::string>("wal"));
  EXPECT_EQ(kept.rows({}, firstInteger).value().size(), 3U);

  const auto wrong = db->run("INSERT INTO t (n) VALUES (?)", {nullptr});
  ASSERT_FALSE(wrong.ok());
  EXPECT_NE(wrong.failure().description.find("NOT NULL"), std::string::npos);
  EXPECT_FALSE(db->rows("SELECT nothing FROM t", {}, firstInteger).ok());
}

TEST(SQLiteDatabase, TransactionsCommitOnlyABodyThatSucceeded) {
  const test::TemporaryFolder folder;
  auto db = openWithTable(folder);
  const auto count = [&] { return db->row("SELECT count(*) FROM t", {}, firstInteger).value(); };

  const auto failed = db->transaction([&]() -> Result<void> {
    EXPECT_TRUE(db->run("INSERT INTO t (n) VALUES (1)").ok());
    return Failure{"the body gave up"};
  });
  EXPECT_EQ(failed.failure().description, "the body gave up");
  EXPECT_EQ(count(), std::optional<int64_t>(0));

  // A statement that fails inside the body rolls back what came before it.
  const auto broken = db->transaction([&]() -> Result<void> {
    EXPECT_TRUE(db->run("INSERT INTO t (n) VALUES (1)").ok());
    return db->run("INSERT INTO t (n) VALUES (NULL)");
  });
  EXPECT_FALSE(broken.ok());
  EXPECT_EQ(count(), std::optional<int64_t>(0));

  const auto kept = db->transaction([&]() -> Result<int64_t> {
    if (auto ran = db->run("INSERT INTO t (n) VALUES (7)"); !ran) {
      return ran.failure();
    }
    return db->lastInsertRowId();
  });
  EXPECT_TRUE(kept.ok());
  EXPECT_EQ(count(), std::optional<int64_t>(1));
  // A body that throws rolls back too, and leaves the connection out of the transaction.
  EXPECT_THROW(db->transaction([&]() -> Result<void> {
    EXPECT_TRUE(db->run("INSERT INTO t (n) VALUES (8)").ok());
    throw std::bad_alloc();
  }),
               std::bad_alloc);
  EXPECT_EQ(count(), std::optional<int64_t>(1));
  EXPECT_TRUE(db->transaction([] { return Result<void>(); }).ok());
}

}  // namespace
}  // namespace vesk
