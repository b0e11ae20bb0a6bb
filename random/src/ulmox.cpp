// The random pool: adding, drawing, stirring and wiping, and the five exports.
#include "ulmox.h"

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gost_hash.h"
#include "ulmox_pool.h"

namespace ulmox {
namespace {

PoolState g_state{};

constexpr size_t kAddPiece = 32;
constexpr size_t kOutputPiece = 16;
constexpr int kStirRounds = 32;

void Wipe(void* p, size_t n) {
  explicit_bzero(p, n);
}

// One hash over several parts with the built-in tables; the working context
// is wiped when the object goes.
class PoolHash {
 public:
  PoolHash() { tevqa::HashInit(ctx_); }
  ~PoolHash() { Wipe(ctx_, sizeof ctx_); }
  PoolHash(const PoolHash&) = delete;
  PoolHash& operator=(const PoolHash&) = delete;

  void Update(const uint8_t* data, size_t n) {
    tevqa::HashUpdate(tevqa::BuiltinHashTables(), ctx_, data, n);
  }
  void Final(uint8_t out[32]) { tevqa::HashFinal(tevqa::BuiltinHashTables(), ctx_, out); }

 private:
  uint8_t ctx_[tevqa::kHashContextSize];
};

// The two counters as they are hashed: output-call count first, each
// little-endian.
void CounterBytes(uint32_t output_count, uint32_t added_count, uint8_t out[8]) {
  for (int k = 0; k < 4; ++k) {
    out[k] = static_cast<uint8_t>(output_count >> (8 * k));
    out[4 + k] = static_cast<uint8_t>(added_count >> (8 * k));
  }
}

// Pool positions are taken modulo limit, so a position equal to limit reads
// from the start.
void ReadWrapped(size_t pos, size_t n, size_t limit, uint8_t* out) {
  for (size_t k = 0; k < n; ++k) out[k] = g_state.pool[(pos + k) % limit];
}

void XorWrapped(size_t pos, const uint8_t* in, size_t n, size_t limit) {
  for (size_t k = 0; k < n; ++k) g_state.pool[(pos + k) % limit] ^= in[k];
}

void Stir() {
  static const uint8_t kDots[kAddPiece] = {'.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.',
                                           '.', '.', '.', '.', '.', '.', '.', '.', '.', '.', '.',
                                           '.', '.', '.', '.', '.', '.', '.', '.', '.', '.'};
  for (int r = 0; r < kStirRounds; ++r) PoolAdd(kDots, sizeof kDots, 0.0);
}

void PollSystemOnce() {
  if (g_state.polled) return;
  PollSources(CurrentEntropySources());
  g_state.polled = true;
}

int DrawBytes(uint8_t* out, size_t n) {
  PoolState& s = g_state;
  PollSystemOnce();

  const bool ok = s.entropy >= kEntropyGoal;
  if (!ok) s.entropy = std::max(0.0, s.entropy - static_cast<double>(n));

  // An empty pool (wiped after it was stirred, then nothing polled) is
  // stirred again: output positions wrap at fill.
  if (!s.stirred || s.fill == 0) {
    Stir();
    if (ok) s.stirred = true;
  }

  size_t i = s.index;
  uint8_t digest[32];
  std::memcpy(digest, s.digest, sizeof digest);
  uint8_t counters[8];
  CounterBytes(s.output_count, s.added_count, counters);

  const size_t fill = s.fill;
  const uint64_t advance =
      (static_cast<uint64_t>(n) + kOutputPiece - 1) / kOutputPiece * kOutputPiece;
  uint64_t next = s.index + advance;
  if (next > fill) next %= fill;
  s.index = static_cast<uint32_t>(next);
  ++s.output_count;

  uint8_t window[kOutputPiece];
  for (size_t off = 0; off < n; off += kOutputPiece) {
    const size_t len = std::min(kOutputPiece, n - off);
    ReadWrapped(i, kOutputPiece, fill, window);
    {
      PoolHash h;
      h.Update(digest, sizeof digest);
      h.Update(counters, sizeof counters);
      h.Update(out + off, len);
      h.Update(window, sizeof window);
      h.Final(digest);
    }
    XorWrapped(i, digest, kOutputPiece, fill);
    std::memcpy(out + off, digest + kOutputPiece, len);
    i = (i + kOutputPiece) % fill;
  }

  {
    PoolHash h;
    h.Update(counters, sizeof counters);
    h.Update(digest, sizeof digest);
    h.Update(s.digest, sizeof s.digest);
    h.Final(s.digest);
  }
  Wipe(digest, sizeof digest);
  Wipe(window, sizeof window);
  Wipe(counters, sizeof counters);
  return ok ? 1 : 0;
}

}  // namespace

const PoolState& CurrentPoolState() {
  return g_state;
}

void ResetPoolForTesting() {
  Wipe(&g_state, sizeof g_state);
  g_state = PoolState{};
}

void PoolAdd(const uint8_t* data, size_t n, double estimate) {
  if (n == 0) return;
  PoolState& s = g_state;

  size_t i = s.index;
  uint8_t digest[32];
  std::memcpy(digest, s.digest, sizeof digest);
  const uint32_t output_count = s.output_count;
  uint32_t added_count = s.added_count;

  const uint64_t next = static_cast<uint64_t>(s.index) + n;
  if (next >= kPoolSize) {
    s.index = static_cast<uint32_t>(next % kPoolSize);
    s.fill = kPoolSize;
  } else {
    s.index = static_cast<uint32_t>(next);
    if (s.fill < next) s.fill = static_cast<uint32_t>(next);
  }
  s.added_count += static_cast<uint32_t>((n + kAddPiece - 1) / kAddPiece);

  uint8_t window[kAddPiece];
  uint8_t counters[8];
  for (size_t off = 0; off < n; off += kAddPiece) {
    const size_t len = std::min(kAddPiece, n - off);
    ReadWrapped(i, len, kPoolSize, window);
    CounterBytes(output_count, added_count, counters);
    {
      PoolHash h;
      h.Update(digest, sizeof digest);
      h.Update(window, len);
      h.Update(data + off, len);
      h.Update(counters, sizeof counters);
      h.Final(digest);
    }
    ++added_count;
    XorWrapped(i, digest, len, kPoolSize);
    i = (i + len) % kPoolSize;
  }

  for (size_t k = 0; k < sizeof digest; ++k) s.digest[k] ^= digest[k];
  if (s.entropy < kEntropyGoal) s.entropy += estimate;

  Wipe(digest, sizeof digest);
  Wipe(window, sizeof window);
  Wipe(counters, sizeof counters);
}

}  // namespace ulmox

extern "C" {

ULMOX_API void random_poll_system(void) {
  ulmox::PollSystemOnce();
}

ULMOX_API int random_cleanup(void) {
  ulmox::PoolState& s = ulmox::g_state;
  const bool stirred = s.stirred;
  ulmox::Wipe(&s, sizeof s);
  s = ulmox::PoolState{};
  s.stirred = stirred;
  return 0;
}

ULMOX_API void random_add(const void* buffer, int32_t length, double entropy) {
  if (length < 1 || buffer == nullptr) return;
  if (!std::isfinite(entropy) || entropy < 0) entropy = 0;
  ulmox::PoolAdd(static_cast<const uint8_t*>(buffer), static_cast<size_t>(length), entropy);
}

ULMOX_API void random_seed(const void* buffer, int32_t length) {
  random_add(buffer, length, static_cast<double>(length));
}

ULMOX_API int random_bytes(void* buffer, int32_t length) {
  if (length < 1) return 1;
  if (buffer == nullptr) return 0;
  return ulmox::DrawBytes(static_cast<uint8_t*>(buffer), static_cast<size_t>(length));
}

}  // extern "C"
