// The audio tier through the windows: alice records a 3-second tone in the
// voice compose window on the private PulseAudio, sends it to bob, bob
// receives it, and its voice.mp3 decodes to about three seconds of 440 Hz.
// Skips without a sound device.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include "audio/audio_tier.h"
#include "compose/compose_fixture.h"
#include "qovra/workspace/new_voice_mail.h"
#include "qovra/workspace/sound_tool.h"

namespace {

using qovra_test::kAlice;
using qovra_test::kBob;

class VoiceMailAudioTier : public qovra_test::ComposeFixture {};

TEST_F(VoiceMailAudioTier, ToneRecordedSentReceivedAndDecoded) {
  qovra::ui::SetAudioBackend(nullptr);  // the Qt backend, not the fixture's fake
  qovra::ui::AudioBackend& audio = qovra::ui::Audio();
  QElapsedTimer wait;
  wait.start();
  while ((audio.InputDeviceCount() < 1 || audio.OutputDeviceCount() < 1) && wait.elapsed() < 2000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  if (audio.InputDeviceCount() < 1 || audio.OutputDeviceCount() < 1)
    GTEST_SKIP() << "no sound device: run under tests/audio/with_pulse.sh";
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  const QString tone = QString::fromStdString(dir_.File("tone.wav"));
  qovra_test::WriteTone(tone, 22050, 4.0, 440);

  std::string uuid;
  QTimer::singleShot(0, [&] {
    auto* form = qobject_cast<TfrmNewVoiceMail*>(QApplication::activeModalWidget());
    if (!form) return;
    uuid = std::string(form->Mail->Uuid.view());
    auto player = audio.Play(tone, {});
    if (!player) return form->done(2);
    form->btnRecord->click();
    QElapsedTimer clock;
    clock.start();
    // Three seconds recorded, as the position label shows them (the
    // stream starts a little after the click).
    while (!form->lblPosition->text().startsWith(QLatin1Char('3')) && clock.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    form->btnStop->click();
    while (!form->HasVoice && clock.elapsed() < 15000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    player->Stop();
    form->frameNewMailTop1->eTo->setText(QString::fromLatin1(kBob));
    form->frameNewMailTop1->eSubject->setText(QStringLiteral("Tone"));
    Window().alMain->acMailSend->trigger();
    if (form->isVisible()) form->done(2);
  });
  ASSERT_EQ(Window().acMailNewVoiceExecute(), 1) << testing::PrintToString(Shown());

  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  ASSERT_TRUE(Window().acMailReceiveExecute());
  std::ifstream in(qovra::MessagesDir + uuid + ".emz", std::ios::binary);
  const std::string container{std::istreambuf_iterator<char>(in), {}};
  qovra::TMemoryStream source(container);
  qovra::TMailReader reader(source);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
  ASSERT_EQ(reader.Attachments().size(), 1u);
  const qovra::TMailAttachmentInfo& a = reader.Attachments()[0];
  EXPECT_EQ(std::u16string(a.FileName.view()), u"voice.mp3");
  ASSERT_TRUE(reader.SeekData(a.DataOffset));
  std::string mp3(static_cast<size_t>(a.DataSize), '\0');
  ASSERT_EQ(reader.ReadData(mp3.data(), mp3.size()), mp3.size());
  const std::string mp3_file = dir_.File("got.mp3");
  const std::string wav_file = dir_.File("got.wav");
  std::ofstream(mp3_file, std::ios::binary) << mp3;
  ASSERT_EQ(qovra::compose::DecodeVoice(mp3_file, wav_file, nullptr),
            qovra::compose::TSoundToolResult::Done);
  int rate = 0;
  const std::vector<int16_t> samples = qovra_test::ReadSamples(wav_file, rate);
  ASSERT_EQ(rate, 22050);
  EXPECT_GE(samples.size(), 22050u * 5 / 2);
  EXPECT_LE(samples.size(), 22050u * 4);
  ASSERT_GE(samples.size(), 22050u * 2);
  const std::vector<int16_t> tail(samples.end() - 22050 * 2, samples.end());
  EXPECT_NEAR(qovra_test::DominantFrequency(tail, rate), 440, 10);
}

}  // namespace
