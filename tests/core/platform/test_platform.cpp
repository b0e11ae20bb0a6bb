#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/secure_wipe.h"
#include "base/utf.h"
#include "platform/file_place.h"
#include "platform/file_utils.h"
#include "platform/process_runner.h"
#include "platform/proxy_env.h"
#include "platform/temp_files.h"
#include "support/file_system_calls.h"
#include "support/scratch_dir.h"

namespace qovra {
namespace {

using testing::ScratchDir;

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Sets environment variables for one test and puts the old values back.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    Remember(name);
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }

 private:
  void Remember(const char* name) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// ---- temporary files ----------------------------------------------------

class TempFiles : public ::testing::Test {
 protected:
  void SetUp() override { SetTempFolder(dir_.path()); }
  void TearDown() override {
    SetTempFolder("");
    SetTempNameSourceForTesting(nullptr);
  }
  ScratchDir dir_;
};

TEST_F(TempFiles, CreatesPrivateUniqueFilesWithTheAskedExtension) {
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) {
    const std::string name = MakeTempFileNameA("tmpextra", i % 2 ? ".tmp" : ".wav");
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(names.insert(name).second) << "name handed out twice: " << name;
    EXPECT_EQ(name.rfind(dir_.path() + "/tmp", 0), 0u) << name;  // first three characters
    EXPECT_EQ(name.substr(name.size() - 4), i % 2 ? ".tmp" : ".wav");
    // the final name itself exists, also for another extension than .tmp
    ASSERT_TRUE(Exists(name)) << name;
    EXPECT_EQ(ModeOf(name), 0600u);
  }
  const std::u16string wide = MakeTempFileNameW(u"\u0436ab", u".emz");
  ASSERT_FALSE(wide.empty());
  EXPECT_TRUE(Exists(Utf16ToUtf8(wide)));
}

std::deque<std::string> g_names;
std::string NextScriptedName() {
  std::string n = g_names.empty() ? std::string("LAST") : g_names.front();
  if (!g_names.empty()) g_names.pop_front();
  return n;
}

TEST_F(TempFiles, PlantedSymlinkAndTakenNamesAreSkipped) {
  const std::string target = dir_.Write("target.txt", "precious");
  ASSERT_EQ(symlink(target.c_str(), dir_.File("tmpAAAA.wav").c_str()), 0);
  dir_.Write("tmpBBBB.wav", "someone else's");
  g_names = {"AAAA", "BBBB", "CCCC"};
  SetTempNameSourceForTesting(&NextScriptedName);

  const std::string name = MakeTempFileNameA("tmp", ".wav");
  EXPECT_EQ(name, dir_.File("tmpCCCC.wav"));
  EXPECT_EQ(ScratchDir::Read(target), "precious");
  EXPECT_EQ(ScratchDir::Read(dir_.File("tmpBBBB.wav")), "someone else's");
  EXPECT_EQ(ScratchDir::Read(name), "");
}

TEST_F(TempFiles, PrefixCannotLeaveTheFolder) {
  g_names = {"X"};
  SetTempNameSourceForTesting(&NextScriptedName);
  const std::string name = MakeTempFileNameA("../", "/../.tmp");
  EXPECT_EQ(name, dir_.File(".._X_.._.tmp"));
}

TEST(TempFolder, PrivateFolderIsMode0700) {
  const std::string folder = MakePrivateTempFolder("qovra-test-");
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(ModeOf(folder.substr(0, folder.size() - 1)), 0700u);
  rmdir(folder.c_str());
}

// ---- process runner -----------------------------------------------------

TEST(ProcessRunner, PassesArgumentsUnchangedWithoutAShell) {
  ScratchDir dir;
  const std::string out = dir.File("argv.txt");
  const std::string marker = dir.File("injected");
  const std::vector<std::string> args = {
      "two words",
      "\"quoted\"",
      "$(touch " + marker + ")",
      "`touch " + marker + "`",
      "'single'",
      "",
      "*",
      "a;b|c&d",
  };
  std::vector<std::string> argv = {"/bin/sh", "-c", "printf '[%s]\\n' \"$@\" > \"$0\"", out};
  argv.insert(argv.end(), args.begin(), args.end());
  ASSERT_EQ(RunProcessAndWait(argv, true), 0);
  std::string expected;
  for (const auto& a : args) expected += "[" + a + "]\n";
  EXPECT_EQ(ScratchDir::Read(out), expected);
  EXPECT_FALSE(Exists(marker));
}

TEST(ProcessRunner, ReportsExitCodesSignalsAndStartFailures) {
  EXPECT_EQ(RunProcessAndWait({"sh", "-c", "exit 3"}, false), 3);  // found in PATH
  EXPECT_EQ(RunProcessAndWait({"/bin/sh", "-c", "kill -9 $$"}, false), 128 + 9);
  EXPECT_EQ(RunProcessAndWait({"/nonexistent/program"}, false), kProcessNotStarted);
  EXPECT_EQ(RunProcessAndWait({}, false), kProcessNotStarted);
}

TEST(ProcessRunner, WaitsUntilTheProgramEnds) {
  ScratchDir dir;
  const std::string out = dir.File("late.txt");
  ASSERT_EQ(RunProcessAndWait({"/bin/sh", "-c", "sleep 0.2; echo done > \"$0\"", out}, true), 0);
  EXPECT_EQ(ScratchDir::Read(out), "done\n");
}

// ---- files and folders --------------------------------------------------

TEST(Files, SaveBufferReplacesWholeAndReportsFailure) {
  ScratchDir dir;
  const std::string name = dir.Write("settings.xml", "old old old old");
  chmod(name.c_str(), 0644);
  ASSERT_TRUE(SaveBufferToFileA("new", 3, name));
  EXPECT_EQ(ScratchDir::Read(name), "new");
  EXPECT_EQ(ModeOf(name), 0600u);
  ASSERT_TRUE(SaveStringsToFileW({"<a>", "b"}, Utf8ToUtf16(name)));
  EXPECT_EQ(ScratchDir::Read(name), "<a>\r\nb\r\n");
  ASSERT_TRUE(SaveBufferToFileW("", 0, Utf8ToUtf16(name)));
  EXPECT_EQ(ScratchDir::Read(name), "");

  EXPECT_FALSE(SaveBufferToFileA("x", 1, dir.File("missing/dir/file")));
  EXPECT_FALSE(SaveBufferToFileA("x", 1, dir.path() + "/"));
  EXPECT_FALSE(SaveBufferToFileA("x", 1, ""));
  // nothing but the target is left behind
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

// A finished file gets its name without replacing one, also where the file
// system has no hard links (FAT gives EPERM) or no rename that refuses to
// replace (EINVAL): then a rename, then an exclusive copy stands in.
TEST(Files, PlaceNeverReplacesAndWorksWithoutHardLinks) {
  using qovra_test::FileSystemKind;
  const struct {
    const char* name;
    FileSystemKind kind;
  } cases[] = {
      {"hard links", FileSystemKind::Full},
      {"no hard links", FileSystemKind::NoHardLinks},
      {"no hard links, no rename flag", FileSystemKind::NoLinksNorFlag},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const qovra_test::ScopedFileSystem file_system(c.kind);
    const std::string temp = dir.File("mail.part"), target = dir.File("mail.emz");
    dir.Write("mail.part", "checked bytes");
    ASSERT_EQ(chmod(temp.c_str(), 0600), 0);
    EXPECT_EQ(PlaceFileNoReplace(temp, target), 0);
    EXPECT_EQ(ScratchDir::Read(target), "checked bytes");
    EXPECT_EQ(ModeOf(target), 0600u);
    EXPECT_FALSE(Exists(temp));

    // A file of that name stays as it was, and so does the new one.
    dir.Write("other.part", "other bytes");
    EXPECT_EQ(PlaceFileNoReplace(dir.File("other.part"), target), EEXIST);
    EXPECT_EQ(ScratchDir::Read(target), "checked bytes");
    EXPECT_EQ(ScratchDir::Read(dir.File("other.part")), "other bytes");
    // So does a link of that name, and what it points to.
    ASSERT_EQ(symlink(dir.File("other.part").c_str(), dir.File("link.emz").c_str()), 0);
    EXPECT_EQ(PlaceFileNoReplace(dir.File("other.part"), dir.File("link.emz")), EEXIST);
    EXPECT_EQ(ScratchDir::Read(dir.File("other.part")), "other bytes");
    // A file that is not there is no success and leaves no target.
    EXPECT_EQ(PlaceFileNoReplace(dir.File("gone.part"), dir.File("gone.emz")), ENOENT);
    EXPECT_FALSE(Exists(dir.File("gone.emz")));
  }
}

TEST(Files, LoadAndSize) {
  ScratchDir dir;
  const std::u16string name = Utf8ToUtf16(dir.Write("f.bin", std::string("a\0b", 3)));
  EXPECT_EQ(LoadFileToString(name), std::string("a\0b", 3));
  EXPECT_EQ(GetFileSizeW(name), 3);
  EXPECT_EQ(LoadFileToString(Utf8ToUtf16(dir.File("none"))), "");
  EXPECT_EQ(GetFileSizeW(Utf8ToUtf16(dir.File("none"))), 0);
}

TEST(Files, ForceDirectories) {
  ScratchDir dir;
  const std::string deep = dir.File("a/b/c");
  ASSERT_TRUE(ForceDirectoriesW(Utf8ToUtf16(deep)));
  EXPECT_EQ(ModeOf(deep), 0700u);
  EXPECT_TRUE(ForceDirectoriesW(Utf8ToUtf16(deep + "/")));  // exists already
  EXPECT_TRUE(ForceDirectoriesW(Utf8ToUtf16(dir.File("x//y/"))));
  EXPECT_TRUE(Exists(dir.File("x/y")));
  dir.Write("file", "");
  EXPECT_FALSE(ForceDirectoriesW(Utf8ToUtf16(dir.File("file/sub"))));
  EXPECT_FALSE(ForceDirectoriesW(u""));
}

TEST(Files, TrailingSlash) {
  EXPECT_EQ(IncludeTrailingBackslashA(""), "");
  EXPECT_EQ(IncludeTrailingBackslashA("/tmp"), "/tmp/");
  EXPECT_EQ(IncludeTrailingBackslashA("/tmp/"), "/tmp/");
  EXPECT_EQ(IncludeTrailingBackslashW(u"/a\\b"), u"/a\\b/");
}

TEST(Files, WipeAndDelete) {
  ScratchDir dir;
  const std::string secret(20000, 's');
  const std::string name = dir.Write("plain.bin", secret);
  const std::string other_link = dir.File("hardlink.bin");
  ASSERT_EQ(link(name.c_str(), other_link.c_str()), 0);
  EXPECT_TRUE(WipeAndDeleteFile(Utf8ToUtf16(name), true));
  EXPECT_FALSE(Exists(name));
  // the bytes themselves were overwritten, as the second name shows
  EXPECT_EQ(ScratchDir::Read(other_link), std::string(20000, '\0'));

  EXPECT_TRUE(WipeAndDeleteFile(Utf8ToUtf16(other_link), false));
  EXPECT_FALSE(Exists(other_link));

  // a symbolic link is not followed: nothing is wiped, the link stays
  const std::string target = dir.Write("target.bin", "keep");
  const std::string sym = dir.File("sym.bin");
  ASSERT_EQ(symlink(target.c_str(), sym.c_str()), 0);
  EXPECT_FALSE(WipeAndDeleteFile(Utf8ToUtf16(sym), true));
  EXPECT_TRUE(Exists(sym));
  EXPECT_EQ(ScratchDir::Read(target), "keep");
  EXPECT_FALSE(WipeAndDeleteFile(Utf8ToUtf16(dir.File("none")), true));
}

TEST(SecureWipe, WipesStrings) {
  std::string s = "password";
  WipeString(s);
  EXPECT_TRUE(s.empty());
  unsigned char buf[4] = {1, 2, 3, 4};
  SecureWipe(buf, sizeof buf);
  for (unsigned char b : buf) EXPECT_EQ(b, 0);
}

TEST(SpecialFolder, DocumentsFolderFromXdgUserDirs) {
  ScratchDir dir;
  EnvGuard env;
  const std::string home = dir.File("home");
  const std::string config = dir.File("cfg");
  ASSERT_TRUE(ForceDirectoriesW(Utf8ToUtf16(config)));
  env.Set("HOME", home.c_str());
  env.Set("XDG_CONFIG_HOME", config.c_str());
  struct Case {
    const char* file;  // null: no user-dirs.dirs
    std::string expected;
  } const cases[] = {
      {nullptr, home},
      {"XDG_DOCUMENTS_DIR=\"$HOME/Hujjatlar\"\n", home + "/Hujjatlar"},
      {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"/srv/docs/\"\n",
       "/srv/docs"},
      {"XDG_DOCUMENTS_DIR=\"$HOME\"\n", home},
      {"XDG_DOCUMENTS_DIR=\"relative/docs\"\n", home},
      {"XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"\n", home + "/My \"Docs\""},
      {"XDG_DOCUMENTS_DIR=$HOME/unquoted\n", home},
  };
  for (const auto& c : cases) {
    const std::string file = config + "/user-dirs.dirs";
    unlink(file.c_str());
    if (c.file) dir.Write("cfg/user-dirs.dirs", c.file);
    EXPECT_EQ(Utf16ToUtf8(GetSpecialFolderW(kCsidlPersonal)), c.expected)
        << (c.file ? c.file : "(none)");
  }
  EXPECT_EQ(GetSpecialFolderW(26), u"");
  env.Set("HOME", nullptr);
  env.Set("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(GetSpecialFolderW(kCsidlPersonal), u"");
}

// ---- proxy from the environment -----------------------------------------

TEST(Proxy, ParsesProxyValues) {
  struct Case {
    const char* value;
    bool ok;
    const char* host;
    uint16_t port;
  } const cases[] = {
      {"http://proxy.local:3128/", true, "proxy.local", 3128},
      {"proxy.local:8080", true, "proxy.local", 8080},
      {"http://user:p@ss@10.0.0.1:3128", true, "10.0.0.1", 3128},
      {"socks5://[::1]:1080", true, "[::1]", 1080},
      {"[::1]", true, "[::1]", 0},
      {"proxy.local", true, "proxy.local", 0},
      {"proxy.local:port", true, "proxy.local", 0},
      {"proxy.local:99999", true, "proxy.local", 0},
      {"http://", false, "", 0},
      {":3128", false, "", 0},
  };
  for (const auto& c : cases) {
    TSystemProxy p;
    ASSERT_EQ(ParseProxyValue(c.value, p), c.ok) << c.value;
    if (!c.ok) continue;
    EXPECT_TRUE(p.Enabled);
    EXPECT_EQ(p.Host, c.host) << c.value;
    EXPECT_EQ(p.Port, c.port) << c.value;
  }
}

TEST(Proxy, ReadsTheSessionEnvironmentInOrder) {
  EnvGuard env;
  env.Set("http_proxy", nullptr);
  env.Set("HTTP_PROXY", nullptr);
  env.Set("all_proxy", nullptr);
  TSystemProxy p;
  p.Host = "unchanged";
  EXPECT_FALSE(ReadEnvironmentProxy(p));
  EXPECT_EQ(p.Host, "unchanged");

  env.Set("all_proxy", "all.local:1");
  ASSERT_TRUE(ReadEnvironmentProxy(p));
  EXPECT_EQ(p.Host, "all.local");
  env.Set("HTTP_PROXY", "upper.local:2");
  ASSERT_TRUE(ReadEnvironmentProxy(p));
  EXPECT_EQ(p.Host, "upper.local");
  env.Set("http_proxy", "http://lower.local:3/");
  ASSERT_TRUE(ReadEnvironmentProxy(p));
  EXPECT_EQ(p.Host, "lower.local");
  EXPECT_EQ(p.Port, 3);
  env.Set("http_proxy", "");  // empty counts as unset
  ASSERT_TRUE(ReadEnvironmentProxy(p));
  EXPECT_EQ(p.Host, "upper.local");
}

}  // namespace
}  // namespace qovra
