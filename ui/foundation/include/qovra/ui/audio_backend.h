// The one way the program reaches sound devices.
//
// Every sound of the program (dialog sounds, the new-mail sound, voice
// recording and playback) goes through the installed AudioBackend. The
// program uses the Qt Multimedia backend; tests install a fake
// (qovra/ui/testing/fake_audio_backend.h) so that no test depends on a
// sound device.
//
// GUI thread only.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

#include "qovra/ui/voice_device.h"

namespace qovra::ui {

class AudioBackend {
 public:
  virtual ~AudioBackend() = default;

  // How many sound output and input devices the system offers now.
  virtual int OutputDeviceCount() = 0;
  virtual int InputDeviceCount() = 0;

  // Starts playing the sound file file on the default output, without
  // waiting for it; a file already playing starts again. Returns false when
  // playback could not be started (no player, no device); errors that
  // happen later while playing are swallowed.
  [[nodiscard]] virtual bool PlayFile(const QString& file) = 0;
  // Stops file if it is playing; nothing otherwise.
  virtual void StopFile(const QString& file) = 0;
  // The system's alert sound for a message of the given flags (the message
  // dialog's flags); used when a sound cannot be played.
  virtual void Beep(int flags) = 0;

  // Voice (qovra/ui/voice_device.h). Record creates wave_file anew and
  // records format into it from the default input, stopping at
  // limit_bytes of samples; Play plays a wave file on the default output.
  // Null when the session could not start (no device, a file that cannot
  // be written or read); no event is delivered then. The base has no
  // voice devices.
  virtual std::unique_ptr<VoiceSession> Record(const QString& wave_file, const TVoiceFormat& format,
                                               uint64_t limit_bytes, TVoiceEvents events);
  virtual std::unique_ptr<VoiceSession> Play(const QString& wave_file, TVoiceEvents events);
};

// The installed backend; the Qt Multimedia backend when none was installed.
// REQUIRES: a QApplication exists.
AudioBackend& Audio();

// Installs backend (the caller keeps ownership and keeps it alive while it
// is installed); null restores the Qt Multimedia backend.
void SetAudioBackend(AudioBackend* backend);

}  // namespace qovra::ui
