// Key files: the clear 256-byte form and the protected file, with right,
// empty and wrong passwords and damaged bytes.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "pki.h"
#include "zarvo.h"
#include "zarvo/formats.h"
#include "zarvo/key_file_writer.h"
#include "zarvo/pki_fixtures.h"

namespace {

using keytool::Bytes;

constexpr uint32_t kFastIterations = zarvo::kKeyFileMinIterations;

struct Outputs {
  std::array<uint8_t, 256> priv;
  std::array<uint8_t, 768> agreement;
  Outputs() {
    priv.fill(0xEE);
    agreement.fill(0xEE);
  }
  bool Untouched() const {
    for (uint8_t b : priv)
      if (b != 0xEE) return false;
    for (uint8_t b : agreement)
      if (b != 0xEE) return false;
    return true;
  }
};

int Read(const Bytes& file, const char* password, Outputs* out) {
  return initBPr(file.data(), static_cast<int32_t>(file.size()), password, out->priv.data(),
                 out->agreement.data());
}

Bytes Sealed(const keytool::KeyPair& kp, const std::string& password, bool distinct,
             uint32_t iterations = kFastIterations) {
  Bytes file;
  std::string err;
  EXPECT_TRUE(keytool::KeyFileBytes(kp, password, distinct, iterations, &file, &err)) << err;
  return file;
}

class KeyFileTest : public ::testing::Test {
 protected:
  keytool::KeyPair kp_ = qovra_test::LoadKeyPair("alice");
};

TEST_F(KeyFileTest, ClearFileGivesThePrivateRecordAndNoAgreementRecord) {
  const Bytes file(kp_.priv.begin(), kp_.priv.end());
  for (const char* password : {"", "ignored"}) {
    Outputs out;
    ASSERT_NE(Read(file, password, &out), 0);
    EXPECT_EQ(getErr(), 0);
    EXPECT_EQ(out.priv, kp_.priv);
    EXPECT_EQ(out.agreement, (std::array<uint8_t, 768>{}));
  }
}

TEST_F(KeyFileTest, ProtectedFileWithTheRightPassword) {
  // The default count once, the fast one elsewhere.
  const Bytes file = Sealed(kp_, "correct horse", false, zarvo::kKeyFileDefaultIterations);
  ASSERT_EQ(file.size(), zarvo::kKeyFileSize);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "QPRK");
  Outputs out;
  ASSERT_NE(Read(file, "correct horse", &out), 0) << getErr();
  EXPECT_EQ(out.priv, kp_.priv);
  EXPECT_EQ(out.agreement, kp_.pub);
}

TEST_F(KeyFileTest, DistinctAgreementRecordAgreesWhereKeyAgreementLooks) {
  Outputs out;
  ASSERT_NE(Read(Sealed(kp_, "pw", true), "pw", &out), 0);
  EXPECT_NE(out.agreement, kp_.pub);
  const auto same = [&](size_t from, size_t to) {
    return std::memcmp(out.agreement.data() + from, kp_.pub.data() + from, to - from) == 0;
  };
  EXPECT_TRUE(same(0, 160));
  EXPECT_TRUE(same(288, 416));
  EXPECT_TRUE(same(448, 480));
  EXPECT_FALSE(same(480, 512));
}

TEST_F(KeyFileTest, MissingOrWrongPasswordIsCodeThreeAndFillsNothing) {
  const Bytes file = Sealed(kp_, "secret", false);
  for (const char* password : {"", "Secret", "secret ", "wrong"}) {
    Outputs out;
    EXPECT_EQ(Read(file, password, &out), 0) << password;
    EXPECT_EQ(getErr(), ZARVO_ERR_PASSWORD) << password;
    EXPECT_TRUE(out.Untouched()) << password;
  }
}

TEST_F(KeyFileTest, DamagedFiles) {
  const Bytes good = Sealed(kp_, "secret", false);
  struct Row {
    const char* what;
    Bytes file;
    int code;
  };
  std::vector<Row> rows = {
      {"Empty", {}, ZARVO_ERR_KEY_FILE},
      {"Clear255", Bytes(kp_.priv.begin(), kp_.priv.end() - 1), ZARVO_ERR_KEY_FILE},
      {"Clear257", Bytes(257, 1), ZARVO_ERR_KEY_FILE},
      {"TruncatedByOne", Bytes(good.begin(), good.end() - 1), ZARVO_ERR_KEY_FILE},
      {"OneByteAdded",
       [&] {
         Bytes b = good;
         b.push_back(0);
         return b;
       }(),
       ZARVO_ERR_KEY_FILE},
  };
  // One flipped byte in each field. Header fields that are checked before
  // decryption give code 2; the rest fails the tag, which cannot be told
  // from a wrong password.
  const struct {
    const char* what;
    size_t offset;
    int code;
  } flips[] = {
      {"Magic", 0, ZARVO_ERR_KEY_FILE},
      {"Version", 4, ZARVO_ERR_KEY_FILE},
      {"Reserved", 6, ZARVO_ERR_KEY_FILE},
      {"IterationsOutOfRange", 8, ZARVO_ERR_KEY_FILE},
      {"IterationsInRange", 11, ZARVO_ERR_PASSWORD},
      {"Salt", 12, ZARVO_ERR_PASSWORD},
      {"Nonce", 30, ZARVO_ERR_PASSWORD},
      {"CipherFirst", 40, ZARVO_ERR_PASSWORD},
      {"CipherMiddle", 600, ZARVO_ERR_PASSWORD},
      {"Tag", 1064, ZARVO_ERR_PASSWORD},
      {"LastByte", 1079, ZARVO_ERR_PASSWORD},
  };
  for (const auto& f : flips) {
    Bytes b = good;
    b[f.offset] ^= 0x01;
    rows.push_back({f.what, b, f.code});
  }
  for (const auto& r : rows) {
    Outputs out;
    EXPECT_EQ(Read(r.file, "secret", &out), 0) << r.what;
    EXPECT_EQ(getErr(), r.code) << r.what;
    EXPECT_TRUE(out.Untouched()) << r.what;
  }
}

TEST_F(KeyFileTest, NullArgumentsAndRefusedSealing) {
  const Bytes file(kp_.priv.begin(), kp_.priv.end());
  Outputs out;
  EXPECT_EQ(initBPr(nullptr, 256, "", out.priv.data(), out.agreement.data()), 0);
  EXPECT_EQ(getErr(), ZARVO_ERR_ARGUMENT);
  EXPECT_EQ(initBPr(file.data(), 256, nullptr, out.priv.data(), out.agreement.data()), 0);
  EXPECT_EQ(getErr(), ZARVO_ERR_ARGUMENT);
  EXPECT_EQ(initBPr(file.data(), -256, "", out.priv.data(), out.agreement.data()), 0);
  EXPECT_EQ(getErr(), ZARVO_ERR_ARGUMENT);
  EXPECT_TRUE(out.Untouched());

  Bytes sealed;
  EXPECT_FALSE(zarvo::SealKeyFile(kp_.priv.data(), kp_.pub.data(), "", kFastIterations, &sealed));
  EXPECT_FALSE(zarvo::SealKeyFile(kp_.priv.data(), kp_.pub.data(), "pw",
                                  zarvo::kKeyFileMinIterations - 1, &sealed));
  EXPECT_TRUE(sealed.empty());
}

}  // namespace
