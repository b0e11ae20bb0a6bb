#include "keys/crypto_binding.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>

#include "base/secure_wipe.h"
#include "tevqa.h"

namespace qovra {
namespace {

constexpr size_t kCryptChunk = 8192;
constexpr size_t kCopyChunk = 16384;
constexpr size_t kHashChunk = 8192;

// Built-in material of the name key. Random constants; changing them makes
// every stored settings value unreadable.
constexpr uint8_t kNameKeyTemplate[kCipherKeySize] = {
    0x81, 0x96, 0x49, 0x25, 0xce, 0xa4, 0x91, 0x09, 0xfd, 0xd1, 0xd7, 0xc1, 0x78, 0x9a, 0x79, 0x5f,
    0x63, 0x17, 0x61, 0x95, 0x7f, 0xd7, 0x6c, 0xd0, 0xbc, 0x09, 0x4a, 0x55, 0x49, 0xd0, 0x35, 0x79,
    0x73, 0x0d, 0x58, 0x29, 0x41, 0x17, 0x1a, 0x06, 0xc2, 0x50, 0x03, 0x40, 0x0a, 0x27, 0xcd, 0x36,
    0xd0, 0xfa, 0x5a, 0x4d, 0x1b, 0x38, 0x67, 0xaf, 0x85, 0xe7, 0x9e, 0xf7, 0xde, 0x7e, 0x18, 0x86};
constexpr uint8_t kNameIv[kCipherIvSize] = {
    0x27, 0x6d, 0x02, 0x97, 0x2a, 0x2d, 0x52, 0x98, 0x1f, 0x2b, 0xe0, 0x1c, 0x23, 0x85, 0xd2, 0x3b,
    0x13, 0x25, 0x85, 0x29, 0x98, 0x6e, 0x77, 0x72, 0x97, 0xb8, 0x49, 0xf8, 0x7b, 0xa0, 0xd3, 0x85};

// A cipher context that wipes itself.
struct CipherContext {
  uint8_t bytes[TEVQA_CIPHER_CONTEXT_SIZE];
  ~CipherContext() { SecureWipe(bytes, sizeof bytes); }
  [[nodiscard]] bool Init(TCipherKeyView key, bool encrypt) {
    return UZDST_CIPHER_init(bytes, key.data(), encrypt ? 1 : 0) == 1;
  }
};

// A hash in progress over the process-wide tables.
class Hasher {
 public:
  explicit Hasher(const void* sbox) { UZDST_HASH_init(ctx_, sbox); }
  ~Hasher() { SecureWipe(ctx_, sizeof ctx_); }
  void Update(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
      const auto piece = static_cast<uint32_t>(std::min<size_t>(n, 1u << 30));
      UZDST_HASH_update(ctx_, p, piece);
      p += piece;
      n -= piece;
    }
  }
  void Final(THashValue* out) { UZDST_HASH_final(ctx_, out->data()); }

 private:
  uint8_t ctx_[TEVQA_HASH_CONTEXT_SIZE];
};

// A heap buffer wiped when dropped.
class WipedBuffer {
 public:
  explicit WipedBuffer(size_t n) : data_(new uint8_t[n]()), size_(n) {}
  ~WipedBuffer() { SecureWipe(data_.get(), size_); }
  uint8_t* data() { return data_.get(); }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_;
};

struct NameKey {
  uint8_t bytes[kCipherKeySize];
  explicit NameKey(std::string_view name) {
    const THashValue h = HashString(name);
    for (size_t i = 0; i < kCipherKeySize; ++i) bytes[i] = kNameKeyTemplate[i] ^ h[i % kHashSize];
  }
  ~NameKey() { SecureWipe(bytes, sizeof bytes); }
  TCipherKeyView View() const { return TCipherKeyView(bytes, kCipherKeySize); }
};

// Decryption's last-block length, or -1 when the flags give none usable.
int LastLengthFromFlags(uint32_t flags) {
  if (!(flags & csLastLength)) return 32;
  const uint32_t l = (flags >> 8) & 0xFF;
  if (l >= 32) return -1;
  return l == 0 ? 32 : static_cast<int>(l);
}

bool Encrypt(TStream& source, int64_t count, TStream& destination, void* progress_data,
             TProgressProc progress, Hasher* hasher, const CipherContext& ctx, TCipherIvView iv,
             uint32_t flags) {
  if (flags & csHeader) {
    const auto header = static_cast<uint8_t>(count % 32);
    if (!destination.WriteBuffer(&header, 1)) return false;
  }
  uint8_t chain[kCipherBlockSize];
  std::memcpy(chain, iv.data(), sizeof chain);
  WipedBuffer buffer(kCryptChunk);
  int64_t done = 0;
  while (done < count) {
    const auto n = static_cast<size_t>(std::min<int64_t>(count - done, kCryptChunk));
    if (!source.ReadBuffer(buffer.data(), n)) return false;
    if (hasher && (flags & csHashInput)) hasher->Update(buffer.data(), n);
    const size_t blocks = (n + kCipherBlockSize - 1) / kCipherBlockSize;
    std::memset(buffer.data() + n, 0, blocks * kCipherBlockSize - n);
    UZDST_CIPHER_cbc(ctx.bytes, chain, buffer.data(), buffer.data(), static_cast<uint32_t>(blocks),
                     1);
    const size_t out = blocks * kCipherBlockSize;
    std::memcpy(chain, buffer.data() + out - kCipherBlockSize, sizeof chain);
    if (!destination.WriteBuffer(buffer.data(), out)) return false;
    if (hasher && (flags & csHashOutput)) hasher->Update(buffer.data(), out);
    done += static_cast<int64_t>(n);
    ReportProgress(progress, progress_data, count, done);
  }
  return true;
}

bool Decrypt(TStream& source, int64_t count, TStream& destination, void* progress_data,
             TProgressProc progress, Hasher* hasher, const CipherContext& ctx, TCipherIvView iv,
             uint32_t flags) {
  const int64_t total = count;
  int last = 0;
  if (flags & csHeader) {
    uint8_t header = 0;
    if (!source.ReadBuffer(&header, 1)) return false;
    if (header >= 32) return false;
    last = header == 0 ? 32 : header;
    --count;
  } else {
    last = LastLengthFromFlags(flags);
    if (last < 0) return false;
  }
  if (count <= 0 || count % 32 != 0) return false;
  uint8_t chain[kCipherBlockSize];
  std::memcpy(chain, iv.data(), sizeof chain);
  WipedBuffer in(kCryptChunk), out(kCryptChunk);
  int64_t remaining = count;
  while (remaining > 0) {
    const auto n = static_cast<size_t>(std::min<int64_t>(remaining, kCryptChunk));
    if (!source.ReadBuffer(in.data(), n)) return false;
    if (hasher && (flags & csHashInput)) hasher->Update(in.data(), n);
    UZDST_CIPHER_cbc(ctx.bytes, chain, in.data(), out.data(),
                     static_cast<uint32_t>(n / kCipherBlockSize), 0);
    std::memcpy(chain, in.data() + n - kCipherBlockSize, sizeof chain);
    const size_t written = remaining > static_cast<int64_t>(kCryptChunk)
                               ? kCryptChunk
                               : n - kCipherBlockSize + static_cast<size_t>(last);
    if (!destination.WriteBuffer(out.data(), written)) return false;
    if (hasher && (flags & csHashOutput)) hasher->Update(out.data(), written);
    remaining -= static_cast<int64_t>(n);
    ReportProgress(progress, progress_data, total, total - remaining);
  }
  return true;
}

bool Crypt(TStream& source, int64_t count, TStream& destination, void* progress_data,
           TProgressProc progress, THashValue* out_hash, TCipherKeyView key, TCipherIvView iv,
           std::string_view prefix, uint32_t flags) {
  if (count <= 0) return false;
  const bool encrypt = flags & csEncrypt;
  CipherContext ctx;
  if (!ctx.Init(key, encrypt)) return false;
  ReportProgress(progress, progress_data, count, 0);
  std::unique_ptr<Hasher> hasher;
  if (out_hash && (flags & (csHashInput | csHashOutput)))
    hasher = std::make_unique<Hasher>(nullptr);
  if (encrypt && !prefix.empty() && !destination.WriteString(prefix)) return false;
  const bool ok = encrypt ? Encrypt(source, count, destination, progress_data, progress,
                                    hasher.get(), ctx, iv, flags)
                          : Decrypt(source, count, destination, progress_data, progress,
                                    hasher.get(), ctx, iv, flags);
  if (ok && hasher) hasher->Final(out_hash);
  return ok;
}

}  // namespace

std::string EncryptString(std::string_view plain, TCipherIvView iv, TCipherKeyView key) {
  if (plain.empty()) return {};
  CipherContext ctx;
  if (!ctx.Init(key, true)) return {};
  const size_t padded = static_cast<size_t>(PaddedBlockLength(static_cast<int64_t>(plain.size())));
  std::string form(1 + padded, '\0');
  form[0] = static_cast<char>(plain.size() % 32);
  auto* body = reinterpret_cast<uint8_t*>(form.data() + 1);
  std::memcpy(body, plain.data(), plain.size());
  // Encryption may run in place: the plain copy never outlives this call.
  UZDST_CIPHER_cbc(ctx.bytes, iv.data(), body, body,
                   static_cast<uint32_t>(padded / kCipherBlockSize), 1);
  return form;
}

std::string DecryptString(std::string_view form, TCipherIvView iv, TCipherKeyView key) {
  if (form.size() < 1 + kCipherBlockSize || (form.size() - 1) % kCipherBlockSize != 0) return {};
  const auto header = static_cast<uint8_t>(form[0]);
  if (header >= 32) return {};
  CipherContext ctx;
  if (!ctx.Init(key, false)) return {};
  const size_t body = form.size() - 1;
  std::string plain(body, '\0');
  UZDST_CIPHER_cbc(ctx.bytes, iv.data(), form.data() + 1, plain.data(),
                   static_cast<uint32_t>(body / kCipherBlockSize), 0);
  const size_t last = header == 0 ? 32 : header;
  const size_t keep = body - kCipherBlockSize + last;
  SecureWipe(plain.data() + keep, body - keep);
  plain.resize(keep);
  return plain;
}

bool ExtendEncipheredCopy(TStream& copy, TStream& source, int64_t size, std::string_view tail,
                          TCipherKeyView key, TCipherIvView iv) {
  if (size < 0) return false;
  const int64_t whole = size / kCipherBlockSize * kCipherBlockSize;
  // The plain bytes of the copy's last, padded block, then the tail.
  std::string rest(static_cast<size_t>(size - whole), '\0');
  if (!rest.empty() && (source.Seek(whole, SeekOrigin::Beginning) != whole ||
                        !source.ReadBuffer(rest.data(), rest.size())))
    return false;
  rest.append(tail);
  if (rest.empty()) return true;
  // The chain goes on from the last whole block's cipher text.
  std::array<uint8_t, kCipherBlockSize> chain{};
  if (whole == 0) {
    std::copy(iv.begin(), iv.end(), chain.begin());
  } else if (copy.Seek(whole - static_cast<int64_t>(kCipherBlockSize), SeekOrigin::Beginning) !=
                 whole - static_cast<int64_t>(kCipherBlockSize) ||
             !copy.ReadBuffer(chain.data(), chain.size())) {
    return false;
  }
  const std::string form = EncryptString(rest, chain, key);
  SecureWipe(rest.data(), rest.size());
  return !form.empty() && copy.SetSize(whole) &&
         copy.Seek(whole, SeekOrigin::Beginning) == whole &&
         copy.WriteBuffer(form.data() + 1, form.size() - 1);
}

std::string EncryptStringWithName(std::string_view text, std::string_view name) {
  const NameKey key(name);
  return EncryptString(text, TCipherIvView(kNameIv, kCipherIvSize), key.View());
}

std::string DecryptStringWithName(std::string_view form, std::string_view name) {
  const NameKey key(name);
  return DecryptString(form, TCipherIvView(kNameIv, kCipherIvSize), key.View());
}

THashValue HashString(std::string_view bytes) {
  THashValue out{};
  Hasher h(nullptr);
  h.Update(bytes.data(), bytes.size());
  h.Final(&out);
  return out;
}

int64_t HashStream(TStream& stream, const void* sbox, THashValue* out, void* progress_data,
                   TProgressProc progress) {
  const int64_t size = stream.Size();
  const int64_t pos = stream.Position();
  const int64_t total = size >= 0 && pos >= 0 && size > pos ? size - pos : 0;
  ReportProgress(progress, progress_data, total, 0);
  uint8_t buffer[kHashChunk];
  std::unique_ptr<Hasher> hasher;
  int64_t done = 0;
  for (;;) {
    const size_t n = stream.Read(buffer, sizeof buffer);
    if (n == 0) break;
    if (!hasher) hasher = std::make_unique<Hasher>(sbox);
    hasher->Update(buffer, n);
    done += static_cast<int64_t>(n);
    ReportProgress(progress, progress_data, total, done);
  }
  SecureWipe(buffer, sizeof buffer);
  if (done == 0) return 0;
  if (out) hasher->Final(out);
  return done;
}

int64_t CopyStreamWithHash(TStream& source, int64_t count, TStream& destination,
                           void* progress_data, TProgressProc progress, THashValue* out_hash,
                           const void* sbox) {
  if (count == 0) return 0;
  if (count < 0) return -1;
  ReportProgress(progress, progress_data, count, 0);
  std::unique_ptr<Hasher> hasher;
  if (out_hash) hasher = std::make_unique<Hasher>(sbox);
  WipedBuffer buffer(kCopyChunk);
  int64_t done = 0;
  while (done < count) {
    const auto n = static_cast<size_t>(std::min<int64_t>(count - done, kCopyChunk));
    if (!source.ReadBuffer(buffer.data(), n) || !destination.WriteBuffer(buffer.data(), n))
      return -1;
    if (hasher) hasher->Update(buffer.data(), n);
    done += static_cast<int64_t>(n);
    ReportProgress(progress, progress_data, count, done);
  }
  if (hasher) hasher->Final(out_hash);
  return count;
}

bool CryptStreamWithHash(TStream& source, int64_t count, TStream& destination, void* progress_data,
                         TProgressProc progress, THashValue* out_hash, TCipherKeyView key,
                         TCipherIvView iv, uint32_t flags) {
  return Crypt(source, count, destination, progress_data, progress, out_hash, key, iv, {}, flags);
}

bool CryptStream(TStream& source, int64_t count, TStream& destination, void* progress_data,
                 TProgressProc progress, TCipherKeyView key, TCipherIvView iv,
                 std::string_view prefix, uint32_t flags) {
  return Crypt(source, count, destination, progress_data, progress, nullptr, key, iv, prefix,
               flags & ~(csHashInput | csHashOutput));
}

}  // namespace qovra
