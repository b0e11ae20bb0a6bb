// A recording audio backend for tests.
//
//   qovra::ui::testing::ScopedFakeAudio audio;
//   audio->output_devices = 0;
//   ShowMsgDialog(...);
//   EXPECT_EQ(audio->beeps, std::vector<int>{48});
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "qovra/ui/audio_backend.h"

namespace qovra::ui::testing {

class FakeAudioBackend : public AudioBackend {
 public:
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
