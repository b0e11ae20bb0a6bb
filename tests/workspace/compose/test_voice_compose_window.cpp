// The voice compose window with the fake audio backend and the real
// qovrasnd: recorder and player states, the level clamp, the recording
// formats, the no-device path, failed compressions, the close question,
// the window's own temporary files, and a voice mail sent and received.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "compose_fixture.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/workspace/new_voice_mail.h"
#include "qovra/workspace/sound_tool.h"

namespace {

namespace fs = std::filesystem;
using qovra::ui::TVoiceEnd;
using qovra_test::kAlice;
using qovra_test::kBob;

class VoiceComposeTest : public qovra_test::ComposeFixture {
 protected:
  void SetUp() override {
    ComposeFixture::SetUp();
    for (const char* key : {"msgNoRecordingDevice", "msgNoPlaybackDevice", "msgAudioDeviceError",
                            "msgVoiceRecordTooLong", "msgVoiceCompressFailed"})
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
  EXPECT_TRUE(row[1] & qovra::mfVoice);
  EXPECT_TRUE(row[1] & qovra::mfAttachments);
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

}  // namespace
