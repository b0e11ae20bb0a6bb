// Fixed-base powers modulo p for signing: g^-k from a precomputed comb
// table with constant-time table reads, for g = R*d + 1 (the group base d
// seen through phi). Signing uses the same base for every signature of a
// key, so the table is built once per key and kept in a small per-thread
// cache; tables are wiped when they leave it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bn_group.h"

namespace tevqa {

class FixedBase;

// The arithmetic a table uses: AVX-512 IFMA where the processor has it
// (else OpenSSL's), or OpenSSL's alone.
enum class FixedBaseArith { kBest, kPortable };

// The table of g^-1 modulo p for g = R*d + 1 mod p, from the big-endian
// bytes of p (odd), R and d; nullptr when g has no inverse modulo p or on
// failure.
const FixedBase* LookupInverseBase(const uint8_t* p, size_t p_len, const uint8_t* R, size_t r_len,
                                   const uint8_t* d, size_t d_len, FixedBaseArith arith,
                                   BN_CTX* ctx);

// out = g^-k modulo p, fully reduced, for 0 <= k < 2^256. False on failure
// or a larger k.
[[nodiscard]] bool InverseBasePower(const FixedBase& fb, const BIGNUM* k, BIGNUM* out, BN_CTX* ctx);

}  // namespace tevqa
