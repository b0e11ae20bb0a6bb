// Montgomery arithmetic modulo an odd m below 2^1024 on AVX-512 IFMA: 20
// limbs of 52 bits, R = 2^1040. Values stay "almost reduced" (below 2m,
// which 4m < R allows); FromMont reduces fully. For the signature check,
// where OpenSSL's general code spends most of the time.
//
// Every call except Available() REQUIRES Available(). Objects are
// immutable once built and may be shared between threads.
#pragma once

#include <openssl/bn.h>

#include <cstdint>
#include <memory>

namespace tevqa::mont52 {

constexpr int kLimbs = 20;  // 52-bit limbs in use
constexpr int kLanes = 24;  // three registers of 8; lanes 20-23 stay zero

struct alignas(64) Num {
  uint64_t l[kLanes] = {};
};

struct Modulus {
  Num m;
  Num rr;           // R^2 mod m
  uint64_t k0 = 0;  // -m^-1 mod 2^52
};

// True when the processor has AVX-512F and IFMA.
bool Available();

// nullptr unless m is odd, above 1 and below 2^1024.
std::unique_ptr<Modulus> NewModulus(const BIGNUM* m, BN_CTX* ctx);

// out = x*R mod m (almost reduced). False unless 0 <= x < m.
[[nodiscard]] bool ToMont(Num* out, const BIGNUM* x, const Modulus& m);
// out = x/R mod m, fully reduced.
[[nodiscard]] bool FromMont(BIGNUM* out, const Num& x, const Modulus& m, BN_CTX* ctx);

// r = a*b/R mod m (almost reduced); r may alias a or b.
void Mul(Num* r, const Num& a, const Num& b, const Modulus& m);

// r = a^e1 * b^e2 (Montgomery forms) by interleaved sliding windows.
// False when an exponent is zero or negative.
[[nodiscard]] bool Power2(Num* r, const Num& a, const BIGNUM* e1, const Num& b, const BIGNUM* e2,
                          const Modulus& m);

// Fixed-base comb tables of one base, for exponents of up to kCombBits bits.
class Comb;
constexpr int kCombBits = 259;  // 7 teeth of 37 bits
struct CombFree {
  void operator()(Comb* c) const;
};
using CombPtr = std::unique_ptr<Comb, CombFree>;
CombPtr NewComb(const Num& base, const Modulus& m);

// r = a^e1 * b^e2 from the tables of a and b (built for the same m). False
// when an exponent is zero, negative or longer than kCombBits.
[[nodiscard]] bool CombPower2(Num* r, const Comb& a, const BIGNUM* e1, const Comb& b,
                              const BIGNUM* e2, const Modulus& m);

}  // namespace tevqa::mont52
