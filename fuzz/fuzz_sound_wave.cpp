// Fuzz target: qovrasnd's wave reader and its compression, on arbitrary
// bytes written as a wave file. A wave the reader accepts has the format it
// promises (16-bit PCM, mono or stereo, at a rate an MP3 keeps) and at least one
// whole frame that the file really holds; compressing it gives an MP3 that
// decodes back to exactly as many samples in the same format. A refused
// file compresses to nothing; no run leaves a ".part".
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_scratch.h"
#include "sound_codec.h"
#include "wave_file.h"

namespace {

namespace fs = std::filesystem;

std::string root;

bool Mp3Rate(uint32_t rate) {
  for (uint32_t r : {8000u, 11025u, 12000u, 16000u, 22050u, 24000u, 32000u, 44100u, 48000u})
    if (rate == r) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  root = qovra_fuzz::ScratchFolder("fuzz-wave");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in = root + "/in.wav", mp3 = root + "/out.mp3", back = root + "/back.wav";
  qovra_fuzz::WriteInput(in, data, size);
  std::string error;
  qovrasnd::TWaveInput wave;
  const bool read = qovrasnd::OpenWave(in, wave, error);
  if (read) {
    const qovrasnd::TWaveFormat& f = wave.Format;
    if ((f.Channels != 1 && f.Channels != 2) || !Mp3Rate(f.SampleRate) || wave.DataBytes == 0 ||
        wave.DataBytes % (2u * f.Channels) != 0)
      __builtin_trap();
    // The samples it counts are all there to read.
    std::vector<char> samples(static_cast<size_t>(wave.DataBytes));
    if (std::fread(samples.data(), 1, samples.size(), wave.File) != samples.size())
      __builtin_trap();
    std::fclose(wave.File);
  } else if (wave.File || error.empty()) {
    __builtin_trap();
  }

  const bool compressed = qovrasnd::Compress(in, mp3, error);
  if (qovra_fuzz::Exists(mp3 + ".part") || compressed != qovra_fuzz::Exists(mp3)) __builtin_trap();
  if (compressed && !read) __builtin_trap();
  if (compressed) {
    if (!qovrasnd::Decode(mp3, back, error)) __builtin_trap();
    qovrasnd::TWaveInput out;
    if (!qovrasnd::OpenWave(back, out, error)) __builtin_trap();
    std::fclose(out.File);
    if (out.Format.Channels != wave.Format.Channels ||
        out.Format.SampleRate != wave.Format.SampleRate || out.DataBytes != wave.DataBytes)
      __builtin_trap();
  }
  std::error_code ec;
  fs::remove(mp3, ec);
  fs::remove(back, ec);
  return 0;
}
