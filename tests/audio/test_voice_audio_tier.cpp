// The audio tier: the Qt Multimedia voice sessions on a private PulseAudio
// (tests/audio/with_pulse.sh): a 3-second 440 Hz tone played into the null
// sink is recorded from its monitor, compressed and decoded by qovrasnd,
// and compared by length and dominant frequency. Skips without a device.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cmath>
#include <fstream>
#include <vector>

#include "audio/audio_tier.h"
#include "qovra/ui/audio_backend.h"
#include "qovra/workspace/sound_tool.h"

namespace {

using qovra::ui::TVoiceEnd;
using qovra_test::DominantFrequency;
using qovra_test::ReadSamples;
using qovra_test::WriteTone;

TEST(VoiceAudioTier, ToneRecordedCompressedAndDecoded) {
  qovra::ui::AudioBackend& audio = qovra::ui::Audio();
  // The device lists fill once the sound server has answered.
  QElapsedTimer wait;
  wait.start();
  while ((audio.InputDeviceCount() < 1 || audio.OutputDeviceCount() < 1) && wait.elapsed() < 2000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  if (audio.InputDeviceCount() < 1 || audio.OutputDeviceCount() < 1)
    GTEST_SKIP() << "no sound device: run under tests/audio/with_pulse.sh";
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString tone = dir.filePath(QStringLiteral("tone.wav"));
  const QString wave = dir.filePath(QStringLiteral("voice.wav"));
  const std::string mp3 = dir.filePath(QStringLiteral("voice.mp3")).toStdString();
  const std::string back = dir.filePath(QStringLiteral("back.wav")).toStdString();
  WriteTone(tone, 22050, 4.0, 440);

  bool played = false;
  qovra::ui::TVoiceEvents play_events;
  play_events.Deactivate = [&](TVoiceEnd) { played = true; };
  auto player = audio.Play(tone, play_events);
  ASSERT_NE(player, nullptr);
  bool recorded = false;
  TVoiceEnd end = TVoiceEnd::DeviceError;
  qovra::ui::TVoiceEvents record_events;
  record_events.Deactivate = [&](TVoiceEnd e) {
    recorded = true;
    end = e;
  };
  auto recorder = audio.Record(wave, {22050, 1}, qovra::ui::kVoiceRecordLimitBytes, record_events);
  ASSERT_NE(recorder, nullptr);
  QElapsedTimer clock;
  clock.start();
  while (recorder->PositionMs() < 3000 && clock.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  recorder->Stop();
  while (!recorded && clock.elapsed() < 12000) QCoreApplication::processEvents();
  player->Stop();
  ASSERT_TRUE(recorded);
  EXPECT_EQ(end, TVoiceEnd::Stopped);

  ASSERT_EQ(qovra::compose::CompressVoice(wave.toStdString(), mp3, nullptr),
            qovra::compose::TSoundToolResult::Done);
  ASSERT_EQ(qovra::compose::DecodeVoice(mp3, back, nullptr),
            qovra::compose::TSoundToolResult::Done);
  int rate = 0;
  const std::vector<int16_t> samples = ReadSamples(back, rate);
  ASSERT_EQ(rate, 22050);
  // About three seconds (the recorder stops on its next buffer).
  EXPECT_GE(samples.size(), 22050u * 3);
  EXPECT_LE(samples.size(), 22050u * 3 + 22050u / 2);
  // The last two seconds, clear of the start-up of both streams.
  const std::vector<int16_t> tail(samples.end() - 22050 * 2, samples.end());
  EXPECT_NEAR(DominantFrequency(tail, rate), 440, 10);
}

}  // namespace
