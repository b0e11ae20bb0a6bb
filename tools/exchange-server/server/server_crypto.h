// The exchange server's calls into tevqa and ulmox.
//
// tevqa's process-wide hash tables are only ever loaded with the built-in
// set here, which writes nothing (tevqa.h), so the hash, signature, key
// agreement and cipher calls run on any thread without a lock. ulmox's pool
// is not thread-safe: RandomBytes takes LibraryMutex() for its run. Code
// that reaches tevqa through another library (certificate checks, zarvo),
// which may load sets of its own, holds LibraryMutex() around that call and
// runs only while the server starts, before any connection is served.
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

// An incremental hash with the built-in set.
class Hasher {
 public:
  Hasher();
  ~Hasher();
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;
  void Update(std::string_view bytes);
  Hash32 Final();

 private:
  alignas(8) uint8_t ctx_[132];
};

// CBC over a stream of whole blocks, chained from one piece to the next.
class CbcStream {
 public:
  CbcStream() = default;
  ~CbcStream();
  CbcStream(const CbcStream&) = delete;
  CbcStream& operator=(const CbcStream&) = delete;
  // False when the cipher refuses key.
  [[nodiscard]] bool Init(const uint8_t* key, const uint8_t* iv, bool encrypt);
  // REQUIRES: Init succeeded; n is a multiple of 32. Works in place.
  void Process(uint8_t* data, size_t n);

 private:
  alignas(16) uint8_t ctx_[832];
  uint8_t chain_[kBlockSize] = {};
  bool encrypt_ = false;
};

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
