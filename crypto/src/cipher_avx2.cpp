// AVX2 code of the block cipher in CBC mode. A block sits in one register,
// bytes 0-15 in the low lane and 16-31 in the high lane.
//
// Mixing a half-block is a fixed linear map of 16 bytes modulo 256 whose
// coefficient matrix has at most 7 non-zero entries per row and column. Its
// entries are split into 7 layers, each a permutation of the 16 positions, so
// out = sum over the layers of coef * x[perm]: one in-lane byte shuffle and
// two 16-bit multiplies (even and odd bytes) per layer. The substitution
// looks the low nibble up in all 16 rows of the table and picks the row by
// the high nibble with a tree of byte blends.
#include <immintrin.h>
#include <openssl/crypto.h>

#include <array>
#include <cstring>

#include "cipher.h"

#define TEVQA_AVX2 __attribute__((target("avx2")))
#define TEVQA_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace tevqa {
namespace {

constexpr int kLayers = 7;

// src[layer][p]: the input position that output position p takes in a layer.
struct MixLayers {
  std::array<std::array<uint8_t, 16>, kLayers> src{};
  bool ok = false;
};

// Positions that can carry a non-zero coefficient: output (r, c) off the
// diagonal reads x's column r and the rest of x's row r; a diagonal output
// reads x's diagonal.
constexpr bool MixReads(int p, int q) {
  const int r = p / 4, c = p % 4, qr = q / 4, qc = q % 4;
  if (r == c) return qr == qc;
  return qc == r || qr == r;
}

constexpr bool Augment(int p, const std::array<std::array<bool, 16>, 16>& adj,
                       std::array<int, 16>& owner, std::array<bool, 16>& seen) {
  for (int q = 0; q < 16; ++q) {
    if (!adj[p][q] || seen[q]) continue;
    seen[q] = true;
    if (owner[q] < 0 || Augment(owner[q], adj, owner, seen)) {
      owner[q] = p;
      return true;
    }
  }
  return false;
}

// Splits the read pattern into 7 permutations. Padded with unused pairs to a
// 7-regular bipartite graph, which always falls apart into perfect matchings.
constexpr MixLayers BuildMixLayers() {
  std::array<std::array<bool, 16>, 16> adj{};
  std::array<int, 16> out_deg{};
  std::array<int, 16> in_deg{};
  for (int p = 0; p < 16; ++p) {
    for (int q = 0; q < 16; ++q) {
      if (MixReads(p, q)) {
        adj[p][q] = true;
        ++out_deg[p];
        ++in_deg[q];
      }
    }
  }
  for (int p = 0; p < 16; ++p) {
    for (int q = 0; q < 16 && out_deg[p] < kLayers; ++q) {
      if (!adj[p][q] && in_deg[q] < kLayers) {
        adj[p][q] = true;
        ++out_deg[p];
        ++in_deg[q];
      }
    }
  }
  MixLayers layers;
  for (int i = 0; i < 16; ++i) {
    if (out_deg[i] != kLayers || in_deg[i] != kLayers) return layers;
  }
  for (int l = 0; l < kLayers; ++l) {
    std::array<int, 16> owner{};
    for (int& o : owner) o = -1;
    for (int p = 0; p < 16; ++p) {
      std::array<bool, 16> seen{};
      if (!Augment(p, adj, owner, seen)) return layers;
    }
    for (int q = 0; q < 16; ++q) {
      layers.src[l][owner[q]] = static_cast<uint8_t>(q);
      adj[owner[q]][q] = false;
    }
  }
  layers.ok = true;
  return layers;
}

constexpr MixLayers kMixLayers = BuildMixLayers();
static_assert(kMixLayers.ok, "mixing pattern does not split into 7 permutations");

struct VecKeys {
  __m256i rk[9];
  __m256i idx[kLayers];   // byte shuffle of each layer
  __m256i even[kLayers];  // coefficients of even bytes, one per 16-bit word
  __m256i odd[kLayers];   // coefficients of odd bytes, shifted into the high byte
  __m256i table1[16];     // rows of the table at offset 288, in both lanes
  __m256i table2[16];     // rows of the table at offset 544
  __m256i perm_same;      // transposition: bytes taken from the same lane
  __m256i perm_cross;     // bytes taken from the other lane
};

TEVQA_AVX2 void LoadKeys(const uint8_t* ctx, bool encrypt, VecKeys* k) {
  for (int i = 0; i < 9; ++i) {
    k->rk[i] =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ctx + kCipherRoundKeys + 32 * i));
  }

  // coef[h][p][q]: coefficient of input byte q in output byte p of half h.
  uint8_t coef[2][16][16];
  for (int h = 0; h < 2; ++h) {
    const uint8_t* m = ctx + (h ? kCipherMatrix2 : kCipherMatrix1);
    for (int q = 0; q < 16; ++q) {
      uint8_t unit[16] = {};
      unit[q] = 1;
      uint8_t col[16];
      CipherMix(unit, m, col);
      for (int p = 0; p < 16; ++p) coef[h][p][q] = col[p];
    }
  }
  for (int l = 0; l < kLayers; ++l) {
    alignas(32) uint8_t idx[32];
    alignas(32) uint16_t even[16];
    alignas(32) uint16_t odd[16];
    for (int h = 0; h < 2; ++h) {
      for (int w = 0; w < 8; ++w) {
        const int p0 = 2 * w, p1 = 2 * w + 1;
        const int q0 = kMixLayers.src[l][p0], q1 = kMixLayers.src[l][p1];
        idx[16 * h + p0] = static_cast<uint8_t>(q0);
        idx[16 * h + p1] = static_cast<uint8_t>(q1);
        even[8 * h + w] = coef[h][p0][q0];
        odd[8 * h + w] = static_cast<uint16_t>(coef[h][p1][q1] << 8);
      }
    }
    k->idx[l] = _mm256_load_si256(reinterpret_cast<const __m256i*>(idx));
    k->even[l] = _mm256_load_si256(reinterpret_cast<const __m256i*>(even));
    k->odd[l] = _mm256_load_si256(reinterpret_cast<const __m256i*>(odd));
  }
  OPENSSL_cleanse(coef, sizeof coef);

  for (int r = 0; r < 16; ++r) {
    k->table1[r] = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(ctx + kCipherTableA + 16 * r)));
    k->table2[r] = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(ctx + kCipherTableB + 16 * r)));
  }

  // Encryption moves byte P[j] to j; decryption moves byte j back to P[j].
  uint8_t from[32];
  for (int j = 0; j < 32; ++j) {
    if (encrypt) {
      from[j] = kCipherTransposition[j];
    } else {
      from[kCipherTransposition[j]] = static_cast<uint8_t>(j);
    }
  }
  alignas(32) uint8_t same[32];
  alignas(32) uint8_t cross[32];
  for (int j = 0; j < 32; ++j) {
    const bool in_lane = (from[j] / 16) == (j / 16);
    same[j] = in_lane ? from[j] % 16 : 0x80;
    cross[j] = in_lane ? 0x80 : from[j] % 16;
  }
  k->perm_same = _mm256_load_si256(reinterpret_cast<const __m256i*>(same));
  k->perm_cross = _mm256_load_si256(reinterpret_cast<const __m256i*>(cross));
}

TEVQA_AVX2_INLINE __m256i Mix(__m256i x, const VecKeys& k) {
  __m256i even = _mm256_setzero_si256();
  __m256i odd = _mm256_setzero_si256();
  for (int l = 0; l < kLayers; ++l) {
    const __m256i s = _mm256_shuffle_epi8(x, k.idx[l]);
    // Low byte of each word product is the even byte's product; the odd byte
    // is moved down and its product lands in the high byte.
    even = _mm256_add_epi16(even, _mm256_mullo_epi16(s, k.even[l]));
    odd = _mm256_add_epi16(odd, _mm256_mullo_epi16(_mm256_srli_epi16(s, 8), k.odd[l]));
  }
  return _mm256_or_si256(_mm256_and_si256(even, _mm256_set1_epi16(0x00ff)), odd);
}

TEVQA_AVX2_INLINE __m256i Permute(__m256i x, const VecKeys& k) {
  const __m256i swapped = _mm256_permute2x128_si256(x, x, 0x01);
  return _mm256_or_si256(_mm256_shuffle_epi8(x, k.perm_same),
                         _mm256_shuffle_epi8(swapped, k.perm_cross));
}

TEVQA_AVX2_INLINE __m256i Substitute(__m256i x, const __m256i* rows) {
  const __m256i lo = _mm256_and_si256(x, _mm256_set1_epi8(0x0f));
  // Bit 7 of each byte selects in a blend; bring bits 4, 5, 6 up there.
  const __m256i b4 = _mm256_slli_epi16(x, 3);
  const __m256i b5 = _mm256_slli_epi16(x, 2);
  const __m256i b6 = _mm256_slli_epi16(x, 1);
  __m256i r[8];
  for (int i = 0; i < 8; ++i) {
    r[i] = _mm256_blendv_epi8(_mm256_shuffle_epi8(rows[2 * i], lo),
                              _mm256_shuffle_epi8(rows[2 * i + 1], lo), b4);
  }
  for (int i = 0; i < 4; ++i) r[i] = _mm256_blendv_epi8(r[2 * i], r[2 * i + 1], b5);
  for (int i = 0; i < 2; ++i) r[i] = _mm256_blendv_epi8(r[2 * i], r[2 * i + 1], b6);
  return _mm256_blendv_epi8(r[0], r[1], x);
}

TEVQA_AVX2_INLINE __m256i EncryptBlock(__m256i x, const VecKeys& k) {
  for (int round = 0; round < 8; ++round) {
    x = Mix(_mm256_xor_si256(x, k.rk[round]), k);
    x = Substitute(Permute(x, k), round % 2 ? k.table2 : k.table1);
  }
  return Mix(_mm256_xor_si256(x, k.rk[8]), k);
}

// Deciphers n independent blocks side by side (no chain value applied).
template <int n>
TEVQA_AVX2_INLINE void DecryptBlocks(__m256i* x, const VecKeys& k) {
  for (int i = 0; i < n; ++i) x[i] = _mm256_xor_si256(Mix(x[i], k), k.rk[0]);
  for (int round = 0; round < 8; ++round) {
    const __m256i* rows = round % 2 ? k.table1 : k.table2;
    for (int i = 0; i < n; ++i) {
      x[i] = Permute(Substitute(x[i], rows), k);
      x[i] = _mm256_xor_si256(Mix(x[i], k), k.rk[round + 1]);
    }
  }
}

TEVQA_AVX2_INLINE __m256i Load(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

TEVQA_AVX2_INLINE void Store(uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// All blocks of the group are read before any is written, so in == out works.
template <int n>
TEVQA_AVX2_INLINE __m256i DecryptGroup(const uint8_t* in, uint8_t* out, __m256i chain,
                                       const VecKeys& k) {
  __m256i c[n];
  __m256i x[n];
  for (int i = 0; i < n; ++i) x[i] = c[i] = Load(in + 32 * i);
  DecryptBlocks<n>(x, k);
  Store(out, _mm256_xor_si256(x[0], chain));
  for (int i = 1; i < n; ++i) Store(out + 32 * i, _mm256_xor_si256(x[i], c[i - 1]));
  return c[n - 1];
}

}  // namespace

bool CipherHaveAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

TEVQA_AVX2 void CipherCbcAvx2(const uint8_t* ctx, const uint8_t iv[32], const uint8_t* in,
                              uint8_t* out, size_t blocks, bool encrypt) {
  if (blocks == 0) return;
  VecKeys k;
  LoadKeys(ctx, encrypt, &k);
  __m256i chain = Load(iv);
  if (encrypt) {
    for (size_t b = 0; b < blocks; ++b) {
      chain = EncryptBlock(_mm256_xor_si256(Load(in + 32 * b), chain), k);
      Store(out + 32 * b, chain);
    }
  } else {
    constexpr int kGroup = 4;
    size_t b = 0;
    for (; b + kGroup <= blocks; b += kGroup) {
      chain = DecryptGroup<kGroup>(in + 32 * b, out + 32 * b, chain, k);
    }
    for (; b < blocks; ++b) chain = DecryptGroup<1>(in + 32 * b, out + 32 * b, chain, k);
  }
  OPENSSL_cleanse(&k, sizeof k);
}

}  // namespace tevqa
