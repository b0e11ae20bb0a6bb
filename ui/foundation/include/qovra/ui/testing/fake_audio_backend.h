// A recording audio backend for tests.
//
//   qovra::ui::testing::ScopedFakeAudio audio;
//   audio->output_devices = 0;
//   ShowMsgDialog(...);
//   EXPECT_EQ(audio->beeps, std::vector<int>{48});
#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cmath>
#include <cstring>
#include <vector>

#include "qovra/ui/audio_backend.h"

namespace qovra::ui::testing {

class FakeAudioBackend;

// A voice session the test drives: Level, Finish (the end a device would
// report). Activate and Deactivate are queued, as the real ones are.
class FakeVoiceSession : public QObject, public VoiceSession {
 public:
  FakeVoiceSession(FakeVoiceSession** registry, TVoiceEvents events, int64_t length_ms)
      : registry_(registry), events_(std::move(events)), length_ms_(length_ms) {
    *registry_ = this;
    QTimer::singleShot(0, this, [this] {
      if (events_.Activate) events_.Activate();
    });
  }
  ~FakeVoiceSession() override {
    if (*registry_ == this) *registry_ = nullptr;
  }
  void SetPaused(bool paused) override {
    if (active_) paused_ = paused;
  }
  bool Paused() const override { return paused_; }
  void Stop() override { Finish(TVoiceEnd::Stopped); }
  bool Active() const override { return active_; }
  int64_t PositionMs() const override { return position_ms; }
  int64_t LengthMs() const override { return length_ms_; }

  void Level(int level) {
    if (events_.Level) events_.Level(level);
  }
  void Finish(TVoiceEnd reason) {
    if (!active_) return;
    active_ = false;
    paused_ = false;
    QTimer::singleShot(0, this, [this, reason] {
      if (events_.Deactivate) events_.Deactivate(reason);
    });
  }

  int64_t position_ms = 0;

 private:
  FakeVoiceSession** registry_;
  TVoiceEvents events_;
  int64_t length_ms_;
  bool active_ = true;
  bool paused_ = false;
};

class FakeAudioBackend : public AudioBackend {
 public:
  // Record writes a wave file of record_ms of a 440 Hz tone in the asked
  // format at once (so that it can be compressed), unless there is no
  // input device.
  std::unique_ptr<VoiceSession> Record(const QString& wave_file, const TVoiceFormat& format,
                                       uint64_t limit_bytes, TVoiceEvents events) override {
    if (input_devices < 1) return nullptr;
    record_formats.push_back(format);
    record_limits.push_back(limit_bytes);
    recorded << wave_file;
    QFile f(wave_file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return nullptr;
    const uint32_t frames = static_cast<uint32_t>(format.SampleRate * record_ms / 1000);
    const uint32_t data = frames * 2u * static_cast<uint32_t>(format.Channels);
    QByteArray h(44, '\0');
    auto put = [&h](int at, uint32_t v, int n) {
      for (int i = 0; i < n; ++i) h[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    std::memcpy(h.data(), "RIFF", 4);
    put(4, data + 36, 4);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, static_cast<uint32_t>(format.Channels), 2);
    put(24, static_cast<uint32_t>(format.SampleRate), 4);
    put(28, static_cast<uint32_t>(format.SampleRate * 2 * format.Channels), 4);
    put(32, static_cast<uint32_t>(2 * format.Channels), 2);
    put(34, 16, 2);
    std::memcpy(h.data() + 36, "data", 4);
    put(40, data, 4);
    QByteArray samples(static_cast<qsizetype>(data), '\0');
    for (uint32_t i = 0; i < frames; ++i) {
      const auto v =
          static_cast<int16_t>(8000 * std::sin(2 * 3.14159265358979 * 440 * i / format.SampleRate));
      for (int c = 0; c < format.Channels; ++c)
        std::memcpy(samples.data() + (i * format.Channels + c) * 2, &v, 2);
    }
    f.write(h);
    f.write(samples);
    f.close();
    return std::make_unique<FakeVoiceSession>(&recording, std::move(events), record_ms);
  }
  std::unique_ptr<VoiceSession> Play(const QString& wave_file, TVoiceEvents events) override {
    if (output_devices < 1) return nullptr;
    voice_played << wave_file;
    if (!QFile::exists(wave_file)) return nullptr;
    return std::make_unique<FakeVoiceSession>(&playing, std::move(events), play_length_ms);
  }

  int OutputDeviceCount() override { return output_devices; }
  int InputDeviceCount() override { return input_devices; }
  bool PlayFile(const QString& file) override {
    played << file;
    return play_succeeds;
  }
  void StopFile(const QString& file) override { stopped << file; }
  void Beep(int flags) override { beeps.push_back(flags); }

  void Reset() {
    played.clear();
    stopped.clear();
    beeps.clear();
  }

  int output_devices = 1;
  int input_devices = 1;
  bool play_succeeds = true;
  QStringList played;
  QStringList stopped;
  std::vector<int> beeps;

  int record_ms = 300;
  int64_t play_length_ms = 1500;
  std::vector<TVoiceFormat> record_formats;
  std::vector<uint64_t> record_limits;
  QStringList recorded;
  QStringList voice_played;
  // The live sessions (null once the window let them go).
  FakeVoiceSession* recording = nullptr;
  FakeVoiceSession* playing = nullptr;
};

// Installs a FakeAudioBackend while it lives.
class ScopedFakeAudio {
 public:
  ScopedFakeAudio() { SetAudioBackend(&fake_); }
  ~ScopedFakeAudio() { SetAudioBackend(nullptr); }
  ScopedFakeAudio(const ScopedFakeAudio&) = delete;
  ScopedFakeAudio& operator=(const ScopedFakeAudio&) = delete;

  FakeAudioBackend* operator->() { return &fake_; }
  FakeAudioBackend& operator*() { return fake_; }

 private:
  FakeAudioBackend fake_;
};

}  // namespace qovra::ui::testing
