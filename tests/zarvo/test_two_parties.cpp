// Two parties with keys from keytool, read back through zarvo as the program
// reads them: signing and verifying, key agreement, sealing a mail key.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "keys/crypto_binding.h"
#include "pki.h"
#include "tevqa.h"
#include "zarvo.h"
#include "zarvo/formats.h"
#include "zarvo/pki_fixtures.h"

namespace {

using keytool::Bytes;
using Record = std::array<uint8_t, 768>;

// What the program holds after loading keys from files.
struct LoadedKeys {
  std::array<uint8_t, 256> priv{};
  Record dh{};
  Record pub{};
};

LoadedKeys Load(const Bytes& key_file, const char* password, const Bytes& cert) {
  LoadedKeys k;
  EXPECT_NE(initBPr(key_file.data(), static_cast<int32_t>(key_file.size()), password, k.priv.data(),
                    k.dh.data()),
            0)
      << getErr();
  EXPECT_NE(initBPb(cert.data(), static_cast<int32_t>(cert.size()), k.pub.data()), 0) << getErr();
  if (key_file.size() == 256) k.dh = k.pub;  // a clear file has no record of its own
  return k;
}

class TwoPartiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alice_party_ = qovra_test::MakeParty("Alice");
    bob_party_ = qovra_test::MakeParty("Bob");
    std::string err;
    Bytes alice_file, bob_file;
    ASSERT_TRUE(keytool::KeyFileBytes(alice_party_.keys, "", false, 0, &alice_file, &err)) << err;
    ASSERT_TRUE(keytool::KeyFileBytes(bob_party_.keys, "bob's password", true,
                                      zarvo::kKeyFileMinIterations, &bob_file, &err))
        << err;
    alice_ = Load(alice_file, "", alice_party_.cert);
    bob_ = Load(bob_file, "bob's password", bob_party_.cert);
  }

  qovra_test::Party alice_party_, bob_party_;
  LoadedKeys alice_, bob_;
};

TEST_F(TwoPartiesTest, RecordsReadBackAreTheGeneratedOnes) {
  EXPECT_EQ(alice_.priv, alice_party_.keys.priv);
  EXPECT_EQ(alice_.pub, alice_party_.keys.pub);
  EXPECT_EQ(bob_.pub, bob_party_.keys.pub);
  EXPECT_NE(bob_.dh, bob_.pub);  // bob's file carries a record of its own
}

TEST_F(TwoPartiesTest, OneSignsTheOtherVerifiesWithTheCertificateRecord) {
  const qovra::THashValue hash = qovra::HashString("a mail from alice to bob");
  uint8_t sig[TEVQA_SIGNATURE_SIZE];
  ASSERT_EQ(UZDST_SIGNATURE_generate(hash.data(), alice_.priv.data(), alice_.pub.data(), sig), 1);

  // Bob knows alice only by her certificate.
  Record alice_from_cert{};
  ASSERT_NE(initBPb(alice_party_.cert.data(), static_cast<int32_t>(alice_party_.cert.size()),
                    alice_from_cert.data()),
            0);
  int verdict = 0;
  ASSERT_EQ(UZDST_SIGNATURE_verify(hash.data(), alice_from_cert.data(), sig, &verdict), 1);
  EXPECT_EQ(verdict, 1);

  const qovra::THashValue other = qovra::HashString("a mail from alice to bob!");
  ASSERT_EQ(UZDST_SIGNATURE_verify(other.data(), alice_from_cert.data(), sig, &verdict), 1);
  EXPECT_EQ(verdict, 0);
  ASSERT_EQ(UZDST_SIGNATURE_verify(hash.data(), bob_.pub.data(), sig, &verdict), 1);
  EXPECT_EQ(verdict, 0);
}

TEST_F(TwoPartiesTest, BothAgreeTheSameKey) {
  uint8_t k_alice[64], k_bob[64];
  ASSERT_EQ(
      UZDST_CIPHER_KEY_generate(alice_.priv.data(), alice_.dh.data(), bob_.pub.data(), k_alice), 1);
  ASSERT_EQ(UZDST_CIPHER_KEY_generate(bob_.priv.data(), bob_.dh.data(), alice_.pub.data(), k_bob),
            1);
  EXPECT_EQ(std::memcmp(k_alice, k_bob, 64), 0);
}

TEST_F(TwoPartiesTest, ExponentSealsAndUnsealsAMailKey) {
  std::string mail_key(64, '\0');
  for (size_t i = 0; i < mail_key.size(); ++i) mail_key[i] = static_cast<char>(i * 13 + 1);
  const qovra::THashValue iv = qovra::HashString("0123456789abcdef0123456789abcdef");
  for (const LoadedKeys* k : {&alice_, &bob_}) {
    const std::span<const uint8_t, 64> exponent(k->priv.data(), 64);
    const std::string sealed = qovra::EncryptString(mail_key, iv, exponent);
    ASSERT_EQ(sealed.size(), 65u);  // the 65-byte sealed key of a mail
    EXPECT_EQ(sealed[0], 0);
    EXPECT_EQ(qovra::DecryptString(sealed, iv, exponent), mail_key);
  }
}

}  // namespace
