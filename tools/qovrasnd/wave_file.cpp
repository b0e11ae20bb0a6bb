#include "wave_file.h"

#include <sys/stat.h>

#include <cstring>

namespace qovrasnd {
namespace {

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void Put16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}

// The rates an MP3 stream can carry: a wave at any other rate would come
// back resampled, with another rate and another number of samples.
bool Mp3SampleRate(uint32_t rate) {
  for (uint32_t r : {8000u, 11025u, 12000u, 16000u, 22050u, 24000u, 32000u, 44100u, 48000u})
    if (rate == r) return true;
  return false;
}

bool Fail(TWaveInput& wave, std::string& error, const char* reason) {
  if (wave.File) std::fclose(wave.File);
  wave.File = nullptr;
  error = reason;
  return false;
}

}  // namespace

bool OpenWave(const std::string& path, TWaveInput& wave, std::string& error) {
  wave = TWaveInput{};
  wave.File = std::fopen(path.c_str(), "rb");
  if (!wave.File) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fileno(wave.File), &st) != 0 || !S_ISREG(st.st_mode))
    return Fail(wave, error, "not a regular file");
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);
  unsigned char riff[12];
  if (std::fread(riff, 1, 12, wave.File) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0)
    return Fail(wave, error, "not a wave file");
  uint64_t pos = 12;
  bool have_format = false;
  for (;;) {
    unsigned char head[8];
    if (std::fread(head, 1, 8, wave.File) != 8) return Fail(wave, error, "no data chunk");
    pos += 8;
    const uint32_t size = Le32(head + 4);
    if (std::memcmp(head, "fmt ", 4) == 0) {
      unsigned char fmt[16];
      if (size < 16 || std::fread(fmt, 1, 16, wave.File) != 16)
        return Fail(wave, error, "short format chunk");
      const uint16_t tag = Le16(fmt);
      wave.Format.Channels = Le16(fmt + 2);
      wave.Format.SampleRate = Le32(fmt + 4);
      const uint16_t bits = Le16(fmt + 14);
      if (tag != 1 || bits != 16) return Fail(wave, error, "not 16-bit PCM");
      if (wave.Format.Channels != 1 && wave.Format.Channels != 2)
        return Fail(wave, error, "not mono or stereo");
      if (!Mp3SampleRate(wave.Format.SampleRate))
        return Fail(wave, error, "unsupported sample rate");
      have_format = true;
      const uint64_t rest = size - 16 + (size & 1);
      if (std::fseek(wave.File, static_cast<long>(rest), SEEK_CUR) != 0)
        return Fail(wave, error, "short format chunk");
    } else if (std::memcmp(head, "data", 4) == 0) {
      if (!have_format) return Fail(wave, error, "data before format");
      const uint64_t remaining = file_size > pos ? file_size - pos : 0;
      uint64_t bytes = size < remaining ? size : remaining;
      const uint64_t frame = 2u * wave.Format.Channels;
      wave.DataBytes = bytes - bytes % frame;
      // A recording stopped before its first frame: nothing to compress.
      if (wave.DataBytes == 0) return Fail(wave, error, "no audio data");
      return true;
    } else {
      const uint64_t skip = static_cast<uint64_t>(size) + (size & 1);
      if (pos + skip > file_size) return Fail(wave, error, "no data chunk");
      if (std::fseek(wave.File, static_cast<long>(skip), SEEK_CUR) != 0)
        return Fail(wave, error, "no data chunk");
      pos += skip;
      continue;
    }
    pos += size + (size & 1);
  }
}

std::string WaveHeader(const TWaveFormat& format, uint64_t data_bytes) {
  const uint32_t data = static_cast<uint32_t>(data_bytes);
  const uint16_t block = static_cast<uint16_t>(2 * format.Channels);
  std::string h;
  h.reserve(44);
  h += "RIFF";
  Put32(h, data + 36);
  h += "WAVEfmt ";
  Put32(h, 16);
  Put16(h, 1);
  Put16(h, format.Channels);
  Put32(h, format.SampleRate);
  Put32(h, format.SampleRate * block);
  Put16(h, block);
  Put16(h, 16);
  h += "data";
  Put32(h, data);
  return h;
}

}  // namespace qovrasnd
