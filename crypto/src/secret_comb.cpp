#include "secret_comb.h"

#include <immintrin.h>
#include <openssl/crypto.h>

#include <cstdint>

#define TEVQA_AVX512 __attribute__((target("avx512f")))

namespace tevqa::mont52 {
namespace {

constexpr int kTeeth = 5;
constexpr int kTables = 4;
constexpr int kSpacing = 13;
constexpr int kEntries = 1 << kTeeth;
constexpr int kExpBytes = 40;
static_assert(kTeeth * kTables * kSpacing == kSecretCombBits);
static_assert(8 * kExpBytes >= kSecretCombBits);

inline unsigned Bit(const uint8_t* e, int i) {
  return (e[i >> 3] >> (i & 7)) & 1u;
}

}  // namespace

// t[b][j] = the product, over the bits i of j, of
// base^(2^((kTeeth * b + i) * kSpacing)); t[b][0] is 1.
class SecretComb {
 public:
  Num t[kTables][kEntries];
};

void SecretCombFree::operator()(SecretComb* c) const {
  OPENSSL_cleanse(c, sizeof *c);
  delete c;
}

namespace {

// GCC 12 takes the undefined pass-through operand inside some AVX-512
// intrinsics for an uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// out = table[idx], reading all kEntries entries alike.
TEVQA_AVX512 void Select(Num* out, const Num* table, unsigned idx) {
  const __m512i want = _mm512_set1_epi64(idx);
  __m512i r0 = _mm512_setzero_si512(), r1 = r0, r2 = r0;
  for (unsigned j = 0; j < kEntries; ++j) {
    const __mmask8 k = _mm512_cmpeq_epi64_mask(_mm512_set1_epi64(j), want);
    r0 = _mm512_mask_mov_epi64(r0, k, _mm512_load_si512(table[j].l));
    r1 = _mm512_mask_mov_epi64(r1, k, _mm512_load_si512(table[j].l + 8));
    r2 = _mm512_mask_mov_epi64(r2, k, _mm512_load_si512(table[j].l + 16));
  }
  _mm512_store_si512(out->l, r0);
  _mm512_store_si512(out->l + 8, r1);
  _mm512_store_si512(out->l + 16, r2);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace

SecretCombPtr NewSecretComb(const Num& base, const Modulus& m) {
  SecretCombPtr comb(new SecretComb);
  Num one_plain, one;
  one_plain.l[0] = 1;
  Mul(&one, one_plain, m.rr, m);  // R mod m
  Num p = base;
  for (int b = 0; b < kTables; ++b) {
    Num* t = comb->t[b];
    t[0] = one;
    for (int i = 0; i < kTeeth; ++i) {
      t[1 << i] = p;
      if (b + 1 < kTables || i + 1 < kTeeth) {
        for (int s = 0; s < kSpacing; ++s) Mul(&p, p, p, m);
      }
    }
    for (int j = 3; j < kEntries; ++j) {
      const int top = 31 - __builtin_clz(static_cast<unsigned>(j));
      if (j != (1 << top)) Mul(&t[j], t[j ^ (1 << top)], t[1 << top], m);
    }
  }
  OPENSSL_cleanse(&p, sizeof p);
  return comb;
}

bool SecretCombPower(Num* r, const SecretComb& comb, const BIGNUM* e, const Modulus& m) {
  if (BN_is_negative(e) || BN_num_bits(e) > kSecretCombBits) return false;
  uint8_t x[kExpBytes];
  if (BN_bn2lebinpad(e, x, kExpBytes) != kExpBytes) return false;
  Num acc, entry;
  for (int col = kSpacing - 1; col >= 0; --col) {
    if (col != kSpacing - 1) Mul(&acc, acc, acc, m);
    for (int b = 0; b < kTables; ++b) {
      unsigned idx = 0;
      for (int i = 0; i < kTeeth; ++i) idx |= Bit(x, (kTeeth * b + i) * kSpacing + col) << i;
      Select(&entry, comb.t[b], idx);
      if (col == kSpacing - 1 && b == 0) {
        acc = entry;
      } else {
        Mul(&acc, acc, entry, m);
      }
    }
  }
  *r = acc;
  OPENSSL_cleanse(x, sizeof x);
  OPENSSL_cleanse(&acc, sizeof acc);
  OPENSSL_cleanse(&entry, sizeof entry);
  return true;
}

}  // namespace tevqa::mont52
