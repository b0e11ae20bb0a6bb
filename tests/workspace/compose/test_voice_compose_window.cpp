// The voice compose window with the fake audio backend and the real
// qovrasnd: recorder and player states, the level clamp, the recording
// formats, the no-device path, failed compressions, the close question,
// the window's own temporary files, and a voice mail sent and received.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>

#include "base/file_stream.h"
#include "compose_fixture.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/workspace/new_voice_mail.h"
#include "qovra/workspace/sound_tool.h"
#include "store/mail_container_reader.h"

namespace {

namespace fs = std::filesystem;
using qovra::ui::TVoiceEnd;
using qovra_test::kAlice;
using qovra_test::kBob;

class VoiceComposeTest : public qovra_test::ComposeFixture {
 protected:
  void SetUp() override {
    ComposeFixture::SetUp();
    for (const char* key :
         {"msgNoRecordingDevice", "msgNoPlaybackDevice", "msgAudioDeviceError",
          "msgVoiceRecordTooLong", "msgVoiceCompressFailed", "msgVoiceNotRecorded"})
      qovra::SetMsg(key, key);
    ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  }
  void TearDown() override {
    qovra::compose::SetSoundToolPathForTesting("");
    ComposeFixture::TearDown();
  }

  // Opens the window with acMailNewVoice and runs body in its modal run;
  // a window still open afterwards is closed without a result.
  int Voice(const std::function<void(TfrmNewVoiceMail&)>& body) {
    QTimer::singleShot(0, [&] {
      auto* form = qobject_cast<TfrmNewVoiceMail*>(QApplication::activeModalWidget());
      if (!form) return;
      body(*form);
      if (form->isVisible()) form->done(2);
    });
    return Window().acMailNewVoiceExecute();
  }

  static void Pump() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }

  // Buttons enabled: Record, Play, Pause, Stop.
  static std::vector<bool> Buttons(const TfrmNewVoiceMail& form) {
    return {form.btnRecord->isEnabled(), form.btnPlay->isEnabled(), form.btnPause->isEnabled(),
            form.btnStop->isEnabled()};
  }

  // Records with the fake and stops; the recording is compressed by then.
  void RecordAndStop(TfrmNewVoiceMail& form) {
    QTest::mouseClick(form.btnRecord, Qt::LeftButton);
    Pump();
    ASSERT_NE(audio_->recording, nullptr);
    QTest::mouseClick(form.btnStop, Qt::LeftButton);
    Pump();
  }
};

TEST_F(VoiceComposeTest, RecordingFormatsFromQualityAndStereo) {
  struct TCase {
    int quality;
    bool stereo;
    int rate;
    int channels;
  };
  const TCase cases[] = {{0, false, 8000, 1}, {1, false, 22050, 1}, {2, false, 44100, 1},
                         {0, true, 8000, 2},  {1, true, 22050, 2},  {2, true, 44100, 2}};
  for (const TCase& c : cases) {
    const qovra::ui::TVoiceFormat f = TfrmNewVoiceMail::RecordFormat(c.quality, c.stereo);
    EXPECT_EQ(f.SampleRate, c.rate);
    EXPECT_EQ(f.Channels, c.channels);
  }
  Voice([&](TfrmNewVoiceMail& form) {
    // Untouched settings record mono 22050 Hz; the menu's stereo and high
    // quality record stereo 44100 Hz.
    ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
    form.pmenuAudioSettingsPopup();
    EXPECT_FALSE(form.mnuAudioStereo->isChecked());
    EXPECT_TRUE(form.mnuAudioQualityNormal->isChecked());
    form.mnuAudioStereo->trigger();
    form.mnuAudioQualityHigh->trigger();
    ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
    form.pmenuAudioSettingsPopup();
    EXPECT_TRUE(form.mnuAudioStereo->isChecked());
    EXPECT_TRUE(form.mnuAudioQualityHigh->isChecked());
  });
  ASSERT_EQ(audio_->record_formats.size(), 2u);
  EXPECT_EQ(audio_->record_formats[0].SampleRate, 22050);
  EXPECT_EQ(audio_->record_formats[0].Channels, 1);
  EXPECT_EQ(audio_->record_formats[1].SampleRate, 44100);
  EXPECT_EQ(audio_->record_formats[1].Channels, 2);
  // The cap keeps the wave header's 32-bit sizes valid.
  for (uint64_t limit : audio_->record_limits) EXPECT_LT(limit + 44, uint64_t{1} << 32);
}

TEST_F(VoiceComposeTest, ButtonsLevelAndPositionThroughRecordAndPlay) {
  Voice([&](TfrmNewVoiceMail& form) {
    EXPECT_EQ(Buttons(form), (std::vector<bool>{true, false, false, false}));
    QTest::mouseClick(form.btnRecord, Qt::LeftButton);
    Pump();
    ASSERT_NE(audio_->recording, nullptr);
    EXPECT_EQ(Buttons(form), (std::vector<bool>{false, false, true, true}));
    // Level x 3, clamped at the bar's 100.
    audio_->recording->Level(10);
    EXPECT_EQ(form.progbarAudio->Progress(), 30);
    audio_->recording->Level(40);
    EXPECT_EQ(form.progbarAudio->Progress(), 100);
    audio_->recording->position_ms = 61230;
    form.timerPlayerTimer();
    EXPECT_EQ(form.lblPosition->text(), QStringLiteral("1:01.23"));
    QTest::mouseClick(form.btnPause, Qt::LeftButton);
    EXPECT_TRUE(audio_->recording->Paused());
    QTest::mouseClick(form.btnPause, Qt::LeftButton);
    EXPECT_FALSE(audio_->recording->Paused());
    QTest::mouseClick(form.btnStop, Qt::LeftButton);
    Pump();
    EXPECT_TRUE(form.HasVoice);
    EXPECT_GT(fs::file_size(form.CompressedFile()), 0u);
    EXPECT_LT(fs::file_size(form.CompressedFile()), fs::file_size(form.WaveFile()));
    EXPECT_EQ(Buttons(form), (std::vector<bool>{true, true, false, false}));

    QTest::mouseClick(form.btnPlay, Qt::LeftButton);
    Pump();
    ASSERT_NE(audio_->playing, nullptr);
    EXPECT_EQ(audio_->voice_played, QStringList{QString::fromStdString(form.WaveFile())});
    EXPECT_EQ(Buttons(form), (std::vector<bool>{false, false, true, true}));
    audio_->playing->position_ms = 750;
    form.timerPlayerTimer();
    EXPECT_EQ(form.progbarAudio->Progress(), 50);
    EXPECT_EQ(form.lblPosition->text(), QStringLiteral("0.75 / 1.50"));
    audio_->playing->Finish(TVoiceEnd::Stopped);
    Pump();
    EXPECT_EQ(form.progbarAudio->Progress(), 0);
    EXPECT_EQ(form.lblPosition->text(), QStringLiteral("0.00 / 1.50"));
    EXPECT_EQ(Buttons(form), (std::vector<bool>{true, true, false, false}));
  });
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
}

TEST_F(VoiceComposeTest, NoDeviceSaysSoAndChangesNothing) {
  Voice([&](TfrmNewVoiceMail& form) {
    audio_->input_devices = 0;
    QTest::mouseClick(form.btnRecord, Qt::LeftButton);
    Pump();
    EXPECT_EQ(Shown(), std::vector<std::string>{"msgNoRecordingDevice"});
    EXPECT_EQ(Buttons(form), (std::vector<bool>{true, false, false, false}));
    audio_->input_devices = 1;
    ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
    audio_->output_devices = 0;
    QTest::mouseClick(form.btnPlay, Qt::LeftButton);
    Pump();
    EXPECT_EQ(Shown(), (std::vector<std::string>{"msgNoRecordingDevice", "msgNoPlaybackDevice"}));
    EXPECT_EQ(Buttons(form), (std::vector<bool>{true, true, false, false}));
  });
}

// A recording that stopped before any sample came is only the wave
// header: nothing to listen to, nothing to compress, and Send says that
// nothing was recorded.
TEST_F(VoiceComposeTest, RecordingOfOnlyTheWaveHeaderCountsAsNotRecorded) {
  audio_->record_ms = 0;
  Voice([&](TfrmNewVoiceMail& form) {
    form.frameNewMailTop1->eTo->setText(QString::fromLatin1(kBob));
    form.frameNewMailTop1->eSubject->setText(QStringLiteral("s"));
    QTest::mouseClick(form.btnRecord, Qt::LeftButton);
    Pump();
    ASSERT_NE(audio_->recording, nullptr);
    QTest::mouseClick(form.btnStop, Qt::LeftButton);
    Pump();
    ASSERT_EQ(fs::file_size(form.WaveFile()), 44u);
    EXPECT_FALSE(form.Recorded());
    EXPECT_EQ(Buttons(form), (std::vector<bool>{true, false, false, false}));
    EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
    ASSERT_NE(form.frameNewMailTop1->btnSend, nullptr);
    QTest::mouseClick(form.frameNewMailTop1->btnSend, Qt::LeftButton);
    EXPECT_EQ(Shown(), std::vector<std::string>{"msgVoiceNotRecorded"});
    EXPECT_TRUE(form.isVisible());
    form.Modified = false;
  });
}

TEST_F(VoiceComposeTest, CompressionThatFailsOrMakesNothingIsReported) {
  struct TCase {
    const char* what;
    std::string tool;
  };
  const TCase cases[] = {{"exits 1", "/bin/false"},
                         {"exits 0 without a file", "/bin/true"},
                         {"missing", dir_.File("no-such-qovrasnd")}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    ui_->messages.clear();
    qovra::compose::SetSoundToolPathForTesting(c.tool);
    Voice([&](TfrmNewVoiceMail& form) {
      ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
      EXPECT_FALSE(form.HasVoice);
      EXPECT_EQ(Shown(), std::vector<std::string>{"msgVoiceCompressFailed"});
      // Still playable, and recordable again.
      EXPECT_EQ(Buttons(form), (std::vector<bool>{true, true, false, false}));
    });
  }
}

TEST_F(VoiceComposeTest, EndsByTheSizeCapOrADeviceErrorAreSaidAndKeepTheRecording) {
  const std::pair<TVoiceEnd, std::string> cases[] = {
      {TVoiceEnd::SizeLimit, "msgVoiceRecordTooLong"},
      {TVoiceEnd::DeviceError, "msgAudioDeviceError"}};
  for (const auto& [end, key] : cases) {
    SCOPED_TRACE(key);
    ui_->messages.clear();
    Voice([&](TfrmNewVoiceMail& form) {
      QTest::mouseClick(form.btnRecord, Qt::LeftButton);
      Pump();
      ASSERT_NE(audio_->recording, nullptr);
      audio_->recording->Finish(end);
      Pump();
      EXPECT_EQ(Shown(), std::vector<std::string>{key});
      EXPECT_TRUE(form.HasVoice);
      EXPECT_EQ(Buttons(form), (std::vector<bool>{true, true, false, false}));
    });
  }
}

TEST_F(VoiceComposeTest, CloseQuestion) {
  // Untouched: closes without a question.
  Voice([&](TfrmNewVoiceMail& form) {
    form.reject();
    EXPECT_FALSE(form.isVisible());
  });
  EXPECT_TRUE(Shown().empty());
  // After a recording, with no recipients and no subject: asked.
  Voice([&](TfrmNewVoiceMail& form) {
    ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
    ui_->QueueAnswer(qovra::kMsgResultCancel);
    form.reject();
    EXPECT_TRUE(form.isVisible());
    ui_->QueueAnswer(qovra::kMsgResultNo);
    form.reject();
    EXPECT_FALSE(form.isVisible());
  });
  EXPECT_EQ(Shown(), (std::vector<std::string>{"msgSaveToDraftsPrompt", "msgSaveToDraftsPrompt"}));
  // Closing while recording stops the recording and closes its file first:
  // it is compressed and counts as something to keep.
  ui_->messages.clear();
  Voice([&](TfrmNewVoiceMail& form) {
    QTest::mouseClick(form.btnRecord, Qt::LeftButton);
    Pump();
    ASSERT_NE(audio_->recording, nullptr);
    ui_->QueueAnswer(qovra::kMsgResultCancel);
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(audio_->recording && audio_->recording->Active());
    EXPECT_TRUE(form.HasVoice);
    EXPECT_EQ(Buttons(form), (std::vector<bool>{true, true, false, false}));
  });
  EXPECT_EQ(Shown(), std::vector<std::string>{"msgSaveToDraftsPrompt"});
}

// Enter in a field starts no recording (the window has no default
// button); on the focused Record button it records.
TEST_F(VoiceComposeTest, EnterStartsOnlyAFocusedButton) {
  Voice([&](TfrmNewVoiceMail& form) {
    TframeNewMailTop* top = form.frameNewMailTop1;
    // No button is drawn as the one Enter would press.
    for (const QPushButton* b : form.findChildren<QPushButton*>())
      EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
    QTest::keyClicks(top->eTo, QStringLiteral("dave@127.0.0.1"));
    QTest::keyClicks(top->eSubject, QStringLiteral("Minutes"));
    for (QWidget* field : {static_cast<QWidget*>(top->eTo), static_cast<QWidget*>(top->eSubject)}) {
      const std::string name = field->objectName().toStdString();
      EXPECT_EQ(WindowsOpenedByEnter(field), "") << name;
      Pump();
      EXPECT_EQ(audio_->recording, nullptr) << name;
      EXPECT_EQ(Buttons(form), (std::vector<bool>{true, false, false, false})) << name;
      EXPECT_TRUE(form.isVisible());
    }
    EXPECT_FALSE(form.HasVoice);
    EXPECT_EQ(WindowsOpenedByEnter(form.btnRecord), "");
    Pump();
    ASSERT_NE(audio_->recording, nullptr);
    EXPECT_EQ(Buttons(form), (std::vector<bool>{false, false, true, true}));
    QTest::mouseClick(form.btnStop, Qt::LeftButton);
    Pump();
    EXPECT_TRUE(form.HasVoice);
    form.Modified = false;
  });
  EXPECT_TRUE(Shown().empty());
}

TEST_F(VoiceComposeTest, EachWindowHasItsOwnFilesAndDeletesThem) {
  TComposeCommands none;
  std::string wave1;
  std::string mp3_1;
  {
    TfrmNewVoiceMail one(none);
    TfrmNewVoiceMail two(none);
    wave1 = one.WaveFile();
    mp3_1 = one.CompressedFile();
    const std::string temp = qovra::GetTempFolder();
    for (const std::string& f :
         {one.WaveFile(), one.CompressedFile(), two.WaveFile(), two.CompressedFile()})
      EXPECT_EQ(f.rfind(temp, 0), 0u) << f;
    EXPECT_NE(one.WaveFile(), two.WaveFile());
    EXPECT_NE(one.CompressedFile(), two.CompressedFile());
    one.frameNewMailTop1->chkFAU->setChecked(true);
    ASSERT_NO_FATAL_FAILURE(RecordAndStop(one));
    EXPECT_TRUE(one.HasVoice);
  }
  EXPECT_FALSE(fs::exists(wave1));
  EXPECT_FALSE(fs::exists(mp3_1));
}

TEST_F(VoiceComposeTest, VoiceMailIsSentWithVoiceMp3AndDecodesToTheRecording) {
  audio_->record_ms = 1000;
  std::string uuid;
  const int result = Voice([&](TfrmNewVoiceMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
    form.frameNewMailTop1->eTo->setText(QString::fromLatin1(kBob));
    form.frameNewMailTop1->eSubject->setText(QStringLiteral("Овоз"));
    Window().alMain->acMailSend->trigger();
  });
  EXPECT_EQ(result, 1) << testing::PrintToString(Shown());
  ASSERT_FALSE(uuid.empty());
  // A voice mail is told by mfVoice alone, in the sender's row and in what
  // the server passed on to bob.
  const uint16_t sent_flags =
      qovra::mfVoice | qovra::mfSent | qovra::mfDeliveryReport | qovra::mfReadReport;
  ASSERT_EQ(MailRow(uuid).size(), 3u);
  EXPECT_EQ(MailRow(uuid)[1], sent_flags);
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  ASSERT_TRUE(Window().acMailReceiveExecute());
  std::ifstream in(qovra::MessagesDir + uuid + ".emz", std::ios::binary);
  const std::string container{std::istreambuf_iterator<char>(in), {}};
  qovra::TMemoryStream source(container);
  qovra::TMailReader reader(source);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
  EXPECT_EQ(reader.Subject(), u"Овоз");
  ASSERT_EQ(reader.Attachments().size(), 1u);
  const qovra::TMailAttachmentInfo& a = reader.Attachments()[0];
  EXPECT_EQ(std::u16string(a.FileName.view()), u"voice.mp3");
  const std::vector<int64_t> row = MailRow(uuid);
  ASSERT_EQ(row.size(), 3u);
  EXPECT_EQ(row[1] & (qovra::mfVoice | qovra::mfAttachments | qovra::mfDeliveryReport |
                      qovra::mfReadReport),
            qovra::mfVoice | qovra::mfDeliveryReport | qovra::mfReadReport);
  // The attachment decodes to exactly the recorded samples.
  ASSERT_TRUE(reader.SeekData(a.DataOffset));
  std::string mp3(static_cast<size_t>(a.DataSize), '\0');
  ASSERT_EQ(reader.ReadData(mp3.data(), mp3.size()), mp3.size());
  const std::string mp3_file = dir_.File("got.mp3");
  const std::string wav_file = dir_.File("got.wav");
  std::ofstream(mp3_file, std::ios::binary) << mp3;
  ASSERT_EQ(qovra::compose::DecodeVoice(mp3_file, wav_file, nullptr),
            qovra::compose::TSoundToolResult::Done);
  EXPECT_EQ(fs::file_size(wav_file), 44u + 22050u * 2u);
}

// While qovrasnd compresses, clicks on Save to drafts, Record and Send do
// nothing and a close waits: once the recording is compressed the close
// runs with its question, and the recording is what Yes saves.
TEST_F(VoiceComposeTest, ClicksWhileCompressingWaitOrDoNothing) {
  // The real compressor, started a moment late.
  const std::string slow = dir_.File("slow-qovrasnd");
  {
    std::ofstream out(slow);
    out << "#!/bin/sh\nsleep 0.4\nexec '" << qovra::compose::SoundToolPath() << "' \"$@\"\n";
  }
  fs::permissions(slow, fs::perms::owner_all);
  qovra::compose::SetSoundToolPathForTesting(slow);
  enum class Close { Escape, CloseButton, MenuCancel };
  const struct {
    const char* name;
    Close close;
    int answer;
    int result;  // the window's, -1 when it stays open
  } cases[] = {
      {"escape, yes", Close::Escape, qovra::kMsgResultYes, 4},
      {"close button, cancel", Close::CloseButton, qovra::kMsgResultCancel, -1},
      {"menu cancel, no", Close::MenuCancel, qovra::kMsgResultNo, QDialog::Rejected},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui_->messages.clear();
    std::string uuid;
    std::string mp3;
    bool busy_seen = false;
    bool open_after = false;
    const int result = Voice([&](TfrmNewVoiceMail& form) {
      uuid = std::string(form.Mail->Uuid.view());
      form.frameNewMailTop1->eTo->setText(QString::fromLatin1(kBob));
      form.activateWindow();
      QTest::mouseClick(form.btnRecord, Qt::LeftButton);
      Pump();
      ASSERT_NE(audio_->recording, nullptr);
      QTimer::singleShot(200, &form, [&] {
        busy_seen = form.Busy();
        QTest::mouseClick(form.frameNewMailTop1->btnSaveToDrafts, Qt::LeftButton);
        QTest::mouseClick(form.frameNewMailTop1->btnSend, Qt::LeftButton);
        QTest::keyClick(&form, Qt::Key_Return, Qt::ControlModifier);
        QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
        QTest::mouseClick(form.btnRecord, Qt::LeftButton);
        QTest::keyClicks(form.frameNewMailTop1->eSubject, QStringLiteral("zz"));
        EXPECT_TRUE(form.frameNewMailTop1->eSubject->text().isEmpty());
        ui_->QueueAnswer(c.answer);
        switch (c.close) {
          case Close::Escape:
            QTest::keyClick(&form, Qt::Key_Escape);
            break;
          case Close::CloseButton:
            form.close();
            break;
          case Close::MenuCancel:
            form.mnuCancel->trigger();
            break;
        }
        EXPECT_TRUE(form.isVisible());
        EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
      });
      QTest::mouseClick(form.btnStop, Qt::LeftButton);
      for (int i = 0; i < 50 && !form.HasVoice; ++i) QTest::qWait(20);
      if (form.HasVoice) mp3 = qovra::testing::ScratchDir::Read(form.CompressedFile());
      for (int i = 0; i < 10; ++i) QTest::qWait(10);
      open_after = form.isVisible();
      EXPECT_EQ(audio_->recorded.size(), 1);
      if (open_after) {
        EXPECT_TRUE(form.Recorded());
        EXPECT_EQ(Buttons(form), (std::vector<bool>{true, true, false, false}));
        form.Modified = false;
      }
    });
    audio_->recorded.clear();
    EXPECT_TRUE(busy_seen);
    EXPECT_FALSE(mp3.empty());
    EXPECT_EQ(Shown(), std::vector<std::string>{"msgSaveToDraftsPrompt"});
    EXPECT_EQ(open_after, c.result == -1);
    if (c.result != -1) {
      EXPECT_EQ(result, c.result);
    }
    // Only Yes stores a draft, and it carries the recording.
    EXPECT_EQ(MailRow(uuid).empty(), c.answer != qovra::kMsgResultYes);
    if (c.answer == qovra::kMsgResultYes) {
      qovra::TEFileStream file(qovra::MessagesDir + uuid + ".emz", true, false, qovra::fmOpenRead);
      qovra::TMailReader reader(file);
      ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
      ASSERT_EQ(reader.Attachments().size(), 1u);
      EXPECT_EQ(reader.Attachments()[0].DataSize, static_cast<int64_t>(mp3.size()));
    }
  }
}

}  // namespace
