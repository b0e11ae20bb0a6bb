#include "zarvo/key_file_writer.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>

#include "key_file_crypto.h"
#include "key_file_layout.h"

namespace zarvo {
namespace {}  // namespace

bool SealKeyFile(const uint8_t* private_record, const uint8_t* agreement_record,
                 std::string_view password, uint32_t iterations, std::vector<uint8_t>* out) {
  out->clear();
  if (!private_record || !agreement_record || password.empty() ||
      iterations < kKeyFileMinIterations || iterations > kKeyFileMaxIterations)
    return false;
  std::vector<uint8_t> file(kKeyFileSize, 0);
  std::memcpy(file.data(), kKeyFileMagic.data(), 4);
  file[kOffVersion] = kKeyFileVersion;
  WriteBe32(file.data() + kOffIterations, iterations);
  if (RAND_bytes(file.data() + kOffSalt, kKeyFileSaltSize + kKeyFileNonceSize) != 1) return false;
  auto s = std::make_unique<KeyFileSecrets>();
  std::memcpy(s->plain, private_record, kPrivateRecordSize);
  std::memcpy(s->plain + kPrivateRecordSize, agreement_record, kPublicRecordSize);
  if (!DeriveFileKey(password, file.data() + kOffSalt, kKeyFileSaltSize, iterations, s->key) ||
      !GcmSeal(s->key, file.data() + kOffNonce, file.data(), kKeyFileHeaderSize, s->plain,
               kKeyFilePlainSize, file.data() + kOffCipher, file.data() + kOffTag))
    return false;
  *out = std::move(file);
  return true;
}

}  // namespace zarvo
