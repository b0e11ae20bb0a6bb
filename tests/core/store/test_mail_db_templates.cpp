// The template databases generated at build time.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "store/mail_db.h"
#include "store/sqlite_db.h"
#include "support/scratch_dir.h"

namespace {

using qovra::SqliteDb;
using qovra::SqliteStatement;
using qovra::testing::ScratchDir;

// The create statement of a table or index; empty when there is none.
std::string Definition(SqliteDb& db, const std::string& name) {
  SqliteStatement q = db.Prepare("SELECT sql FROM sqlite_master WHERE name=?");
  q.Bind(1, name);
  return q.Step() == SqliteStatement::StepResult::Row ? q.ColumnText(0) : "";
}

bool OpenCopy(ScratchDir& dir, const std::string& from, SqliteDb& db) {
  const std::string path = dir.File("copy.edb");
  std::filesystem::copy_file(from, path);
  return db.Open(path);
}

TEST(Templates, MailTemplateHasTheLateColumnsAndIndexes) {
  ScratchDir dir;
  SqliteDb db;
  ASSERT_TRUE(OpenCopy(dir, std::string(QOVRA_BIN_DIR) + "/ecm.edb", db)) << db.LastError();
  EXPECT_NE(Definition(db, "ecm_mails").find("[mail_size] INTEGER DEFAULT 0"), std::string::npos);
  EXPECT_NE(Definition(db, "ecm_mails").find("[fau_data] VARCHAR(128)"), std::string::npos);
  EXPECT_NE(Definition(db, "ecm_recipients").find("[send_flag] INTEGER DEFAULT 0"),
            std::string::npos);
  for (const char* index :
       {"iecm_mails_uuid", "iecm_mails_folder", "iecm_recipients_mail", "iecm_recipients_suid"}) {
    EXPECT_FALSE(Definition(db, index).empty()) << index;
  }
}

TEST(Templates, OldMailTemplateWorksOnceTheRepairAddedTheColumns) {
  ScratchDir dir;
  SqliteDb db;
  ASSERT_TRUE(OpenCopy(dir, QOVRA_ECM_OLD_TEMPLATE, db)) << db.LastError();
  for (const char* column : {"mail_size", "fau_data"}) {
    EXPECT_EQ(Definition(db, "ecm_mails").find(column), std::string::npos) << column;
  }
  EXPECT_EQ(Definition(db, "ecm_recipients").find("send_flag"), std::string::npos);
  qovra::TMailMessage m;
  m.Uuid = "0123456789ABCDEF0123456789ABCDEF";
  m.MailSize = 10;
  EXPECT_EQ(qovra::SaveMailToDatabase(db, m, "a@x", nullptr, nullptr, false), 0);  // no mail_size

  ASSERT_TRUE(db.Exec("ALTER TABLE ecm_recipients ADD COLUMN [send_flag] INTEGER DEFAULT 0"));
  ASSERT_TRUE(db.Exec("ALTER TABLE ecm_mails ADD COLUMN [mail_size] INTEGER DEFAULT 0"));
  ASSERT_TRUE(db.Exec("ALTER TABLE ecm_mails ADD COLUMN [fau_data] VARCHAR(128)"));
  m.Recipients.Add("b@x");
  EXPECT_GT(qovra::SaveMailToDatabase(db, m, "a@x", nullptr, nullptr, false), 0) << db.LastError();
}

TEST(Templates, AddressBookTemplateHasItsFiveTables) {
  ScratchDir dir;
  SqliteDb db;
  ASSERT_TRUE(OpenCopy(dir, std::string(QOVRA_BIN_DIR) + "/eca.edb", db)) << db.LastError();
  for (const char* table :
       {"eca_contacts", "eca_companies", "eca_job_titles", "eca_groups", "eca_group_contacts"}) {
    EXPECT_FALSE(Definition(db, table).empty()) << table;
  }
  // The text the address book's repair looks for, and its unique index.
  EXPECT_NE(Definition(db, "eca_groups").find("[parent_id] INTEGER DEFAULT 0"), std::string::npos);
  EXPECT_NE(Definition(db, "igroup_id_contact_id").find("UNIQUE"), std::string::npos);
  // Row ids come back as the last inserted row id; parent_id defaults to 0.
  ASSERT_TRUE(db.Exec("INSERT INTO eca_groups (name) VALUES ('g')"));
  EXPECT_EQ(db.LastInsertRowId(), 1);
  SqliteStatement q = db.Prepare("SELECT parent_id FROM eca_groups WHERE id=1");
  ASSERT_EQ(q.Step(), SqliteStatement::StepResult::Row);
  EXPECT_EQ(q.ColumnText(0), "0");
}

}  // namespace
