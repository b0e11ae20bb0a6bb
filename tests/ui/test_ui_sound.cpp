// Dialog sounds: unpacking qelto.rcc, the sound each dialog kind plays and
// the beep whenever a sound cannot be played; sound files by name.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/temp_files.h"
#include "qovra/ui/audio_backend.h"
#include "qovra/ui/msg_dialog.h"
#include "qovra/ui/sound.h"
#include "qovra/ui/testing/fake_audio_backend.h"

using namespace qovra::ui;
using qovra::ui::testing::ScopedFakeAudio;

namespace {

// Points the temporary folder at a fresh folder of its own.
class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    qovra::SetTempFolder((temp_.path() + "/").toStdString());
  }
  void TearDown() override {
    DeleteDialogSounds();
    qovra::SetTempFolder("");
  }
  QStringList TempFiles() const { return QDir(temp_.path()).entryList(QDir::Files); }

  QTemporaryDir temp_;
};

const QString kGoodDir = QStringLiteral(QOVRA_BIN_DIR);
const QString kBadEntriesDir = QStringLiteral(QOVRA_QELTO_BAD_DIR);

}  // namespace

TEST_F(SoundTest, UnpacksThreePlayableWaveFilesAndDeletesThem) {
  ExtractDialogSounds(kGoodDir);
  for (int id : {101, 102, 103}) {
    const QString file = DialogSoundFile(id);
    ASSERT_FALSE(file.isEmpty()) << id;
    EXPECT_TRUE(file.startsWith(temp_.path())) << file.toStdString();
    EXPECT_TRUE(QFileInfo(file).fileName().startsWith(QStringLiteral("tmp")));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray head = f.read(12);
    EXPECT_EQ(head.left(4), QByteArray("RIFF"));
    EXPECT_EQ(head.mid(8, 4), QByteArray("WAVE"));
    EXPECT_EQ(f.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
  }
  EXPECT_TRUE(DialogSoundFile(100).isEmpty());
  EXPECT_TRUE(DialogSoundFile(104).isEmpty());
  EXPECT_EQ(TempFiles().size(), 3);

  // A second start-up replaces the files instead of piling them up.
  ExtractDialogSounds(kGoodDir);
  EXPECT_EQ(TempFiles().size(), 3);

  DeleteDialogSounds();
  EXPECT_TRUE(TempFiles().isEmpty());
  for (const QString& file : DialogSoundFiles()) EXPECT_TRUE(file.isEmpty());
  DeleteDialogSounds();  // harmless on empty entries
}

TEST_F(SoundTest, MissingOrBrokenResourcesLeaveEntriesEmptyAndNoFiles) {
  QTemporaryDir empty;
  ExtractDialogSounds(empty.path());
  for (const QString& file : DialogSoundFiles()) EXPECT_TRUE(file.isEmpty());

  QTemporaryDir garbage;
  {
    QFile f(garbage.filePath(QStringLiteral("qelto.rcc")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("qres but not really a resource file at all");
  }
  ExtractDialogSounds(garbage.path());
  for (const QString& file : DialogSoundFiles()) EXPECT_TRUE(file.isEmpty());

  // 101 good, 102 not a zlib stream, 103 absent.
  ExtractDialogSounds(kBadEntriesDir);
  EXPECT_FALSE(DialogSoundFile(101).isEmpty());
  EXPECT_TRUE(DialogSoundFile(102).isEmpty());
  EXPECT_TRUE(DialogSoundFile(103).isEmpty());
  EXPECT_EQ(TempFiles().size(), 1);
}

// The sound matrix: which entry each flags value plays, and the beep (with
// the flags) whenever that cannot happen.
TEST_F(SoundTest, DialogPlaysItsEntryOrBeeps) {
  struct Setup {
    const char* name;
    QString program_dir;  // empty: no qelto.rcc
    int devices;
    bool play_succeeds;
  };
  const Setup setups[] = {
      {"good", kGoodDir, 1, true},
      {"no qelto.rcc", QString(), 1, true},
      {"corrupt 102, missing 103", kBadEntriesDir, 1, true},
      {"no output device", kGoodDir, 0, true},
      {"player refuses", kGoodDir, 1, false},
  };
  struct Row {
    int flags;
    int entry;
  } rows[] = {{16, 103}, {48, 103}, {36, 102},   {40, 102},
              {64, 101}, {0, 101},  {0x50, 103}, {0x60, 102}};

  QTemporaryDir none;
  for (const Setup& setup : setups) {
    ExtractDialogSounds(setup.program_dir.isEmpty() ? none.path() : setup.program_dir);
    for (const Row& row : rows) {
      ScopedFakeAudio audio;
      audio->output_devices = setup.devices;
      audio->play_succeeds = setup.play_succeeds;
      TfrmMsg dialog;
      dialog.PlaySound(row.flags);
      const QString file = DialogSoundFile(row.entry);
      const bool playable = setup.devices > 0 && !file.isEmpty();
      SCOPED_TRACE(std::string(setup.name) + " flags " + std::to_string(row.flags));
      if (playable) {
        ASSERT_EQ(audio->played.size(), 1);
        EXPECT_EQ(audio->played[0], file);
      } else {
        EXPECT_TRUE(audio->played.isEmpty());
      }
      if (playable && setup.play_succeeds) {
        EXPECT_TRUE(audio->beeps.empty());
      } else {
        EXPECT_EQ(audio->beeps, std::vector<int>{row.flags});
      }
    }
  }
}

TEST_F(SoundTest, SoundFilesPlayAndStopOnlyWhenTheyExist) {
  ScopedFakeAudio audio;
  const QString missing = temp_.filePath(QStringLiteral("missing.wav"));
  PlaySoundFile(missing);
  StopSoundFile(missing);
  PlaySoundFile(QString());
  EXPECT_TRUE(audio->played.isEmpty());
  EXPECT_TRUE(audio->stopped.isEmpty());

  const QString present = temp_.filePath(QStringLiteral("new mail.wav"));
  {
    QFile f(present);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("RIFF");
  }
  PlaySoundFile(present);
  StopSoundFile(present);
  EXPECT_EQ(audio->played, QStringList{present});
  EXPECT_EQ(audio->stopped, QStringList{present});
  EXPECT_TRUE(audio->beeps.empty());
}

// The audio tier: the Qt Multimedia backend on a real (or null-sink) device.
TEST_F(SoundTest, QtBackendPlaysADialogSoundWhenADeviceExists) {
  AudioBackend& audio = Audio();
  if (audio.OutputDeviceCount() < 1) GTEST_SKIP() << "no sound output device";
  ExtractDialogSounds(kGoodDir);
  const QString file = DialogSoundFile(kSoundInformation);
  ASSERT_FALSE(file.isEmpty());
  EXPECT_TRUE(audio.PlayFile(file));
  audio.StopFile(file);
}
