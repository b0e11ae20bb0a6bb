// Field access for the protected key file (layout in zarvo/formats.h).
#pragma once

#include <cstdint>

#include "zarvo/formats.h"

namespace zarvo {

constexpr size_t kOffVersion = 4;
constexpr size_t kOffReserved = 5;
constexpr size_t kOffIterations = 8;
constexpr size_t kOffSalt = 12;
constexpr size_t kOffNonce = kOffSalt + kKeyFileSaltSize;
constexpr size_t kOffCipher = kKeyFileHeaderSize;
constexpr size_t kOffTag = kOffCipher + kKeyFilePlainSize;
static_assert(kOffNonce + kKeyFileNonceSize == kKeyFileHeaderSize);
static_assert(kOffTag + kKeyFileTagSize == kKeyFileSize);

inline uint32_t ReadBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline void WriteBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Smallest iteration count accepted when reading. Fuzzing builds accept any
// nonzero count so that the fuzzer can reach the decryption quickly.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr uint32_t kReadMinIterations = 1;
#else
constexpr uint32_t kReadMinIterations = kKeyFileMinIterations;
#endif

}  // namespace zarvo
