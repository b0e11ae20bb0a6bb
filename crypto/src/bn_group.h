// Big-number helpers for the signature and key agreement, over OpenSSL BIGNUM.
//
// The group: x (+) y = x + y + R*x*y. With phi(x) = R*x + 1 it becomes the
// multiplicative group modulo p, which is how the fast paths compute; the
// literal forms below are the reference the fast paths are tested against.
#pragma once

#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tevqa {

struct BnFree {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct BnCtxFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct BnMontFree {
  void operator()(BN_MONT_CTX* m) const { BN_MONT_CTX_free(m); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using BnCtx = std::unique_ptr<BN_CTX, BnCtxFree>;
using BnMont = std::unique_ptr<BN_MONT_CTX, BnMontFree>;

Bn NewBn();
// Big-endian bytes, leading zeros allowed; nullptr on allocation failure.
Bn BnFromBytes(const uint8_t* p, size_t n);
// Writes b right-aligned and zero-filled into out[len]; false when it needs
// more than len bytes (out untouched).
[[nodiscard]] bool BnToFixed(const BIGNUM* b, uint8_t* out, size_t len);

// r = x (+) y, unreduced.
[[nodiscard]] bool GroupOp(BIGNUM* r, const BIGNUM* x, const BIGNUM* y, const BIGNUM* R,
                           BN_CTX* ctx);
// r = x^[k]: 1 for k = 0, x as it is for k = 1, else ((R*x + 1)^k - 1) * R^-1 mod p.
[[nodiscard]] bool GroupPower(BIGNUM* r, const BIGNUM* x, const BIGNUM* k, const BIGNUM* R,
                              const BIGNUM* p, BN_CTX* ctx);
// r = -x * (1 + R*x)^-1 mod p.
[[nodiscard]] bool GroupInverse(BIGNUM* r, const BIGNUM* x, const BIGNUM* R, const BIGNUM* p,
                                BN_CTX* ctx);

// Per-thread cache of what a modulus and coefficient need again and again:
// the Montgomery context of p and R^-1 mod p (absent when R is not
// invertible). Entries are keyed by the bytes of p and R.
struct ModulusInfo {
  Bn p;
  Bn R;
  Bn r_inv;  // null when gcd(R, p) != 1
  BnMont mont;
};
// Returns the cached entry, or nullptr on failure (p zero or even, no memory).
const ModulusInfo* LookupModulus(const uint8_t* p, size_t p_len, const uint8_t* R, size_t r_len,
                                 BN_CTX* ctx);

}  // namespace tevqa
