#include "fixed_base.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "mont52.h"
#include "secret_comb.h"

namespace tevqa {

namespace {

// Comb: 4 teeth of 64 bits cover a 256-bit exponent with 16 table entries,
// 63 squarings and 64 multiplications.
constexpr int kTeeth = 4;
constexpr int kSpacing = 64;
constexpr int kEntries = 1 << kTeeth;

}  // namespace

class FixedBase {
 public:
  // Montgomery form, little-endian bytes of the modulus' width.
  struct Table {
    std::vector<uint64_t> words;  // kEntries * width_words
  };
  ~FixedBase() {
    if (!key.empty()) OPENSSL_cleanse(key.data(), key.size());
    if (!inv.words.empty()) OPENSSL_cleanse(inv.words.data(), inv.words.size() * sizeof(uint64_t));
  }
  std::vector<uint8_t> key;  // arith, then p, R and d with their lengths
  Bn p;
  BnMont mont;
  size_t width_bytes = 0;
  size_t width_words = 0;
  Table inv;  // powers of g^-1 (OpenSSL's arithmetic)
  // The same on IFMA; when set, inv stays empty.
  std::unique_ptr<mont52::Modulus> mod52;
  mont52::SecretCombPtr comb52;
};

namespace {

bool BuildTable(FixedBase* fb, const BIGNUM* g_mont, FixedBase::Table* table, BN_CTX* ctx) {
  // powers[i] = g^(2^(64 i)), in Montgomery form.
  std::array<Bn, kTeeth> powers;
  powers[0].reset(BN_dup(g_mont));
  if (!powers[0]) return false;
  for (int i = 1; i < kTeeth; ++i) {
    powers[i].reset(BN_dup(powers[i - 1].get()));
    if (!powers[i]) return false;
    for (int s = 0; s < kSpacing; ++s) {
      if (!BN_mod_mul_montgomery(powers[i].get(), powers[i].get(), powers[i].get(), fb->mont.get(),
                                 ctx))
        return false;
    }
  }
  table->words.assign(kEntries * fb->width_words, 0);
  Bn entry = NewBn();
  Bn one = NewBn();
  if (!entry || !one || !BN_one(one.get()) ||
      !BN_to_montgomery(one.get(), one.get(), fb->mont.get(), ctx))
    return false;
  std::vector<uint8_t> bytes(fb->width_bytes);
  for (int j = 0; j < kEntries; ++j) {
    if (!BN_copy(entry.get(), one.get())) return false;
    for (int i = 0; i < kTeeth; ++i) {
      if ((j >> i) & 1) {
        if (!BN_mod_mul_montgomery(entry.get(), entry.get(), powers[i].get(), fb->mont.get(), ctx))
          return false;
      }
    }
    if (BN_bn2lebinpad(entry.get(), bytes.data(), static_cast<int>(bytes.size())) < 0) return false;
    std::memcpy(&table->words[j * fb->width_words], bytes.data(), bytes.size());
  }
  return true;
}

// Reads entry idx touching every entry the same way.
bool ReadEntry(const FixedBase& fb, const FixedBase::Table& t, unsigned idx, BIGNUM* out,
               std::vector<uint64_t>* scratch) {
  std::fill(scratch->begin(), scratch->end(), 0);
  for (unsigned j = 0; j < kEntries; ++j) {
    const uint64_t mask = 0 - static_cast<uint64_t>(((j ^ idx) - 1) >> 31 & 1);
    const uint64_t* e = &t.words[j * fb.width_words];
    for (size_t w = 0; w < fb.width_words; ++w) (*scratch)[w] |= e[w] & mask;
  }
  return BN_lebin2bn(reinterpret_cast<const uint8_t*>(scratch->data()),
                     static_cast<int>(fb.width_bytes), out) != nullptr;
}

bool CombPower(const FixedBase& fb, const FixedBase::Table& t, const BIGNUM* k, BIGNUM* out,
               BN_CTX* ctx) {
  Bn acc = NewBn(), entry = NewBn();
  if (!acc || !entry) return false;
  std::vector<uint64_t> scratch(fb.width_words);
  BN_set_flags(acc.get(), BN_FLG_CONSTTIME);
  BN_set_flags(entry.get(), BN_FLG_CONSTTIME);
  for (int col = kSpacing - 1; col >= 0; --col) {
    unsigned idx = 0;
    for (int i = 0; i < kTeeth; ++i)
      idx |= static_cast<unsigned>(BN_is_bit_set(k, i * kSpacing + col)) << i;
    if (!ReadEntry(fb, t, idx, entry.get(), &scratch)) return false;
    if (col == kSpacing - 1) {
      if (!BN_copy(acc.get(), entry.get())) return false;
      continue;
    }
    if (!BN_mod_mul_montgomery(acc.get(), acc.get(), acc.get(), fb.mont.get(), ctx) ||
        !BN_mod_mul_montgomery(acc.get(), acc.get(), entry.get(), fb.mont.get(), ctx))
      return false;
  }
  OPENSSL_cleanse(scratch.data(), scratch.size() * sizeof(uint64_t));
  return BN_from_montgomery(out, acc.get(), fb.mont.get(), ctx);
}

// g = R*d + 1 mod p.
Bn GroupBase(const BIGNUM* p, const uint8_t* R, size_t r_len, const uint8_t* d, size_t d_len,
             BN_CTX* ctx) {
  Bn r = BnFromBytes(R, r_len), g = BnFromBytes(d, d_len);
  if (!r || !g || !BN_mod_mul(g.get(), r.get(), g.get(), p, ctx) || !BN_add_word(g.get(), 1) ||
      !BN_nnmod(g.get(), g.get(), p, ctx))
    return nullptr;
  return g;
}

std::unique_ptr<FixedBase> Build(std::vector<uint8_t> key, const uint8_t* p, size_t p_len,
                                 const uint8_t* R, size_t r_len, const uint8_t* d, size_t d_len,
                                 FixedBaseArith arith, BN_CTX* ctx) {
  auto fb = std::make_unique<FixedBase>();
  fb->key = std::move(key);
  fb->p = BnFromBytes(p, p_len);
  if (!fb->p || !BN_is_odd(fb->p.get()) || BN_is_one(fb->p.get())) return nullptr;
  Bn g = GroupBase(fb->p.get(), R, r_len, d, d_len, ctx);
  Bn g_inv = NewBn();
  if (!g || !g_inv) return nullptr;
  BN_set_flags(g.get(), BN_FLG_CONSTTIME);
  ERR_set_mark();
  const bool inv_ok = BN_mod_inverse(g_inv.get(), g.get(), fb->p.get(), ctx) != nullptr;
  ERR_pop_to_mark();
  if (!inv_ok) return nullptr;
  static const bool ifma = mont52::Available();
  if (arith == FixedBaseArith::kBest && ifma) {
    fb->mod52 = mont52::NewModulus(fb->p.get(), ctx);
    mont52::Num base;
    if (fb->mod52 && mont52::ToMont(&base, g_inv.get(), *fb->mod52)) {
      fb->comb52 = mont52::NewSecretComb(base, *fb->mod52);
      OPENSSL_cleanse(&base, sizeof base);
      return fb;
    }
    fb->mod52.reset();  // p beyond the IFMA code's width: OpenSSL's tables
  }
  fb->mont.reset(BN_MONT_CTX_new());
  if (!fb->mont || !BN_MONT_CTX_set(fb->mont.get(), fb->p.get(), ctx)) return nullptr;
  fb->width_words = (static_cast<size_t>(BN_num_bytes(fb->p.get())) + 7) / 8;
  fb->width_bytes = fb->width_words * 8;
  if (!BN_to_montgomery(g_inv.get(), g_inv.get(), fb->mont.get(), ctx) ||
      !BuildTable(fb.get(), g_inv.get(), &fb->inv, ctx))
    return nullptr;
  return fb;
}

void AppendField(std::vector<uint8_t>& key, const uint8_t* bytes, size_t len) {
  for (int shift = 0; shift < 32; shift += 8) key.push_back(static_cast<uint8_t>(len >> shift));
  key.insert(key.end(), bytes, bytes + len);
}

}  // namespace

const FixedBase* LookupInverseBase(const uint8_t* p, size_t p_len, const uint8_t* R, size_t r_len,
                                   const uint8_t* d, size_t d_len, FixedBaseArith arith,
                                   BN_CTX* ctx) {
  thread_local std::array<std::unique_ptr<FixedBase>, 4> cache;
  thread_local size_t next = 0;
  thread_local std::vector<uint8_t> key;
  key.clear();
  key.push_back(static_cast<uint8_t>(arith));
  AppendField(key, p, p_len);
  AppendField(key, R, r_len);
  AppendField(key, d, d_len);
  const FixedBase* found = nullptr;
  for (const auto& e : cache) {
    if (e && e->key == key) found = e.get();
  }
  if (!found) {
    auto fb = Build(key, p, p_len, R, r_len, d, d_len, arith, ctx);
    if (fb) {
      cache[next] = std::move(fb);
      found = cache[next].get();
      next = (next + 1) % cache.size();
    }
  }
  OPENSSL_cleanse(key.data(), key.size());
  return found;
}

bool InverseBasePower(const FixedBase& fb, const BIGNUM* k, BIGNUM* out, BN_CTX* ctx) {
  if (BN_num_bits(k) > kTeeth * kSpacing) return false;
  if (fb.comb52) {
    mont52::Num power;
    const bool ok = mont52::SecretCombPower(&power, *fb.comb52, k, *fb.mod52) &&
                    mont52::FromMont(out, power, *fb.mod52, ctx);
    OPENSSL_cleanse(&power, sizeof power);
    return ok;
  }
  return CombPower(fb, fb.inv, k, out, ctx);
}

}  // namespace tevqa
