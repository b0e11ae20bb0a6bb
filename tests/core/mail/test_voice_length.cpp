// The length of a voice recording read from its MP3 frame headers: hand-made
// streams of each kind the reader meets, and one row per way a stream can be
// wrong, named by the reason given. (Streams written by qovrasnd itself are
// checked against their decoded length in test_qovrasnd.)
#include <gtest/gtest.h>

#include <string>

#include "mail/voice_length.h"

namespace qovra {
namespace {

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz, joint stereo: 417 bytes a frame.
std::string FrameV1(char fill = '\0') {
  return std::string("\xFF\xFB\x90\x40", 4) + std::string(413, fill);
}
// MPEG-2.5 Layer III, 8 kbit/s, 8000 Hz, mono: 72 bytes a frame.
std::string FrameV25() {
  return std::string("\xFF\xE3\x18\xC0", 4) + std::string(68, '\0');
}
// MPEG-1 at 48000 Hz: 384 bytes a frame.
std::string Frame48k() {
  return std::string("\xFF\xFB\x94\x40", 4) + std::string(380, '\0');
}
// An MPEG-1 Info frame, counting frames unless told not to, with the
// encoder's delay and padding in its LAME extension.
std::string InfoFrame(uint32_t frames, int delay, int padding, bool counted = true) {
  std::string f = FrameV1();
  f.replace(36, 4, "Info");
  f.replace(40, 4, std::string("\0\0\0", 3) + (counted ? '\x01' : '\0'));
  size_t at = 44;
  if (counted) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<char>(frames >> (24 - 8 * i));
    at += 4;
  }
  f.replace(at, 9, "LAME3.100");
  f[at + 21] = static_cast<char>(delay >> 4);
  f[at + 22] = static_cast<char>(((delay & 0x0F) << 4) | (padding >> 8));
  f[at + 23] = static_cast<char>(padding & 0xFF);
  return f;
}
std::string Times(int n, const std::string& frame) {
  std::string s;
  for (int i = 0; i < n; ++i) s += frame;
  return s;
}

TVoiceLength LengthOf(const std::string& stream) {
  return Mp3VoiceLength(
      [&](int64_t position, size_t count, std::string& out) {
        if (position < 0 || position > static_cast<int64_t>(stream.size())) return false;
        out = stream.substr(static_cast<size_t>(position), count);
        return true;
      },
      static_cast<int64_t>(stream.size()));
}

TEST(VoiceLength, StreamsTheReaderMeets) {
  const std::string id3 =
      std::string("ID3\x03\x00\x00\x00\x00\x00\x64", 10) + std::string(100, 'i');
  const struct {
    const char* what;
    std::string stream;
    int64_t samples;
    int32_t rate;
    int64_t ms;
  } rows[] = {
      {"frames walked", Times(5, FrameV1()), 5 * 1152, 44100, 130},
      {"Info frame's count, less delay and padding",
       InfoFrame(10, 576, 1000) + Times(10, FrameV1()), 10 * 1152 - 1576, 44100, 225},
      {"Info frame without a count: walked, less delay and padding",
       InfoFrame(0, 576, 1000, /*counted=*/false) + Times(4, FrameV1()), 4 * 1152 - 1576, 44100,
       68},
      {"behind an ID3v2 tag", id3 + Times(3, FrameV1()), 3 * 1152, 44100, 78},
      {"a cut last frame is not played", Times(3, FrameV1()) + FrameV1().substr(0, 200), 3 * 1152,
       44100, 78},
      {"a trailing ID3v1 tag", Times(2, FrameV1()) + "TAG" + std::string(125, 't'), 2 * 1152, 44100,
       52},
      {"MPEG-2.5 mono at 8000 Hz", Times(4, FrameV25()), 4 * 576, 8000, 288},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const TVoiceLength length = LengthOf(r.stream);
    ASSERT_TRUE(length.Ok) << length.Error;
    EXPECT_EQ(length.Samples, r.samples);
    EXPECT_EQ(length.SampleRate, r.rate);
    EXPECT_EQ(length.Ms, r.ms);
  }
}

TEST(VoiceLength, BadStreamsSayWhy) {
  const struct {
    const char* what;
    std::string stream;
    const char* reason;
  } rows[] = {
      {"Empty", "", "empty or unreadable"},
      {"NotAudio", "plain text, not a recording", "no Layer III frame at offset 0"},
      {"LayerTwo", std::string("\xFF\xFD\x90\x40", 4) + std::string(413, '\0'),
       "no Layer III frame at offset 0"},
      {"FreeBitrate", std::string("\xFF\xFB\x00\x40", 4) + std::string(413, '\0'),
       "no Layer III frame at offset 0"},
      {"BadId3Size", std::string("ID3\x03\x00\x00\x00\x80\x00\x00", 10) + FrameV1(),
       "ID3 tag with a bad size"},
      {"Id3PastTheEnd", std::string("ID3\x03\x00\x00\x00\x00\x7F\x7F", 10) + FrameV1(),
       "no Layer III frame at offset 16393"},
      {"FirstFrameCut", FrameV1().substr(0, 100), "first frame runs past the end"},
      {"JunkBetweenFrames", Times(2, FrameV1()) + "junk" + FrameV1(),
       "lost frame sync at offset 834"},
      {"InfoCountsNothing", InfoFrame(0, 0, 0) + FrameV1(), "Info frame counts no samples"},
      {"DelayExceedsTheFrames", InfoFrame(1, 1000, 1000) + FrameV1(),
       "Info frame counts no samples"},
      {"RateChanges", FrameV1() + Frame48k(), "sample rate changes at offset 417"},
  };
  for (const auto& r : rows) {
    const TVoiceLength length = LengthOf(r.stream);
    EXPECT_FALSE(length.Ok) << r.what;
    EXPECT_EQ(length.Error, r.reason) << r.what;
  }
}

}  // namespace
}  // namespace qovra
