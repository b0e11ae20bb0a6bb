// The user's folders and databases after the login, the mail-folder
// fallback, the last login, and the temporary folders.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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
#include "mail/startup_sweep.h"
#include "net/server_request_folders.h"
#include "platform/folder_lock.h"
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

TEST(LeftoverNames, OnlyTheProgramsOwnTemporaryNamesAreLeftovers) {
  const std::string uuid = "0123456789ABCDEF0123456789abcdef";
  const struct {
    std::string name;
    bool leftover;
  } cases[] = {
      // What killed runs leave.
      {uuid + ".1A2B3C4D5E6F.part", true},    // a received mail being checked
      {"~0123456789ABCDEF.part", true},       // a reply file being stored
      {uuid + ".eme.part", true},             // a mail converted on opening
      {uuid + ".eme.A1B2C3D4.tmp", true},     // a send's enciphered copy
      {uuid + ".ems.ZZ00ZZ00.tmp", true},     // a send's signature container
      {uuid + ".emz.import-4242.tmp", true},  // an import's copy
      {".~sav0123456789AB.tmp", true},        // a file being saved whole
      // A mail's own files and everything else stay.
      {uuid + ".emz", false},
      {uuid + ".eme", false},
      {uuid + ".ems", false},
      {"~" + uuid + ".emz", false},            // the draft's working copy
      {uuid.substr(1) + ".1A2B.part", false},  // not a uuid
      {uuid + ".eme.a1b2c3d4.tmp", false},     // not the send's letters
      {uuid + ".eme.A1B2C3D.tmp", false},      // seven letters
      {uuid + ".emz.import-42x.tmp", false},
      {uuid + "..part", false},
      {"~.part", false},
      {"~notes.part", false},
      {"report.tmp", false},
      {"ecm.edb", false},
      {"holiday.part", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsLeftoverFileName(c.name), c.leftover) << c.name;
  }
}

// A login sweeps what a killed run left in the user's folders: the
// program's own temporary files in the user folder and its messages
// folder, everything in its temporary folder. Mail files, other files,
// folders and links named like leftovers (and what the links point to)
// stay. A folder that another process uses is left alone.
TEST_F(StartupTest, LoginSweepsWhatAKilledRunLeftInTheUserFolders) {
  const std::string user = UserFolder();
  const std::string uuid = "0123456789ABCDEF0123456789ABCDEF";
  const auto plant = [&] {
    fs::create_directories(user + "messages/" + uuid + ".eme.ABCDEFGH.tmp.d");
    fs::create_directories(user + "temp/sub");
    for (const std::string& f : std::vector<std::string>{
             "messages/" + uuid + ".eme.ABCDEFGH.tmp", "messages/" + uuid + ".ems.ABCDEFGH.tmp",
             "messages/" + uuid + ".0A1B2C3D4E5F.part", "messages/~0011223344556677.part",
             ".~sav00112233AABB.tmp", "messages/" + uuid + ".emz", "messages/" + uuid + ".ems",
             "messages/notes.tmp", "temp/ABCDEF.emm", "temp/sub/x.wav"}) {
      std::ofstream(user + f) << "x";
    }
    dir_.Write("outside.bin", "keep");
    fs::create_symlink(dir_.File("outside.bin"), user + "messages/" + uuid + ".emz.import-1.tmp");
  };
  const std::vector<std::string> kept = {uuid + ".ems", uuid + ".emz", uuid + ".emz.import-1.tmp",
                                         "notes.tmp"};
  const auto messages = [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(user + "messages"))
      if (!e.is_directory()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };

  // The folders exist from an earlier login.
  ASSERT_TRUE(SetUpUserData(prog_));
  TearDownUserData();
  plant();
  {
    // Another copy uses the folder: nothing is swept.
    TFolderLock other;
    ASSERT_EQ(other.TryLock(user), TFolderLock::Result::Acquired);
    ASSERT_TRUE(SetUpUserData(prog_));
    EXPECT_EQ(messages().size(), kept.size() + 4);
    EXPECT_FALSE(fs::is_empty(user + "temp"));
    TearDownUserData();
  }
  ASSERT_TRUE(SetUpUserData(prog_));
  EXPECT_EQ(messages(), kept);
  EXPECT_TRUE(fs::is_directory(user + "messages/" + uuid + ".eme.ABCDEFGH.tmp.d"));
  EXPECT_FALSE(testing::Exists(user + ".~sav00112233AABB.tmp"));
  EXPECT_TRUE(fs::is_empty(user + "temp"));
  EXPECT_EQ(ScratchDir::Read(dir_.File("outside.bin")), "keep");
  // This process holds the folder while it uses it.
  TFolderLock other;
  EXPECT_EQ(other.TryLock(user), TFolderLock::Result::HeldElsewhere);
  TearDownUserData();
  EXPECT_EQ(other.TryLock(user), TFolderLock::Result::Acquired);
}

// Only the private folders of copies that no longer run go: not the one of
// a running copy, not this process's own, not another user's, not one open
// to others, not a link, not a folder of another name.
TEST(PrivateTempFolder, OnlyTheFoldersOfCopiesThatNoLongerRunAreSwept) {
  ScratchDir dir;
  const std::string root = dir.File("tmp") + "/";
  fs::create_directories(root);
  ScopedEnv tmpdir("TMPDIR", root);
  SetTempFolder("");
  const testing::CopyWithTempFolder killed(/*die=*/true);
  const testing::CopyWithTempFolder running(/*die=*/false);
  ASSERT_FALSE(killed.path.empty());
  ASSERT_FALSE(running.path.empty());
  TPrivateTempFolder own;
  ASSERT_TRUE(own.Valid());
  const auto folder = [&](const std::string& name, fs::perms perms) {
    fs::create_directories(root + name);
    fs::permissions(root + name, perms);
    return root + name;
  };
  const std::string open_to_others = folder("qovra-Open12", fs::perms::all);
  const std::string other_name = folder("qovra-test-aB3dE9", fs::perms::owner_all);
  const std::string outside = folder("outside", fs::perms::owner_all);
  std::ofstream(outside + "/keep") << "keep";
  fs::create_directory_symlink(outside, root + "qovra-Link12");
  std::string foreign;
  if (geteuid() == 0) {
    foreign = folder("qovra-Other1", fs::perms::owner_all);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
  }

  EXPECT_EQ(SweepPrivateTempFolders(root, own.Path()), 1);
  EXPECT_FALSE(testing::Exists(killed.path));
  for (const std::string& stays :
       {running.path, own.Path(), open_to_others, other_name, root + "qovra-Link12", foreign}) {
    if (!stays.empty()) {
      EXPECT_TRUE(testing::Exists(stays)) << stays;
    }
  }
  EXPECT_EQ(ScratchDir::Read(outside + "/keep"), "keep");
  EXPECT_TRUE(testing::Exists(running.path + "sound.wav"));
}

}  // namespace
}  // namespace qovra
