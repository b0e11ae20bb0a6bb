// Recording into and playing from 16-bit PCM wave files, for the voice
// windows. Reached through AudioBackend::Record and AudioBackend::Play.
//
// A session is active from its start until it ends: by Stop, by the end of
// the sound (playback), by the size cap (recording) or by a device error.
// Its end is delivered once, through TVoiceEvents::Deactivate, queued on
// the GUI thread after the session has closed its file (the wave file is
// complete and its header states its real length by then). Activate is
// delivered queued once the session has started; Level (0-100, the peak of
// the last buffer) while recording.
//
// GUI thread only.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

namespace qovra::ui {

// 16-bit PCM.
struct TVoiceFormat {
  int SampleRate = 22050;
  int Channels = 1;
};

// Why a session ended.
enum class TVoiceEnd : uint8_t {
  Stopped,      // Stop, or the end of the sound
  SizeLimit,    // the recording reached RecordLimitBytes
  DeviceError,  // the device failed or went away
};

struct TVoiceEvents {
  std::function<void()> Activate;
  std::function<void(TVoiceEnd)> Deactivate;
  std::function<void(int)> Level;
};

// The most sample bytes a recording writes: the wave header's size fields
// are 32-bit, and a margin keeps the RIFF size below 4 GiB.
constexpr uint64_t kVoiceRecordLimitBytes = 0xFFFFFFFFull - 36 - 65536;

class VoiceSession {
 public:
  virtual ~VoiceSession() = default;
  // Pauses or resumes an active session; nothing otherwise.
  virtual void SetPaused(bool paused) = 0;
  virtual bool Paused() const = 0;
  // Ends an active session (Deactivate follows); nothing otherwise.
  virtual void Stop() = 0;
  virtual bool Active() const = 0;
  // Milliseconds recorded or played so far.
  virtual int64_t PositionMs() const = 0;
  // The length of the played sound in milliseconds; for a recording, what
  // was recorded so far.
  virtual int64_t LengthMs() const = 0;
};

// Milliseconds as the voice windows show them: "s.hh", "m:ss.hh" or
// "h:mm:ss.hh" (hundredths), with the system's decimal separator (the
// environment's locale, whatever language the program speaks).
QString FormatVoiceTime(int64_t ms);

}  // namespace qovra::ui
