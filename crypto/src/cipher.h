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

// Portable reference code.
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
