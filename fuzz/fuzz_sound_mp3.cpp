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
#include <fstream>
#include <string>
#include <system_error>

#include "sound_codec.h"
#include "wave_file.h"

namespace {

namespace fs = std::filesystem;

std::string root;

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  root = std::string(base) + "/fuzz-mp3-XXXXXX";
  if (!mkdtemp(root.data())) std::abort();
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(root, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in = root + "/in.mp3", out = root + "/out.wav";
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::string error;
  const bool decoded = qovrasnd::Decode(in, out, error);
  if (Exists(out + ".part") || decoded != Exists(out)) __builtin_trap();
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
