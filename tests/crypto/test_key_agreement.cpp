#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "bn_group.h"
#include "support/key_fixtures.h"
#include "tevqa.h"

namespace {

using qovra_test::LoadKeyPair;
using Key = std::array<uint8_t, 64>;

int Agree(const keytool::KeyPair& me, const uint8_t* peer_pub, Key* out) {
  return UZDST_CIPHER_KEY_generate(me.priv.data(), me.pub.data(), peer_pub, out->data());
}

class KeyAgreementTest : public ::testing::Test {
 protected:
  keytool::KeyPair alice = LoadKeyPair("alice");
  keytool::KeyPair bob = LoadKeyPair("bob");
  keytool::KeyPair other = LoadKeyPair("other-domain");
};

TEST_F(KeyAgreementTest, TwoPartiesDeriveTheSameKey) {
  Key ab{}, ba{}, aa{};
  ASSERT_EQ(Agree(alice, bob.pub.data(), &ab), 1);
  ASSERT_EQ(Agree(bob, alice.pub.data(), &ba), 1);
  EXPECT_EQ(ab, ba);
  ASSERT_EQ(Agree(alice, alice.pub.data(), &aa), 1);
  EXPECT_NE(ab, aa);
  // keytool makes exponents the cipher accepts, and the agreed key is one
  // the cipher can use (needed to seal mail keys).
  uint8_t ctx[TEVQA_CIPHER_CONTEXT_SIZE];
  EXPECT_EQ(UZDST_CIPHER_init(ctx, alice.priv.data(), 1), 1);
  EXPECT_EQ(UZDST_CIPHER_init(ctx, bob.priv.data(), 1), 1);
}

TEST_F(KeyAgreementTest, KeyIsTheLiteralGroupPower) {
  tevqa::BnCtx ctx(BN_CTX_new());
  auto y = tevqa::BnFromBytes(bob.pub.data() + 288, 128);
  auto a = tevqa::BnFromBytes(alice.priv.data(), 64);
  auto R = tevqa::BnFromBytes(bob.pub.data() + 448, 32);
  auto m = tevqa::BnFromBytes(bob.pub.data(), 128);
  auto w = tevqa::NewBn();
  ASSERT_TRUE(tevqa::GroupPower(w.get(), y.get(), a.get(), R.get(), m.get(), ctx.get()));
  uint8_t full[128];
  ASSERT_TRUE(tevqa::BnToFixed(w.get(), full, 128));
  Key key{};
  ASSERT_EQ(Agree(alice, bob.pub.data(), &key), 1);
  EXPECT_EQ(0, std::memcmp(key.data(), full + 64, 64));
}

TEST_F(KeyAgreementTest, OnlyDomainBytesMustAgree) {
  struct Case {
    size_t offset;
    int want;
  } cases[] = {{0, 0},   {127, 0}, {128, 0}, {159, 0}, {448, 0}, {479, 0},
               {160, 1}, {287, 1}, {416, 1}, {447, 1}, {480, 1}, {511, 1}, {767, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    auto peer = bob.pub;
    peer[c.offset] ^= 0x01;
    Key out{};
    out.fill(0xCD);
    EXPECT_EQ(Agree(alice, peer.data(), &out), c.want);
    if (c.want == 0) {
      EXPECT_EQ(out[0], 0xCD);
    }
  }
  Key out{};
  EXPECT_EQ(Agree(alice, other.pub.data(), &out), 0);
  EXPECT_EQ(UZDST_CIPHER_KEY_generate(nullptr, alice.pub.data(), bob.pub.data(), out.data()), 0);
  EXPECT_EQ(UZDST_CIPHER_KEY_generate(alice.priv.data(), alice.pub.data(), bob.pub.data(), nullptr),
            0);
}

TEST_F(KeyAgreementTest, ShortValuesAreRightAlignedAndOneKeepsTheValue) {
  // Public value 0: W = 0, a key of 64 zero bytes.
  auto peer = bob.pub;
  std::memset(peer.data() + 288, 0, 128);
  Key out{};
  out.fill(0xEE);
  ASSERT_EQ(Agree(alice, peer.data(), &out), 1);
  EXPECT_EQ(out, Key{});
  // Exponent 1: W is the peer's public value as it is.
  keytool::KeyPair one = alice;
  std::memset(one.priv.data(), 0, 64);
  one.priv[63] = 1;
  ASSERT_EQ(Agree(one, bob.pub.data(), &out), 1);
  EXPECT_EQ(0, std::memcmp(out.data(), bob.pub.data() + 288 + 64, 64));
}

TEST(DiadhTest, PowerRefusalsAndAlignment) {
  const uint8_t R[] = {3};
  const uint8_t base[] = {5};
  const uint8_t exp[] = {4};
  const uint8_t mod[] = {0x01, 0x01};  // 257
  // phi(5) = 16; 16^4 = 65536 = 1 mod 257; (1 - 1) / 3 = 0.
  uint8_t out[4];
  std::memset(out, 0x77, sizeof out);
  ASSERT_EQ(UZDST_DIADH_generate(R, 1, base, 1, exp, 1, mod, 2, out, 4), 1);
  EXPECT_EQ(0, std::memcmp(out, "\0\0\0\0", 4));
  // exponent 2: phi = 256 = -1; (-1 - 1) * 3^-1 = -2 * 86 = -172 = 85 mod 257
  const uint8_t exp2[] = {0, 2};
  ASSERT_EQ(UZDST_DIADH_generate(R, 1, base, 1, exp2, 2, mod, 2, out, 3), 1);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 85);

  struct Case {
    const char* what;
    int32_t r_len, base_len, exp_len, mod_len, out_len;
  } refusals[] = {
      {"zero R length", 0, 1, 1, 2, 4},    {"zero base length", 1, 0, 1, 2, 4},
      {"zero exponent length", 1, 1, 0, 2, 4}, {"zero modulus length", 1, 1, 1, 0, 4},
      {"output below modulus", 1, 1, 1, 2, 1}, {"negative length", -1, 1, 1, 2, 4},
  };
  for (const auto& c : refusals) {
    SCOPED_TRACE(c.what);
    std::memset(out, 0x77, sizeof out);
    EXPECT_EQ(UZDST_DIADH_generate(R, c.r_len, base, c.base_len, exp, c.exp_len, mod, c.mod_len,
                                   out, c.out_len),
              0);
    EXPECT_EQ(out[0], 0x77);
  }
  EXPECT_EQ(UZDST_DIADH_generate(nullptr, 1, base, 1, exp, 1, mod, 2, out, 4), 0);
}

}  // namespace
