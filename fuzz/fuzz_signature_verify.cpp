// Signature verification, signing and key agreement on arbitrary records and
// signatures: whatever the bytes, no crash, no hang, no read past a record.
#include <cstdint>
#include <cstring>
#include <vector>

#include "tevqa.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // hash 32 | public record 768 | signature 160 | private record 256;
  // a short input is zero-filled, so small seeds still reach every field.
  std::vector<uint8_t> buf(32 + 768 + 160 + 256, 0);
  std::memcpy(buf.data(), data, size < buf.size() ? size : buf.size());
  const uint8_t* hash = buf.data();
  const uint8_t* pub = hash + 32;
  const uint8_t* sig = pub + 768;
  const uint8_t* priv = sig + 160;

  int verdict = -1;
  const int rc = UZDST_SIGNATURE_verify(hash, pub, sig, &verdict);
  if (rc == 0 && verdict != 0) __builtin_trap();

  // Signing is slower; only a few inputs take that road.
  if (size > buf.size() && (data[buf.size()] & 0x0F) == 0) {
    uint8_t out[160];
    UZDST_SIGNATURE_generate(hash, priv, pub, out);
  }
  uint8_t key[64];
  UZDST_CIPHER_KEY_generate(priv, pub, pub, key);
  return 0;
}
