// Bringing older mail databases up to date.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "store/mail_db_upgrade.h"
#include "store/sqlite_db.h"
#include "support/scratch_dir.h"

namespace {

using qovra::SqliteDb;
using qovra::SqliteStatement;
using qovra::testing::ScratchDir;

// The whole schema as text, to compare before and after.
std::string Schema(SqliteDb& db) {
  std::string text;
  SqliteStatement q = db.Prepare("SELECT name, sql FROM sqlite_master ORDER BY name");
  while (q.Step() == SqliteStatement::StepResult::Row) {
    text += q.ColumnText(0) + ": " + q.ColumnText(1) + "\n";
  }
  return text;
}

std::vector<std::string> Columns(SqliteDb& db, const std::string& table) {
  std::vector<std::string> names;
  SqliteStatement q = db.Prepare("SELECT name FROM pragma_table_info(?1)");
  q.Bind(1, table);
  while (q.Step() == SqliteStatement::StepResult::Row) names.push_back(q.ColumnText(0));
  return names;
}

bool OpenCopy(ScratchDir& dir, const std::string& from, SqliteDb& db) {
  const std::string path = dir.File("copy.edb");
  std::filesystem::copy_file(from, path);
  return db.Open(path);
}

TEST(UpgradeMailSchema, OldDatabaseGetsTheColumnsAndKeepsItsRows) {
  ScratchDir dir;
  SqliteDb db;
  ASSERT_TRUE(OpenCopy(dir, QOVRA_ECM_OLD_TEMPLATE, db)) << db.LastError();
  ASSERT_TRUE(
      db.Exec("INSERT INTO ecm_mails (uuid, subject) VALUES ('u1', 'kept');"
              "INSERT INTO ecm_recipients (mail_id, to_address) VALUES (1, 'a@x');"));

  std::string error;
  ASSERT_TRUE(qovra::UpgradeMailSchema(db, &error)) << error;
  const std::vector<std::string> mails = Columns(db, "ecm_mails");
  EXPECT_EQ(mails.end()[-2], "mail_size");
  EXPECT_EQ(mails.end()[-1], "fau_data");
  EXPECT_EQ(Columns(db, "ecm_recipients").back(), "send_flag");

  SqliteStatement q = db.Prepare(
      "SELECT m.subject, m.mail_size, m.fau_data IS NULL, r.send_flag "
      "FROM ecm_mails m JOIN ecm_recipients r ON r.mail_id = m.id");
  ASSERT_EQ(q.Step(), SqliteStatement::StepResult::Row);
  EXPECT_EQ(q.ColumnText(0), "kept");
  EXPECT_EQ(q.ColumnInt(1), 0);
  EXPECT_EQ(q.ColumnInt(2), 1);
  EXPECT_EQ(q.ColumnInt(3), 0);
}

TEST(UpgradeMailSchema, RunningAgainOrOnTheTemplateChangesNothing) {
  for (const std::string& from :
       {std::string(QOVRA_ECM_OLD_TEMPLATE), std::string(QOVRA_BIN_DIR) + "/ecm.edb"}) {
    SCOPED_TRACE(from);
    ScratchDir dir;
    SqliteDb db;
    ASSERT_TRUE(OpenCopy(dir, from, db)) << db.LastError();
    ASSERT_TRUE(qovra::UpgradeMailSchema(db));
    const std::string once = Schema(db);
    ASSERT_TRUE(qovra::UpgradeMailSchema(db));
    EXPECT_EQ(Schema(db), once);
  }
}

TEST(UpgradeMailSchema, ColumnsAreFoundByNameInAnyCase) {
  // SQLite names are case-blind: a column spelled otherwise is there.
  ScratchDir dir;
  SqliteDb db;
  ASSERT_TRUE(db.Open(dir.File("cased.edb"), true));
  ASSERT_TRUE(db.Exec(
      "CREATE TABLE ecm_mails (id INTEGER PRIMARY KEY, Mail_Size INTEGER, FAU_DATA TEXT);"
      "CREATE TABLE ecm_recipients (id INTEGER PRIMARY KEY, mail_id INTEGER, Send_Flag INTEGER);"));
  const std::string before = Schema(db);
  std::string error;
  ASSERT_TRUE(qovra::UpgradeMailSchema(db, &error)) << error;
  EXPECT_EQ(Schema(db), before);
}

TEST(UpgradeMailSchema, ColumnNameInsideAnotherTextDoesNotCount) {
  // A definition that mentions the names only in a default value still
  // lacks the columns.
  ScratchDir dir;
  SqliteDb db;
  ASSERT_TRUE(db.Open(dir.File("odd.edb"), true));
  ASSERT_TRUE(db.Exec(
      "CREATE TABLE ecm_mails (id INTEGER PRIMARY KEY, note TEXT DEFAULT 'mail_size fau_data');"
      "CREATE TABLE ecm_recipients (id INTEGER PRIMARY KEY, mail_id INTEGER,"
      " to_address TEXT DEFAULT 'send_flag');"));
  ASSERT_TRUE(qovra::UpgradeMailSchema(db));
  EXPECT_EQ(Columns(db, "ecm_mails").back(), "fau_data");
  EXPECT_EQ(Columns(db, "ecm_recipients").back(), "send_flag");
}

TEST(UpgradeMailSchema, MissingTablesOrAClosedDatabaseFailWithAReason) {
  ScratchDir dir;
  SqliteDb db;
  std::string error;
  EXPECT_FALSE(qovra::UpgradeMailSchema(db, &error));
  EXPECT_FALSE(error.empty());

  ASSERT_TRUE(db.Open(dir.File("empty.edb"), true));
  error.clear();
  EXPECT_FALSE(qovra::UpgradeMailSchema(db, &error));
  EXPECT_NE(error.find("ecm_recipients"), std::string::npos) << error;
}

}  // namespace
