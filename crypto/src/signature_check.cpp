#include "signature_check.h"

#include <array>
#include <cstring>
#include <memory>

#include "mont52.h"

namespace tevqa {
namespace {

// The record fields that name a signer: p, R, Y1 and Y2.
constexpr size_t kPOff = 160, kPLen = 128, kROff = 448, kRLen = 32, kYOff = 512, kYLen = 256;
constexpr size_t kSignerKeyLen = kPLen + kRLen + kYLen;
using SignerKey = std::array<uint8_t, kSignerKeyLen>;

constexpr size_t kSigners = 8;
constexpr size_t kModuli = 4;

struct Signer {
  SignerKey key{};
  uint64_t used = 0;     // 0: empty slot
  mont52::CombPtr a, b;  // null until the signer's second check
};

struct ModulusSlot {
  std::array<uint8_t, kPLen> key{};
  uint64_t used = 0;
  std::unique_ptr<mont52::Modulus> mod;
};

struct Caches {
  std::array<Signer, kSigners> signers;
  std::array<ModulusSlot, kModuli> moduli;
  uint64_t tick = 0;
  FastCheckCounts counts;
};

Caches& ThreadCaches() {
  thread_local Caches caches;
  return caches;
}

// The least recently used slot of slots (an empty one first).
template <class Slots>
auto& Oldest(Slots& slots) {
  auto* oldest = &slots[0];
  for (auto& s : slots) {
    if (s.used < oldest->used) oldest = &s;
  }
  return *oldest;
}

const mont52::Modulus* LookupModulus(Caches& c, const uint8_t* p_bytes, const BIGNUM* p,
                                     BN_CTX* ctx) {
  for (ModulusSlot& s : c.moduli) {
    if (s.used && std::memcmp(s.key.data(), p_bytes, kPLen) == 0) {
      s.used = ++c.tick;
      return s.mod.get();
    }
  }
  auto mod = mont52::NewModulus(p, ctx);
  if (!mod) return nullptr;
  ModulusSlot& slot = Oldest(c.moduli);
  std::memcpy(slot.key.data(), p_bytes, kPLen);
  slot.mod = std::move(mod);
  slot.used = ++c.tick;
  return slot.mod.get();
}

SignerKey KeyOf(const uint8_t* pub) {
  SignerKey key;
  std::memcpy(key.data(), pub + kPOff, kPLen);
  std::memcpy(key.data() + kPLen, pub + kROff, kRLen);
  std::memcpy(key.data() + kPLen + kRLen, pub + kYOff, kYLen);
  return key;
}

}  // namespace

bool FastCheckProduct(const uint8_t* pub, const BIGNUM* p, const BIGNUM* a, const BIGNUM* e1,
                      const BIGNUM* b, const BIGNUM* e2, const BIGNUM* c, BIGNUM* out,
                      BN_CTX* ctx) {
  static const bool available = mont52::Available();
  if (!available) return false;
  Caches& caches = ThreadCaches();
  const mont52::Modulus* mod = LookupModulus(caches, pub + kPOff, p, ctx);
  if (!mod) return false;
  mont52::Num ma, mb, mc, acc;
  if (!mont52::ToMont(&ma, a, *mod) || !mont52::ToMont(&mb, b, *mod) ||
      !mont52::ToMont(&mc, c, *mod))
    return false;

  // A signer seen before gets its tables on the second check; a new one
  // takes the oldest slot without tables.
  const SignerKey key = KeyOf(pub);
  Signer* signer = nullptr;
  for (Signer& s : caches.signers) {
    if (s.used && s.key == key) signer = &s;
  }
  bool ok = false;
  if (signer) {
    signer->used = ++caches.tick;
    if (!signer->a) {
      signer->a = mont52::NewComb(ma, *mod);
      signer->b = mont52::NewComb(mb, *mod);
      ++caches.counts.tables;
    }
    ok = mont52::CombPower2(&acc, *signer->a, e1, *signer->b, e2, *mod);
    if (ok) ++caches.counts.combs;
  } else {
    Signer& slot = Oldest(caches.signers);
    slot.key = key;
    slot.a.reset();
    slot.b.reset();
    slot.used = ++caches.tick;
  }
  if (!ok) {
    if (!mont52::Power2(&acc, ma, e1, mb, e2, *mod)) return false;
    ++caches.counts.windows;
  }
  mont52::Mul(&acc, acc, mc, *mod);
  return mont52::FromMont(out, acc, *mod, ctx);
}

FastCheckCounts& ThreadFastCheckCounts() {
  return ThreadCaches().counts;
}

void ClearFastCheckCaches() {
  Caches& caches = ThreadCaches();
  for (Signer& s : caches.signers) s = Signer();
  for (ModulusSlot& s : caches.moduli) s = ModulusSlot();
}

}  // namespace tevqa
