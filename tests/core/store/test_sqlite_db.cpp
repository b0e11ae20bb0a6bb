// The SQLite wrapper: opening, bound values, errors at the edge and
// transactions that roll back unless committed.
#include <gtest/gtest.h>

#include <string>

#include "store/sqlite_db.h"
#include "support/scratch_dir.h"

namespace {

using qovra::SqliteDb;
using qovra::SqliteStatement;
using qovra::SqliteTransaction;
using qovra::testing::ScratchDir;

class SqliteDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db.Open(dir.File("t.db"), true)) << db.LastError();
    ASSERT_TRUE(db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT)")) << db.LastError();
  }
  int64_t Count() {
    SqliteStatement q = db.Prepare("SELECT COUNT(*) FROM t");
    EXPECT_EQ(q.Step(), SqliteStatement::StepResult::Row);
    return q.ColumnInt(0);
  }
  void Insert(const std::string& v) {
    SqliteStatement ins = db.Prepare("INSERT INTO t (v) VALUES (?)");
    ins.Bind(1, v);
    ASSERT_TRUE(ins.Run()) << db.LastError();
  }

  ScratchDir dir;
  SqliteDb db;
};

TEST(SqliteDbOpen, RefusesMissingFilesAndNonDatabases) {
  ScratchDir dir;
  SqliteDb db;
  EXPECT_FALSE(db.Open(dir.File("missing.db")));
  EXPECT_FALSE(db.IsOpen());
  EXPECT_FALSE(db.LastError().empty());
  const std::string junk = dir.Write("junk.db", std::string(4096, 'j'));
  EXPECT_FALSE(db.Open(junk));
  EXPECT_FALSE(db.IsOpen());
  EXPECT_NE(db.LastError().find("not a database"), std::string::npos) << db.LastError();
}

TEST(SqliteDbOpen, ClosedDatabaseFailsEverythingCleanly) {
  SqliteDb db;
  EXPECT_FALSE(db.Exec("SELECT 1"));
  SqliteStatement s = db.Prepare("SELECT 1");
  EXPECT_FALSE(s.Valid());
  EXPECT_EQ(s.Bind(1, int64_t{1}).Step(), SqliteStatement::StepResult::Error);
  SqliteTransaction tx(db);
  EXPECT_FALSE(tx.Active());
  EXPECT_FALSE(tx.Commit());
  EXPECT_EQ(db.LastInsertRowId(), 0);
}

TEST_F(SqliteDbTest, BoundTextIsStoredExactlyAsGiven) {
  const std::string values[] = {
      "plain",   "it's", "say \"hi\"", "x'); DROP TABLE t; --", std::string("nul\0inside", 10),
      "Ҳисобот", ""};
  for (const std::string& v : values) {
    Insert(v);
    const int64_t id = db.LastInsertRowId();
    SqliteStatement q = db.Prepare("SELECT v FROM t WHERE id=?");
    q.Bind(1, id);
    ASSERT_EQ(q.Step(), SqliteStatement::StepResult::Row);
    EXPECT_EQ(q.ColumnText(0), v);
    EXPECT_EQ(q.Step(), SqliteStatement::StepResult::Done);
  }
  EXPECT_EQ(Count(), static_cast<int64_t>(std::size(values)));
}

TEST_F(SqliteDbTest, ErrorsBecomeResultsWithTheReason) {
  SqliteStatement bad = db.Prepare("SELEKT nothing");
  EXPECT_FALSE(bad.Valid());
  EXPECT_NE(db.LastError().find("syntax error"), std::string::npos) << db.LastError();
  EXPECT_FALSE(bad.Run());

  ASSERT_TRUE(db.Exec("CREATE TABLE u (x TEXT NOT NULL)"));
  SqliteStatement null_insert = db.Prepare("INSERT INTO u (x) VALUES (?)");
  null_insert.BindNull(1);
  EXPECT_FALSE(null_insert.Run());
  EXPECT_NE(db.LastError().find("NOT NULL"), std::string::npos) << db.LastError();

  SqliteStatement out_of_range = db.Prepare("SELECT ?");
  out_of_range.Bind(2, int64_t{5});
  EXPECT_EQ(out_of_range.Step(), SqliteStatement::StepResult::Error);
}

TEST_F(SqliteDbTest, StatementsRunAgainAfterReset) {
  SqliteStatement ins = db.Prepare("INSERT INTO t (v) VALUES (?)");
  for (int i = 0; i < 3; ++i) {
    ins.Reset();
    ins.Bind(1, std::to_string(i));
    ASSERT_TRUE(ins.Run());
    EXPECT_EQ(db.Changes(), 1);
  }
  EXPECT_EQ(Count(), 3);
}

TEST_F(SqliteDbTest, TransactionRollsBackUnlessCommitted) {
  {
    SqliteTransaction tx(db);
    ASSERT_TRUE(tx.Active());
    Insert("dropped");
  }
  EXPECT_EQ(Count(), 0);
  {
    SqliteTransaction tx(db);
    Insert("kept");
    EXPECT_TRUE(tx.Commit());
    EXPECT_FALSE(tx.Commit());  // once
  }
  EXPECT_EQ(Count(), 1);
}

TEST_F(SqliteDbTest, NestedTransactions) {
  {
    SqliteTransaction outer(db);
    Insert("outer");
    {
      SqliteTransaction inner(db);
      ASSERT_TRUE(inner.Active()) << db.LastError();
      Insert("inner, rolled back");
    }
    {
      SqliteTransaction inner(db);
      Insert("inner, committed");
      ASSERT_TRUE(inner.Commit());
    }
    EXPECT_EQ(Count(), 2);
    ASSERT_TRUE(outer.Commit());
  }
  EXPECT_EQ(Count(), 2);
  {
    SqliteTransaction outer(db);
    SqliteTransaction inner(db);
    Insert("both rolled back");
    ASSERT_TRUE(inner.Commit());
  }
  EXPECT_EQ(Count(), 2);
}

TEST_F(SqliteDbTest, WorkIsOnDiskAfterCommitAndReopen) {
  {
    SqliteTransaction tx(db);
    Insert("durable");
    ASSERT_TRUE(tx.Commit());
  }
  db.Close();
  ASSERT_TRUE(db.Open(dir.File("t.db")));
  EXPECT_EQ(Count(), 1);
}

}  // namespace
