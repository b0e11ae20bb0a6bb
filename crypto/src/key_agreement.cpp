// Key agreement: the group power of the peer's public value by our private
// exponent, in the peer's domain.
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cstring>

#include "bn_group.h"
#include "tevqa.h"

namespace tevqa {
namespace {

constexpr size_t kModOff = 0, kModLen = 128;
constexpr size_t kDomainLen = 160;
constexpr size_t kPubOff = 288, kPubLen = 128;
constexpr size_t kROff = 448, kRLen = 32;

// out = x^[k] mod m for the fast Montgomery path when R is invertible;
// otherwise the literal power.
bool Power(BIGNUM* out, const BIGNUM* x, const BIGNUM* k, const ModulusInfo* mi, const BIGNUM* R,
           const BIGNUM* m, BN_CTX* ctx) {
  if (!mi || !mi->r_inv || BN_is_zero(k) || BN_is_one(k))
    return GroupPower(out, x, k, R, m, ctx);
  Bn base = NewBn();
  if (!base || !BN_mul(base.get(), R, x, ctx) || !BN_add_word(base.get(), 1) ||
      !BN_nnmod(base.get(), base.get(), m, ctx))
    return false;
  return BN_mod_exp_mont_consttime(base.get(), base.get(), k, m, ctx, mi->mont.get()) &&
         BN_sub_word(base.get(), 1) == 1 &&
         BN_mod_mul(out, base.get(), mi->r_inv.get(), m, ctx);
}

bool PositiveLength(int32_t n) { return n > 0; }

}  // namespace
}  // namespace tevqa

using namespace tevqa;

extern "C" {

TEVQA_API int UZDST_CIPHER_KEY_generate(const void* priv, const void* own, const void* peer,
                                        void* out) {
  if (!priv || !own || !peer || !out) return 0;
  const auto* o = static_cast<const uint8_t*>(own);
  const auto* p = static_cast<const uint8_t*>(peer);
  if (std::memcmp(o, p, kDomainLen) != 0 || std::memcmp(o + kROff, p + kROff, kRLen) != 0)
    return 0;
  BnCtx ctx(BN_CTX_new());
  if (!ctx) return 0;
  Bn m = BnFromBytes(p + kModOff, kModLen), R = BnFromBytes(p + kROff, kRLen),
     y = BnFromBytes(p + kPubOff, kPubLen),
     a = BnFromBytes(static_cast<const uint8_t*>(priv), 64), w = NewBn();
  if (!m || !R || !y || !a || !w || BN_is_zero(m.get())) return 0;
  BN_set_flags(a.get(), BN_FLG_CONSTTIME);
  const ModulusInfo* mi =
      LookupModulus(p + kModOff, kModLen, p + kROff, kRLen, ctx.get());
  if (!Power(w.get(), y.get(), a.get(), mi, R.get(), m.get(), ctx.get())) return 0;
  // The key is the last 64 bytes of W in its minimal length, zero-filled on
  // the left when W is shorter.
  const int n = BN_num_bytes(w.get());
  uint8_t key[64];
  if (n <= 64) {
    if (!BnToFixed(w.get(), key, 64)) return 0;
  } else {
    uint8_t buf[512];
    if (n > static_cast<int>(sizeof buf)) return 0;
    BN_bn2bin(w.get(), buf);
    std::memcpy(key, buf + n - 64, 64);
    OPENSSL_cleanse(buf, sizeof buf);
  }
  std::memcpy(out, key, 64);
  OPENSSL_cleanse(key, sizeof key);
  return 1;
}

TEVQA_API int UZDST_DIADH_generate(const void* r, int32_t r_len, const void* base,
                                   int32_t base_len, const void* exp, int32_t exp_len,
                                   const void* mod, int32_t mod_len, void* out, int32_t out_len) {
  if (!r || !base || !exp || !mod || !out) return 0;
  if (!PositiveLength(r_len) || !PositiveLength(base_len) || !PositiveLength(exp_len) ||
      !PositiveLength(mod_len) || out_len < mod_len)
    return 0;
  BnCtx ctx(BN_CTX_new());
  if (!ctx) return 0;
  Bn R = BnFromBytes(static_cast<const uint8_t*>(r), static_cast<size_t>(r_len)),
     x = BnFromBytes(static_cast<const uint8_t*>(base), static_cast<size_t>(base_len)),
     k = BnFromBytes(static_cast<const uint8_t*>(exp), static_cast<size_t>(exp_len)),
     m = BnFromBytes(static_cast<const uint8_t*>(mod), static_cast<size_t>(mod_len)),
     w = NewBn();
  if (!R || !x || !k || !m || !w || BN_is_zero(m.get())) return 0;
  BN_set_flags(k.get(), BN_FLG_CONSTTIME);
  const ModulusInfo* mi =
      LookupModulus(static_cast<const uint8_t*>(mod), static_cast<size_t>(mod_len),
                    static_cast<const uint8_t*>(r), static_cast<size_t>(r_len), ctx.get());
  if (!Power(w.get(), x.get(), k.get(), mi, R.get(), m.get(), ctx.get())) return 0;
  return BnToFixed(w.get(), static_cast<uint8_t*>(out), static_cast<size_t>(out_len)) ? 1 : 0;
}

}  // extern "C"
