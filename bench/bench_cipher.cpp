// CBC throughput of the block cipher: the exported call (fastest code for this
// CPU) and the portable reference, best of three runs over one buffer.
// Usage: bench_cipher [MiB]   (default 256)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "cipher.h"
#include "tevqa.h"

namespace {

using CbcFn = void (*)(const uint8_t* ctx, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                       size_t blocks, bool encrypt);

void ExportedCbc(const uint8_t* ctx, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                 size_t blocks, bool encrypt) {
  UZDST_CIPHER_cbc(ctx, iv, in, out, static_cast<uint32_t>(blocks), encrypt ? 1 : 0);
}

double BestMbPerSecond(CbcFn fn, const uint8_t* ctx, const uint8_t* iv, const uint8_t* in,
                       uint8_t* out, size_t bytes, bool encrypt) {
  double best = 0;
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    fn(ctx, iv, in, out, bytes / 32, encrypt);
    const std::chrono::duration<double> secs = std::chrono::steady_clock::now() - start;
    const double rate = static_cast<double>(bytes) / 1e6 / secs.count();
    if (rate > best) best = rate;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 256;
  if (mib <= 0 || mib > 4096) {
    std::fprintf(stderr, "usage: bench_cipher [MiB 1..4096]\n");
    return 2;
  }
  const size_t bytes = static_cast<size_t>(mib) << 20;

  std::mt19937_64 rng(42);
  std::vector<uint8_t> plain(bytes);
  for (auto& b : plain) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> cipher(bytes);
  std::vector<uint8_t> back(bytes);

  uint8_t key[64];
  uint8_t iv[32];
  uint8_t enc[832];
  uint8_t dec[832];
  do {
    for (auto& b : key) b = static_cast<uint8_t>(rng());
  } while (!UZDST_CIPHER_init(enc, key, 1));
  if (!UZDST_CIPHER_init(dec, key, 0)) return 1;
  for (auto& b : iv) b = static_cast<uint8_t>(rng());

  std::printf("buffer: %ld MiB, AVX2: %s\n", mib, tevqa::CipherHaveAvx2() ? "yes" : "no");
  struct Variant {
    const char* suffix;
    CbcFn fn;
  };
  const Variant variants[] = {{"", ExportedCbc}, {" (scalar)", tevqa::CipherCbcRef}};
  int status = 0;
  for (const Variant& v : variants) {
    const double e = BestMbPerSecond(v.fn, enc, iv, plain.data(), cipher.data(), bytes, true);
    std::printf("cipher cbc encrypt%s: %.1f MB/s\n", v.suffix, e);
    std::fflush(stdout);
    const double d = BestMbPerSecond(v.fn, dec, iv, cipher.data(), back.data(), bytes, false);
    std::printf("cipher cbc decrypt%s: %.1f MB/s\n", v.suffix, d);
    std::fflush(stdout);
    if (back != plain) {
      std::fprintf(stderr, "decryption did not restore the buffer%s\n", v.suffix);
      status = 1;
    }
    std::fill(back.begin(), back.end(), 0);
  }
  return status;
}
