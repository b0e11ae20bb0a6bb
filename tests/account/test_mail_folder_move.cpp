// Moving the user's data to another mail folder, on temporary folders with
// the program's template databases: the three answers, both inner answers,
// targets inside the user folder, symbolic links, copies that fail
// part-way (a small full file system among them) or are killed, and the
// progress of a large mailbox.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/utf.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "platform/temp_files.h"
#include "qovra/account/folder_copy.h"
#include "qovra/account/mail_folder_move.h"
#include "seam/fake_ui.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
constexpr char kAddress[] = "alice@127.0.0.1";

// Every entry below root (links not followed), with its kind and size: two
// listings are equal when nothing was written, removed or replaced.
std::set<std::string> Tree(const std::string& root) {
  std::set<std::string> entries;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(root, ec))) return entries;
  for (const auto& e : fs::recursive_directory_iterator(root, ec)) {
    const auto status = e.symlink_status();
    std::string line = fs::relative(e.path(), root).string();
    if (fs::is_symlink(status)) {
      line += " -> " + fs::read_symlink(e.path()).string();
    } else if (fs::is_regular_file(status)) {
      line += " " + std::to_string(fs::file_size(e.path())) + " " +
              qovra::testing::ScratchDir::Read(e.path().string()).substr(0, 16);
    } else {
      line += "/";
    }
    entries.insert(line);
  }
  return entries;
}

// A tmpfs of size bytes mounted on path while it lives (as root only).
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& path, size_t size) : path_(path) {
    fs::create_directories(path);
    const std::string options = "size=" + std::to_string(size) + ",mode=0700";
    if (mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0) {
      mounted_ = true;
    } else {
      error_ = std::strerror(errno);
    }
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};

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

  qovra::TMailFolderChange Change(const std::string& to) {
    qovra::TMailFolderChange change;
    change.old_maildir = qovra::Utf8ToUtf16(old_mail_);
    change.new_maildir = qovra::Utf8ToUtf16(to);
    change.address = kAddress;
    change.program_dir = program_;
    change.progress = qovra::ProgressCallback;
    change.progress_data = &bar_;
    return change;
  }
  // Puts count mails of size bytes each (their names and a filler) into the
  // old messages folder; their total size.
  int64_t FillMailbox(int count, size_t size) {
    for (int i = 0; i < count; ++i) {
      std::string body = "mail " + std::to_string(i) + " ";
      body.resize(size, static_cast<char>('a' + i % 26));
      dir_.Write("old/" + std::string(kAddress) + "/messages/" + std::to_string(10000 + i) + ".emz",
                 body);
    }
    return static_cast<int64_t>(count) * static_cast<int64_t>(size);
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

  // The texts shown after the first question.
  std::vector<std::string> ShownAfterQuestion() {
    std::vector<std::string> texts = ui_->ShownTexts();
    if (!texts.empty()) texts.erase(texts.begin());
    return texts;
  }
  // The move did not happen: the old folder in use, the setting back.
  void ExpectStillOnOldFolder(const qovra::TMailFolderChange& change) {
    EXPECT_EQ(change.new_maildir, change.old_maildir);
    EXPECT_EQ(qovra::UserDir, OldDir());
    EXPECT_EQ(qovra::MessagesDir, OldDir() + "messages/");
    EXPECT_EQ(qovra::GetTempFolder(), OldDir() + "temp/");
    ASSERT_TRUE(qovra::MailDb.IsOpen());
    EXPECT_TRUE(HasTable(qovra::MailDb, "marker_old"));
    EXPECT_TRUE(HasTable(qovra::AddrBookDb, "marker_old_book"));
    ExpectOldFolderWhole();
  }

  qovra::testing::ScopedFakeUi ui_;
  qovra::testing::ScratchDir dir_;
  std::string program_, old_mail_, new_mail_;
  int bar_ = 0;  // stands for the progress window's bar
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
  // "messages" is a file in the new folder: the mail files cannot be
  // copied (nor the databases, which come last).
  fs::create_directories(NewDir());
  dir_.Write("new/" + std::string(kAddress) + "/messages", "in the way");
  ui_->QueueAnswer(qovra::kMsgResultYes);
  ui_->QueueAnswer(qovra::kMsgResultOk);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  ASSERT_EQ(ui_->messages.size(), 2u);
  EXPECT_EQ(ui_->messages[1].text,
            qovra::GetMsg("msgMailDataCopyFailed") + "\n" + NewDir() + "messages/");
  EXPECT_FALSE(fs::exists(NewDir() + "ecm.edb")) << "a half copy offers no data to use";
  EXPECT_EQ(qovra::testing::ScratchDir::Read(NewDir() + "messages"), "in the way")
      << "what was there stays";
  ExpectStillOnOldFolder(change);
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

// A new user folder inside the old one would copy itself level after
// level; the same folder reached another way would be copied onto itself.
// Both are refused before anything is asked or written.
TEST_F(MailFolderMoveTest, ATargetInsideTheUserFolderIsRefusedBeforeAnythingIsWritten) {
  fs::create_directory_symlink(old_mail_, dir_.File("mail-link"));
  fs::create_directory_symlink(OldDir() + "messages", dir_.File("messages-link"));
  fs::create_directories(dir_.File("old-sibling"));
  struct Row {
    const char* name;
    std::string to;
    bool refused;
  };
  const Row rows[] = {
      {"the user folder as the mail folder", OldDir(), true},
      {"a new folder deep inside it", OldDir() + "messages/sub/deeper", true},
      {"the old mail folder through a link", dir_.File("mail-link"), true},
      {"through a link into the user folder", dir_.File("messages-link") + "/new", true},
      {"with .. leading back into it", new_mail_ + "/../old/" + kAddress + "/x", true},
      {"a sibling that shares the name's start", dir_.File("old-sibling"), false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ui_->messages.clear();
    const std::set<std::string> before = Tree(dir_.path());
    ui_->QueueAnswer(qovra::kMsgResultCancel);
    qovra::TMailFolderChange change = Change(r.to);
    EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsCancelled);
    if (r.refused) {
      const std::string new_dir = qovra::UserFolderOf(change.new_maildir, kAddress);
      EXPECT_EQ(ui_->ShownTexts(),
                std::vector<std::string>{qovra::GetMsg("msgMailDirectoryInsideUserFolder") + "\n" +
                                         new_dir});
      EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconError);
      ui_->answers.clear();
    } else {
      EXPECT_EQ(ui_->ShownTexts(),
                std::vector<std::string>{qovra::GetMsg("msgMailDirectoryChanged")});
    }
    EXPECT_EQ(Tree(dir_.path()), before) << "nothing written";
    EXPECT_EQ(change.new_maildir, qovra::Utf8ToUtf16(r.to)) << "the field keeps the choice";
    EXPECT_EQ(qovra::UserDir, OldDir());
    EXPECT_TRUE(HasTable(qovra::MailDb, "marker_old"));
  }
  EXPECT_TRUE(ui_->timer_changes.empty());
}

TEST_F(MailFolderMoveTest, SymbolicLinksAreCopiedAsWhatTheyPointTo) {
  // The mail files live elsewhere, reached through links: a linked folder
  // and a linked file.
  const std::string store = dir_.File("store");
  fs::create_directories(store);
  fs::rename(OldDir() + "messages", store + "/messages");
  fs::create_directory_symlink(store + "/messages", OldDir() + "messages");
  dir_.Write("store/m2.emz", "mail two");
  fs::create_symlink(store + "/m2.emz", store + "/messages/m2.emz");
  const std::set<std::string> old_before = Tree(OldDir());

  ui_->QueueAnswer(qovra::kMsgResultYes);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  EXPECT_EQ(ui_->messages.size(), 1u) << ::testing::PrintToString(ui_->ShownTexts());
  ExpectOnNewFolder();
  EXPECT_FALSE(fs::is_symlink(NewDir() + "messages"));
  EXPECT_FALSE(fs::is_symlink(NewDir() + "messages/m2.emz"));
  EXPECT_EQ(qovra::testing::ScratchDir::Read(NewDir() + "messages/m1.emz"), "mail one");
  EXPECT_EQ(qovra::testing::ScratchDir::Read(NewDir() + "messages/m2.emz"), "mail two");
  EXPECT_EQ(Tree(OldDir()), old_before) << "the old folder and its links stay";
}

// A link that leads nowhere, or back into a folder that holds it, cannot be
// copied as what it points to: the move stops before anything is written.
TEST_F(MailFolderMoveTest, ALinkThatCannotBeCopiedStopsTheMoveBeforeAnyWrite) {
  struct Row {
    const char* name;
    std::string link;
    std::string target;
  };
  const Row rows[] = {
      {"leads nowhere", OldDir() + "messages/gone.emz", dir_.File("no-such-mail")},
      {"leads into its own folder", OldDir() + "messages/loop", OldDir()},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ui_->messages.clear();
    fs::create_symlink(r.target, r.link);
    ui_->QueueAnswer(qovra::kMsgResultYes);
    ui_->QueueAnswer(qovra::kMsgResultOk);
    qovra::TMailFolderChange change = Change(new_mail_);
    EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
    EXPECT_EQ(ShownAfterQuestion(),
              std::vector<std::string>{qovra::GetMsg("msgMailDataLinkNotCopied") + "\n" + r.link});
    EXPECT_FALSE(fs::exists(new_mail_)) << "the folders made for the move go again";
    ExpectStillOnOldFolder(change);
    fs::remove(r.link);
  }
}

// Why a copy stopped, at the copy itself, and that undoing it leaves the
// target as it was.
TEST_F(MailFolderMoveTest, ACopyTellsWhyItStoppedAndUndoesItsWrites) {
  struct Row {
    const char* name;
    std::function<void()> plant;
    qovra::TCopyFailure failure;
    int error;
    std::string path;
  };
  const std::string from = OldDir();
  const std::string to = dir_.File("target") + "/";
  const Row rows[] = {
      {"a file where a folder goes", [&] { dir_.Write("target/messages", "x"); },
       qovra::TCopyFailure::kWriteFailed, ENOTDIR, to + "messages/"},
      {"a folder where a file goes", [&] { fs::create_directories(to + "ecm.edb"); },
       qovra::TCopyFailure::kWriteFailed, EISDIR, to + "ecm.edb"},
      {"a link to nowhere", [&] { fs::create_symlink(dir_.File("none"), from + "messages/x.emz"); },
       qovra::TCopyFailure::kBrokenLink, ENOENT, from + "messages/x.emz"},
      {"a link to its own folder",
       [&] { fs::create_directory_symlink(from + "messages", from + "messages/self"); },
       qovra::TCopyFailure::kLinkLoop, ELOOP, from + "messages/self"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    fs::create_directories(to);
    r.plant();
    const std::set<std::string> before = Tree(to);
    {
      qovra::TCopyJournal journal;
      qovra::TFolderCopyOptions options;
      options.skip_top_level = {"temp"};
      const qovra::TFolderCopyResult result = qovra::CopyFolderContents(from, to, options, journal);
      EXPECT_EQ(result.failure, r.failure);
      EXPECT_EQ(result.error, r.error) << std::strerror(result.error);
      EXPECT_EQ(result.path, r.path);
    }
    EXPECT_EQ(Tree(to), before);
    fs::remove_all(to);
    fs::remove(from + "messages/x.emz");
    fs::remove(from + "messages/self");
  }
}

TEST_F(MailFolderMoveTest, AFailedCopyPutsBackTheFilesItReplaced) {
  // The new folder holds an address book of its own, and a folder where
  // the mail database would go: the copy replaces the book, then fails.
  PlantNewDatabase("eca.edb", "marker_new_book");
  fs::create_directories(NewDir() + "ecm.edb");
  dir_.Write("new/" + std::string(kAddress) + "/messages/kept.emz", "kept");
  const std::set<std::string> new_before = Tree(NewDir());
  ui_->QueueAnswer(qovra::kMsgResultYes);
  ui_->QueueAnswer(qovra::kMsgResultNo);
  ui_->QueueAnswer(qovra::kMsgResultOk);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  EXPECT_EQ(ShownAfterQuestion(),
            (std::vector<std::string>{
                qovra::GetMsg("msgMailDataExistsIgnoreCopy"),
                qovra::GetMsg("msgMailDataCopyFailed") + "\n" + NewDir() + "ecm.edb"}));
  EXPECT_EQ(Tree(NewDir()), new_before) << "only what the copy wrote is gone";
  qovra::SqliteDb book;
  ASSERT_TRUE(book.Open(NewDir() + "eca.edb"));
  EXPECT_TRUE(HasTable(book, "marker_new_book"));
  ExpectStillOnOldFolder(change);
}

// The new mail folder is a small file system that fills up half way
// through the mail files.
TEST_F(MailFolderMoveTest, ACopyThatFillsTheFileSystemRemovesWhatItWrote) {
  FillMailbox(24, 40 * 1024);
  SmallFileSystem small(new_mail_, 256 * 1024);
  if (!small.mounted()) {
    GTEST_SKIP() << "no small file system could be mounted on " << new_mail_ << " ("
                 << small.error() << "): the full-disk case is not tested";
  }
  ui_->QueueAnswer(qovra::kMsgResultYes);
  ui_->QueueAnswer(qovra::kMsgResultOk);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  const std::vector<std::string> shown = ShownAfterQuestion();
  ASSERT_EQ(shown.size(), 1u);
  const std::string prefix = qovra::GetMsg("msgMailDataCopyFailed") + "\n" + NewDir() + "messages/";
  EXPECT_EQ(shown[0].rfind(prefix, 0), 0u) << shown[0] << "\nnames the mail that did not fit";
  EXPECT_TRUE(Tree(new_mail_).empty()) << ::testing::PrintToString(Tree(new_mail_));
  ExpectStillOnOldFolder(change);

  // A second try is no "data already there" question.
  ui_->messages.clear();
  ui_->QueueAnswer(qovra::kMsgResultYes);
  ui_->QueueAnswer(qovra::kMsgResultOk);
  qovra::TMailFolderChange again = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, again), qovra::kOptionsApplied);
  ASSERT_EQ(ui_->messages.size(), 2u);
  EXPECT_EQ(ui_->messages[1].text.rfind(qovra::GetMsg("msgMailDataCopyFailed"), 0), 0u);
}

// The machine dies while the mail files are copied: the setting was never
// changed, and the half copy holds no database that a retry would offer.
TEST_F(MailFolderMoveTest, AMoveKilledHalfWayLeavesNoDataToOffer) {
  FillMailbox(40, 16 * 1024);
  ui_->QueueAnswer(qovra::kMsgResultYes);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    qovra::TMailFolderChange change = Change(new_mail_);
    change.progress = [](void*, int64_t total, int64_t done) {
      if (done > total / 2) kill(getpid(), SIGKILL);
    };
    (void)qovra::ChangeMailFolder(nullptr, change);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "killed half way";
  EXPECT_TRUE(fs::exists(NewDir() + "messages/10000.emz")) << "it was killed mid-copy";
  EXPECT_FALSE(fs::exists(NewDir() + "ecm.edb"));
  EXPECT_FALSE(fs::exists(NewDir() + "eca.edb"));
  ExpectOldFolderWhole();

  // The next start tries again: one question, and everything arrives.
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  EXPECT_EQ(ui_->ShownTexts(), std::vector<std::string>{qovra::GetMsg("msgMailDirectoryChanged")});
  ExpectOnNewFolder();
  EXPECT_TRUE(HasTable(qovra::MailDb, "marker_old"));
  EXPECT_EQ(Tree(NewDir() + "messages"), Tree(OldDir() + "messages"));
}

TEST_F(MailFolderMoveTest, ALargeMailboxShowsItsProgressToTheEnd) {
  const int64_t mail_bytes = FillMailbox(500, 16 * 1024);
  const int64_t total =
      mail_bytes + static_cast<int64_t>(fs::file_size(OldDir() + "ecm.edb") +
                                        fs::file_size(OldDir() + "eca.edb") +
                                        fs::file_size(OldDir() + "messages/m1.emz"));
  ui_->QueueAnswer(qovra::kMsgResultYes);
  qovra::TMailFolderChange change = Change(new_mail_);
  EXPECT_EQ(qovra::ChangeMailFolder(nullptr, change), qovra::kOptionsApplied);
  EXPECT_EQ(ui_->messages.size(), 1u) << ::testing::PrintToString(ui_->ShownTexts());
  ExpectOnNewFolder();
  EXPECT_EQ(Tree(NewDir() + "messages"), Tree(OldDir() + "messages"));

  using Kind = qovra::testing::ProgressEvent::Kind;
  const auto& events = ui_->progress;
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events.front().kind, Kind::Show);
  EXPECT_EQ(events.front().title, qovra::GetMsg("msgMovingMailData"));
  EXPECT_EQ(events.front().status, NewDir());
  EXPECT_TRUE(events.front().flag) << "with its bar";
  EXPECT_EQ(events.back().kind, Kind::Hide);
  int64_t last = -1;
  size_t reports = 0;
  for (size_t i = 1; i + 1 < events.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(events[i].kind, Kind::Report);
    EXPECT_EQ(events[i].bar, &bar_);
    EXPECT_EQ(events[i].total, total);
    EXPECT_GE(events[i].done, last);
    last = events[i].done;
    ++reports;
  }
  EXPECT_EQ(events[1].done, 0) << "the total comes first";
  EXPECT_EQ(last, total);
  EXPECT_GE(reports, 500u) << "a move for every mail at least";
}

}  // namespace
