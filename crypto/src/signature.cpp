// Signing and verification. The fast paths work in the multiplicative picture
// of the group (phi(x) = R*x + 1 mod p); where R has no inverse modulo p they
// fall back to the literal group formulas.
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <array>
#include <cstring>

#include "bn_group.h"
#include "fixed_base.h"
#include "gost_hash.h"
#include "signature_check.h"
#include "signature_internal.h"
#include "tevqa.h"

namespace tevqa {
namespace {

constexpr size_t kPOff = 160, kPLen = 128;
constexpr size_t kQOff = 416, kQLen = 32;
constexpr size_t kROff = 448, kRLen = 32;
constexpr size_t kY1Off = 512, kY2Off = 640, kYLen = 128;
constexpr size_t kXOff = 64, kUOff = 96, kDOff = 128, kDLen = 128;

// k = H(e (+) x) with the built-in tables, which become the process tables.
bool DeriveNonce(BIGNUM* k, const BIGNUM* e, const BIGNUM* x, const BIGNUM* R, BN_CTX* ctx) {
  Bn t = NewBn();
  if (!t || !GroupOp(t.get(), e, x, R, ctx)) return false;
  const int n = BN_num_bytes(t.get());
  uint8_t buf[256];
  if (n > static_cast<int>(sizeof buf)) return false;
  BN_bn2bin(t.get(), buf);
  LoadProcessHashTables(nullptr);
  uint8_t h[32];
  HashData(ProcessHashTables(), buf, static_cast<size_t>(n), h);
  OPENSSL_cleanse(buf, sizeof buf);
  const bool ok = BN_bin2bn(h, 32, k) != nullptr;
  OPENSSL_cleanse(h, sizeof h);
  return ok;
}

// r = (e (+) inverse(d^[k])) mod p, literally.
bool ComputeRLiteral(BIGNUM* r, const BIGNUM* e, const BIGNUM* d, const BIGNUM* k, const BIGNUM* R,
                     const BIGNUM* p, BN_CTX* ctx) {
  Bn t = NewBn();
  if (!t || !GroupPower(t.get(), d, k, R, p, ctx) || !GroupInverse(t.get(), t.get(), R, p, ctx) ||
      !GroupOp(r, e, t.get(), R, ctx))
    return false;
  return BN_nnmod(r, r, p, ctx);
}

// The record fields the fixed-base table of a key is built from.
struct BaseBytes {
  const uint8_t* p;
  const uint8_t* R;
  const uint8_t* d;
  FixedBaseArith arith;
};

// The same through phi: phi(T) = phi(d)^k (R + 1 for k = 0), and
// r = (phi(e) - phi(T)) * (R * phi(T))^-1 mod p. For k >= 2 the table of
// phi(d)^-1 gives phi(T)^-1 directly: r = (phi(e) * phi(d)^-k - 1) * R^-1.
bool ComputeRFast(BIGNUM* r, const BIGNUM* e, const BIGNUM* d, const BIGNUM* k,
                  const ModulusInfo& m, const BaseBytes& base, BN_CTX* ctx) {
  const BIGNUM* p = m.p.get();
  const BIGNUM* R = m.R.get();
  Bn phi_t = NewBn(), phi_e = NewBn(), den = NewBn();
  if (!phi_t || !phi_e || !den) return false;
  if (!BN_is_zero(k) && !BN_is_one(k)) {
    const FixedBase* fb =
        LookupInverseBase(base.p, kPLen, base.R, kRLen, base.d, kDLen, base.arith, ctx);
    if (fb && InverseBasePower(*fb, k, phi_t.get(), ctx)) {
      return BN_mod_mul(phi_e.get(), R, e, p, ctx) && BN_add_word(phi_e.get(), 1) &&
             BN_mod_mul(r, phi_e.get(), phi_t.get(), p, ctx) && BN_sub_word(r, 1) &&
             BN_mod_mul(r, r, m.r_inv.get(), p, ctx);
    }
  }
  if (BN_is_zero(k)) {
    if (!BN_copy(phi_t.get(), R) || !BN_add_word(phi_t.get(), 1)) return false;
    if (!BN_nnmod(phi_t.get(), phi_t.get(), p, ctx)) return false;
  } else {
    Bn phi_d = NewBn();
    if (!phi_d || !BN_mod_mul(phi_d.get(), R, d, p, ctx) || !BN_add_word(phi_d.get(), 1) ||
        !BN_nnmod(phi_d.get(), phi_d.get(), p, ctx))
      return false;
    if (!BN_mod_exp_mont_consttime(phi_t.get(), phi_d.get(), k, p, ctx, m.mont.get())) return false;
  }
  if (!BN_mod_mul(phi_e.get(), R, e, p, ctx) || !BN_add_word(phi_e.get(), 1) ||
      !BN_mod_mul(den.get(), R, phi_t.get(), p, ctx))
    return false;
  BN_set_flags(den.get(), BN_FLG_CONSTTIME);
  if (!BN_mod_inverse(den.get(), den.get(), p, ctx)) return false;
  return BN_mod_sub(r, phi_e.get(), phi_t.get(), p, ctx) && BN_mod_mul(r, r, den.get(), p, ctx);
}

// u^-1 mod q, kept per thread for the last few keys (wiped when dropped):
// the inverse costs more than the rest of a signature outside the power.
// False when u has no inverse.
bool InverseOfU(BIGNUM* out, const uint8_t* q_bytes, const uint8_t* u_bytes, const BIGNUM* q,
                const BIGNUM* u, BN_CTX* ctx) {
  struct Entry {
    std::array<uint8_t, kQLen + 32> key{};
    Bn u_inv;
    ~Entry() { OPENSSL_cleanse(key.data(), key.size()); }
  };
  thread_local std::array<Entry, 4> cache;
  thread_local size_t next = 0;
  std::array<uint8_t, kQLen + 32> key;
  std::memcpy(key.data(), q_bytes, kQLen);
  std::memcpy(key.data() + kQLen, u_bytes, 32);
  const BIGNUM* found = nullptr;
  for (const Entry& e : cache) {
    if (e.u_inv && e.key == key) found = e.u_inv.get();
  }
  if (!found) {
    Bn inv = NewBn(), u_ct(BN_dup(u));
    bool ok = inv && u_ct;
    if (ok) {
      BN_set_flags(u_ct.get(), BN_FLG_CONSTTIME);
      ERR_set_mark();
      ok = BN_mod_inverse(inv.get(), u_ct.get(), q, ctx) != nullptr;
      ERR_pop_to_mark();
    }
    if (ok) {
      Entry& slot = cache[next];
      next = (next + 1) % cache.size();
      slot.key = key;
      slot.u_inv = std::move(inv);
      found = slot.u_inv.get();
    }
  }
  OPENSSL_cleanse(key.data(), key.size());
  return found && BN_copy(out, found) != nullptr;
}

}  // namespace

int SignatureGenerate(const uint8_t* hash, const uint8_t* priv, const uint8_t* pub, uint8_t* sig,
                      SignPath path) {
  BnCtx ctx(BN_CTX_new());
  if (!ctx) return 0;
  Bn p = BnFromBytes(pub + kPOff, kPLen), q = BnFromBytes(pub + kQOff, kQLen),
     R = BnFromBytes(pub + kROff, kRLen), x = BnFromBytes(priv + kXOff, 32),
     u = BnFromBytes(priv + kUOff, 32), d = BnFromBytes(priv + kDOff, kDLen),
     e = BnFromBytes(hash, 32);
  Bn k = NewBn(), r = NewBn(), s = NewBn(), t = NewBn(), u_inv = NewBn();
  if (!p || !q || !R || !x || !u || !d || !e || !k || !r || !s || !t || !u_inv) return 0;
  if (BN_is_zero(p.get()) || BN_is_zero(q.get())) return 0;
  if (!DeriveNonce(k.get(), e.get(), x.get(), R.get(), ctx.get())) return 0;
  BN_set_flags(k.get(), BN_FLG_CONSTTIME);

  const ModulusInfo* m = nullptr;
  if (path != SignPath::kLiteral) {
    m = LookupModulus(pub + kPOff, kPLen, pub + kROff, kRLen, ctx.get());
    if (m && !m->r_inv) m = nullptr;
  }
  const BaseBytes base{
      pub + kPOff, pub + kROff, priv + kDOff,
      path == SignPath::kPortable ? FixedBaseArith::kPortable : FixedBaseArith::kBest};
  for (int attempt = 0; attempt < kMaxSignRetries; ++attempt) {
    if (attempt > 0) {
      // k := (k + 1) mod p
      if (!BN_add_word(k.get(), 1) || !BN_nnmod(k.get(), k.get(), p.get(), ctx.get())) return 0;
    }
    const bool ok =
        m ? ComputeRFast(r.get(), e.get(), d.get(), k.get(), *m, base, ctx.get())
          : ComputeRLiteral(r.get(), e.get(), d.get(), k.get(), R.get(), p.get(), ctx.get());
    if (!ok) return 0;
    if (!BN_nnmod(t.get(), r.get(), q.get(), ctx.get())) return 0;
    if (BN_is_zero(t.get())) continue;
    // s = (k - r*x) mod q, non-negative.
    if (!BN_mod_mul(t.get(), r.get(), x.get(), q.get(), ctx.get()) ||
        !BN_nnmod(s.get(), k.get(), q.get(), ctx.get()) ||
        !BN_mod_sub(s.get(), s.get(), t.get(), q.get(), ctx.get()))
      return 0;
    if (BN_is_zero(s.get())) continue;
    if (!InverseOfU(u_inv.get(), pub + kQOff, priv + kUOff, q.get(), u.get(), ctx.get())) return 0;
    if (!BN_mod_mul(s.get(), s.get(), u_inv.get(), q.get(), ctx.get())) return 0;
    uint8_t out[160];
    if (!BnToFixed(r.get(), out, 128) || !BnToFixed(s.get(), out + 128, 32)) return 0;
    std::memcpy(sig, out, sizeof out);
    return 1;
  }
  return 0;
}

int SignatureVerify(const uint8_t* hash, const uint8_t* pub, const uint8_t* sig, int* verdict,
                    SignPath path) {
  if (verdict) *verdict = 0;
  if (!hash || !pub || !sig || !verdict) return 0;
  BnCtx ctx(BN_CTX_new());
  if (!ctx) return 0;
  Bn p = BnFromBytes(pub + kPOff, kPLen), q = BnFromBytes(pub + kQOff, kQLen),
     R = BnFromBytes(pub + kROff, kRLen), y1 = BnFromBytes(pub + kY1Off, kYLen),
     y2 = BnFromBytes(pub + kY2Off, kYLen), r = BnFromBytes(sig, 128),
     S = BnFromBytes(sig + 128, 32), e = BnFromBytes(hash, 32);
  Bn rq = NewBn(), v = NewBn(), a = NewBn(), b = NewBn();
  if (!p || !q || !R || !y1 || !y2 || !r || !S || !e || !rq || !v || !a || !b) return 0;
  if (BN_is_zero(p.get()) || BN_is_zero(q.get())) return 0;
  if (BN_num_bits(S.get()) > BN_num_bits(q.get()) || BN_num_bits(r.get()) > BN_num_bits(p.get()))
    return 0;
  if (!BN_nnmod(rq.get(), r.get(), q.get(), ctx.get())) return 0;

  const ModulusInfo* m = nullptr;
  if (path != SignPath::kLiteral) {
    m = LookupModulus(pub + kPOff, kPLen, pub + kROff, kRLen, ctx.get());
    if (m && !m->r_inv) m = nullptr;
  }
  BN_CTX* c = ctx.get();
  if (m) {
    // phi(V) = phi(Y2^[S]) * phi(Y1^[r mod q]) * phi(r); V = e  <=>  e < p and
    // phi(V) = R*e + 1 (phi is a bijection modulo p when R is invertible).
    const BIGNUM* P = m->p.get();
    auto phi = [&](BIGNUM* out, const BIGNUM* val) {
      return BN_mod_mul(out, R.get(), val, P, c) && BN_add_word(out, 1) && BN_nnmod(out, out, P, c);
    };
    Bn pa = NewBn(), pb = NewBn(), pr = NewBn(), pe = NewBn(), acc = NewBn();
    if (!pa || !pb || !pr || !pe || !acc || !phi(pa.get(), y2.get()) || !phi(pb.get(), y1.get()) ||
        !phi(pr.get(), r.get()) || !phi(pe.get(), e.get()))
      return 0;
    const bool s0 = BN_is_zero(S.get()), r0 = BN_is_zero(rq.get());
    if (s0 || r0 || path == SignPath::kPortable ||
        !FastCheckProduct(pub, P, pa.get(), S.get(), pb.get(), rq.get(), pr.get(), acc.get(), c)) {
      Bn one_r = NewBn();  // phi(1) = R + 1: the power for exponent 0
      if (!one_r || !BN_copy(one_r.get(), R.get()) || !BN_add_word(one_r.get(), 1) ||
          !BN_nnmod(one_r.get(), one_r.get(), P, c))
        return 0;
      bool ok;
      if (!s0 && !r0) {
        ok =
            BN_mod_exp2_mont(acc.get(), pa.get(), S.get(), pb.get(), rq.get(), P, c, m->mont.get());
      } else {
        Bn fa = NewBn(), fb = NewBn();
        ok = fa && fb &&
             (s0 ? BN_copy(fa.get(), one_r.get()) != nullptr
                 : BN_mod_exp_mont(fa.get(), pa.get(), S.get(), P, c, m->mont.get())) &&
             (r0 ? BN_copy(fb.get(), one_r.get()) != nullptr
                 : BN_mod_exp_mont(fb.get(), pb.get(), rq.get(), P, c, m->mont.get())) &&
             BN_mod_mul(acc.get(), fa.get(), fb.get(), P, c);
      }
      if (!ok || !BN_mod_mul(acc.get(), acc.get(), pr.get(), P, c)) return 0;
    }
    *verdict = (BN_cmp(e.get(), P) < 0 && BN_cmp(acc.get(), pe.get()) == 0) ? 1 : 0;
    return 1;
  }
  if (!GroupPower(a.get(), y2.get(), S.get(), R.get(), p.get(), c) ||
      !GroupPower(b.get(), y1.get(), rq.get(), R.get(), p.get(), c) ||
      !GroupOp(v.get(), a.get(), b.get(), R.get(), c) || !BN_nnmod(v.get(), v.get(), p.get(), c) ||
      !GroupOp(v.get(), v.get(), r.get(), R.get(), c) || !BN_nnmod(v.get(), v.get(), p.get(), c))
    return 0;
  *verdict = BN_cmp(v.get(), e.get()) == 0 ? 1 : 0;
  return 1;
}

}  // namespace tevqa

extern "C" {

TEVQA_API int UZDST_SIGNATURE_generate(const void* hash, const void* priv, const void* pub,
                                       void* sig) {
  if (!hash || !priv || !pub || !sig) return 0;
  return tevqa::SignatureGenerate(
      static_cast<const uint8_t*>(hash), static_cast<const uint8_t*>(priv),
      static_cast<const uint8_t*>(pub), static_cast<uint8_t*>(sig), tevqa::SignPath::kFast);
}

TEVQA_API int UZDST_SIGNATURE_verify(const void* hash, const void* pub, const void* sig,
                                     int* verdict) {
  return tevqa::SignatureVerify(static_cast<const uint8_t*>(hash), static_cast<const uint8_t*>(pub),
                                static_cast<const uint8_t*>(sig), verdict, tevqa::SignPath::kFast);
}

}  // extern "C"
