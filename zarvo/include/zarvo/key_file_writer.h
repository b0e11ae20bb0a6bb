// Writing protected key files (the "QPRK" layout of zarvo/formats.h), for
// keytool and tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zarvo {

// Seals the 256-byte private record and the 768-byte key-agreement record
// under password (bytes as given; the program passes Windows-1251 text) with
// a fresh random salt and nonce. iterations must lie within
// [kKeyFileMinIterations, kKeyFileMaxIterations]. Returns false and leaves
// *out empty when the password is empty or anything fails.
[[nodiscard]] bool SealKeyFile(const uint8_t* private_record, const uint8_t* agreement_record,
                               std::string_view password, uint32_t iterations,
                               std::vector<uint8_t>* out);

}  // namespace zarvo
