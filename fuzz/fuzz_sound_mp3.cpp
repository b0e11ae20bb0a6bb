// Fuzz target: qovrasnd's MP3 decoding, on arbitrary bytes written as an MP3
// file. A decode that succeeds leaves exactly the wave file (no ".part"),
// and the wave reader takes it: 16-bit PCM, mono or stereo, at least one
// frame. A decode that fails, also after its output started, leaves neither
// the wave nor its ".part", and says why.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "fuzz_scratch.h"
#include "sound_codec.h"
#include "wave_file.h"

namespace {

namespace fs = std::filesystem;

std::string root;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  root = qovra_fuzz::ScratchFolder("fuzz-mp3");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in = root + "/in.mp3", out = root + "/out.wav";
  qovra_fuzz::WriteInput(in, data, size);
  std::string error;
  const bool decoded = qovrasnd::Decode(in, out, error);
  if (qovra_fuzz::Exists(out + ".part") || decoded != qovra_fuzz::Exists(out)) __builtin_trap();
  if (!decoded) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  qovrasnd::TWaveInput wave;
  if (!qovrasnd::OpenWave(out, wave, error)) __builtin_trap();
  std::fclose(wave.File);
  std::error_code ec;
  fs::remove(out, ec);
  return 0;
}
