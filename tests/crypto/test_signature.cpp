#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "gost_hash.h"
#include "signature_internal.h"
#include "support/key_fixtures.h"
#include "tevqa.h"

namespace {

using qovra_test::LoadKeyPair;
using Sig = std::array<uint8_t, 160>;

std::array<uint8_t, 32> HashOf(const std::string& s) {
  std::array<uint8_t, 32> h{};
  UZDST_HASH_data(s.data(), static_cast<uint32_t>(s.size()), nullptr, h.data());
  return h;
}

Sig Sign(const std::array<uint8_t, 32>& h, const keytool::KeyPair& kp,
         tevqa::SignPath path = tevqa::SignPath::kFast) {
  Sig sig{};
  EXPECT_EQ(tevqa::SignatureGenerate(h.data(), kp.priv.data(), kp.pub.data(), sig.data(), path),
            1);
  return sig;
}

// Returns {result, verdict}.
std::pair<int, int> Verify(const std::array<uint8_t, 32>& h, const uint8_t* pub, const Sig& sig,
                           tevqa::SignPath path = tevqa::SignPath::kFast) {
  int verdict = -1;
  const int rc = tevqa::SignatureVerify(h.data(), pub, sig.data(), &verdict, path);
  return {rc, verdict};
}

class SignatureTest : public ::testing::Test {
 protected:
  keytool::KeyPair alice = LoadKeyPair("alice");
  keytool::KeyPair bob = LoadKeyPair("bob");
  keytool::KeyPair other = LoadKeyPair("other-domain");
};

TEST_F(SignatureTest, SignsAndVerifiesThroughExports) {
  const auto h = HashOf("message for the exports");
  Sig sig{};
  ASSERT_EQ(UZDST_SIGNATURE_generate(h.data(), alice.priv.data(), alice.pub.data(), sig.data()),
            1);
  int verdict = 0;
  EXPECT_EQ(UZDST_SIGNATURE_verify(h.data(), alice.pub.data(), sig.data(), &verdict), 1);
  EXPECT_EQ(verdict, 1);
  // Another key of the same domain, and a key of another domain, reject it.
  EXPECT_EQ(UZDST_SIGNATURE_verify(h.data(), bob.pub.data(), sig.data(), &verdict), 1);
  EXPECT_EQ(verdict, 0);
  UZDST_SIGNATURE_verify(h.data(), other.pub.data(), sig.data(), &verdict);
  EXPECT_EQ(verdict, 0);
}

TEST_F(SignatureTest, SameHashAndKeyGiveTheSameSignature) {
  const auto h = HashOf("deterministic");
  EXPECT_EQ(Sign(h, alice), Sign(h, alice));
  EXPECT_NE(Sign(h, alice), Sign(h, bob));
  EXPECT_NE(Sign(h, alice), Sign(HashOf("deterministic."), alice));
}

TEST_F(SignatureTest, FastPathMatchesLiteralGroupFormulas) {
  std::mt19937 rng(7);
  for (int i = 0; i < 8; ++i) {
    std::array<uint8_t, 32> h{};
    for (auto& b : h) b = static_cast<uint8_t>(rng());
    const Sig fast = Sign(h, i % 2 ? alice : bob);
    EXPECT_EQ(fast, Sign(h, i % 2 ? alice : bob, tevqa::SignPath::kLiteral));
    const uint8_t* pub = (i % 2 ? alice : bob).pub.data();
    EXPECT_EQ(Verify(h, pub, fast, tevqa::SignPath::kLiteral), std::make_pair(1, 1));
    EXPECT_EQ(Verify(h, pub, fast), std::make_pair(1, 1));
  }
}

TEST_F(SignatureTest, AnyFlippedBitGivesVerdictZero) {
  const auto h = HashOf("flip me");
  const Sig sig = Sign(h, alice);
  std::mt19937 rng(11);
  // Bits of r below its top byte keep r within p's length; S is always
  // within q's 256 bits.
  for (int i = 0; i < 12; ++i) {
    Sig bad = sig;
    const size_t byte = 1 + rng() % 159;
    bad[byte] ^= static_cast<uint8_t>(1u << (rng() % 8));
    for (auto path : {tevqa::SignPath::kFast, tevqa::SignPath::kLiteral})
      EXPECT_EQ(Verify(h, alice.pub.data(), bad, path), std::make_pair(1, 0)) << byte;
  }
  for (size_t byte : {0u, 15u, 31u}) {
    auto bad_hash = h;
    bad_hash[byte] ^= 0x80;
    for (auto path : {tevqa::SignPath::kFast, tevqa::SignPath::kLiteral})
      EXPECT_EQ(Verify(bad_hash, alice.pub.data(), sig, path), std::make_pair(1, 0));
  }
}

TEST_F(SignatureTest, RefusesBadRecordsAndOverlongValues) {
  const auto h = HashOf("records");
  const Sig sig = Sign(h, alice);
  // The cut records below need r and S to use their top bytes.
  ASSERT_NE(sig[0], 0);
  ASSERT_NE(sig[128], 0);
  struct Case {
    const char* what;
    size_t offset, length;  // zeroed range of the public record
    int sign_rc;            // expected result of signing with it
  } cases[] = {
      {"p zero", 160, 128, 0},
      {"q zero", 416, 32, 0},
      // r (1024 bits) longer than a p cut to 1016 bits; S longer than a q
      // cut to 248 bits: not checked. Signing still works with such a
      // record, so only the verification result is the point here.
      {"p shorter than r", 160, 1, -1},
      {"q shorter than S", 416, 1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto pub = alice.pub;
    std::memset(pub.data() + c.offset, 0, c.length);
    for (auto path : {tevqa::SignPath::kFast, tevqa::SignPath::kLiteral}) {
      int verdict = -1;
      EXPECT_EQ(tevqa::SignatureVerify(h.data(), pub.data(), sig.data(), &verdict, path), 0);
      EXPECT_EQ(verdict, 0);
      if (c.sign_rc == 0) {
        Sig out{};
        out.fill(0xAB);
        EXPECT_EQ(tevqa::SignatureGenerate(h.data(), alice.priv.data(), pub.data(), out.data(),
                                           path),
                  0);
        EXPECT_EQ(out[0], 0xAB);
      }
    }
  }
}

TEST_F(SignatureTest, RecordsWithoutASignatureDoNotHang) {
  // q = 1 makes every r divisible by q: signing must give up, not loop.
  auto pub = alice.pub;
  std::memset(pub.data() + 416, 0, 32);
  pub[447] = 1;
  const auto h = HashOf("no signature exists");
  Sig out{};
  EXPECT_EQ(UZDST_SIGNATURE_generate(h.data(), alice.priv.data(), pub.data(), out.data()), 0);
}

TEST_F(SignatureTest, NullArgumentsAreRefused) {
  const auto h = HashOf("null");
  Sig sig{};
  int verdict = 5;
  EXPECT_EQ(UZDST_SIGNATURE_generate(nullptr, alice.priv.data(), alice.pub.data(), sig.data()),
            0);
  EXPECT_EQ(UZDST_SIGNATURE_verify(h.data(), nullptr, sig.data(), &verdict), 0);
  EXPECT_EQ(verdict, 0);
}

TEST_F(SignatureTest, SigningResetsTheProcessHashTables) {
  // A context opened with a caller's set hashes its later blocks with the
  // built-in set once signing has run.
  uint8_t sbox[128];
  for (int row = 0; row < 8; ++row)
    for (int i = 0; i < 16; ++i) sbox[16 * row + i] = static_cast<uint8_t>((i * 7 + row) & 15);
  uint8_t data[64];
  for (int i = 0; i < 64; ++i) data[i] = static_cast<uint8_t>(i * 3);

  uint8_t ctx[132];
  UZDST_HASH_init(ctx, sbox);
  UZDST_HASH_update(ctx, data, 64);  // first block compressed, second buffered
  Sig sig = Sign(HashOf("reset"), alice);
  (void)sig;
  uint8_t got[32];
  UZDST_HASH_final(ctx, got);

  tevqa::HashTables caller;
  tevqa::ExpandHashTables(sbox, &caller);
  uint8_t ref_ctx[132];
  tevqa::HashInit(ref_ctx);
  tevqa::HashUpdate(caller, ref_ctx, data, 64);
  uint8_t want[32];
  tevqa::HashFinal(tevqa::BuiltinHashTables(), ref_ctx, want);
  EXPECT_EQ(0, std::memcmp(got, want, 32));
  uint8_t all_caller[32];
  tevqa::HashData(caller, data, 64, all_caller);
  EXPECT_NE(0, std::memcmp(got, all_caller, 32));
}

}  // namespace
