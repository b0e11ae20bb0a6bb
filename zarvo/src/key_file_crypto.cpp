#include "key_file_crypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <climits>
#include <memory>

namespace zarvo {
namespace {

struct CtxDel {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CtxDel>;

bool Gcm(bool seal, const uint8_t key[32], const uint8_t* nonce, const uint8_t* aad,
         size_t aad_size, const uint8_t* in, size_t size, uint8_t* out, uint8_t tag[16]) {
  if (aad_size > INT_MAX || size > INT_MAX) return false;
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return false;
  int n = 0;
  bool ok = EVP_CipherInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr,
                              seal ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) == 1 &&
            EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key, nonce, -1) == 1 &&
            EVP_CipherUpdate(ctx.get(), nullptr, &n, aad, static_cast<int>(aad_size)) == 1 &&
            EVP_CipherUpdate(ctx.get(), out, &n, in, static_cast<int>(size)) == 1 &&
            static_cast<size_t>(n) == size;
  if (ok && !seal) ok = EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, 16, tag) == 1;
  uint8_t tail[16];  // GCM writes nothing here
  if (ok) ok = EVP_CipherFinal_ex(ctx.get(), tail, &n) == 1 && n == 0;
  if (ok && seal) ok = EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, tag) == 1;
  ERR_clear_error();
  return ok;
}

}  // namespace

bool DeriveFileKey(std::string_view password, const uint8_t* salt, size_t salt_size,
                   uint32_t iterations, uint8_t key[32]) {
  if (password.size() > INT_MAX || salt_size > INT_MAX || iterations > INT_MAX) return false;
  const bool ok = PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt,
                                    static_cast<int>(salt_size), static_cast<int>(iterations),
                                    EVP_sha256(), 32, key) == 1;
  ERR_clear_error();
  return ok;
}

bool GcmSeal(const uint8_t key[32], const uint8_t* nonce, const uint8_t* aad, size_t aad_size,
             const uint8_t* in, size_t size, uint8_t* out, uint8_t tag[16]) {
  return Gcm(true, key, nonce, aad, aad_size, in, size, out, tag);
}

bool GcmOpen(const uint8_t key[32], const uint8_t* nonce, const uint8_t* aad, size_t aad_size,
             const uint8_t* in, size_t size, const uint8_t tag[16], uint8_t* out) {
  uint8_t t[16];
  for (int i = 0; i < 16; ++i) t[i] = tag[i];
  return Gcm(false, key, nonce, aad, aad_size, in, size, out, t);
}

}  // namespace zarvo
