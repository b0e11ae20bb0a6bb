// The user's folders and databases after the login, the mail-folder
// fallback, the last login, and the temporary folders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "base/records.h"
#include "base/utf.h"
#include "mail/startup.h"
#include "mail/startup_files.h"
#include "net/server_request_folders.h"
#include "platform/temp_files.h"
#include "seam/fake_ui.h"
#include "settings/settings.h"

namespace qovra {
namespace {

namespace fs = std::filesystem;
using testing::ModeOf;
using testing::ScopedEnv;
using testing::ScratchDir;

// Changes the current folder for the life of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~ScopedCwd() { fs::current_path(old_); }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  fs::path old_;
};

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = dir_.File("home");
    fs::create_directories(home_);
    env_home_.emplace("HOME", home_);
    env_config_.emplace("XDG_CONFIG_HOME", dir_.File("config"));
    prog_ = testing::MakeProgramDir(dir_, {"ecm.edb", "eca.edb"});
    settings_file_ = dir_.File("qovra.xml");
    InitAppSettings(prog_ + "qovra", TSettingsPaths{settings_file_, "", true});
    mail_ = dir_.File("mail");
    fs::create_directories(mail_);
    Options.Folders.maildir = Utf8ToUtf16(mail_);
    Session.Clear();
    Session.State = 1;
    Session.Login = "alice";
    Session.OwnContact.Email = "alice@localhost";
  }
  void TearDown() override {
    TearDownUserData();
    SetTempFolder("");
    Session.Clear();
  }

  std::string UserFolder() const { return mail_ + "/alice@localhost/"; }

  ScratchDir dir_;
  testing::ScopedFakeUi ui_;
  std::optional<ScopedEnv> env_home_;
  std::optional<ScopedEnv> env_config_;
  std::string home_, prog_, settings_file_, mail_;
};

TEST_F(StartupTest, FirstLoginMakesPrivateFoldersAndCopiesTheTemplates) {
  ASSERT_TRUE(SetUpUserData(prog_));
  EXPECT_TRUE(ui_->messages.empty());
  const std::string user = UserFolder();
  EXPECT_EQ(UserDir, user);
  EXPECT_EQ(MessagesDir, user + "messages/");
  EXPECT_EQ(GetTempFolder(), user + "temp/");
  for (const std::string& folder : {user, user + "messages/", user + "temp/"}) {
    EXPECT_EQ(ModeOf(folder), 0700) << folder;
  }
  for (const char* name : {"ecm.edb", "eca.edb"}) {
    EXPECT_EQ(ScratchDir::Read(user + name), ScratchDir::Read(prog_ + name)) << name;
    EXPECT_EQ(ModeOf(user + name), 0600) << name;
  }
  EXPECT_TRUE(MailDb.IsOpen());
  EXPECT_TRUE(AddrBookDb.IsOpen());
  // The templates carry the schemas.
  EXPECT_TRUE(MailDb.Exec("SELECT count(*) FROM ecm_mails")) << MailDb.LastError();
}

TEST_F(StartupTest, LaterLoginOpensExistingDatabasesWithoutTouchingThem) {
  ASSERT_TRUE(SetUpUserData(prog_));
  ASSERT_TRUE(MailDb.Exec("CREATE TABLE marker(x); INSERT INTO marker VALUES(42);"));
  ASSERT_TRUE(AddrBookDb.Exec("CREATE TABLE marker(y);"));
  TearDownUserData();
  const std::string user = UserFolder();
  const std::string mail_bytes = ScratchDir::Read(user + "ecm.edb");
  const std::string book_bytes = ScratchDir::Read(user + "eca.edb");
  const ino_t mail_inode = testing::InodeOf(user + "ecm.edb");

  ASSERT_TRUE(SetUpUserData(prog_));
  EXPECT_TRUE(MailDb.Exec("SELECT x FROM marker"));
  EXPECT_TRUE(AddrBookDb.Exec("SELECT y FROM marker"));
  TearDownUserData();
  EXPECT_EQ(ScratchDir::Read(user + "ecm.edb"), mail_bytes);
  EXPECT_EQ(ScratchDir::Read(user + "eca.edb"), book_bytes);
  EXPECT_EQ(testing::InodeOf(user + "ecm.edb"), mail_inode) << "the file was replaced";
}

TEST_F(StartupTest, MissingOrBrokenTemplateIsReportedAndNothingStaysOpen) {
  const struct {
    const char* what;
    std::vector<std::string> files;  // copied from the build
    const char* garbage;             // written as eca.edb when set
    const char* named;               // the message names this file
  } rows[] = {
      {"NoAddressBookTemplate", {"ecm.edb"}, nullptr, "eca.edb"},
      {"NoTemplates", {}, nullptr, "ecm.edb"},
      {"AddressBookTemplateNotADatabase", {"ecm.edb"}, "not a database at all", "eca.edb"},
      {"AddressBookTemplateEmpty", {"ecm.edb"}, "", "eca.edb"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    ScratchDir root;
    const std::string prog = testing::MakeProgramDir(root, r.files);
    if (r.garbage) root.Write("prog/eca.edb", r.garbage);
    ui_->messages.clear();
    EXPECT_FALSE(SetUpUserData(prog));
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_EQ(ui_->messages[0].flags, kMsgIconError);
    EXPECT_NE(ui_->messages[0].text.find(prog + r.named), std::string::npos)
        << ui_->messages[0].text;
    EXPECT_FALSE(MailDb.IsOpen());
    EXPECT_FALSE(AddrBookDb.IsOpen());
    EXPECT_FALSE(testing::Exists(UserFolder() + "eca.edb")) << "no empty database is made";
    TearDownUserData();
    fs::remove_all(UserFolder());
  }
}

TEST(DatabaseFile, CopyIsAllOrNothingAndNeverReplacesAFile) {
  ScratchDir dir;
  const std::string templ = testing::BuiltTemplate("ecm.edb");
  // A folder that cannot hold the copy: its parent is a file.
  dir.Write("file", "x");
  EXPECT_EQ(EnsureDatabaseFile(templ, dir.File("file/ecm.edb")), DatabaseFileResult::CopyFailed);
  EXPECT_EQ(EnsureDatabaseFile(dir.File("missing.edb"), dir.File("a.edb")),
            DatabaseFileResult::TemplateMissing);
  EXPECT_FALSE(testing::Exists(dir.File("a.edb")));

  EXPECT_EQ(EnsureDatabaseFile(templ, dir.File("b.edb")), DatabaseFileResult::Copied);
  EXPECT_EQ(ScratchDir::Read(dir.File("b.edb")), ScratchDir::Read(templ));
  dir.Write("c.edb", "mine");
  EXPECT_EQ(EnsureDatabaseFile(templ, dir.File("c.edb")), DatabaseFileResult::Existing);
  EXPECT_EQ(ScratchDir::Read(dir.File("c.edb")), "mine");
  // Nothing but the results is left in the folder.
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) entries += e.path().empty() ? 0 : 1;
  EXPECT_EQ(entries, 3u);  // file, b.edb, c.edb
}

TEST_F(StartupTest, MailFolderFallsBackToTheDocumentsFolderNeverTheCurrentOne) {
  const std::string cwd = dir_.File("cwd");
  fs::create_directories(cwd + "/relative");
  dir_.Write("a-file", "x");
  ScopedCwd in_cwd(cwd);
  for (const std::string& maildir :
       {std::string(), std::string("relative"), dir_.File("gone"), dir_.File("a-file")}) {
    SCOPED_TRACE(maildir);
    Options.Folders.maildir = Utf8ToUtf16(maildir);
    fs::remove(settings_file_);
    EXPECT_EQ(ResolveMailFolder(), home_);
    EXPECT_EQ(Utf16ToUtf8(Options.Folders.maildir), home_);
    EXPECT_TRUE(testing::Exists(settings_file_)) << "the new folder is saved";
  }
  // The XDG documents folder comes first.
  fs::create_directories(home_ + "/Docs");
  fs::create_directories(dir_.File("config"));
  dir_.Write("config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n");
  Options.Folders.maildir.clear();
  EXPECT_EQ(ResolveMailFolder(), home_ + "/Docs");
  // An existing absolute folder is kept as it is.
  Options.Folders.maildir = Utf8ToUtf16(mail_ + "/");
  fs::remove(settings_file_);
  EXPECT_EQ(ResolveMailFolder(), mail_);
  EXPECT_FALSE(testing::Exists(settings_file_));
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(StartupTest, NoUsableMailFolderEndsWithAMessageAndCreatesNothing) {
  const std::string cwd = dir_.File("cwd");
  fs::create_directories(cwd);
  ScopedCwd in_cwd(cwd);
  ScopedEnv no_home("HOME", std::nullopt);
  ScopedEnv no_config("XDG_CONFIG_HOME", std::nullopt);
  Options.Folders.maildir.clear();
  EXPECT_FALSE(SetUpUserData(prog_));
  EXPECT_EQ(ui_->messages.size(), 1u);
  EXPECT_TRUE(fs::is_empty(cwd));
  EXPECT_TRUE(UserDir.empty());
  EXPECT_FALSE(MailDb.IsOpen());
}

TEST_F(StartupTest, OwnAddressThatIsNoFolderNameIsRefused) {
  for (const char* address : {"", ".", "..", "../escape", "a/b", "line\nbreak", "del\x7F"}) {
    SCOPED_TRACE(address);
    Session.OwnContact.Email = address;
    ui_->messages.clear();
    EXPECT_FALSE(SetUpUserData(prog_));
    EXPECT_EQ(ui_->messages.size(), 1u);
    EXPECT_TRUE(fs::is_empty(mail_));
  }
  for (const char* address : {"alice@localhost", "a.b-c_d@127.0.0.1:8080", "Алиса@пример"}) {
    EXPECT_TRUE(IsSafeFolderName(address)) << address;
  }
}

TEST_F(StartupTest, LastLoginIsSavedOnlyWhenAnOnlineLoginChangedIt) {
  const struct {
    uint8_t state;
    const char* before;
    const char* login;
    bool saved;
  } rows[] = {
      {1, "bob", "alice", true},
      {1, "alice", "alice", false},
      {1, "Alice", "alice", true},  // case counts
      {2, "bob", "alice", false},   // offline logins keep the setting
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.before) + " -> " + r.login);
    Session.State = r.state;
    Session.Login = r.login;
    Options.Other.lastlgn = r.before;
    fs::remove(settings_file_);
    EXPECT_EQ(StoreLastLogin(), r.saved);
    EXPECT_EQ(testing::Exists(settings_file_), r.saved);
    EXPECT_EQ(Options.Other.lastlgn, r.saved ? r.login : r.before);
  }
  // What was saved reads back.
  Session.State = 1;
  Options.Other.lastlgn = "carol";
  ASSERT_TRUE(StoreLastLogin());
  Options.Other.lastlgn.clear();
  LoadOptions();
  EXPECT_EQ(Options.Other.lastlgn, "alice");
}

TEST_F(StartupTest, ShutDownEmptiesTheTemporaryFolderAndClosesTheDatabases) {
  ASSERT_TRUE(SetUpUserData(prog_));
  const std::string temp = GetTempFolder();
  dir_.Write("outside.txt", "keep");
  fs::create_directories(temp + "sub/deeper");
  std::ofstream(temp + "a.cer") << "x";
  std::ofstream(temp + "sub/deeper/b.wav") << "y";
  fs::create_symlink(dir_.File("outside.txt"), temp + "link");
  TearDownUserData();
  EXPECT_TRUE(fs::is_directory(temp));
  EXPECT_TRUE(fs::is_empty(temp));
  EXPECT_EQ(ScratchDir::Read(dir_.File("outside.txt")), "keep");
  EXPECT_FALSE(MailDb.IsOpen());
  EXPECT_FALSE(AddrBookDb.IsOpen());
  EXPECT_TRUE(UserDir.empty());
  EXPECT_TRUE(MessagesDir.empty());
  EXPECT_NE(GetTempFolder(), temp);
}

TEST(EmptyFolder, RemovesEverythingInsideAndNeverFollowsALink) {
  ScratchDir dir;
  const std::string outside = dir.File("outside");
  fs::create_directories(outside + "/inner");
  dir.Write("outside/keep.txt", "keep");
  dir.Write("outside/inner/keep2.txt", "keep");
  const std::string target = dir.File("target");
  fs::create_directories(target + "/a/b/c");
  dir.Write("target/top.txt", "1");
  dir.Write("target/a/b/c/deep.txt", "2");
  fs::create_directory_symlink(outside, target + "/dirlink");
  fs::create_directory_symlink(outside, target + "/a/b/dirlink2");
  fs::create_symlink(outside + "/keep.txt", target + "/filelink");
  fs::create_symlink(dir.File("nowhere"), target + "/dangling");

  EXPECT_TRUE(EmptyFolder(target));
  EXPECT_TRUE(fs::is_empty(target));
  EXPECT_EQ(ScratchDir::Read(outside + "/keep.txt"), "keep");
  EXPECT_EQ(ScratchDir::Read(outside + "/inner/keep2.txt"), "keep");

  // A folder that is itself a link is refused, its target untouched.
  fs::create_directory_symlink(outside, dir.File("folderlink"));
  EXPECT_FALSE(EmptyFolder(dir.File("folderlink")));
  EXPECT_FALSE(RemoveFolderTree(dir.File("folderlink")));
  EXPECT_TRUE(testing::Exists(outside + "/keep.txt"));
  EXPECT_FALSE(EmptyFolder(dir.File("missing")));

  EXPECT_TRUE(RemoveFolderTree(target + "/"));
  EXPECT_FALSE(testing::Exists(target));
}

TEST(PrivateTempFolder, IsPrivateToTheProcessAndRemovedAtTheEnd) {
  SetTempFolder("");
  const std::string system_temp = GetTempFolder();
  std::string path;
  {
    TPrivateTempFolder temp;
    ASSERT_TRUE(temp.Valid());
    path = temp.Path();
    EXPECT_EQ(path.rfind(system_temp, 0), 0u);
    EXPECT_EQ(ModeOf(path), 0700);
    EXPECT_EQ(GetTempFolder(), path);
    const std::string file = MakeTempFileNameA("snd", ".wav");
    EXPECT_EQ(file.rfind(path, 0), 0u) << "temporary files go into the private folder";
    fs::create_directories(path + "sub");
  }
  EXPECT_FALSE(testing::Exists(path));
  EXPECT_EQ(GetTempFolder(), system_temp);
}

}  // namespace
}  // namespace qovra
