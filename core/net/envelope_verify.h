// The server's signature over a hash, as every part of a reply carries it.
#pragma once

#include <tevqa.h>

#include <array>
#include <cstdint>

#include "keys/crypto_binding.h"

namespace qovra {

// True when the call checked the signature and found it valid.
inline bool VerifyServerSignature(const THashValue& hash, const std::array<uint8_t, 768>& key,
                                  const uint8_t* signature) {
  int verdict = 0;
  return UZDST_SIGNATURE_verify(hash.data(), key.data(), signature, &verdict) == 1 && verdict == 1;
}

}  // namespace qovra
