// Incompressible bytes for the benchmarks' large attachments.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace qovra_bench {

// Hands size bytes of a 64-bit xorshift sequence to write(data, n), in
// blocks of 512 KiB.
template <class Write>
void WriteNoise(int64_t size, Write&& write) {
  std::vector<uint64_t> block(1 << 16);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (int64_t left = size; left > 0;) {
    for (uint64_t& v : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      v = x;
    }
    const auto n = static_cast<size_t>(
        std::min<int64_t>(left, static_cast<int64_t>(block.size() * sizeof(uint64_t))));
    write(block.data(), n);
    left -= static_cast<int64_t>(n);
  }
}

}  // namespace qovra_bench
