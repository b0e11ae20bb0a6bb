// Moving the user's data to another mail folder, on temporary folders with
// the program's template databases: the three answers, both inner answers,
// and a copy that fails part-way.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/utf.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "platform/temp_files.h"
#include "qovra/account/mail_folder_move.h"
#include "seam/fake_ui.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
constexpr char kAddress[] = "alice@127.0.0.1";

class MailFolderMoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.File("prog") + "/";
    fs::create_directories(program_);
    for (const char* file : {"ecm.edb", "eca.edb"})
      fs::copy_file(std::string(QOVRA_BIN_DIR) + "/" + file, program_ + file);
    old_mail_ = dir_.File("old");
    new_mail_ = dir_.File("new");
    fs::create_directories(old_mail_);
    // The user's data as the program sets it up after a login.
    ASSERT_TRUE(qovra::MakeUserFolders(old_mail_, kAddress));
    ASSERT_TRUE(qovra::OpenUserDatabases(program_));
    ASSERT_TRUE(qovra::MailDb.Exec("CREATE TABLE marker_old (x)"));
    ASSERT_TRUE(qovra::AddrBookDb.Exec("CREATE TABLE marker_old_book (x)"));
    dir_.Write("old/" + std::string(kAddress) + "/messages/m1.emz", "mail one");
    dir_.Write("old/" + std::string(kAddress) + "/temp/t.tmp", "temporary");
    ui_->timer_enabled = true;
  }
  void TearDown() override {
    qovra::TearDownUserData();
    qovra::SetTempFolder("");
  }

  qovra::TMailFolderChange Change(const std::string& to) const {
    return {qovra::Utf8ToUtf16(old_mail_), qovra::Utf8ToUtf16(to), kAddress, program_};
  }
  std::string OldDir() const { return old_mail_ + "/" + kAddress + "/"; }
  std::string NewDir() const { return new_mail_ + "/" + kAddress + "/"; }

  // Whether the open database db has table name.
  static bool HasTable(qovra::SqliteDb& db, const std::string& name) {
    auto st = db.Prepare("SELECT 1 FROM sqlite_master WHERE name = ?1");
    st.Bind(1, name);
    return st.Step() == qovra::SqliteStatement::StepResult::Row;
  }

  // A database in the new user folder made from the template, with a table
  // of its own.
  void PlantNewDatabase(const char* file, const char* table) {
    fs::create_directories(NewDir());
    fs::copy_file(program_ + file, NewDir() + file);
    qovra::SqliteDb db;
    ASSERT_TRUE(db.Open(NewDir() + file));
    ASSERT_TRUE(db.Exec(std::string("CREATE TABLE ") + table + " (x)"));
  }

  void ExpectOnNewFolder() {
    EXPECT_EQ(qovra::UserDir, NewDir());
    EXPECT_EQ(qovra::MessagesDir, NewDir() + "messages/");
    EXPECT_EQ(qovra::GetTempFolder(), NewDir() + "temp/");
    EXPECT_TRUE(fs::is_directory(NewDir() + "temp"));
    EXPECT_TRUE(qovra::MailDb.IsOpen());
    EXPECT_TRUE(qovra::AddrBookDb.IsOpen());
  }
  // The old folder still holds everything it held.
  void ExpectOldFolderWhole() {
    EXPECT_EQ(qovra::testing::ScratchDir::Read(OldDir() + "messages/m1.emz"), "mail one");
    qovra::SqliteDb db;
    ASSERT_TRUE(db.Open(OldDir() + "ecm.edb"));
    EXPECT_TRUE(HasTable(db, "marker_old"));
  }

  qovra::testing::ScopedFakeUi ui_;
  qovra::testing::ScratchDir dir_;
  std::string program_, old_mail_, new_mail_;
};

TEST_F(MailFolderMoveTest, WhenNothingIsAsked) {
  struct Row {
    const char* name;
    std::string address;
    std::string to;
  };
  const Row rows[] = {
      {"not logged in", "", new_mail_},
      {"same folder", kAddress, old_mail_},
      {"same folder with a trailing slash", kAddress, old_mail_ + "/"},
  };
  for (const Row& r : rows) {
    qovra::TMailFolderChange change = Change(r.to);
    change.address = r.address;
    EXPECT_FALSE(qovra::MailFolderChangeNeeded(change)) << r.name;
    EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied) << r.name;
    EXPECT_EQ(change.new_maildir, qovra::Utf8ToUtf16(r.to)) << r.name;
  }
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_FALSE(fs::exists(new_mail_));
  EXPECT_EQ(qovra::UserDir, OldDir());
}

TEST_F(MailFolderMoveTest, LetterCaseCountsInFolderNames) {
  qovra::TMailFolderChange change = Change(dir_.File("OLD"));
  EXPECT_TRUE(qovra::MailFolderChangeNeeded(change));
}

TEST_F(MailFolderMoveTest, CancelChangesNothing) {
  ui_->QueueAnswer(qovra::kMsgResultCancel);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsCancelled);
  EXPECT_EQ(ui_->ShownTexts(), std::vector<std::string>{qovra::GetMsg("msgMailDirectoryChanged")});
  EXPECT_EQ(ui_->messages[0].flags, 40) << "question with Yes, No and Cancel";
  EXPECT_FALSE(fs::exists(new_mail_));
  EXPECT_EQ(qovra::UserDir, OldDir());
  EXPECT_TRUE(HasTable(qovra::MailDb, "marker_old"));
  EXPECT_TRUE(ui_->timer_changes.empty());
}

TEST_F(MailFolderMoveTest, YesIntoAnEmptyFolderCopiesTheData) {
  ui_->QueueAnswer(qovra::kMsgResultYes);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  EXPECT_EQ(ui_->messages.size(), 1u) << "no second question without data there";
  ExpectOnNewFolder();
  EXPECT_TRUE(HasTable(qovra::MailDb, "marker_old"));
  EXPECT_TRUE(HasTable(qovra::AddrBookDb, "marker_old_book"));
  EXPECT_EQ(qovra::testing::ScratchDir::Read(NewDir() + "messages/m1.emz"), "mail one");
  EXPECT_FALSE(fs::exists(NewDir() + "temp/t.tmp")) << "the temporary folder is not copied";
  ExpectOldFolderWhole();
  EXPECT_EQ(ui_->timer_changes, (std::vector<bool>{false, true})) << "paused while moving";
}

TEST_F(MailFolderMoveTest, YesThenUseTheDataThereFillsInOnlyWhatIsMissing) {
  PlantNewDatabase("ecm.edb", "marker_new");
  ui_->QueueAnswer(qovra::kMsgResultYes);
  ui_->QueueAnswer(qovra::kMsgResultYes);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsExistingData);
  EXPECT_EQ(ui_->ShownTexts(),
            (std::vector<std::string>{qovra::GetMsg("msgMailDirectoryChanged"),
                                      qovra::GetMsg("msgMailDataExistsIgnoreCopy")}));
  ExpectOnNewFolder();
  EXPECT_TRUE(HasTable(qovra::MailDb, "marker_new")) << "the mail database there is kept";
  EXPECT_FALSE(HasTable(qovra::MailDb, "marker_old"));
  EXPECT_TRUE(HasTable(qovra::AddrBookDb, "marker_old_book")) << "the missing book comes along";
  EXPECT_FALSE(fs::exists(NewDir() + "messages/m1.emz")) << "mail files are not copied";
  ExpectOldFolderWhole();
}

TEST_F(MailFolderMoveTest, YesThenNoCopiesTheOldDataOverTheNew) {
  PlantNewDatabase("eca.edb", "marker_new_book");
  ui_->QueueAnswer(qovra::kMsgResultYes);
  ui_->QueueAnswer(qovra::kMsgResultNo);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  ExpectOnNewFolder();
  EXPECT_TRUE(HasTable(qovra::MailDb, "marker_old"));
  EXPECT_TRUE(HasTable(qovra::AddrBookDb, "marker_old_book"));
  EXPECT_FALSE(HasTable(qovra::AddrBookDb, "marker_new_book"));
  EXPECT_EQ(qovra::testing::ScratchDir::Read(NewDir() + "messages/m1.emz"), "mail one");
  ExpectOldFolderWhole();
}

TEST_F(MailFolderMoveTest, NoStartsWithTheNewFolderAsItIs) {
  PlantNewDatabase("eca.edb", "marker_new_book");
  ui_->QueueAnswer(qovra::kMsgResultNo);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  EXPECT_EQ(ui_->messages.size(), 1u);
  ExpectOnNewFolder();
  EXPECT_FALSE(HasTable(qovra::MailDb, "marker_old")) << "a new mail database from the template";
  EXPECT_TRUE(HasTable(qovra::MailDb, "ecm_mails"));
  EXPECT_TRUE(HasTable(qovra::AddrBookDb, "marker_new_book")) << "the book there is kept";
  EXPECT_FALSE(fs::exists(NewDir() + "messages/m1.emz"));
  ExpectOldFolderWhole();
}

TEST_F(MailFolderMoveTest, ACopyThatFailsPartWayLeavesEverythingOnTheOldFolder) {
  // "messages" is a file in the new folder: the databases (earlier in name
  // order) are copied, the mail files cannot be.
  fs::create_directories(NewDir());
  dir_.Write("new/" + std::string(kAddress) + "/messages", "in the way");
  ui_->QueueAnswer(qovra::kMsgResultYes);
  ui_->QueueAnswer(qovra::kMsgResultOk);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  ASSERT_EQ(ui_->messages.size(), 2u);
  EXPECT_EQ(ui_->messages[1].text,
            qovra::GetMsg("msgMailDataCopyFailed") + "\n" + NewDir() + "messages/");
  EXPECT_TRUE(fs::exists(NewDir() + "ecm.edb")) << "it did fail part-way";
  EXPECT_EQ(change.new_maildir, change.old_maildir) << "the setting goes back";
  EXPECT_EQ(qovra::UserDir, OldDir());
  EXPECT_EQ(qovra::MessagesDir, OldDir() + "messages/");
  EXPECT_EQ(qovra::GetTempFolder(), OldDir() + "temp/");
  ASSERT_TRUE(qovra::MailDb.IsOpen());
  EXPECT_TRUE(HasTable(qovra::MailDb, "marker_old"));
  EXPECT_TRUE(HasTable(qovra::AddrBookDb, "marker_old_book"));
  ExpectOldFolderWhole();
  EXPECT_EQ(ui_->timer_changes, (std::vector<bool>{false, true}));
}

TEST_F(MailFolderMoveTest, ARelativeFolderIsRefused) {
  ui_->QueueAnswer(qovra::kMsgResultYes);
  qovra::TMailFolderChange change = Change("relative/mail");
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  ASSERT_EQ(ui_->messages.size(), 2u);
  EXPECT_EQ(ui_->messages[1].text.rfind(qovra::GetMsg("msgCannotCreateFolder"), 0), 0u);
  EXPECT_EQ(change.new_maildir, change.old_maildir);
  EXPECT_FALSE(fs::exists("relative"));
  EXPECT_EQ(qovra::UserDir, OldDir());
}

}  // namespace
