// Key material for tests and the demo: domain parameters and key pairs whose
// records have the layouts the tevqa library reads.
//
// Public record (768 bytes): 0 key-agreement modulus P, 128 domain id,
// 160 signature modulus p, 288 key-agreement public value, 416 q, 448 R,
// 480 zero, 512 Y1 = d^[x], 640 Y2 = d^[u].
// Private record (256 bytes): 0 key-agreement exponent a (64), 64 x, 96 u,
// 128 d.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace keytool {

using Bytes = std::vector<uint8_t>;

// Shared by every key of one domain. All numbers big-endian, fixed width.
struct Domain {
  Bytes ka_mod;     // 128: key-agreement modulus P (prime)
  Bytes ka_base;    // 128: key-agreement base; phi(base) has order ka_order
  Bytes ka_order;   // 32: prime order of phi(ka_base) modulo P
  Bytes domain_id;  // 32: hash of the parameters, compared by key agreement
  Bytes p;          // 128: signature modulus, prime, q divides p - 1
  Bytes q;          // 32: prime order
  Bytes R;          // 32: group coefficient, nonzero
  Bytes d;          // 128: group base, phi(d) = R*d + 1 has order q modulo p
};

struct KeyPair {
  std::array<uint8_t, 768> pub{};
  std::array<uint8_t, 256> priv{};
};

// Searches primes: takes a second or two.
[[nodiscard]] bool GenerateDomain(Domain* out, std::string* error);
// Text file of "name=hex" lines.
[[nodiscard]] bool SaveDomain(const Domain& d, const std::string& path, std::string* error);
[[nodiscard]] bool LoadDomain(const std::string& path, Domain* out, std::string* error);
// Checks the rules that make keys of the domain usable.
[[nodiscard]] bool CheckDomain(const Domain& d, std::string* error);

// x, u random in [1, q-1]; the key-agreement exponent is a 64-byte value the
// block cipher accepts as a key.
[[nodiscard]] bool GenerateKeyPair(const Domain& d, KeyPair* out, std::string* error);

// Raw files of exactly the record size. WriteFile replaces path whole: the
// bytes go to a new file of mode 0600 under a random name beside it (made
// exclusively, never through a link) that is flushed and renamed over path.
// On failure path is left as it was and the temporary file is removed.
[[nodiscard]] bool WriteFile(const std::string& path, const uint8_t* data, size_t n,
                             std::string* error);
[[nodiscard]] bool ReadFile(const std::string& path, Bytes* out, std::string* error);

std::string ToHex(const uint8_t* p, size_t n);
bool FromHex(const std::string& s, Bytes* out);

}  // namespace keytool
