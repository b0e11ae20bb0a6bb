#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/stream.h"
#include "base/utf.h"
#include "seam/fake_ui.h"
#include "support/scratch_dir.h"

namespace qovra {
namespace {

using testing::ScopedFakeUi;
using testing::ScratchDir;

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

TEST(TEFileStream, SilentOnMissingFileReportsNotOpenedAndShowsNothing) {
  ScopedFakeUi ui;
  ScratchDir dir;
  TEFileStream s(dir.File("missing.bin"), true, true, fmOpenRead);
  EXPECT_FALSE(s.Opened());
  EXPECT_TRUE(s.FileName().empty());
  EXPECT_FALSE(s.DeleteOnFree());
  char c;
  EXPECT_EQ(s.Read(&c, 1), 0u);
  EXPECT_TRUE(ui->messages.empty());
}

TEST(TEFileStream, FailureShowsSystemErrorTextWithFileName) {
  ScopedFakeUi ui;
  ScratchDir dir;
  const std::string name = dir.File("missing.bin");
  { TEFileStream s(name, false, false, fmOpenRead); }
  { TEWFileStream w(Utf8ToUtf16(dir.File("nowhere/x.bin")), false, false, fmCreate); }
  ASSERT_EQ(ui->messages.size(), 2u);
  const auto& m = ui->messages[0];
  EXPECT_EQ(m.flags, 48);
  EXPECT_NE(m.text.find(name), std::string::npos);
  // the error text as the system words it, not a key-derived text
  EXPECT_NE(m.text.find(SystemErrorText(ENOENT)), std::string::npos);
  EXPECT_EQ(m.ok_caption, "OK");
  EXPECT_NE(ui->messages[1].text.find("nowhere/x.bin"), std::string::npos);
}

// A write to a full disk (/dev/full always is one) keeps the system's
// reason, and the user reads it in their language with the file's name.
TEST(TEFileStream, FullDiskIsKeptAndSaidInTheUsersLanguage) {
  ScopedFakeUi ui;
  SetMsg("msgDiskFull", "The disk is full.");
  TEFileStream s("/dev/full", false, false, fmOpenWrite);
  ASSERT_TRUE(s.Opened());
  EXPECT_EQ(s.LastWriteError(), 0);
  EXPECT_FALSE(s.WriteString("mail"));
  EXPECT_EQ(s.LastWriteError(), ENOSPC);
  for (const int error : {ENOSPC, EDQUOT}) ShowFileError("/mail/x.emz", error);
  ShowFileError("/mail/x.emz", EACCES);
  ASSERT_EQ(
      ui->ShownTexts(),
      (std::vector<std::string>{"/mail/x.emz\nThe disk is full.", "/mail/x.emz\nThe disk is full.",
                                "/mail/x.emz\n" + SystemErrorText(EACCES)}));
  ClearMsgTable();
}

TEST(TEFileStream, CreateWritesReadsSeeksAndIsPrivate) {
  ScratchDir dir;
  const std::string name = dir.File("mail.emz");
  {
    TEFileStream s(name, true, false, fmCreate);
    ASSERT_TRUE(s.Opened());
    EXPECT_EQ(s.FileName(), name);
    ASSERT_TRUE(s.WriteString("hello world"));
    EXPECT_EQ(s.Size(), 11);
    EXPECT_EQ(s.Seek(6, SeekOrigin::Beginning), 6);
    char buf[5];
    ASSERT_TRUE(s.ReadBuffer(buf, 5));
    EXPECT_EQ(std::string(buf, 5), "world");
    EXPECT_EQ(s.Read(buf, 5), 0u);
    EXPECT_EQ(s.Seek(-5, SeekOrigin::End), 6);
    EXPECT_EQ(s.Seek(-100, SeekOrigin::Current), -1);
    ASSERT_TRUE(s.SetSize(5));
    EXPECT_EQ(s.Size(), 5);
  }
  struct stat st {};
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ScratchDir::Read(name), "hello");
}

TEST(TEFileStream, CreateReplacesExistingFileAndMakesItPrivate) {
  ScratchDir dir;
  const std::string name = dir.Write("old.bin", "old content");
  chmod(name.c_str(), 0644);
  {
    TEFileStream s(name, true, false, fmCreate);
    ASSERT_TRUE(s.Opened());
    ASSERT_TRUE(s.WriteString("new"));
  }
  EXPECT_EQ(ScratchDir::Read(name), "new");
  struct stat st {};
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(TEFileStream, CreateDoesNotFollowPlantedSymlink) {
  ScopedFakeUi ui;
  ScratchDir dir;
  const std::string target = dir.Write("target.txt", "keep me");
  const std::string link = dir.File("link.bin");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  TEFileStream s(link, true, false, fmCreate);
  EXPECT_FALSE(s.Opened());
  EXPECT_EQ(ScratchDir::Read(target), "keep me");
}

TEST(TEFileStream, ReadOnlyStreamRefusesWrites) {
  ScratchDir dir;
  const std::string name = dir.Write("r.bin", "abc");
  TEFileStream s(name, true, false, fmOpenRead | fmShareDenyNone);
  ASSERT_TRUE(s.Opened());
  EXPECT_EQ(s.Write("x", 1), 0u);
  EXPECT_EQ(ScratchDir::Read(name), "abc");
}

TEST(TEFileStream, DeleteOnFreeRemovesOnlyOpenedFiles) {
  ScratchDir dir;
  const std::string name = dir.Write("tmp.bin", "x");
  {
    TEFileStream s(name, true, true, fmOpenRead);
    ASSERT_TRUE(s.Opened());
  }
  EXPECT_FALSE(Exists(name));

  const std::u16string wide = Utf8ToUtf16(dir.File("\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.bin"));
  {
    TEWFileStream w(wide, true, true, fmCreate);
    ASSERT_TRUE(w.Opened());
    EXPECT_TRUE(Exists(Utf16ToUtf8(wide)));
  }
  EXPECT_FALSE(Exists(Utf16ToUtf8(wide)));

  // A stream that never opened deletes nothing, even when asked to later.
  const std::string dir_as_file = dir.path();
  {
    TEFileStream s(dir_as_file, true, true, fmOpenRead);
    EXPECT_FALSE(s.Opened());
    s.SetDeleteOnFree(true);
    EXPECT_FALSE(s.DeleteOnFree());
  }
  EXPECT_TRUE(Exists(dir_as_file));
}

TEST(TMemoryStream, GrowsOnWriteAndSeeksWithinRange) {
  TMemoryStream m;
  ASSERT_TRUE(m.WriteString("abcdef"));
  EXPECT_EQ(m.Size(), 6);
  EXPECT_EQ(m.Seek(2, SeekOrigin::Beginning), 2);
  ASSERT_TRUE(m.WriteString("XY"));
  EXPECT_EQ(m.Data(), "abXYef");
  EXPECT_EQ(m.Seek(-1, SeekOrigin::Beginning), -1);
  EXPECT_EQ(m.Position(), 4);
  char buf[10];
  EXPECT_EQ(m.Read(buf, sizeof buf), 2u);
  EXPECT_FALSE(m.ReadBuffer(buf, 1));
  ASSERT_TRUE(m.SetSize(3));
  EXPECT_EQ(m.Position(), 3);
  EXPECT_EQ(m.Data(), "abX");
}

}  // namespace
}  // namespace qovra
