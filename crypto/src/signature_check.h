// The product at the heart of a signature check, on AVX-512 IFMA where the
// processor has it: out = a^e1 * b^e2 * c mod p. A signer seen for the
// first time is computed by interleaved sliding windows; from its second
// check on, fixed-base tables of its two bases make it about three times
// cheaper. Caches are per thread: 8 signers, 4 moduli.
#pragma once

#include <openssl/bn.h>

#include <cstdint>

namespace tevqa {

// pub: the 768-byte public record (its p, R, Y1 and Y2 name the signer);
// a and b are the signer's bases as derived from it, p the modulus read
// from it, all below p; e1, e2 >= 1; c below p. False when this path
// cannot run (no IFMA, a value out of range): out is then untouched and the
// caller computes the product another way.
[[nodiscard]] bool FastCheckProduct(const uint8_t* pub, const BIGNUM* p, const BIGNUM* a,
                                    const BIGNUM* e1, const BIGNUM* b, const BIGNUM* e2,
                                    const BIGNUM* c, BIGNUM* out, BN_CTX* ctx);

// What the calls of this thread did, for tests.
struct FastCheckCounts {
  uint64_t windows = 0;  // products by sliding windows (signer not tabled)
  uint64_t tables = 0;   // signers whose tables were built
  uint64_t combs = 0;    // products from tables
};
FastCheckCounts& ThreadFastCheckCounts();
// Forgets every cached signer and modulus of this thread.
void ClearFastCheckCaches();

}  // namespace tevqa
