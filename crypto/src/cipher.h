// Internal interface of the 256-bit block cipher. The exported UZDST_CIPHER_*
// calls are thin wrappers; the portable code is the reference that the vector
// code is tested against.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tevqa {

constexpr size_t kCipherContextSize = 832;

// Fills ctx (832 bytes) from a 64-byte key. Returns false, ctx untouched, for
// an unusable key.
[[nodiscard]] bool CipherInit(uint8_t* ctx, const uint8_t key[64], bool encrypt);

// Building blocks of the context, shared with the vector code and the tests.

// Context offsets.
constexpr size_t kCipherRoundKeys = 0;  // nine 32-byte round keys in use order
constexpr size_t kCipherTableA = 288;   // table A (its inverse when decrypting)
constexpr size_t kCipherTableB = 544;   // table B (its inverse when decrypting)
constexpr size_t kCipherMatrix1 = 800;  // matrix for bytes 0-15
constexpr size_t kCipherMatrix2 = 816;  // matrix for bytes 16-31

// Output byte j of the transposition is input byte kCipherTransposition[j].
extern const uint8_t kCipherTransposition[32];

// Builds a substitution table (a permutation of 0..255) from four parameter
// bytes.
void CipherBuildTable(const uint8_t params[4], uint8_t table[256]);

// Builds a 4x4 matrix (row by row) from ten key-string bytes; the inverse of
// every such matrix exists.
void CipherBuildMatrix(const uint8_t k[10], uint8_t m[16]);

// Mixes the 16-byte half-block x with matrix m into out (which may be x).
void CipherMix(const uint8_t x[16], const uint8_t m[16], uint8_t out[16]);

// Writes the matrix n for which mixing with m gives the identity in either
// order. Returns false, inv untouched, when m has no such inverse.
[[nodiscard]] bool CipherInvertMatrix(const uint8_t m[16], uint8_t inv[16]);

// Portable reference code. Every CBC call below copies iv and leaves it
// unchanged, writes nothing for 0 blocks, and accepts out == in in both
// directions (each chain value is read before its block is written); other
// overlaps of out and in are not allowed.
void CipherEncryptBlockRef(const uint8_t* ctx, const uint8_t chain[32], uint8_t block[32]);
void CipherDecryptBlockRef(const uint8_t* ctx, const uint8_t chain[32], uint8_t block[32]);
void CipherCbcRef(const uint8_t* ctx, const uint8_t iv[32], const uint8_t* in, uint8_t* out,
                  size_t blocks, bool encrypt);

// Vector code (AVX2); only call when CipherHaveAvx2() is true.
bool CipherHaveAvx2();
void CipherCbcAvx2(const uint8_t* ctx, const uint8_t iv[32], const uint8_t* in, uint8_t* out,
                   size_t blocks, bool encrypt);

// Dispatching CBC: the fastest code this CPU runs.
void CipherCbc(const uint8_t* ctx, const uint8_t iv[32], const uint8_t* in, uint8_t* out,
               size_t blocks, bool encrypt);

}  // namespace tevqa
