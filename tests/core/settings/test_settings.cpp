// The settings file on disk: first start, round trip, broken files, where
// the file lives and how it is written.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/records.h"
#include "base/utf.h"
#include "keys/crypto_binding.h"
#include "settings/settings.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

namespace qovra {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

// A settings file that sets nothing.
const char* const kNoValues = "<options_xml/>";

std::string Enciphered(const std::string& utf8_path, const char* name) {
  return Base64EncodeStr(EncryptStringWithName(utf8_path, name));
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    Options = TOptions{};
    program_ = dir_.File("qovra");
    paths_.file = dir_.File("qovra.xml");
  }
  void TearDown() override { Options = TOptions{}; }

  // A program start with the settings file of this test.
  void Start() { InitAppSettings(program_, paths_); }
  std::string FileBytes() const { return ScratchDir::Read(paths_.file); }

  ScratchDir dir_;
  std::string program_;
  TSettingsPaths paths_;
};

TEST_F(SettingsFile, FirstStartWritesDefaultsByteForByte) {
  const std::string home = dir_.File("home");
  const std::string docs =
      home + "/\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B";
  std::filesystem::create_directories(dir_.File("config"));
  dir_.Write("config/user-dirs.dirs",
             "XDG_DOCUMENTS_DIR=\"$HOME/\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC"
             "\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B\"\n");
  ScopedEnv h("HOME", home);
  ScopedEnv x("XDG_CONFIG_HOME", dir_.File("config"));

  Start();

  EXPECT_EQ(AppTitle, "Qovra");
  EXPECT_EQ(ApplicationTitle, "Qovra");
  EXPECT_EQ(ProgramFileName, program_);
  EXPECT_EQ(ProgramDir, dir_.path() + "/");
  EXPECT_EQ(Options.langid, 1);
  EXPECT_EQ(Options.Conn.useiewc, 1);
  EXPECT_EQ(Options.Mail.sendmode, 0);
  EXPECT_EQ(Options.Mail.showgrp, 1);
  EXPECT_EQ(Options.Mail.reffreq, 0);
  EXPECT_EQ(Utf16ToUtf8(Options.Folders.maildir), docs);

  const std::string expected = Join({
      R"(<?xml version="1.0" encoding="WINDOWS-1251"?>)",
      "<options_xml>",
      "<conn>",
      "<srvaddr></srvaddr>",
      "<useprxy>0</useprxy>",
      "<prxaddr></prxaddr>",
      "<prxport>0</prxport>",
      "<prxauth>0</prxauth>",
      "<prxuser></prxuser>",
      "<prxpass></prxpass>",
      "<useiewc>1</useiewc>",
      "</conn>",
      "<keys>",
      "<keyssrc>0</keyssrc>",
      "<crtpath></crtpath>",
      "<pvkpath></pvkpath>",
      "<offpass></offpass>",
      "</keys>",
      "<iface>",
      "<langid>1</langid>",
      "</iface>",
      "<folders>",
      "<maildir>" + Enciphered(docs, "maildir") + "</maildir>",
      "</folders>",
      "<mail>",
      "<sendmode>0</sendmode>",
      "<playsnd>0</playsnd>",
      "<sndpath></sndpath>",
      "<reffreq>0</reffreq>",
      "<showgrp>1</showgrp>",
      "<sdownld>0</sdownld>",
      "</mail>",
      "<other>",
      "<lastlgn></lastlgn>",
      "<traymin>0</traymin>",
      "<chkupdt>0</chkupdt>",
      "</other>",
      "</options_xml>",
  });
  EXPECT_EQ(FileBytes(), expected);

  // A second start reads the same values back.
  Options = TOptions{};
  Start();
  EXPECT_EQ(Options.Mail.showgrp, 1);
  EXPECT_EQ(Utf16ToUtf8(Options.Folders.maildir), docs);
  EXPECT_EQ(Options.Conn.ServerUrl, "http:///qovra4/");
}

TOptions EveryFieldSet() {
  TOptions o;
  o.Conn.srvaddr = "\u043F\u043E\u0447\u0442\u0430.uz:8080";
  o.Conn.useprxy = 1;
  o.Conn.prxaddr = "proxy.local";
  o.Conn.prxport = 3128;
  o.Conn.prxauth = 1;
  o.Conn.prxuser = "\u04B2\u0430\u043C\u0438\u0434 \U0001F600";  // outside the code page
  o.Conn.prxpass = "a&b<c>d\"e'f \u041F\u0430\u0440\u043E\u043B\u044C";
  o.Conn.useiewc = 2;
  o.Keys.keyssrc = 1;
  o.Keys.crtpath = u"/home/u/\u041A\u043B\u044E\u0447\u0438/alice.cer";
  o.Keys.pvkpath = u"/home/u/keys/alice&bob.prk";
  for (int i = 0; i < 160; ++i) o.Keys.offpass += static_cast<char>(i * 7);
  o.langid = 0;
  o.Folders.maildir = u"/home/u/\u041F\u043E\u0447\u0442\u0430";
  o.Mail.sendmode = 1;
  o.Mail.playsnd = 1;
  o.Mail.sndpath = u"/home/u/\u0417\u0432\u0443\u043A\u0438/\u04B2 new&mail.wav";
  o.Mail.reffreq = 900;
  o.Mail.showgrp = 1;
  o.Mail.sdownld = 1;
  o.Other.lastlgn = "\u043B\u043E\u0433\u0438\u043D";
  o.Other.traymin = 1;
  o.Other.chkupdt = 1;
  return o;
}

void ExpectSame(const TOptions& a, const TOptions& b) {
  EXPECT_EQ(a.Conn.srvaddr, b.Conn.srvaddr);
  EXPECT_EQ(a.Conn.useprxy, b.Conn.useprxy);
  EXPECT_EQ(a.Conn.prxaddr.str(), b.Conn.prxaddr.str());
  EXPECT_EQ(a.Conn.prxport, b.Conn.prxport);
  EXPECT_EQ(a.Conn.prxauth, b.Conn.prxauth);
  EXPECT_EQ(a.Conn.prxuser.str(), b.Conn.prxuser.str());
  EXPECT_EQ(a.Conn.prxpass.str(), b.Conn.prxpass.str());
  EXPECT_EQ(a.Conn.useiewc, b.Conn.useiewc);
  EXPECT_EQ(a.Keys.keyssrc, b.Keys.keyssrc);
  EXPECT_EQ(a.Keys.crtpath, b.Keys.crtpath);
  EXPECT_EQ(a.Keys.pvkpath, b.Keys.pvkpath);
  EXPECT_EQ(a.Keys.offpass, b.Keys.offpass);
  EXPECT_EQ(a.langid, b.langid);
  EXPECT_EQ(a.Folders.maildir, b.Folders.maildir);
  EXPECT_EQ(a.Mail.sendmode, b.Mail.sendmode);
  EXPECT_EQ(a.Mail.playsnd, b.Mail.playsnd);
  EXPECT_EQ(a.Mail.sndpath, b.Mail.sndpath);
  EXPECT_EQ(a.Mail.reffreq, b.Mail.reffreq);
  EXPECT_EQ(a.Mail.showgrp, b.Mail.showgrp);
  EXPECT_EQ(a.Mail.sdownld, b.Mail.sdownld);
  EXPECT_EQ(a.Other.lastlgn, b.Other.lastlgn);
  EXPECT_EQ(a.Other.traymin, b.Other.traymin);
  EXPECT_EQ(a.Other.chkupdt, b.Other.chkupdt);
}

TEST_F(SettingsFile, EveryElementSurvivesSaveAndLoad) {
  dir_.Write("qovra.xml", kNoValues);  // present, so no first-start file
  Start();
  const TOptions saved = EveryFieldSet();
  Options = saved;
  ASSERT_TRUE(SaveOptions());

  Options = TOptions{};
  Start();
  ExpectSame(Options, saved);
  EXPECT_EQ(Options.Conn.ServerUrl, "http://" + saved.Conn.srvaddr + "/qovra4/");

  // The file holds Windows-1251 bytes, references for what has none, and the
  // sound path's UTF-8 bytes as they are.
  const std::string bytes = FileBytes();
  EXPECT_NE(
      bytes.find("<prxpass>a&amp;b&lt;c&gt;d&quot;e&#039;f \xCF\xE0\xF0\xEE\xEB\xFC</prxpass>"),
      std::string::npos);
  EXPECT_NE(bytes.find("<prxuser>&#1202;\xE0\xEC\xE8\xE4 &#128512;</prxuser>"), std::string::npos);
  EXPECT_NE(bytes.find("<sndpath>/home/u/\xD0\x97\xD0\xB2\xD1\x83\xD0\xBA\xD0\xB8/\xD2\xB2 "
                       "new&amp;mail.wav</sndpath>"),
            std::string::npos);
}

TEST_F(SettingsFile, PathsAreNeverInClear) {
  dir_.Write("qovra.xml", kNoValues);
  Start();
  Options = EveryFieldSet();
  Options.Keys.crtpath = u"/secret/certificate-place.cer";
  Options.Keys.pvkpath = u"/secret/private-place.prk";
  Options.Folders.maildir = u"/secret/mail-place";
  ASSERT_TRUE(SaveOptions());
  const std::string bytes = FileBytes();
  for (const char* part : {"secret", "certificate-place", "private-place", "mail-place"}) {
    EXPECT_EQ(bytes.find(part), std::string::npos) << part;
  }
  // Each is Base64 of the string form under its own element's name.
  EXPECT_NE(bytes.find("<pvkpath>" + Enciphered("/secret/private-place.prk", "pvkpath")),
            std::string::npos);
}

TEST_F(SettingsFile, SaveTurnsABadSendModeIntoZero) {
  dir_.Write("qovra.xml", kNoValues);
  Start();
  Options.Mail.sendmode = 5;
  ASSERT_TRUE(SaveOptions());
  EXPECT_EQ(Options.Mail.sendmode, 0);
  EXPECT_NE(FileBytes().find("<sendmode>0</sendmode>"), std::string::npos);
}

TEST_F(SettingsFile, BrokenFileGivesZeroSettingsAndIsKeptAsBakAtNextSave) {
  const std::string broken = "<options_xml><conn><srvaddr>half";
  dir_.Write("qovra.xml", broken);
  Start();
  EXPECT_EQ(Options.langid, 0);
  EXPECT_EQ(Options.Mail.showgrp, 0);
  EXPECT_TRUE(Options.Folders.maildir.empty());
  EXPECT_EQ(FileBytes(), broken);  // left as it is until the next save
  EXPECT_FALSE(std::filesystem::exists(paths_.file + ".bak"));

  Options.langid = 1;
  ASSERT_TRUE(SaveOptions());
  EXPECT_EQ(ScratchDir::Read(paths_.file + ".bak"), broken);
  Options = TOptions{};
  Start();
  EXPECT_EQ(Options.langid, 1);

  // A good file is replaced without a new backup.
  std::filesystem::remove(paths_.file + ".bak");
  ASSERT_TRUE(SaveOptions());
  EXPECT_FALSE(std::filesystem::exists(paths_.file + ".bak"));
}

TEST_F(SettingsFile, FailedWriteLeavesTheOldFileWhole) {
  dir_.Write("qovra.xml", kNoValues);
  Start();
  Options = EveryFieldSet();
  ASSERT_TRUE(SaveOptions());
  const std::string before = FileBytes();

  // A file size limit stands in for a full disk.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Options.Other.lastlgn = "changed";
  const bool saved = SaveOptions();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_FALSE(saved);
  EXPECT_EQ(FileBytes(), before);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.path())) ++entries;
  EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
}

TEST_F(SettingsFile, Cp1251ToolsReadASavedFile) {
  dir_.Write("qovra.xml", kNoValues);
  Start();
  Options = EveryFieldSet();
  Options.Conn.prxuser = "user";  // only characters the code page has
  Options.Mail.sndpath = u"/usr/share/sounds/new-mail.wav";
  ASSERT_TRUE(SaveOptions());

  const std::string out = dir_.File("utf8.xml");
  const std::string cmd = "iconv -f WINDOWS-1251 -t UTF-8 '" + paths_.file + "' > '" + out + "'";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  const std::string text = ScratchDir::Read(out);
  EXPECT_NE(text.find("\u041F\u0430\u0440\u043E\u043B\u044C</prxpass>"), std::string::npos);
  EXPECT_NE(text.find("<sndpath>/usr/share/sounds/new-mail.wav</sndpath>"), std::string::npos);
}

TEST_F(SettingsFile, ReadOnlyProgramFolderUsesConfigFileSeededFromProgramFile) {
  // The file beside the program holds the seed values.
  dir_.Write("qovra.xml", kNoValues);
  Start();
  const TOptions seed = EveryFieldSet();
  Options = seed;
  ASSERT_TRUE(SaveOptions());

  Options = TOptions{};
  TSettingsPaths xdg;
  xdg.file = dir_.File("config/qovra/qovra.xml");
  xdg.seed_file = dir_.File("qovra.xml");
  xdg.private_folder = true;
  InitAppSettings(program_, xdg);
  ExpectSame(Options, seed);
  EXPECT_FALSE(std::filesystem::exists(xdg.file));  // written only when saved

  Options.Other.lastlgn = "new";
  ASSERT_TRUE(SaveOptions());
  struct stat st {};
  ASSERT_EQ(stat(xdg.file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(dir_.File("config/qovra").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  Options = TOptions{};
  InitAppSettings(program_, xdg);
  EXPECT_EQ(Options.Other.lastlgn, "new");
}

TEST(SettingsLocation, FileNameBesideTheProgram) {
  struct Case {
    const char* program;
    const char* file;
  } const cases[] = {
      {"/opt/qovra/qovra", "/opt/qovra/qovra.xml"},
      {"/opt/qovra/qovra.exe", "/opt/qovra/qovra.xml"},
      {"/opt/q.v/qovra", "/opt/q.v/qovra.xml"},
      {"/opt/qovra/qovra.bin.old", "/opt/qovra/qovra.bin.xml"},
  };
  for (const Case& c : cases) EXPECT_EQ(ProgramSettingsFileName(c.program), c.file) << c.program;
}

TEST(SettingsLocation, WritableFolderKeepsTheFileBesideTheProgram) {
  ScratchDir dir;
  const TSettingsPaths p = LocateSettingsFile(dir.File("qovra"));
  EXPECT_EQ(p.file, dir.File("qovra.xml"));
  EXPECT_TRUE(p.seed_file.empty());
  EXPECT_FALSE(p.private_folder);
}

TEST(SettingsLocation, ReadOnlyFolderMovesTheFileToTheConfigFolder) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  ScratchDir dir;
  std::filesystem::create_directories(dir.File("bin"));
  chmod(dir.File("bin").c_str(), 0555);
  ScopedEnv x("XDG_CONFIG_HOME", dir.File("config"));
  const TSettingsPaths p = LocateSettingsFile(dir.File("bin/qovra"));
  chmod(dir.File("bin").c_str(), 0755);
  EXPECT_EQ(p.file, dir.File("config/qovra/qovra.xml"));
  EXPECT_EQ(p.seed_file, dir.File("bin/qovra.xml"));
  EXPECT_TRUE(p.private_folder);
}

TEST(SettingsLocation, ProgramPathComesFromProc) {
  const std::string path = CurrentProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_NE(path.find("test_settings"), std::string::npos);
}

}  // namespace
}  // namespace qovra
