#include "mail/voice_length.h"

#include <array>

namespace qovra {

namespace {

// One parsed Layer III frame header.
struct TFrame {
  int version = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  int32_t rate = 0;
  int64_t bytes = 0;
  int samples = 0;  // per frame
  bool mono = false;
};

constexpr std::array<int, 15> kBitratesV1 = {0,   32,  40,  48,  56,  64,  80, 96,
                                             112, 128, 160, 192, 224, 256, 320};
constexpr std::array<int, 15> kBitratesV2 = {0,  8,  16, 24,  32,  40,  48, 56,
                                             64, 80, 96, 112, 128, 144, 160};
constexpr std::array<int32_t, 3> kRatesV1 = {44100, 48000, 32000};

uint8_t Byte(const std::string& s, size_t i) {
  return static_cast<uint8_t>(s[i]);
}

uint32_t Be32(const std::string& s, size_t i) {
  return (uint32_t{Byte(s, i)} << 24) | (uint32_t{Byte(s, i + 1)} << 16) |
         (uint32_t{Byte(s, i + 2)} << 8) | Byte(s, i + 3);
}

// The header in h[at..at+3]; false when it is none or not Layer III with a
// known bitrate and rate.
bool ParseHeader(const std::string& h, size_t at, TFrame& f) {
  if (h.size() < at + 4 || Byte(h, at) != 0xFF || (Byte(h, at + 1) & 0xE0) != 0xE0) return false;
  const int version = (Byte(h, at + 1) >> 3) & 3;
  const int layer = (Byte(h, at + 1) >> 1) & 3;
  const int bitrate_index = Byte(h, at + 2) >> 4;
  const int rate_index = (Byte(h, at + 2) >> 2) & 3;
  if (version == 1 || layer != 1 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3)
    return false;
  const bool v1 = version == 3;
  f.version = version;
  f.rate = kRatesV1[static_cast<size_t>(rate_index)] >> (v1 ? 0 : version == 2 ? 1 : 2);
  const int kbps = (v1 ? kBitratesV1 : kBitratesV2)[static_cast<size_t>(bitrate_index)];
  const int padding = (Byte(h, at + 2) >> 1) & 1;
  f.bytes = int64_t{v1 ? 144 : 72} * kbps * 1000 / f.rate + padding;
  f.samples = v1 ? 1152 : 576;
  f.mono = (Byte(h, at + 3) >> 6) == 3;
  return true;
}

TVoiceLength Fail(std::string reason) {
  TVoiceLength out;
  out.Error = std::move(reason);
  return out;
}

TVoiceLength Done(int64_t samples, int32_t rate) {
  TVoiceLength out;
  out.Ok = true;
  out.Samples = samples;
  out.SampleRate = rate;
  out.Ms = samples * 1000 / rate;
  return out;
}

// The Xing/Info frame's frame count, delay and padding, when frame holds one.
struct TInfoTag {
  bool present = false;
  bool has_frames = false;
  int64_t frames = 0;
  int64_t delay = 0;
  int64_t padding = 0;
};

TInfoTag ReadInfoTag(const std::string& frame, const TFrame& f) {
  TInfoTag tag;
  const size_t side = f.version == 3 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17);
  size_t at = 4 + side;
  if (frame.size() < at + 8) return tag;
  const std::string id = frame.substr(at, 4);
  if (id != "Xing" && id != "Info") return tag;
  tag.present = true;
  const uint32_t flags = Be32(frame, at + 4);
  at += 8;
  if (flags & 1) {
    if (frame.size() < at + 4) return tag;
    tag.has_frames = true;
    tag.frames = Be32(frame, at);
    at += 4;
  }
  if (flags & 2) at += 4;
  if (flags & 4) at += 100;
  if (flags & 8) at += 4;
  // The LAME extension: a 9-byte encoder name, then at 21 the 12-bit
  // delay and 12-bit padding.
  if (frame.size() >= at + 24) {
    const size_t dp = at + 21;
    tag.delay = (int64_t{Byte(frame, dp)} << 4) | (Byte(frame, dp + 1) >> 4);
    tag.padding = (int64_t{Byte(frame, dp + 1) & 0x0F} << 8) | Byte(frame, dp + 2);
  }
  return tag;
}

}  // namespace

TVoiceLength Mp3VoiceLength(const TReadAt& read_at, int64_t size) {
  std::string head;
  if (size <= 0 || !read_at(0, 10, head)) return Fail("empty or unreadable");
  int64_t pos = 0;
  // An ID3v2 tag: "ID3", version, flags, a 28-bit size in 4 x 7 bits.
  if (head.size() == 10 && head.compare(0, 3, "ID3") == 0) {
    int64_t tag = 0;
    for (size_t i = 6; i < 10; ++i) {
      if (Byte(head, i) & 0x80) return Fail("ID3 tag with a bad size");
      tag = (tag << 7) | Byte(head, i);
    }
    pos = 10 + tag + ((Byte(head, 5) & 0x10) ? 10 : 0);
  }
  std::string frame;
  TFrame first;
  if (pos >= size || !read_at(pos, 4, frame) || !ParseHeader(frame, 0, first))
    return Fail("no Layer III frame at offset " + std::to_string(pos));
  if (pos + first.bytes > size) return Fail("first frame runs past the end");
  if (!read_at(pos, static_cast<size_t>(first.bytes), frame) ||
      static_cast<int64_t>(frame.size()) != first.bytes)
    return Fail("first frame unreadable");
  const TInfoTag tag = ReadInfoTag(frame, first);
  if (tag.has_frames) {
    const int64_t samples = tag.frames * first.samples - tag.delay - tag.padding;
    if (tag.frames == 0 || samples <= 0) return Fail("Info frame counts no samples");
    return Done(samples, first.rate);
  }
  // No count: walk the frames (the Info frame itself holds no audio).
  int64_t frames = 0;
  if (!tag.present) ++frames;
  pos += first.bytes;
  while (pos < size) {
    TFrame f;
    if (!read_at(pos, 4, frame) || !ParseHeader(frame, 0, f)) {
      // A trailing tag ends the stream.
      if (frame.size() >= 3 && frame.compare(0, 3, "TAG") == 0) break;
      return Fail("lost frame sync at offset " + std::to_string(pos));
    }
    if (f.rate != first.rate) return Fail("sample rate changes at offset " + std::to_string(pos));
    if (pos + f.bytes > size) break;  // a cut last frame is not played
    ++frames;
    pos += f.bytes;
  }
  const int64_t samples = frames * first.samples - tag.delay - tag.padding;
  if (frames == 0 || samples <= 0) return Fail("no audio frames");
  return Done(samples, first.rate);
}

}  // namespace qovra
