// 16-bit PCM wave files: reading the format and the sample data, writing a
// file with a complete header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qovrasnd {

// The largest data chunk a wave file can describe: its RIFF size field
// (data + 36 bytes of header) is 32-bit.
constexpr uint64_t kMaxWaveDataBytes = 0xFFFFFFFFull - 36;

struct TWaveFormat {
  uint32_t SampleRate = 0;
  uint16_t Channels = 0;  // 1 or 2
};

// An open wave file positioned at the start of its sample data.
// DataBytes is what the data chunk holds, cut to what the file really has
// (a recording cut short keeps its samples) and to whole frames.
struct TWaveInput {
  std::FILE* File = nullptr;
  TWaveFormat Format;
  uint64_t DataBytes = 0;
};

// Opens path and checks it is 16-bit PCM, mono or stereo, at a rate an MP3
// can keep (8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 or
// 48000 Hz), with at least one whole frame of samples. False with a reason in error
// (the file is then closed).
[[nodiscard]] bool OpenWave(const std::string& path, TWaveInput& wave, std::string& error);

// The 44-byte header of a 16-bit PCM wave file with data_bytes of samples.
// REQUIRES: data_bytes <= kMaxWaveDataBytes.
std::string WaveHeader(const TWaveFormat& format, uint64_t data_bytes);

}  // namespace qovrasnd
