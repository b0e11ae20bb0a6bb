#include "server_crypto.h"

#include <openssl/crypto.h>

#include <climits>
#include <cstring>

#include "tevqa.h"
#include "ulmox.h"

namespace exchange::crypto {

std::mutex& LibraryMutex() {
  static std::mutex mutex;
  return mutex;
}

Hash32 Hash(std::initializer_list<std::string_view> pieces) {
  Hash32 out{};
  alignas(8) uint8_t ctx[TEVQA_HASH_CONTEXT_SIZE];
  UZDST_HASH_init(ctx, nullptr);
  for (std::string_view piece : pieces) {
    while (!piece.empty()) {
      const size_t n = piece.size() > (size_t{1} << 30) ? size_t{1} << 30 : piece.size();
      UZDST_HASH_update(ctx, piece.data(), static_cast<uint32_t>(n));
      piece.remove_prefix(n);
    }
  }
  UZDST_HASH_final(ctx, out.data());
  Wipe(ctx, sizeof ctx);
  return out;
}

static_assert(sizeof(Hasher) >= TEVQA_HASH_CONTEXT_SIZE);

Hasher::Hasher() {
  UZDST_HASH_init(ctx_, nullptr);
}

Hasher::~Hasher() {
  Wipe(ctx_, sizeof ctx_);
}

void Hasher::Update(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t n = bytes.size() > (size_t{1} << 30) ? size_t{1} << 30 : bytes.size();
    UZDST_HASH_update(ctx_, bytes.data(), static_cast<uint32_t>(n));
    bytes.remove_prefix(n);
  }
}

Hash32 Hasher::Final() {
  Hash32 out{};
  UZDST_HASH_final(ctx_, out.data());
  return out;
}

CbcStream::~CbcStream() {
  Wipe(ctx_, sizeof ctx_);
}

bool CbcStream::Init(const uint8_t* key, const uint8_t* iv, bool encrypt) {
  static_assert(sizeof ctx_ >= TEVQA_CIPHER_CONTEXT_SIZE);
  encrypt_ = encrypt;
  std::memcpy(chain_, iv, kBlockSize);
  return UZDST_CIPHER_init(ctx_, key, encrypt ? 1 : 0) == 1;
}

void CbcStream::Process(uint8_t* data, size_t n) {
  // The library counts blocks in 32 bits; each piece chains on the last
  // ciphertext block of the one before.
  const size_t max_bytes = (size_t{1} << 26) * kBlockSize;
  while (n >= kBlockSize) {
    const size_t k = n > max_bytes ? max_bytes : n - n % kBlockSize;
    uint8_t next[kBlockSize];
    if (!encrypt_) std::memcpy(next, data + k - kBlockSize, kBlockSize);
    UZDST_CIPHER_cbc(ctx_, chain_, data, data, static_cast<uint32_t>(k / kBlockSize),
                     encrypt_ ? 1 : 0);
    if (encrypt_) std::memcpy(next, data + k - kBlockSize, kBlockSize);
    std::memcpy(chain_, next, kBlockSize);
    data += k;
    n -= k;
  }
}

bool Sign(const Hash32& hash, const PrivateRecord& priv, const Record& pub, Signature& out) {
  return UZDST_SIGNATURE_generate(hash.data(), priv.data(), pub.data(), out.data()) == 1;
}

bool Verify(const Hash32& hash, const Record& pub, std::string_view signature) {
  if (signature.size() != kSignatureSize) return false;
  int verdict = 0;
  return UZDST_SIGNATURE_verify(hash.data(), pub.data(), signature.data(), &verdict) == 1 &&
         verdict == 1;
}

bool AgreeKey(const PrivateRecord& priv, const Record& own, const Record& peer, CipherKey& out) {
  return UZDST_CIPHER_KEY_generate(priv.data(), own.data(), peer.data(), out.data()) == 1;
}

bool KeyUsable(const uint8_t* key) {
  alignas(16) uint8_t ctx[TEVQA_CIPHER_CONTEXT_SIZE];
  bool ok = false;
  ok = UZDST_CIPHER_init(ctx, key, 1) == 1;
  Wipe(ctx, sizeof ctx);
  return ok;
}

bool Cbc(const uint8_t* key, const uint8_t* iv, std::string_view in, bool encrypt,
         std::string& out) {
  out.clear();
  if (in.size() % kBlockSize != 0) return false;
  alignas(16) uint8_t ctx[TEVQA_CIPHER_CONTEXT_SIZE];
  out.assign(in);
  bool ok = false;
  {
    ok = UZDST_CIPHER_init(ctx, key, encrypt ? 1 : 0) == 1;
    // The library counts blocks in 32 bits; longer inputs go in pieces
    // chained by their last block.
    uint8_t chain[kBlockSize];
    std::memcpy(chain, iv, kBlockSize);
    size_t done = 0;
    const size_t max_bytes = (size_t{1} << 26) * kBlockSize;
    while (ok && done < out.size()) {
      const size_t n = out.size() - done > max_bytes ? max_bytes : out.size() - done;
      uint8_t next[kBlockSize];
      // The next piece chains on the last ciphertext block of this one.
      if (!encrypt) std::memcpy(next, out.data() + done + n - kBlockSize, kBlockSize);
      UZDST_CIPHER_cbc(ctx, chain, out.data() + done, out.data() + done,
                       static_cast<uint32_t>(n / kBlockSize), encrypt ? 1 : 0);
      if (encrypt) std::memcpy(next, out.data() + done + n - kBlockSize, kBlockSize);
      std::memcpy(chain, next, kBlockSize);
      done += n;
    }
  }
  Wipe(ctx, sizeof ctx);
  if (!ok) out.clear();
  return ok;
}

void RandomBytes(uint8_t* out, size_t n) {
  std::memset(out, 0, n);
  std::lock_guard<std::mutex> lock(LibraryMutex());
  while (n > 0) {
    const size_t k = n > INT32_MAX ? INT32_MAX : n;
    random_bytes(out, static_cast<int32_t>(k));
    out += k;
    n -= k;
  }
}

void Wipe(void* p, size_t n) {
  OPENSSL_cleanse(p, n);
}

}  // namespace exchange::crypto
