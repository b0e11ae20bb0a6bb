#include "mont52.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#define TEVQA_IFMA __attribute__((target("avx512f,avx512ifma")))

namespace tevqa::mont52 {
namespace {

constexpr uint64_t kMask = (uint64_t{1} << 52) - 1;
constexpr int kBytes = 136;  // room to read 8 bytes at every limb's offset
constexpr int kWindow = 5;   // sliding window: 16 odd powers per base
constexpr int kTeeth = 7;
constexpr int kSpacing = 37;
constexpr int kExpBytes = 64;  // exponents of up to 512 bits

bool ToLimbs(const BIGNUM* x, Num* out) {
  if (BN_is_negative(x) || BN_num_bits(x) > 1024) return false;
  uint8_t buf[kBytes];
  if (BN_bn2lebinpad(x, buf, kBytes) != kBytes) return false;
  for (int i = 0; i < kLimbs; ++i) {
    const int bit = 52 * i;
    uint64_t v;
    std::memcpy(&v, buf + bit / 8, 8);
    out->l[i] = (v >> (bit % 8)) & kMask;
  }
  for (int i = kLimbs; i < kLanes; ++i) out->l[i] = 0;
  return true;
}

// x must be normalised (every limb below 2^52).
bool FromLimbs(const Num& x, BIGNUM* out) {
  uint8_t buf[kBytes] = {};
  unsigned __int128 acc = 0;
  int held = 0, pos = 0;
  for (int i = 0; i < kLimbs; ++i) {
    acc |= static_cast<unsigned __int128>(x.l[i]) << held;
    held += 52;
    while (held >= 8) {
      buf[pos++] = static_cast<uint8_t>(acc);
      acc >>= 8;
      held -= 8;
    }
  }
  if (held > 0) buf[pos] = static_cast<uint8_t>(acc);
  return BN_lebin2bn(buf, kBytes, out) != nullptr;
}

// Little-endian bytes of a non-negative exponent of at most 512 bits; its
// bit length in *bits.
bool ExponentBytes(const BIGNUM* e, uint8_t* buf, int* bits) {
  if (BN_is_negative(e) || BN_num_bits(e) > 8 * kExpBytes) return false;
  *bits = BN_num_bits(e);
  return BN_bn2lebinpad(e, buf, kExpBytes) == kExpBytes;
}

inline int Bit(const uint8_t* e, int i) {
  return (e[i >> 3] >> (i & 7)) & 1;
}

// digits[i] = the odd window value ending at bit i, 0 elsewhere.
void SlidingWindows(const uint8_t* e, int bits, uint8_t* digits) {
  std::memset(digits, 0, static_cast<size_t>(bits));
  for (int i = bits - 1; i >= 0;) {
    if (!Bit(e, i)) {
      --i;
      continue;
    }
    int lo = std::max(i - kWindow + 1, 0);
    while (!Bit(e, lo)) ++lo;
    int v = 0;
    for (int j = i; j >= lo; --j) v = 2 * v + Bit(e, j);
    digits[lo] = static_cast<uint8_t>(v);
    i = lo - 1;
  }
}

// acc = acc * t, or acc = t for the first factor.
inline void MulInto(Num* acc, bool* started, const Num& t, const Modulus& m) {
  if (*started) {
    Mul(acc, *acc, t, m);
  } else {
    *acc = t;
    *started = true;
  }
}

}  // namespace

bool Available() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma");
}

std::unique_ptr<Modulus> NewModulus(const BIGNUM* m, BN_CTX* ctx) {
  if (BN_is_negative(m) || !BN_is_odd(m) || BN_is_one(m) || BN_num_bits(m) > 1024) return nullptr;
  auto mod = std::make_unique<Modulus>();
  BIGNUM* rr = BN_new();
  const bool ok = rr && BN_set_bit(rr, 2 * 52 * kLimbs) && BN_mod(rr, rr, m, ctx) &&
                  ToLimbs(m, &mod->m) && ToLimbs(rr, &mod->rr);
  BN_free(rr);
  if (!ok) return nullptr;
  // Newton's iteration doubles the correct low bits of m^-1 each step.
  const uint64_t low = mod->m.l[0] | (mod->m.l[1] << 52);
  uint64_t inv = low;  // correct to 3 bits for an odd number
  for (int i = 0; i < 5; ++i) inv *= 2 - low * inv;
  mod->k0 = (0 - inv) & kMask;
  return mod;
}

// GCC 12 takes the undefined pass-through operand inside some AVX-512
// intrinsics for an uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// One product with its reduction on a short chain: the products a*b (P)
// and m*y (Q) are summed in separate registers, and the limb that decides
// the next y is tracked in a scalar, so only the scalar steps wait on y.
TEVQA_IFMA void Mul(Num* r, const Num& a, const Num& b, const Modulus& m) {
  const __m512i a0 = _mm512_load_si512(a.l), a1 = _mm512_load_si512(a.l + 8),
                a2 = _mm512_load_si512(a.l + 16);
  const __m512i m0 = _mm512_load_si512(m.m.l), m1 = _mm512_load_si512(m.m.l + 8),
                m2 = _mm512_load_si512(m.m.l + 16);
  const __m512i zero = _mm512_setzero_si512();
  const uint64_t n0 = m.m.l[0], n1 = m.m.l[1], x0 = a.l[0];
  __m512i p0 = zero, p1 = zero, p2 = zero, q0 = zero, q1 = zero, q2 = zero;
  uint64_t s = (x0 * b.l[0]) & kMask;  // the value at the current limb
  uint64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const uint64_t y = (s * m.k0) & kMask;
    const __m512i bi = _mm512_set1_epi64(static_cast<long long>(b.l[i]));
    const __m512i yv = _mm512_set1_epi64(static_cast<long long>(y));
    // Q's next limb before this y's terms; they are added in the scalar.
    const auto q_next = static_cast<uint64_t>(_mm_extract_epi64(_mm512_castsi512_si128(q0), 1));
    q0 = _mm512_madd52lo_epu64(q0, m0, yv);
    q1 = _mm512_madd52lo_epu64(q1, m1, yv);
    q2 = _mm512_madd52lo_epu64(q2, m2, yv);
    p0 = _mm512_madd52lo_epu64(p0, a0, bi);
    p1 = _mm512_madd52lo_epu64(p1, a1, bi);
    p2 = _mm512_madd52lo_epu64(p2, a2, bi);
    q0 = _mm512_alignr_epi64(q1, q0, 1);
    q1 = _mm512_alignr_epi64(q2, q1, 1);
    q2 = _mm512_alignr_epi64(zero, q2, 1);
    p0 = _mm512_alignr_epi64(p1, p0, 1);
    p1 = _mm512_alignr_epi64(p2, p1, 1);
    p2 = _mm512_alignr_epi64(zero, p2, 1);
    q0 = _mm512_madd52hi_epu64(q0, m0, yv);
    q1 = _mm512_madd52hi_epu64(q1, m1, yv);
    q2 = _mm512_madd52hi_epu64(q2, m2, yv);
    p0 = _mm512_madd52hi_epu64(p0, a0, bi);
    p1 = _mm512_madd52hi_epu64(p1, a1, bi);
    p2 = _mm512_madd52hi_epu64(p2, a2, bi);
    // The dropped limb is a multiple of 2^52 now: its top bits carry on.
    const unsigned __int128 my = static_cast<unsigned __int128>(n0) * y;
    carry = (s + (static_cast<uint64_t>(my) & kMask)) >> 52;
    if (i + 1 < kLimbs) {
      const auto p_next = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm512_castsi512_si128(p0)));
      s = p_next + ((x0 * b.l[i + 1]) & kMask) + q_next + ((n1 * y) & kMask) +
          static_cast<uint64_t>(my >> 52) + carry;
    }
  }
  p0 = _mm512_add_epi64(p0, q0);
  p1 = _mm512_add_epi64(p1, q1);
  p2 = _mm512_add_epi64(p2, q2);
  alignas(64) uint64_t t[kLanes];
  _mm512_store_si512(t, p0);
  _mm512_store_si512(t + 8, p1);
  _mm512_store_si512(t + 16, p2);
  // Limb 0 lacks only the last carry: the scalar held the rest.
  for (int i = 0; i < kLimbs; ++i) {
    const uint64_t v = t[i] + carry;
    r->l[i] = v & kMask;
    carry = v >> 52;
  }
  for (int i = kLimbs; i < kLanes; ++i) r->l[i] = 0;
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool ToMont(Num* out, const BIGNUM* x, const Modulus& m) {
  Num plain;
  if (!ToLimbs(x, &plain)) return false;
  for (int i = kLimbs - 1; i >= 0; --i) {  // x < m
    if (plain.l[i] != m.m.l[i]) {
      if (plain.l[i] > m.m.l[i]) return false;
      break;
    }
    if (i == 0) return false;
  }
  Mul(out, plain, m.rr, m);
  return true;
}

bool FromMont(BIGNUM* out, const Num& x, const Modulus& m, BN_CTX* ctx) {
  Num one, plain;
  one.l[0] = 1;
  Mul(&plain, x, one, m);  // at most m
  BN_CTX_start(ctx);
  BIGNUM* mod = BN_CTX_get(ctx);
  const bool ok = mod && FromLimbs(plain, out) && FromLimbs(m.m, mod) &&
                  (BN_cmp(out, mod) < 0 || BN_sub(out, out, mod));
  BN_CTX_end(ctx);
  return ok;
}

bool Power2(Num* r, const Num& a, const BIGNUM* e1, const Num& b, const BIGNUM* e2,
            const Modulus& m) {
  uint8_t x1[kExpBytes], x2[kExpBytes];
  int bits1 = 0, bits2 = 0;
  if (!ExponentBytes(e1, x1, &bits1) || !ExponentBytes(e2, x2, &bits2) || bits1 == 0 || bits2 == 0)
    return false;
  constexpr int kOdd = 1 << (kWindow - 1);
  auto ta = std::make_unique<Num[]>(2 * kOdd);
  Num* tb = ta.get() + kOdd;
  Num sq;
  ta[0] = a;
  Mul(&sq, a, a, m);
  for (int j = 1; j < kOdd; ++j) Mul(&ta[j], ta[j - 1], sq, m);
  tb[0] = b;
  Mul(&sq, b, b, m);
  for (int j = 1; j < kOdd; ++j) Mul(&tb[j], tb[j - 1], sq, m);

  uint8_t d1[8 * kExpBytes], d2[8 * kExpBytes];
  SlidingWindows(x1, bits1, d1);
  SlidingWindows(x2, bits2, d2);
  Num acc;
  bool started = false;
  for (int i = std::max(bits1, bits2) - 1; i >= 0; --i) {
    if (started) Mul(&acc, acc, acc, m);
    if (i < bits1 && d1[i]) MulInto(&acc, &started, ta[d1[i] >> 1], m);
    if (i < bits2 && d2[i]) MulInto(&acc, &started, tb[d2[i] >> 1], m);
  }
  *r = acc;
  return true;
}

class Comb {
 public:
  Num t[1 << kTeeth];  // t[j] = product of base^(2^(37k)) over the bits k of j
};

void CombFree::operator()(Comb* c) const {
  delete c;
}

CombPtr NewComb(const Num& base, const Modulus& m) {
  CombPtr comb(new Comb);
  Num* t = comb->t;
  t[1] = base;
  for (int k = 1; k < kTeeth; ++k) {
    Num p = t[1 << (k - 1)];
    for (int s = 0; s < kSpacing; ++s) Mul(&p, p, p, m);
    t[1 << k] = p;
  }
  for (int j = 3; j < (1 << kTeeth); ++j) {
    const int top = 31 - __builtin_clz(static_cast<unsigned>(j));
    if (j != (1 << top)) Mul(&t[j], t[j ^ (1 << top)], t[1 << top], m);
  }
  return comb;
}

bool CombPower2(Num* r, const Comb& a, const BIGNUM* e1, const Comb& b, const BIGNUM* e2,
                const Modulus& m) {
  uint8_t x1[kExpBytes], x2[kExpBytes];
  int bits1 = 0, bits2 = 0;
  if (!ExponentBytes(e1, x1, &bits1) || !ExponentBytes(e2, x2, &bits2) || bits1 == 0 ||
      bits2 == 0 || bits1 > kCombBits || bits2 > kCombBits)
    return false;
  Num acc;
  bool started = false;
  for (int col = kSpacing - 1; col >= 0; --col) {
    if (started) Mul(&acc, acc, acc, m);
    unsigned i1 = 0, i2 = 0;
    for (int k = 0; k < kTeeth; ++k) {
      i1 |= static_cast<unsigned>(Bit(x1, k * kSpacing + col)) << k;
      i2 |= static_cast<unsigned>(Bit(x2, k * kSpacing + col)) << k;
    }
    if (i1) MulInto(&acc, &started, a.t[i1], m);
    if (i2) MulInto(&acc, &started, b.t[i2], m);
  }
  *r = acc;
  return true;
}

}  // namespace tevqa::mont52
