// Writes the three dialog sounds of qelto.rcc: short sine-tone WAV files
// (22050 Hz, 16-bit mono PCM), each compressed as one zlib stream.
//
//   make_dialog_sounds <output folder>
//
// Output: 101.wavz (information and other), 102.wavz (question),
// 103.wavz (error and warning). Exit status 0 on success, 1 otherwise.
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kPi = 3.14159265358979323846;

struct Note {
  double hz;
  double seconds;
};

void PutLe(std::string& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// The notes one after another, each with a short fade in and out so that
// no click is heard.
std::string MakeWav(const std::vector<Note>& notes, double volume) {
  std::vector<int16_t> samples;
  for (const Note& n : notes) {
    const int count = static_cast<int>(n.seconds * kRate);
    const int ramp = kRate / 200;  // 5 ms
    for (int i = 0; i < count; ++i) {
      double env = 1.0;
      if (i < ramp) env = static_cast<double>(i) / ramp;
      if (count - i < ramp) env = static_cast<double>(count - i) / ramp;
      const double v = volume * env * std::sin(2.0 * kPi * n.hz * i / kRate);
      samples.push_back(static_cast<int16_t>(std::lround(v * 32767.0)));
    }
  }
  const uint32_t data_size = static_cast<uint32_t>(samples.size() * 2);
  std::string wav = "RIFF";
  PutLe(wav, 36 + data_size, 4);
  wav += "WAVEfmt ";
  PutLe(wav, 16, 4);         // fmt chunk size
  PutLe(wav, 1, 2);          // PCM
  PutLe(wav, 1, 2);          // mono
  PutLe(wav, kRate, 4);      // sample rate
  PutLe(wav, kRate * 2, 4);  // byte rate
  PutLe(wav, 2, 2);          // block align
  PutLe(wav, 16, 2);         // bits per sample
  wav += "data";
  PutLe(wav, data_size, 4);
  for (int16_t s : samples) PutLe(wav, static_cast<uint16_t>(s), 2);
  return wav;
}

bool WriteCompressed(const std::string& path, const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<Bytef> out(size);
  if (compress2(out.data(), &size, reinterpret_cast<const Bytef*>(data.data()),
                static_cast<uLong>(data.size()), Z_BEST_COMPRESSION) != Z_OK) {
    std::fprintf(stderr, "make_dialog_sounds: compression failed\n");
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "make_dialog_sounds: cannot create %s\n", path.c_str());
    return false;
  }
  const bool ok = std::fwrite(out.data(), 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_dialog_sounds <output folder>\n");
    return 1;
  }
  const std::string dir = argv[1];
  // 101: a soft two-note chime; 102: a rising question; 103: a low double buzz.
  const std::string info = MakeWav({{659.25, 0.09}, {880.0, 0.16}}, 0.30);
  const std::string question = MakeWav({{523.25, 0.10}, {659.25, 0.08}, {783.99, 0.16}}, 0.30);
  const std::string error = MakeWav({{220.0, 0.12}, {0.0, 0.04}, {196.0, 0.20}}, 0.40);
  if (!WriteCompressed(dir + "/101.wavz", info)) return 1;
  if (!WriteCompressed(dir + "/102.wavz", question)) return 1;
  if (!WriteCompressed(dir + "/103.wavz", error)) return 1;
  return 0;
}
