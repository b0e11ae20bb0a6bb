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

#include "qovra/ui/audio_backend.h"
#include "qovra/workspace/sound_tool.h"

namespace {

using qovra::ui::TVoiceEnd;

void WriteTone(const QString& path, int rate, double seconds, double hz) {
  const auto frames = static_cast<uint32_t>(rate * seconds);
  std::string data(frames * 2, '\0');
  for (uint32_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * i / rate));
    data[2 * i] = static_cast<char>(v & 0xFF);
    data[2 * i + 1] = static_cast<char>((v >> 8) & 0xFF);
  }
  std::string h = "RIFF    WAVEfmt ";
  auto put = [&h](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) h.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put(16, 4);
  put(1, 2);
  put(1, 2);
  put(static_cast<uint32_t>(rate), 4);
  put(static_cast<uint32_t>(rate * 2), 4);
  put(2, 2);
  put(16, 2);
  h += "data";
  put(static_cast<uint32_t>(data.size()), 4);
  const uint32_t riff = static_cast<uint32_t>(data.size() + 36);
  for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<char>((riff >> (8 * i)) & 0xFF);
  std::ofstream(path.toStdString(), std::ios::binary) << h << data;
}

// Mono 16-bit samples of a wave file written by qovrasnd (44-byte header).
std::vector<int16_t> ReadSamples(const std::string& path, int& rate) {
  std::ifstream in(path, std::ios::binary);
  const std::string all{std::istreambuf_iterator<char>(in), {}};
  if (all.size() < 44) return {};
  rate = static_cast<unsigned char>(all[24]) | static_cast<unsigned char>(all[25]) << 8 |
         static_cast<unsigned char>(all[26]) << 16;
  std::vector<int16_t> s((all.size() - 44) / 2);
  std::memcpy(s.data(), all.data() + 44, s.size() * 2);
  return s;
}

// The frequency between 100 and 2000 Hz (10 Hz steps) with the most energy.
double DominantFrequency(const std::vector<int16_t>& s, int rate) {
  double best = 0;
  double best_hz = 0;
  for (double hz = 100; hz <= 2000; hz += 10) {
    const double w = 2 * M_PI * hz / rate;
    const double c = 2 * std::cos(w);
    double q1 = 0;
    double q2 = 0;
    for (int16_t v : s) {
      const double q0 = c * q1 - q2 + v;
      q2 = q1;
      q1 = q0;
    }
    const double power = q1 * q1 + q2 * q2 - c * q1 * q2;
    if (power > best) {
      best = power;
      best_hz = hz;
    }
  }
  return best_hz;
}

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
