// The IFMA Montgomery arithmetic against OpenSSL, the signature check's
// signer cache (every state of it gives the literal formulas' verdict) and
// the signing tables.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mont52.h"
#include "secret_comb.h"
#include "signature_check.h"
#include "signature_internal.h"
#include "support/key_fixtures.h"
#include "tevqa.h"

namespace {

using qovra_test::LoadKeyPair;
using Sig = std::array<uint8_t, 160>;
namespace m52 = tevqa::mont52;

struct BnDeleter {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnDeleter>;

BnPtr Hex(const std::string& hex) {
  BIGNUM* b = nullptr;
  EXPECT_GT(BN_hex2bn(&b, hex.c_str()), 0) << hex;
  return BnPtr(b);
}

// 2^bits, or 2^bits - 1 when minus_one.
BnPtr PowerOfTwo(int bits, bool minus_one) {
  BnPtr b(BN_new());
  EXPECT_TRUE(BN_set_bit(b.get(), bits));
  if (minus_one) {
    EXPECT_TRUE(BN_sub_word(b.get(), 1));
  }
  return b;
}

class Mont52Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m52::Available()) GTEST_SKIP() << "no AVX-512 IFMA on this processor";
    const keytool::KeyPair alice = LoadKeyPair("alice");
    p.reset(BN_bin2bn(alice.pub.data() + 160, 128, nullptr));
    mod = m52::NewModulus(p.get(), ctx);
    ASSERT_TRUE(mod);
  }
  void TearDown() override { BN_CTX_free(ctx); }

  BnPtr Random(std::mt19937& rng) {
    std::vector<uint8_t> bytes(128);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    BnPtr x(BN_bin2bn(bytes.data(), 128, nullptr));
    EXPECT_TRUE(BN_nnmod(x.get(), x.get(), p.get(), ctx));
    return x;
  }
  // a^e1 * b^e2 mod p by OpenSSL.
  BnPtr Reference(const BIGNUM* a, const BIGNUM* e1, const BIGNUM* b, const BIGNUM* e2) {
    BnPtr x(BN_new()), y(BN_new());
    EXPECT_TRUE(BN_mod_exp(x.get(), a, e1, p.get(), ctx));
    EXPECT_TRUE(BN_mod_exp(y.get(), b, e2, p.get(), ctx));
    EXPECT_TRUE(BN_mod_mul(x.get(), x.get(), y.get(), p.get(), ctx));
    return x;
  }
  BnPtr Plain(const m52::Num& n) {
    BnPtr out(BN_new());
    EXPECT_TRUE(m52::FromMont(out.get(), n, *mod, ctx));
    return out;
  }

  BN_CTX* ctx = BN_CTX_new();
  BnPtr p;
  std::unique_ptr<m52::Modulus> mod;
};

TEST_F(Mont52Test, ProductsMatchOpenSsl) {
  std::mt19937 rng(3);
  BnPtr p_minus_1(BN_dup(p.get()));
  ASSERT_TRUE(BN_sub_word(p_minus_1.get(), 1));
  std::vector<BnPtr> values;
  values.push_back(BnPtr(BN_new()));  // 0
  values.push_back(Hex("1"));
  values.push_back(std::move(p_minus_1));
  for (int i = 0; i < 40; ++i) values.push_back(Random(rng));
  for (size_t i = 0; i < values.size(); ++i) {
    const BIGNUM* x = values[i].get();
    const BIGNUM* y = values[(i * 7 + 1) % values.size()].get();
    m52::Num a, b, c;
    ASSERT_TRUE(m52::ToMont(&a, x, *mod));
    ASSERT_TRUE(m52::ToMont(&b, y, *mod));
    m52::Mul(&c, a, b, *mod);
    m52::Mul(&c, c, c, *mod);  // a result fed back in stays usable
    BnPtr want(BN_new());
    ASSERT_TRUE(BN_mod_mul(want.get(), x, y, p.get(), ctx));
    ASSERT_TRUE(BN_mod_mul(want.get(), want.get(), want.get(), p.get(), ctx));
    EXPECT_EQ(BN_cmp(Plain(c).get(), want.get()), 0) << i;
  }
  m52::Num out;
  EXPECT_FALSE(m52::ToMont(&out, p.get(), *mod));  // not below p
}

TEST_F(Mont52Test, PowersMatchOpenSslForEdgeAndRandomExponents) {
  std::mt19937 rng(5);
  // Window and comb edges: single bits, all-ones runs, the teeth's 37-bit
  // boundaries, the longest exponent the comb takes.
  std::vector<BnPtr> exps;
  for (const char* hex : {"1", "2", "3", "1F", "20", "21", "FFFFFFFFF"}) exps.push_back(Hex(hex));
  for (int bits : {36, 37, 38, 74, 111, 222, 255, 256, 258})
    exps.push_back(PowerOfTwo(bits, /*minus_one=*/false));
  for (int bits : {37, 74, 256, 259}) exps.push_back(PowerOfTwo(bits, /*minus_one=*/true));
  for (int i = 0; i < 6; ++i) {
    BnPtr e(BN_new());
    ASSERT_TRUE(BN_rand(e.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY));
    if (BN_is_zero(e.get())) {
      ASSERT_TRUE(BN_one(e.get()));
    }
    exps.push_back(std::move(e));
  }
  const BnPtr x = Random(rng), y = Random(rng);
  m52::Num a, b;
  ASSERT_TRUE(m52::ToMont(&a, x.get(), *mod));
  ASSERT_TRUE(m52::ToMont(&b, y.get(), *mod));
  const m52::CombPtr ca = m52::NewComb(a, *mod), cb = m52::NewComb(b, *mod);
  for (size_t i = 0; i < exps.size(); ++i) {
    const BIGNUM* e1 = exps[i].get();
    const BIGNUM* e2 = exps[(i * 5 + 3) % exps.size()].get();
    const BnPtr want = Reference(x.get(), e1, y.get(), e2);
    m52::Num r;
    ASSERT_TRUE(m52::Power2(&r, a, e1, b, e2, *mod)) << i;
    EXPECT_EQ(BN_cmp(Plain(r).get(), want.get()), 0) << "windows " << i;
    ASSERT_TRUE(m52::CombPower2(&r, *ca, e1, *cb, e2, *mod)) << i;
    EXPECT_EQ(BN_cmp(Plain(r).get(), want.get()), 0) << "comb " << i;
  }
  // Zero exponents are the caller's; the comb stops at its width.
  BnPtr zero(BN_new()), one = Hex("1"), long_exp = PowerOfTwo(259, /*minus_one=*/false);
  m52::Num r;
  EXPECT_FALSE(m52::Power2(&r, a, zero.get(), b, one.get(), *mod));
  EXPECT_FALSE(m52::CombPower2(&r, *ca, one.get(), *cb, zero.get(), *mod));
  EXPECT_FALSE(m52::CombPower2(&r, *ca, long_exp.get(), *cb, one.get(), *mod));
  EXPECT_TRUE(m52::Power2(&r, a, long_exp.get(), b, one.get(), *mod));
  EXPECT_EQ(BN_cmp(Plain(r).get(), Reference(x.get(), long_exp.get(), y.get(), one.get()).get()),
            0);
}

// The signing comb: four tables of five teeth 13 bits apart. Exponents on
// every edge of a column, a tooth and a table, the widest it takes, and
// random ones; each power from the same tables.
TEST_F(Mont52Test, SecretCombPowersMatchOpenSsl) {
  std::mt19937 rng(13);
  std::vector<BnPtr> exps;
  for (const char* hex : {"0", "1", "2", "3", "1F"}) exps.push_back(Hex(hex));
  // Bit 13i starts tooth i; bit 65t starts table t.
  for (int bits : {12, 13, 14, 25, 26, 64, 65, 66, 129, 130, 194, 195, 247, 255, 256, 259})
    exps.push_back(PowerOfTwo(bits, /*minus_one=*/false));
  for (int bits : {13, 65, 130, 195, 256, 260})
    exps.push_back(PowerOfTwo(bits, /*minus_one=*/true));
  for (int i = 0; i < 8; ++i) {
    BnPtr e(BN_new());
    ASSERT_TRUE(BN_rand(e.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY));
    exps.push_back(std::move(e));
  }
  const BnPtr g = Random(rng);
  m52::Num base;
  ASSERT_TRUE(m52::ToMont(&base, g.get(), *mod));
  const m52::SecretCombPtr comb = m52::NewSecretComb(base, *mod);
  for (size_t i = 0; i < exps.size(); ++i) {
    BnPtr want(BN_new());
    ASSERT_TRUE(BN_mod_exp(want.get(), g.get(), exps[i].get(), p.get(), ctx));
    m52::Num r;
    ASSERT_TRUE(m52::SecretCombPower(&r, *comb, exps[i].get(), *mod)) << i;
    EXPECT_EQ(BN_cmp(Plain(r).get(), want.get()), 0) << i;
  }
  // Longer than the tables, or negative: refused, r untouched.
  BnPtr too_long = PowerOfTwo(260, /*minus_one=*/false), negative = Hex("-5");
  m52::Num r;
  r.l[0] = 77;
  EXPECT_FALSE(m52::SecretCombPower(&r, *comb, too_long.get(), *mod));
  EXPECT_FALSE(m52::SecretCombPower(&r, *comb, negative.get(), *mod));
  EXPECT_EQ(r.l[0], 77u);
}

// Signers of alice's domain with keys of their own: x and u from seed,
// Y1 = d^[x], Y2 = d^[u].
keytool::KeyPair DeriveSigner(const keytool::KeyPair& base, uint32_t seed) {
  keytool::KeyPair kp = base;
  std::mt19937 rng(seed);
  for (int i = 64; i < 128; ++i) kp.priv[i] = static_cast<uint8_t>(rng());
  kp.priv[64] &= 0x3F;
  kp.priv[96] &= 0x3F;
  const uint8_t* R = base.pub.data() + 448;
  const uint8_t* p = base.pub.data() + 160;
  EXPECT_EQ(UZDST_DIADH_generate(R, 32, kp.priv.data() + 128, 128, kp.priv.data() + 64, 32, p, 128,
                                 kp.pub.data() + 512, 128),
            1);
  EXPECT_EQ(UZDST_DIADH_generate(R, 32, kp.priv.data() + 128, 128, kp.priv.data() + 96, 32, p, 128,
                                 kp.pub.data() + 640, 128),
            1);
  return kp;
}

std::pair<int, int> Verify(const std::array<uint8_t, 32>& h, const uint8_t* pub, const Sig& sig,
                           tevqa::SignPath path) {
  int verdict = -1;
  const int rc = tevqa::SignatureVerify(h.data(), pub, sig.data(), &verdict, path);
  return {rc, verdict};
}

// Signing keeps per-thread tables of each key's base and the inverse of
// each key's u, four of each. Keys in rotation, more than that and from two
// domains, signed twice round: every path gives the literal bytes.
TEST(SigningPaths, EveryPathGivesTheLiteralBytesForMoreKeysThanTheCachesHold) {
  const keytool::KeyPair alice = LoadKeyPair("alice");
  std::vector<keytool::KeyPair> keys = {alice, LoadKeyPair("other-domain")};
  for (uint32_t i = 0; i < 5; ++i) keys.push_back(DeriveSigner(alice, 200 + i));
  std::array<uint8_t, 32> h{};
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < keys.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "round " << round << ", key " << i);
      h[0] = static_cast<uint8_t>(round);
      h[31] = static_cast<uint8_t>(i);
      Sig want{};
      ASSERT_EQ(tevqa::SignatureGenerate(h.data(), keys[i].priv.data(), keys[i].pub.data(),
                                         want.data(), tevqa::SignPath::kLiteral),
                1);
      for (auto path : {tevqa::SignPath::kFast, tevqa::SignPath::kPortable}) {
        Sig got{};
        ASSERT_EQ(tevqa::SignatureGenerate(h.data(), keys[i].priv.data(), keys[i].pub.data(),
                                           got.data(), path),
                  1);
        EXPECT_EQ(got, want) << static_cast<int>(path);
      }
      EXPECT_EQ(Verify(h, keys[i].pub.data(), want, tevqa::SignPath::kPortable),
                std::make_pair(1, 1));
    }
  }
}

class SignerCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m52::Available()) GTEST_SKIP() << "no AVX-512 IFMA on this processor";
    tevqa::ClearFastCheckCaches();
    for (auto& b : hash) b = static_cast<uint8_t>(b * 31 + 7);
    hash[0] = 0x42;
  }
  void TearDown() override { tevqa::ClearFastCheckCaches(); }

  Sig Sign(const keytool::KeyPair& kp) {
    Sig sig{};
    EXPECT_EQ(UZDST_SIGNATURE_generate(hash.data(), kp.priv.data(), kp.pub.data(), sig.data()), 1);
    return sig;
  }
  // Both paths agree and give want; returns the counts' change.
  tevqa::FastCheckCounts Check(const keytool::KeyPair& kp, const Sig& sig, int want,
                               const std::array<uint8_t, 32>* other_hash = nullptr) {
    const auto& h = other_hash ? *other_hash : hash;
    const tevqa::FastCheckCounts before = tevqa::ThreadFastCheckCounts();
    EXPECT_EQ(Verify(h, kp.pub.data(), sig, tevqa::SignPath::kFast), std::make_pair(1, want));
    const tevqa::FastCheckCounts after = tevqa::ThreadFastCheckCounts();
    EXPECT_EQ(Verify(h, kp.pub.data(), sig, tevqa::SignPath::kLiteral), std::make_pair(1, want));
    return {after.windows - before.windows, after.tables - before.tables,
            after.combs - before.combs};
  }

  keytool::KeyPair alice = LoadKeyPair("alice");
  std::array<uint8_t, 32> hash{};
};

TEST_F(SignerCacheTest, FirstSecondAndLaterChecksAndEviction) {
  const Sig sig = Sign(alice);
  Sig bad = sig;
  bad[100] ^= 0x10;
  auto changed_hash = hash;
  changed_hash[31] ^= 1;
  struct Step {
    const char* what;
    int windows, tables, combs;
  } steps[] = {
      {"first sight: windows", 1, 0, 0},
      {"second sight: tables built", 0, 1, 1},
      {"third sight: tables reused", 0, 0, 1},
  };
  // A good signature, a wrong r and another hash, each from a cold cache.
  struct Case {
    const char* what;
    const Sig* sig;
    const std::array<uint8_t, 32>* hash;
    int verdict;
  } cases[] = {{"valid", &sig, nullptr, 1},
               {"r changed", &bad, nullptr, 0},
               {"hash changed", &sig, &changed_hash, 0}};
  for (const Case& c : cases) {
    tevqa::ClearFastCheckCaches();
    for (const Step& s : steps) {
      SCOPED_TRACE(std::string(c.what) + ", " + s.what);
      const auto d = Check(alice, *c.sig, c.verdict, c.hash);
      EXPECT_EQ(d.windows, static_cast<uint64_t>(s.windows));
      EXPECT_EQ(d.tables, static_cast<uint64_t>(s.tables));
      EXPECT_EQ(d.combs, static_cast<uint64_t>(s.combs));
    }
  }
  // Eight other signers push alice out: she is new again.
  for (uint32_t i = 0; i < 8; ++i) {
    const keytool::KeyPair other = DeriveSigner(alice, 100 + i);
    Check(other, Sign(other), 1);
    Check(other, sig, 0);  // alice's signature is not theirs
  }
  EXPECT_EQ(Check(alice, sig, 1).windows, 1u);
}

TEST_F(SignerCacheTest, SmallAndRandomExponentsGiveTheLiteralVerdict) {
  // Signatures signing never makes: S and r mod q of 1, 2 and all ones, 0
  // (handled outside the fast product), random r and S. Each is checked
  // with the signer new, then tabled.
  std::mt19937 rng(9);
  std::vector<Sig> sigs;
  const Sig valid = Sign(alice);
  for (uint8_t small : {0, 1, 2}) {
    Sig s = valid;
    std::memset(s.data() + 128, 0, 32);
    s[159] = small;
    sigs.push_back(s);
    Sig r = valid;
    std::memset(r.data(), 0, 128);
    r[127] = small;
    sigs.push_back(r);
  }
  Sig ones = valid;
  std::memset(ones.data() + 128, 0xFF, 32);  // over q: not checked at all
  for (int i = 0; i < 6; ++i) {
    Sig s{};
    for (auto& b : s) b = static_cast<uint8_t>(rng());
    s[0] &= 0x7F;
    s[128] &= 0x3F;
    sigs.push_back(s);
  }
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (size_t i = 0; i < sigs.size(); ++i) {
      const auto literal = Verify(hash, alice.pub.data(), sigs[i], tevqa::SignPath::kLiteral);
      EXPECT_EQ(Verify(hash, alice.pub.data(), sigs[i], tevqa::SignPath::kFast), literal) << i;
    }
    EXPECT_EQ(Verify(hash, alice.pub.data(), ones, tevqa::SignPath::kFast),
              Verify(hash, alice.pub.data(), ones, tevqa::SignPath::kLiteral));
    Check(alice, valid, 1);
  }
}

}  // namespace
