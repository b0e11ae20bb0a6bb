// Internal interface of the 256-bit hash: the same code serves the exported
// UZDST_HASH_* calls (with the process-wide tables) and any caller that needs
// tables of its own (the random pool, signing).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tevqa {

// Four expanded tables of 256 words, one per byte of the round function's
// input word, with the 11-bit rotation already applied (4096 bytes).
struct HashTables {
  uint32_t t[4][256];
};

// The built-in CryptoPro set, already expanded.
const HashTables& BuiltinHashTables();

// Expands a caller's 128-byte set (8 rows of 16 four-bit entries).
void ExpandHashTables(const uint8_t sbox[128], HashTables* out);

// The tables the exported calls use; one set for the whole process.
HashTables& ProcessHashTables();

// Loads the process-wide tables from sbox (nullptr = built-in set). The
// built-in set is written only when a caller's set was loaded before, so
// threads that never pass a set of their own may hash at the same time.
void LoadProcessHashTables(const uint8_t* sbox);

// The 132-byte context layout is the exported one.
constexpr size_t kHashContextSize = 132;

// Zeroes the context.
void HashInit(uint8_t* ctx);
void HashUpdate(const HashTables& tables, uint8_t* ctx, const uint8_t* data, size_t len);
void HashFinal(const HashTables& tables, uint8_t* ctx, uint8_t out[32]);
// One shot with a context of its own, wiped afterwards.
void HashData(const HashTables& tables, const uint8_t* data, size_t len, uint8_t out[32]);

}  // namespace tevqa
