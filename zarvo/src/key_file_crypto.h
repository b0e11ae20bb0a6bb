// PBKDF2 and AES-256-GCM for the protected key file.
#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "key_file_layout.h"

namespace zarvo {

// The file key and the plain records while a key file is read or written;
// wiped when it goes.
struct KeyFileSecrets {
  uint8_t key[32];
  uint8_t plain[kKeyFilePlainSize];
  ~KeyFileSecrets() { OPENSSL_cleanse(this, sizeof *this); }
};

// 32-byte key from password and salt. Returns false on a library failure.
[[nodiscard]] bool DeriveFileKey(std::string_view password, const uint8_t* salt, size_t salt_size,
                                 uint32_t iterations, uint8_t key[32]);

// AES-256-GCM with a 12-byte nonce and a 16-byte tag over aad. Decryption
// returns false when the tag does not match; out may then hold garbage,
// which the caller wipes.
[[nodiscard]] bool GcmSeal(const uint8_t key[32], const uint8_t* nonce, const uint8_t* aad,
                           size_t aad_size, const uint8_t* in, size_t size, uint8_t* out,
                           uint8_t tag[16]);
[[nodiscard]] bool GcmOpen(const uint8_t key[32], const uint8_t* nonce, const uint8_t* aad,
                           size_t aad_size, const uint8_t* in, size_t size, const uint8_t tag[16],
                           uint8_t* out);

}  // namespace zarvo
