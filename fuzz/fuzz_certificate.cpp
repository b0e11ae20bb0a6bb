// Certificate parsing: initBPb, initBCr and the owner reader on arbitrary
// bytes (DER or PEM): no crash, no read past the input, no partial output.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "keys/cert_owner.h"
#include "zarvo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const auto len = static_cast<int32_t>(size);
  uint8_t pub[768], rec[768], name[256];
  std::memset(pub, 0xEE, sizeof pub);
  int64_t from = 0, to = 0;
  const int key_ok = initBPb(data, len, pub);
  if (!key_ok && pub[0] != 0xEE) __builtin_trap();
  if (initBCr(data, len, rec, name, &from, &to) > 0) {
    // Whatever initBCr accepts, initBPb accepts with the same record.
    if (!key_ok || std::memcmp(pub, rec, sizeof rec) != 0) __builtin_trap();
  }
  qovra::TCertificateOwner owner;
  (void)qovra::CertificateOwnerFromData(std::string_view(reinterpret_cast<const char*>(data), size),
                                        &owner);
  return 0;
}
