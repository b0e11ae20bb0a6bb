// Running qovrasnd, the voice compressor and decoder beside the program.
//
// The program is started with an argument vector (no shell) and waited for
// while the GUI thread keeps handling events, so the caller must keep its
// window from starting other work meanwhile. The wait ends when the
// program ends, when the time-out passes or when cancelled() turns true;
// the last two end the program (SIGTERM, then SIGKILL).
//
// GUI thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qovra::compose {

enum class TSoundToolResult : uint8_t {
  Done,        // exit 0 and a non-empty output file
  NotStarted,  // the program is missing or cannot run
  Failed,      // another exit, a signal, or no output file
  TimedOut,
  Cancelled,
};

// The program's path: "qovrasnd" in the program folder unless tests set
// another (empty restores it).
std::string SoundToolPath();
void SetSoundToolPathForTesting(const std::string& path);

// A time-out that grows with the input: 30 seconds and one more per MiB.
std::chrono::milliseconds SoundToolTimeout(int64_t input_bytes);

// A new, empty file of the caller's own in the program's temporary folder
// ("voi" + random hex digits + ext, mode 0600): it holds the name until the
// caller writes it, and the caller deletes it. Empty (and said on stderr)
// when none could be made.
std::string NewVoiceTempFile(std::string_view ext);

// qovrasnd wave mp3.
TSoundToolResult CompressVoice(const std::string& wave, const std::string& mp3,
                               const std::function<bool()>& cancelled);
// qovrasnd --decode mp3 wave.
TSoundToolResult DecodeVoice(const std::string& mp3, const std::string& wave,
                             const std::function<bool()>& cancelled);

}  // namespace qovra::compose
