#include "bn_group.h"

#include <openssl/err.h>

#include <array>
#include <cstring>
#include <vector>

namespace tevqa {

Bn NewBn() { return Bn(BN_new()); }

Bn BnFromBytes(const uint8_t* p, size_t n) {
  return Bn(BN_bin2bn(p, static_cast<int>(n), nullptr));
}

bool BnToFixed(const BIGNUM* b, uint8_t* out, size_t len) {
  if (static_cast<size_t>(BN_num_bytes(b)) > len) return false;
  return BN_bn2binpad(b, out, static_cast<int>(len)) == static_cast<int>(len);
}

bool GroupOp(BIGNUM* r, const BIGNUM* x, const BIGNUM* y, const BIGNUM* R, BN_CTX* ctx) {
  Bn t = NewBn();
  Bn s = NewBn();
  if (!t || !s) return false;
  return BN_mul(t.get(), R, x, ctx) && BN_mul(t.get(), t.get(), y, ctx) &&
         BN_add(s.get(), x, y) && BN_add(r, s.get(), t.get());
}

bool GroupPower(BIGNUM* r, const BIGNUM* x, const BIGNUM* k, const BIGNUM* R, const BIGNUM* p,
                BN_CTX* ctx) {
  if (BN_is_zero(k)) return BN_one(r);
  if (BN_is_one(k)) return BN_copy(r, x) != nullptr;
  Bn base = NewBn();
  Bn r_inv = NewBn();
  if (!base || !r_inv) return false;
  if (!BN_mul(base.get(), R, x, ctx) || !BN_add_word(base.get(), 1) ||
      !BN_mod_exp(base.get(), base.get(), k, p, ctx) || !BN_sub_word(base.get(), 1))
    return false;
  if (!BN_mod_inverse(r_inv.get(), R, p, ctx)) return false;
  return BN_mod_mul(r, base.get(), r_inv.get(), p, ctx);
}

bool GroupInverse(BIGNUM* r, const BIGNUM* x, const BIGNUM* R, const BIGNUM* p, BN_CTX* ctx) {
  Bn t = NewBn();
  if (!t) return false;
  if (!BN_mul(t.get(), R, x, ctx) || !BN_add_word(t.get(), 1) ||
      !BN_mod_inverse(t.get(), t.get(), p, ctx) || !BN_mod_mul(t.get(), t.get(), x, p, ctx))
    return false;
  if (BN_is_zero(t.get())) {
    BN_zero(r);
    return true;
  }
  return BN_sub(r, p, t.get());
}

namespace {

struct CacheEntry {
  std::vector<uint8_t> key;  // p bytes, p's length (4 bytes), R bytes
  ModulusInfo info;
};

constexpr size_t kCacheSize = 4;

std::vector<uint8_t> MakeKey(const uint8_t* p, size_t p_len, const uint8_t* R, size_t r_len) {
  std::vector<uint8_t> key(p, p + p_len);
  for (int shift = 0; shift < 32; shift += 8) key.push_back(static_cast<uint8_t>(p_len >> shift));
  key.insert(key.end(), R, R + r_len);
  return key;
}

}  // namespace

const ModulusInfo* LookupModulus(const uint8_t* p, size_t p_len, const uint8_t* R, size_t r_len,
                                 BN_CTX* ctx) {
  thread_local std::array<CacheEntry, kCacheSize> cache;
  thread_local size_t next = 0;
  std::vector<uint8_t> key = MakeKey(p, p_len, R, r_len);
  for (auto& e : cache) {
    if (e.key == key) return &e.info;
  }
  ModulusInfo info;
  info.p = BnFromBytes(p, p_len);
  info.R = BnFromBytes(R, r_len);
  if (!info.p || !info.R || BN_is_zero(info.p.get()) || !BN_is_odd(info.p.get()) ||
      BN_is_one(info.p.get()))
    return nullptr;
  info.mont.reset(BN_MONT_CTX_new());
  if (!info.mont || !BN_MONT_CTX_set(info.mont.get(), info.p.get(), ctx)) return nullptr;
  info.r_inv = NewBn();
  if (!info.r_inv) return nullptr;
  ERR_set_mark();
  if (!BN_mod_inverse(info.r_inv.get(), info.R.get(), info.p.get(), ctx)) info.r_inv.reset();
  ERR_pop_to_mark();
  CacheEntry& slot = cache[next];
  next = (next + 1) % kCacheSize;
  slot.key = std::move(key);
  slot.info = std::move(info);
  return &slot.info;
}

}  // namespace tevqa
