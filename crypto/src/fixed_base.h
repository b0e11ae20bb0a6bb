// Fixed-base powers modulo p for signing: g^-k from a precomputed comb
// table with constant-time table reads. Signing uses the same base for every
// signature of a key, so the table is built once per key and kept in a small
// per-thread cache.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bn_group.h"

namespace tevqa {

class FixedBase;

// The table of g^-1 modulo p (p big-endian bytes, odd); nullptr when g has
// no inverse modulo p or on failure.
const FixedBase* LookupInverseBase(const uint8_t* p, size_t p_len, const BIGNUM* g, BN_CTX* ctx);

// out = g^-k modulo p for 0 <= k < 2^256. False on failure or a larger k.
[[nodiscard]] bool InverseBasePower(const FixedBase& fb, const BIGNUM* k, BIGNUM* out,
                                    BN_CTX* ctx);

}  // namespace tevqa
