// Key files: 256 bytes in clear, or the protected "QPRK" file.
#include <openssl/crypto.h>

#include <cstring>
#include <memory>
#include <string_view>

#include "error_state.h"
#include "key_file_crypto.h"
#include "key_file_layout.h"
#include "zarvo.h"

namespace zarvo {
namespace {

int ReadKeyFile(const void* data, int32_t len, const char* password, void* private_record,
                void* agreement_record) {
  if ((!data && len != 0) || len < 0 || !password || !private_record || !agreement_record) {
    SetError(ZARVO_ERR_ARGUMENT);
    return 0;
  }
  const auto* file = static_cast<const uint8_t*>(data);
  const auto size = static_cast<size_t>(len);
  if (size == kPrivateRecordSize) {
    std::memcpy(private_record, file, kPrivateRecordSize);
    std::memset(agreement_record, 0, kPublicRecordSize);
    return 1;
  }
  if (size != kKeyFileSize || std::memcmp(file, kKeyFileMagic.data(), 4) != 0 ||
      file[kOffVersion] != kKeyFileVersion || file[kOffReserved] != 0 ||
      file[kOffReserved + 1] != 0 || file[kOffReserved + 2] != 0) {
    SetError(ZARVO_ERR_KEY_FILE);
    return 0;
  }
  const uint32_t iterations = ReadBe32(file + kOffIterations);
  if (iterations < kReadMinIterations || iterations > kKeyFileMaxIterations) {
    SetError(ZARVO_ERR_KEY_FILE);
    return 0;
  }
  const std::string_view pw(password);
  if (pw.empty()) {
    SetError(ZARVO_ERR_PASSWORD);
    return 0;
  }
  auto s = std::make_unique<KeyFileSecrets>();
  if (!DeriveFileKey(pw, file + kOffSalt, kKeyFileSaltSize, iterations, s->key)) {
    SetError(ZARVO_ERR_INTERNAL);
    return 0;
  }
  if (!GcmOpen(s->key, file + kOffNonce, file, kKeyFileHeaderSize, file + kOffCipher,
               kKeyFilePlainSize, file + kOffTag, s->plain)) {
    // A wrong password and an altered file look the same here.
    SetError(ZARVO_ERR_PASSWORD);
    return 0;
  }
  std::memcpy(private_record, s->plain, kPrivateRecordSize);
  std::memcpy(agreement_record, s->plain + kPrivateRecordSize, kPublicRecordSize);
  return 1;
}

}  // namespace
}  // namespace zarvo

extern "C" int initBPr(const void* data, int32_t len, const char* password, void* private_record,
                       void* agreement_record) {
  return zarvo::Guarded(
      [&] { return zarvo::ReadKeyFile(data, len, password, private_record, agreement_record); });
}
