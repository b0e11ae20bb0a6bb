// Helpers of the audio tier: a tone file, samples of a decoded wave, the
// dominant frequency.
#pragma once

#include <QString>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace qovra_test {

inline void WriteTone(const QString& path, int rate, double seconds, double hz) {
  const auto frames = static_cast<uint32_t>(rate * seconds);
  std::string data(frames * 2, '\0');
  for (uint32_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * i / rate));
    data[2 * i] = static_cast<char>(v & 0xFF);
    data[2 * i + 1] = static_cast<char>((v >> 8) & 0xFF);
  }
  std::string h = "RIFF    WAVEfmt ";
  auto put = [&h](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) h.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put(16, 4);
  put(1, 2);
  put(1, 2);
  put(static_cast<uint32_t>(rate), 4);
  put(static_cast<uint32_t>(rate * 2), 4);
  put(2, 2);
  put(16, 2);
  h += "data";
  put(static_cast<uint32_t>(data.size()), 4);
  const uint32_t riff = static_cast<uint32_t>(data.size() + 36);
  for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<char>((riff >> (8 * i)) & 0xFF);
  std::ofstream(path.toStdString(), std::ios::binary) << h << data;
}

// Mono 16-bit samples of a wave file written by qovrasnd (44-byte header).
inline std::vector<int16_t> ReadSamples(const std::string& path, int& rate) {
  std::ifstream in(path, std::ios::binary);
  const std::string all{std::istreambuf_iterator<char>(in), {}};
  if (all.size() < 44) return {};
  rate = static_cast<unsigned char>(all[24]) | static_cast<unsigned char>(all[25]) << 8 |
         static_cast<unsigned char>(all[26]) << 16;
  std::vector<int16_t> s((all.size() - 44) / 2);
  std::memcpy(s.data(), all.data() + 44, s.size() * 2);
  return s;
}

// The frequency between 100 and 2000 Hz (10 Hz steps) with the most energy.
inline double DominantFrequency(const std::vector<int16_t>& s, int rate) {
  double best = 0;
  double best_hz = 0;
  for (double hz = 100; hz <= 2000; hz += 10) {
    const double w = 2 * M_PI * hz / rate;
    const double c = 2 * std::cos(w);
    double q1 = 0;
    double q2 = 0;
    for (int16_t v : s) {
      const double q0 = c * q1 - q2 + v;
      q2 = q1;
      q1 = q0;
    }
    const double power = q1 * q1 + q2 * q2 - c * q1 * q2;
    if (power > best) {
      best = power;
      best_hz = hz;
    }
  }
  return best_hz;
}

}  // namespace qovra_test
