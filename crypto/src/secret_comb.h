// Fixed-base powers for secret exponents on AVX-512 IFMA (mont52.h): one
// base, four comb tables of five teeth 13 bits apart, so an exponent of up
// to 260 bits costs 12 squarings and 51 products. Every power reads every
// table entry and does the same products whatever the exponent's bits.
//
// Every call REQUIRES mont52::Available(). Tables are immutable once built
// and may be shared between threads; they are wiped when freed.
#pragma once

#include <openssl/bn.h>

#include <memory>

#include "mont52.h"

namespace tevqa::mont52 {

constexpr int kSecretCombBits = 260;

class SecretComb;
struct SecretCombFree {
  void operator()(SecretComb* c) const;
};
using SecretCombPtr = std::unique_ptr<SecretComb, SecretCombFree>;

// The tables of base (Montgomery form, below 2m) modulo m.
SecretCombPtr NewSecretComb(const Num& base, const Modulus& m);

// r = base^e in Montgomery form (e = 0 gives the form of 1). False, r
// untouched, when e is negative or longer than kSecretCombBits.
[[nodiscard]] bool SecretCombPower(Num* r, const SecretComb& comb, const BIGNUM* e,
                                   const Modulus& m);

}  // namespace tevqa::mont52
