// Fuzz target: the voice recording's length from its MP3 headers, on
// arbitrary bytes. Every read stays within the stream, and a length given
// is one that can be played.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/voice_length.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string stream(reinterpret_cast<const char*>(data), size);
  const auto total = static_cast<int64_t>(size);
  const qovra::TVoiceLength length = qovra::Mp3VoiceLength(
      [&](int64_t position, size_t count, std::string& out) {
        if (position < 0 || position > total) std::abort();
        out = stream.substr(static_cast<size_t>(position), count);
        return true;
      },
      total);
  if (length.Ok) {
    if (length.Samples <= 0 || length.SampleRate < 8000 || length.SampleRate > 48000 ||
        length.Ms != length.Samples * 1000 / length.SampleRate || !length.Error.empty())
      std::abort();
  } else if (length.Error.empty()) {
    std::abort();
  }
  return 0;
}
