// Bytes that deflate hardly shrinks, the same for every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qovra_test {

// n bytes of a 32-bit xorshift sequence started from seed.
inline std::string NoiseBytes(size_t n, uint32_t seed = 2463534242u) {
  std::string s(n, '\0');
  uint32_t x = seed;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

}  // namespace qovra_test
