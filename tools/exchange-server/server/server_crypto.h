// The exchange server's calls into tevqa and ulmox.
//
// tevqa keeps its hash tables process-wide and ulmox its pool, and neither
// is thread-safe, while the HTTP layer serves connections on several
// threads. Every call here therefore takes one process-wide lock for its
// whole run. Code that reaches tevqa through another library (certificate
// checks, zarvo) holds LibraryMutex() around that call instead; none of the
// calls below may be made while holding it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>

namespace exchange::crypto {

inline constexpr size_t kHashSize = 32;
inline constexpr size_t kRecordSize = 768;
inline constexpr size_t kPrivateSize = 256;
inline constexpr size_t kSignatureSize = 160;
inline constexpr size_t kKeySize = 64;
inline constexpr size_t kBlockSize = 32;

using Hash32 = std::array<uint8_t, kHashSize>;
using Record = std::array<uint8_t, kRecordSize>;
using PrivateRecord = std::array<uint8_t, kPrivateSize>;
using Signature = std::array<uint8_t, kSignatureSize>;
using CipherKey = std::array<uint8_t, kKeySize>;

std::mutex& LibraryMutex();

// The hash (built-in substitution set) of the pieces one after another.
Hash32 Hash(std::initializer_list<std::string_view> pieces);
inline Hash32 Hash(std::string_view bytes) {
  return Hash({bytes});
}

// Signs hash with the private record priv and its public record pub.
[[nodiscard]] bool Sign(const Hash32& hash, const PrivateRecord& priv, const Record& pub,
                        Signature& out);
// True only when the check ran and found the signature valid. A signature
// of any length but 160 bytes is invalid.
[[nodiscard]] bool Verify(const Hash32& hash, const Record& pub, std::string_view signature);

// The 64-byte key agreed between priv/own and peer; false when refused.
[[nodiscard]] bool AgreeKey(const PrivateRecord& priv, const Record& own, const Record& peer,
                            CipherKey& out);

// True when the block cipher accepts key.
[[nodiscard]] bool KeyUsable(const uint8_t* key);

// CBC under the 64-byte key from the 32-byte iv over whole blocks.
// REQUIRES: in.size() is a multiple of 32. False (out empty) when the key
// is refused.
[[nodiscard]] bool Cbc(const uint8_t* key, const uint8_t* iv, std::string_view in, bool encrypt,
                       std::string& out);

// Fills n bytes from the process's random pool.
void RandomBytes(uint8_t* out, size_t n);

// Overwrites n bytes in a way the compiler keeps.
void Wipe(void* p, size_t n);

inline std::string_view View(const uint8_t* p, size_t n) {
  return {reinterpret_cast<const char*>(p), n};
}
template <size_t N>
std::string_view View(const std::array<uint8_t, N>& a) {
  return View(a.data(), N);
}

}  // namespace exchange::crypto
