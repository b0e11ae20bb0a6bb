// The playing length of a voice recording, read from its MP3 frame headers
// without decoding it: the viewer shows it before the first Play.
//
// The recording is an MPEG audio Layer III stream as qovrasnd writes it
// (LAME, with its Xing/Info frame giving the frame count and the encoder's
// delay and padding), possibly behind an ID3v2 tag. With that frame the
// length is exactly what decoding gives: frames * samples per frame - delay
// - padding. Without it every frame header is walked and counted. Outside
// data: sizes are checked against what remains; no allocation grows with
// the input.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qovra {

struct TVoiceLength {
  bool Ok = false;
  int64_t Samples = 0;  // per channel
  int32_t SampleRate = 0;
  int64_t Ms = 0;     // Samples * 1000 / SampleRate, truncated
  std::string Error;  // why not Ok (for the log)
};

// Reads count bytes at position of the stream into out (fewer at its end);
// false when the stream cannot be read there.
using TReadAt = std::function<bool(int64_t position, size_t count, std::string& out)>;

// The length of the size-byte MP3 stream read through read_at.
TVoiceLength Mp3VoiceLength(const TReadAt& read_at, int64_t size);

}  // namespace qovra
