#include "fixed_base.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

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
  std::vector<uint8_t> key;
  Bn p;
  BnMont mont;
  size_t width_bytes = 0;
  size_t width_words = 0;
  Table inv;  // powers of g^-1
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
      if (!BN_mod_mul_montgomery(powers[i].get(), powers[i].get(), powers[i].get(),
                                 fb->mont.get(), ctx))
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
        if (!BN_mod_mul_montgomery(entry.get(), entry.get(), powers[i].get(), fb->mont.get(),
                                   ctx))
          return false;
      }
    }
    if (BN_bn2lebinpad(entry.get(), bytes.data(), static_cast<int>(bytes.size())) < 0)
      return false;
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

std::unique_ptr<FixedBase> Build(std::vector<uint8_t> key, const uint8_t* p, size_t p_len,
                                 const BIGNUM* g, BN_CTX* ctx) {
  auto fb = std::make_unique<FixedBase>();
  fb->key = std::move(key);
  fb->p = BnFromBytes(p, p_len);
  Bn g_inv = NewBn();
  if (!fb->p || !g_inv || !BN_is_odd(fb->p.get()) || BN_is_one(fb->p.get())) return nullptr;
  fb->mont.reset(BN_MONT_CTX_new());
  if (!fb->mont || !BN_MONT_CTX_set(fb->mont.get(), fb->p.get(), ctx)) return nullptr;
  ERR_set_mark();
  const bool inv_ok = BN_mod_inverse(g_inv.get(), g, fb->p.get(), ctx) != nullptr;
  ERR_pop_to_mark();
  if (!inv_ok) return nullptr;
  fb->width_words = (static_cast<size_t>(BN_num_bytes(fb->p.get())) + 7) / 8;
  fb->width_bytes = fb->width_words * 8;
  if (!BN_to_montgomery(g_inv.get(), g_inv.get(), fb->mont.get(), ctx) ||
      !BuildTable(fb.get(), g_inv.get(), &fb->inv, ctx))
    return nullptr;
  return fb;
}

}  // namespace

const FixedBase* LookupInverseBase(const uint8_t* p, size_t p_len, const BIGNUM* g, BN_CTX* ctx) {
  thread_local std::array<std::unique_ptr<FixedBase>, 4> cache;
  thread_local size_t next = 0;
  // Key: p's length (4 bytes), p, g.
  std::vector<uint8_t> key;
  for (int shift = 0; shift < 32; shift += 8) key.push_back(static_cast<uint8_t>(p_len >> shift));
  key.insert(key.end(), p, p + p_len);
  const size_t g_off = key.size();
  key.resize(g_off + static_cast<size_t>(BN_num_bytes(g)));
  BN_bn2bin(g, key.data() + g_off);
  for (const auto& e : cache) {
    if (e && e->key == key) return e.get();
  }
  auto fb = Build(std::move(key), p, p_len, g, ctx);
  if (!fb) return nullptr;
  cache[next] = std::move(fb);
  const FixedBase* out = cache[next].get();
  next = (next + 1) % cache.size();
  return out;
}

bool InverseBasePower(const FixedBase& fb, const BIGNUM* k, BIGNUM* out, BN_CTX* ctx) {
  if (BN_num_bits(k) > kTeeth * kSpacing) return false;
  return CombPower(fb, fb.inv, k, out, ctx);
}

}  // namespace tevqa
