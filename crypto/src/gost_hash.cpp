// 256-bit hash with the GOST R 34.11-94 structure: a checksum of the message
// blocks, a chaining value compressed by the step function, and two closing
// compressions over the bit length and the checksum.
//
// The step function enciphers the four 64-bit quarters of H under four keys
// derived from H and the block; the four encipherments are independent, so
// they run interleaved round by round to keep the table lookups overlapped.
#include "gost_hash.h"

#include <atomic>
#include <cstring>

// Relative path: the random library compiles this file without tevqa's
// include directory.
#include "tevqa.h"

namespace tevqa {
namespace {

// CryptoPro parameter set (RFC 4357); row k substitutes nibble k.
constexpr uint8_t kCryptoProRows[128] = {
    0xA, 0x4, 0x5, 0x6, 0x8, 0x1, 0x3, 0x7, 0xD, 0xC, 0xE, 0x0, 0x9, 0x2, 0xB, 0xF,  //
    0x5, 0xF, 0x4, 0x0, 0x2, 0xD, 0xB, 0x9, 0x1, 0x7, 0x6, 0x3, 0xC, 0xE, 0xA, 0x8,  //
    0x7, 0xF, 0xC, 0xE, 0x9, 0x4, 0x1, 0x0, 0x3, 0xB, 0x5, 0x2, 0x6, 0xA, 0x8, 0xD,  //
    0x4, 0xA, 0x7, 0xC, 0x0, 0xF, 0x2, 0x8, 0xE, 0x1, 0x6, 0x5, 0xD, 0xB, 0x9, 0x3,  //
    0x7, 0x6, 0x4, 0xB, 0x9, 0xC, 0x2, 0xA, 0x1, 0x8, 0x0, 0xE, 0xF, 0xD, 0x3, 0x5,  //
    0x7, 0x6, 0x2, 0x4, 0xD, 0x9, 0xF, 0x0, 0xA, 0x1, 0x5, 0xB, 0x8, 0xE, 0xC, 0x3,  //
    0xD, 0xE, 0x4, 0x1, 0x7, 0x0, 0x5, 0xA, 0x3, 0xC, 0x8, 0xF, 0x6, 0x2, 0x9, 0xB,  //
    0x1, 0x3, 0xA, 0x9, 0x5, 0xB, 0x4, 0xF, 0x8, 0x6, 0x7, 0xE, 0xD, 0x0, 0x2, 0xC,  //
};

// Only the low four bits of each entry are used, so a malformed set cannot
// spill into a neighbouring nibble.
constexpr void Expand(const uint8_t* rows, HashTables* out) {
  for (int j = 0; j < 4; ++j) {
    const uint8_t* lo_row = rows + 16 * (2 * j);
    const uint8_t* hi_row = rows + 16 * (2 * j + 1);
    for (uint32_t v = 0; v < 256; ++v) {
      uint32_t x = (static_cast<uint32_t>(hi_row[v >> 4] & 0xF) << 4) |
                   static_cast<uint32_t>(lo_row[v & 0xF] & 0xF);
      x <<= 8 * j;
      out->t[j][v] = (x << 11) | (x >> 21);
    }
  }
}

constexpr HashTables MakeBuiltin() {
  HashTables t{};
  Expand(kCryptoProRows, &t);
  return t;
}

constexpr HashTables kBuiltinTables = MakeBuiltin();

// Starts as the built-in set so that a call before any init is still defined.
HashTables g_process_tables = kBuiltinTables;
// True while the process tables may hold a caller's set. Loading the
// built-in set writes nothing while it is false, so callers that only ever
// use the built-in set share the tables read-only from any thread.
std::atomic<bool> g_caller_set_loaded{false};

// Context offsets.
constexpr size_t kSumOffset = 0;
constexpr size_t kHOffset = 32;
constexpr size_t kLengthOffset = 64;
constexpr size_t kBufferOffset = 96;
constexpr size_t kCountOffset = 128;

inline uint32_t LoadLE32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  std::memcpy(p, &v, 4);
}

// The working copy of a context's numbers while blocks are absorbed.
struct State {
  uint32_t sum[8];
  uint32_t h[8];
  uint64_t bits;  // length words 0 and 1
};

void LoadState(const uint8_t* ctx, State* st) {
  for (int i = 0; i < 8; ++i) {
    st->sum[i] = LoadLE32(ctx + kSumOffset + 4 * i);
    st->h[i] = LoadLE32(ctx + kHOffset + 4 * i);
  }
  st->bits = LoadLE32(ctx + kLengthOffset) |
             (static_cast<uint64_t>(LoadLE32(ctx + kLengthOffset + 4)) << 32);
}

void StoreState(const State& st, uint8_t* ctx) {
  for (int i = 0; i < 8; ++i) {
    StoreLE32(ctx + kSumOffset + 4 * i, st.sum[i]);
    StoreLE32(ctx + kHOffset + 4 * i, st.h[i]);
  }
  StoreLE32(ctx + kLengthOffset, static_cast<uint32_t>(st.bits));
  StoreLE32(ctx + kLengthOffset + 4, static_cast<uint32_t>(st.bits >> 32));
}

// A stored count above 32 can only come from a damaged context; it is read as
// a full buffer so that no copy runs past the 32-byte buffer.
uint32_t LoadCount(const uint8_t* ctx) {
  uint32_t count = LoadLE32(ctx + kCountOffset);
  return count > 32 ? 32 : count;
}

inline uint32_t Rot16(uint32_t x) {
  return (x << 16) | (x >> 16);
}

inline uint64_t Join(uint32_t lo, uint32_t hi) {
  return lo | (static_cast<uint64_t>(hi) << 32);
}

// Key transformation P: transposes the 4x4 byte matrices formed by the even
// and by the odd words of w (here four 64-bit quarters, both matrices at once).
inline void TransposeKey(uint64_t w0, uint64_t w1, uint64_t w2, uint64_t w3, uint32_t key[8]) {
  constexpr uint64_t kBytes = 0x00ff00ff00ff00ffULL;
  constexpr uint64_t kHalves = 0x0000ffff0000ffffULL;
  uint64_t t;
  t = ((w0 >> 8) ^ w1) & kBytes;
  w1 ^= t;
  w0 ^= t << 8;
  t = ((w2 >> 8) ^ w3) & kBytes;
  w3 ^= t;
  w2 ^= t << 8;
  t = ((w0 >> 16) ^ w2) & kHalves;
  w2 ^= t;
  w0 ^= t << 16;
  t = ((w1 >> 16) ^ w3) & kHalves;
  w3 ^= t;
  w1 ^= t << 16;
  key[0] = static_cast<uint32_t>(w0);
  key[1] = static_cast<uint32_t>(w1);
  key[2] = static_cast<uint32_t>(w2);
  key[3] = static_cast<uint32_t>(w3);
  key[4] = static_cast<uint32_t>(w0 >> 32);
  key[5] = static_cast<uint32_t>(w1 >> 32);
  key[6] = static_cast<uint32_t>(w2 >> 32);
  key[7] = static_cast<uint32_t>(w3 >> 32);
}

// The four keys of one step, from H (u) and the block (v), as 64-bit quarters.
void MakeKeys(const uint32_t h[8], const uint32_t m[8], uint32_t k[4][8]) {
  uint64_t u0 = Join(h[0], h[1]), u1 = Join(h[2], h[3]);
  uint64_t u2 = Join(h[4], h[5]), u3 = Join(h[6], h[7]);
  uint64_t v0 = Join(m[0], m[1]), v1 = Join(m[2], m[3]);
  uint64_t v2 = Join(m[4], m[5]), v3 = Join(m[6], m[7]);
  TransposeKey(u0 ^ v0, u1 ^ v1, u2 ^ v2, u3 ^ v3, k[0]);
  for (int j = 1; j < 4; ++j) {
    // U := A(U) (xor C3 before the third key), V := A(A(V)).
    uint64_t t = u0 ^ u1;
    u0 = u1;
    u1 = u2;
    u2 = u3;
    u3 = t;
    if (j == 2) {
      u0 ^= 0xff00ff00ff00ff00ULL;
      u1 ^= 0x00ff00ff00ff00ffULL;
      u2 ^= 0xff0000ff00ffff00ULL;
      u3 ^= 0xff00ffff000000ffULL;
    }
    uint64_t t0 = v0 ^ v1, t1 = v1 ^ v2;
    v0 = v2;
    v1 = v3;
    v2 = t0;
    v3 = t1;
    TransposeKey(u0 ^ v0, u1 ^ v1, u2 ^ v2, u3 ^ v3, k[j]);
  }
}

// GOST 28147-89 round function: substitution and 11-bit rotation, by table.
inline uint32_t Sub(const HashTables& tables, uint32_t x) {
  return tables.t[0][x & 0xff] ^ tables.t[1][(x >> 8) & 0xff] ^ tables.t[2][(x >> 16) & 0xff] ^
         tables.t[3][x >> 24];
}

// One round in all four lanes: y ^= Sub(x + key word w).
#define GOST_ROUND4(x, y, w)           \
  y##0 ^= Sub(tables, x##0 + k[0][w]); \
  y##1 ^= Sub(tables, x##1 + k[1][w]); \
  y##2 ^= Sub(tables, x##2 + k[2][w]); \
  y##3 ^= Sub(tables, x##3 + k[3][w])
#define GOST_PAIR(w1, w2) \
  GOST_ROUND4(a, b, w1);  \
  GOST_ROUND4(b, a, w2)

// h := f(h, m), the step function.
void Compress(const HashTables& tables, uint32_t h[8], const uint32_t m[8]) {
  uint32_t k[4][8];
  MakeKeys(h, m, k);

  // Lane l enciphers quarter l of H (low word first) under key l.
  uint32_t a0 = h[0], b0 = h[1], a1 = h[2], b1 = h[3];
  uint32_t a2 = h[4], b2 = h[5], a3 = h[6], b3 = h[7];
  for (int pass = 0; pass < 3; ++pass) {
    GOST_PAIR(0, 1);
    GOST_PAIR(2, 3);
    GOST_PAIR(4, 5);
    GOST_PAIR(6, 7);
  }
  GOST_PAIR(7, 6);
  GOST_PAIR(5, 4);
  GOST_PAIR(3, 2);
  GOST_PAIR(1, 0);
  const uint32_t s[8] = {b0, a0, b1, a1, b2, a2, b3, a3};

  // Shuffle: h := psi^61(h ^ psi(m ^ psi^12(s))), each power written out as
  // word formulas over 16-bit halves.
  uint32_t u[8], v[8];
  u[0] = m[0] ^ s[6];
  u[1] = m[1] ^ s[7];
  u[2] = m[2] ^ (s[0] & 0xffffu) ^ Rot16(s[0]) ^ (s[1] & 0xffffu) ^ (s[1] >> 16) ^ (s[2] << 16) ^
         s[6] ^ (s[6] << 16) ^ (s[7] & 0xffff0000u) ^ (s[7] >> 16);
  u[3] = m[3] ^ (s[0] & 0xffffu) ^ (s[0] << 16) ^ (s[1] & 0xffffu) ^ Rot16(s[1]) ^ Rot16(s[2]) ^
         (s[3] << 16) ^ s[6] ^ Rot16(s[6]) ^ (s[7] & 0xffffu) ^ Rot16(s[7]);
  u[4] = m[4] ^ (s[0] & 0xffff0000u) ^ Rot16(s[0]) ^ (s[1] & 0xffff0000u) ^ (s[1] >> 16) ^
         Rot16(s[2]) ^ Rot16(s[3]) ^ (s[4] << 16) ^ Rot16(s[6]) ^ (s[7] & 0xffffu) ^ Rot16(s[7]);
  u[5] = m[5] ^ (s[0] & 0xffff0000u) ^ Rot16(s[0]) ^ (s[1] & 0xffffu) ^ s[2] ^ (s[2] >> 16) ^
         Rot16(s[3]) ^ Rot16(s[4]) ^ (s[5] << 16) ^ Rot16(s[6]) ^ (s[7] & 0xffff0000u) ^
         Rot16(s[7]);
  u[6] = m[6] ^ s[0] ^ (s[1] >> 16) ^ (s[2] << 16) ^ s[3] ^ (s[3] >> 16) ^ Rot16(s[4]) ^
         Rot16(s[5]) ^ s[6] ^ Rot16(s[6]) ^ (s[7] << 16);
  u[7] = m[7] ^ (s[0] & 0xffff0000u) ^ (s[0] << 16) ^ (s[1] & 0xffffu) ^ (s[1] << 16) ^
         (s[2] >> 16) ^ (s[3] << 16) ^ s[4] ^ (s[4] >> 16) ^ Rot16(s[5]) ^ (s[6] >> 16) ^
         (s[7] & 0xffffu) ^ Rot16(s[7]);

  v[0] = h[0] ^ (u[0] >> 16) ^ (u[1] << 16);
  v[1] = h[1] ^ (u[1] >> 16) ^ (u[2] << 16);
  v[2] = h[2] ^ (u[2] >> 16) ^ (u[3] << 16);
  v[3] = h[3] ^ (u[3] >> 16) ^ (u[4] << 16);
  v[4] = h[4] ^ (u[4] >> 16) ^ (u[5] << 16);
  v[5] = h[5] ^ (u[5] >> 16) ^ (u[6] << 16);
  v[6] = h[6] ^ (u[6] >> 16) ^ (u[7] << 16);
  v[7] = h[7] ^ (u[0] & 0xffff0000u) ^ (u[0] << 16) ^ (u[1] & 0xffff0000u) ^ (u[1] << 16) ^
         (u[6] << 16) ^ (u[7] & 0xffff0000u) ^ (u[7] >> 16);

  h[0] = (v[0] & 0xffff0000u) ^ Rot16(v[0]) ^ (v[1] & 0xffff0000u) ^ (v[1] >> 16) ^ (v[2] << 16) ^
         (v[3] >> 16) ^ (v[4] << 16) ^ v[5] ^ (v[5] >> 16) ^ (v[6] >> 16) ^ (v[7] & 0xffffu) ^
         Rot16(v[7]);
  h[1] = (v[0] & 0xffff0000u) ^ Rot16(v[0]) ^ (v[1] & 0xffffu) ^ v[2] ^ (v[2] >> 16) ^
         (v[3] << 16) ^ (v[4] >> 16) ^ (v[5] << 16) ^ v[6] ^ (v[6] << 16) ^ (v[7] & 0xffff0000u) ^
         (v[7] >> 16);
  h[2] = (v[0] & 0xffffu) ^ (v[0] << 16) ^ (v[1] & 0xffff0000u) ^ Rot16(v[1]) ^ (v[2] << 16) ^
         v[3] ^ (v[3] >> 16) ^ (v[4] << 16) ^ (v[5] >> 16) ^ v[6] ^ (v[6] >> 16) ^
         (v[7] & 0xffffu) ^ Rot16(v[7]);
  h[3] = (v[0] & 0xffff0000u) ^ Rot16(v[0]) ^ (v[1] & 0xffff0000u) ^ (v[1] >> 16) ^ v[2] ^
         Rot16(v[2]) ^ (v[3] << 16) ^ v[4] ^ (v[4] >> 16) ^ (v[5] << 16) ^ (v[6] << 16) ^
         (v[7] & 0xffffu) ^ (v[7] >> 16);
  h[4] = (v[0] >> 16) ^ v[1] ^ (v[1] << 16) ^ v[2] ^ (v[2] >> 16) ^ v[3] ^ Rot16(v[3]) ^
         (v[4] << 16) ^ v[5] ^ (v[5] >> 16) ^ Rot16(v[6]) ^ (v[7] << 16);
  h[5] = (v[0] & 0xffff0000u) ^ (v[0] << 16) ^ (v[1] & 0xffff0000u) ^ Rot16(v[1]) ^ v[2] ^
         (v[2] << 16) ^ v[3] ^ (v[3] >> 16) ^ v[4] ^ Rot16(v[4]) ^ (v[5] << 16) ^ v[6] ^
         Rot16(v[6]) ^ (v[7] & 0xffff0000u) ^ Rot16(v[7]);
  h[6] = v[0] ^ v[2] ^ (v[2] >> 16) ^ v[3] ^ (v[3] << 16) ^ v[4] ^ (v[4] >> 16) ^ v[5] ^
         Rot16(v[5]) ^ v[6] ^ Rot16(v[6]) ^ v[7] ^ (v[7] << 16);
  h[7] = v[0] ^ (v[0] >> 16) ^ Rot16(v[1]) ^ (v[2] << 16) ^ v[3] ^ (v[3] >> 16) ^ v[4] ^
         (v[4] << 16) ^ v[5] ^ (v[5] >> 16) ^ Rot16(v[6]) ^ v[7] ^ (v[7] << 16);
}

#undef GOST_PAIR
#undef GOST_ROUND4

// Block step: checksum += m, h := f(h, m), bit length += add_bits.
inline void BlockStep(const HashTables& tables, State* st, const uint8_t* block,
                      uint32_t add_bits) {
  uint32_t m[8];
  uint64_t carry = 0;
  for (int i = 0; i < 8; ++i) {
    m[i] = LoadLE32(block + 4 * i);
    carry += static_cast<uint64_t>(st->sum[i]) + m[i];
    st->sum[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  Compress(tables, st->h, m);
  st->bits += add_bits;
}

// Wipes a buffer in a way the compiler cannot drop.
void Wipe(void* p, size_t n) {
  std::memset(p, 0, n);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

}  // namespace

const HashTables& BuiltinHashTables() {
  return kBuiltinTables;
}

void ExpandHashTables(const uint8_t sbox[128], HashTables* out) {
  Expand(sbox, out);
}

HashTables& ProcessHashTables() {
  return g_process_tables;
}

void LoadProcessHashTables(const uint8_t* sbox) {
  if (sbox == nullptr) {
    if (g_caller_set_loaded.load(std::memory_order_acquire)) {
      std::memcpy(&g_process_tables, &kBuiltinTables, sizeof(HashTables));
      g_caller_set_loaded.store(false, std::memory_order_release);
    }
  } else {
    g_caller_set_loaded.store(true, std::memory_order_release);
    Expand(sbox, &g_process_tables);
  }
}

void HashInit(uint8_t* ctx) {
  std::memset(ctx, 0, kHashContextSize);
}

void HashUpdate(const HashTables& tables, uint8_t* ctx, const uint8_t* data, size_t len) {
  if (len == 0) return;
  uint8_t* buffer = ctx + kBufferOffset;
  uint32_t count = LoadCount(ctx);
  State st;
  LoadState(ctx, &st);

  // A full buffer left by the previous call is compressed first; a partly
  // filled one is topped up and compressed once it holds a whole block.
  if (count == 32) {
    BlockStep(tables, &st, buffer, 256);
    count = 0;
  }
  if (count > 0) {
    size_t n = 32 - count < len ? 32 - count : len;
    std::memcpy(buffer + count, data, n);
    count += static_cast<uint32_t>(n);
    data += n;
    len -= n;
    if (count == 32) {
      BlockStep(tables, &st, buffer, 256);
      count = 0;
    }
  }
  // Whole blocks straight from the data while more than a block remains; the
  // last 1 to 32 bytes stay in the buffer.
  if (len > 0) {
    while (len > 32) {
      BlockStep(tables, &st, data, 256);
      data += 32;
      len -= 32;
    }
    std::memcpy(buffer, data, len);
    count = static_cast<uint32_t>(len);
  }

  StoreState(st, ctx);
  StoreLE32(ctx + kCountOffset, count);
}

void HashFinal(const HashTables& tables, uint8_t* ctx, uint8_t out[32]) {
  uint8_t* buffer = ctx + kBufferOffset;
  uint32_t count = LoadCount(ctx);
  State st;
  LoadState(ctx, &st);

  if (count > 0) {
    std::memset(buffer + count, 0, 32 - count);
    BlockStep(tables, &st, buffer, 8 * count);
    count = 0;
  }
  uint32_t length[8];
  length[0] = static_cast<uint32_t>(st.bits);
  length[1] = static_cast<uint32_t>(st.bits >> 32);
  for (int i = 2; i < 8; ++i) length[i] = LoadLE32(ctx + kLengthOffset + 4 * i);
  Compress(tables, st.h, length);
  Compress(tables, st.h, st.sum);

  StoreState(st, ctx);
  StoreLE32(ctx + kCountOffset, count);
  for (int i = 0; i < 8; ++i) StoreLE32(out + 4 * i, st.h[i]);
}

void HashData(const HashTables& tables, const uint8_t* data, size_t len, uint8_t out[32]) {
  uint8_t ctx[kHashContextSize];
  HashInit(ctx);
  HashUpdate(tables, ctx, data, len);
  HashFinal(tables, ctx, out);
  Wipe(ctx, sizeof(ctx));
}

}  // namespace tevqa

// Exported calls. A null context or output is ignored rather than
// dereferenced; null data counts as no data.
extern "C" {

TEVQA_API void* UZDST_HASH_init(void* ctx, const void* sbox) {
  tevqa::LoadProcessHashTables(static_cast<const uint8_t*>(sbox));
  if (ctx != nullptr) tevqa::HashInit(static_cast<uint8_t*>(ctx));
  return ctx;
}

TEVQA_API void UZDST_HASH_update(void* ctx, const void* data, uint32_t len) {
  if (ctx == nullptr || data == nullptr) return;
  tevqa::HashUpdate(tevqa::ProcessHashTables(), static_cast<uint8_t*>(ctx),
                    static_cast<const uint8_t*>(data), len);
}

TEVQA_API void UZDST_HASH_final(void* ctx, void* out) {
  if (ctx == nullptr || out == nullptr) return;
  tevqa::HashFinal(tevqa::ProcessHashTables(), static_cast<uint8_t*>(ctx),
                   static_cast<uint8_t*>(out));
}

TEVQA_API void UZDST_HASH_data(const void* data, uint32_t len, const void* sbox, void* out) {
  tevqa::LoadProcessHashTables(static_cast<const uint8_t*>(sbox));
  if (out == nullptr) return;
  if (data == nullptr) len = 0;
  tevqa::HashData(tevqa::ProcessHashTables(), static_cast<const uint8_t*>(data), len,
                  static_cast<uint8_t*>(out));
}

}  // extern "C"
