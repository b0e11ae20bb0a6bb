// The key device on a SoftHSM2 token made in a scratch folder, reached
// through p11-kit-proxy (which loads SoftHSM2 by its p11-kit module file)
// and written by the keytool program.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <string>

#include "pki.h"
#include "zarvo.h"
#include "zarvo/formats.h"
#include "zarvo/p11.h"
#include "zarvo/pki_fixtures.h"

namespace {

using keytool::Bytes;
using qovra_test::TempDir;

constexpr char kPin[] = "4711";
constexpr char kSoPin[] = "87654321";
constexpr char kTokenLabel[] = "qovra-test";

int Shell(const std::string& cmd) {
  return std::system((cmd + " >/dev/null 2>&1").c_str());
}

std::string Keytool() {
  return std::string(QOVRA_BIN_DIR) + "/keytool";
}

struct Records {
  std::array<uint8_t, 256> priv;
  std::array<uint8_t, 768> dh;
  std::array<uint8_t, 768> pub;
  Records() {
    priv.fill(0xEE);
    dh.fill(0xEE);
    pub.fill(0xEE);
  }
  bool Untouched() const { return priv[0] == 0xEE && dh[0] == 0xEE && pub[767] == 0xEE; }
};

int ReadDevice(const char* pin, Records* r) {
  return initDPr(pin, r->priv.data(), r->dh.data(), r->pub.data());
}

// A SoftHSM2 configuration of its own; SOFTHSM2_CONF points at it while the
// object lives.
class SoftHsm {
 public:
  SoftHsm() {
    std::filesystem::create_directory(dir_.File("tokens"));
    std::ofstream(dir_.File("softhsm2.conf"))
        << "directories.tokendir = " << dir_.File("tokens") << "\n"
        << "objectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n";
    setenv("SOFTHSM2_CONF", dir_.File("softhsm2.conf").c_str(), 1);
  }
  ~SoftHsm() { unsetenv("SOFTHSM2_CONF"); }

  bool InitToken(const std::string& label) {
    return Shell(std::string("softhsm2-util --init-token --free --label ") + label + " --pin " +
                 kPin + " --so-pin " + kSoPin) == 0;
  }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
};

class TokenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("softhsm2-util --version") != 0) GTEST_SKIP() << "softhsm2-util is not installed";
    // An initialised token of someone else, then ours.
    ASSERT_TRUE(hsm_.InitToken("someone-else"));
    ASSERT_TRUE(hsm_.InitToken(kTokenLabel));
    party_ = qovra_test::MakeParty("Token Owner");
    std::string err;
    ASSERT_TRUE(keytool::KeyFileBytes(party_.keys, "file password", true,
                                      zarvo::kKeyFileMinIterations, &key_file_, &err))
        << err;
    ASSERT_EQ(WriteToken(party_, key_file_, "file password"), 0);
  }
  void TearDown() override { closeDev(); }

  int WriteToken(const qovra_test::Party& p, const Bytes& key_file, const std::string& password) {
    qovra_test::WriteAll(hsm_.dir().File("user.prk"), key_file);
    qovra_test::WriteAll(hsm_.dir().File("user.cer"), p.cert);
    return Shell(Keytool() + " token --token-label " + kTokenLabel + " --pin " + kPin +
                 " --keyfile " + hsm_.dir().File("user.prk") + " --cert " +
                 hsm_.dir().File("user.cer") + " --password '" + password + "'");
  }

  // The records the key file holds.
  std::array<uint8_t, 768> FileAgreementRecord() {
    std::array<uint8_t, 256> priv{};
    std::array<uint8_t, 768> dh{};
    EXPECT_NE(initBPr(key_file_.data(), static_cast<int32_t>(key_file_.size()), "file password",
                      priv.data(), dh.data()),
              0);
    return dh;
  }

  SoftHsm hsm_;
  qovra_test::Party party_;
  Bytes key_file_;
};

TEST_F(TokenTest, RightPinReadsTheThreeRecords) {
  ASSERT_NE(initDev(), 0) << getErr();
  Records r;
  ASSERT_NE(ReadDevice(kPin, &r), 0) << getErr();
  EXPECT_EQ(r.priv, party_.keys.priv);
  EXPECT_EQ(r.pub, party_.keys.pub);
  EXPECT_EQ(r.dh, FileAgreementRecord());
  EXPECT_NE(r.dh, r.pub);
  closeDev();
  // Opening again after closing works the same.
  ASSERT_NE(initDev(), 0) << getErr();
  Records again;
  ASSERT_NE(ReadDevice(kPin, &again), 0) << getErr();
  EXPECT_EQ(again.priv, r.priv);
}

TEST_F(TokenTest, WrongOrEmptyPinFillsNothing) {
  ASSERT_NE(initDev(), 0) << getErr();
  for (const char* pin : {"0000", "47110", ""}) {
    Records r;
    EXPECT_EQ(ReadDevice(pin, &r), 0) << pin;
    EXPECT_EQ(getErr(), ZARVO_ERR_PASSWORD) << pin;
    EXPECT_TRUE(r.Untouched()) << pin;
  }
  // The right PIN still works afterwards.
  Records r;
  EXPECT_NE(ReadDevice(kPin, &r), 0) << getErr();
}

TEST_F(TokenTest, ReadWithoutOpenDevice) {
  closeDev();
  Records r;
  EXPECT_EQ(ReadDevice(kPin, &r), 0);
  EXPECT_EQ(getErr(), ZARVO_ERR_DEVICE_NOT_OPEN);
  EXPECT_TRUE(r.Untouched());
}

TEST_F(TokenTest, WithoutLoginOnlyTheMarkerIsVisible) {
  std::string err;
  auto module = zarvo::P11Module::Open(zarvo::ModulePathFromEnvironment(), &err);
  ASSERT_TRUE(module) << err;
  std::vector<CK_SLOT_ID> slots;
  ASSERT_TRUE(module->SlotsWithToken(&slots));
  int seen = 0;
  for (CK_SLOT_ID slot : slots) {
    if (module->TokenLabel(slot) != kTokenLabel) continue;
    ++seen;
    CK_RV rv = CKR_OK;
    auto session = zarvo::P11Session::Open(*module, slot, false, &rv);
    ASSERT_TRUE(session) << rv;
    std::vector<CK_OBJECT_HANDLE> objects;
    ASSERT_EQ(session->FindAll(100, &objects), CKR_OK);
    ASSERT_EQ(objects.size(), 1u);
    uint8_t value[64];
    size_t n = 0;
    ASSERT_EQ(session->ReadValue(objects[0], value, sizeof value, &n), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(value), n), zarvo::kTokenMarkerValue);
    bool is_private = true;
    ASSERT_EQ(session->ReadBool(objects[0], CKA_PRIVATE, &is_private), CKR_OK);
    EXPECT_FALSE(is_private);
  }
  EXPECT_EQ(seen, 1);
}

TEST_F(TokenTest, WritingAgainReplacesTheRecords) {
  const qovra_test::Party other = qovra_test::MakeParty("Second Owner");
  const Bytes clear(other.keys.priv.begin(), other.keys.priv.end());
  ASSERT_EQ(WriteToken(other, clear, ""), 0);
  ASSERT_NE(initDev(), 0) << getErr();
  Records r;
  ASSERT_NE(ReadDevice(kPin, &r), 0) << getErr();
  EXPECT_EQ(r.priv, other.keys.priv);
  EXPECT_EQ(r.pub, other.keys.pub);
  EXPECT_EQ(r.dh, other.keys.pub);  // a clear key file: the certificate's record
}

TEST_F(TokenTest, DoubledRecordIsRefused) {
  {
    std::string err;
    auto module = zarvo::P11Module::Open(zarvo::ModulePathFromEnvironment(), &err);
    ASSERT_TRUE(module) << err;
    std::vector<CK_SLOT_ID> slots;
    ASSERT_TRUE(module->SlotsWithToken(&slots));
    bool written = false;
    for (CK_SLOT_ID slot : slots) {
      if (module->TokenLabel(slot) != kTokenLabel) continue;
      CK_RV rv = CKR_OK;
      auto session = zarvo::P11Session::Open(*module, slot, true, &rv);
      ASSERT_TRUE(session) << rv;
      ASSERT_EQ(session->Login(kPin), CKR_OK);
      const std::array<uint8_t, 256> junk{};
      ASSERT_EQ(session->CreateData(zarvo::kTokenPrivateLabel, zarvo::kTokenApplication, true,
                                    junk.data(), junk.size()),
                CKR_OK);
      written = true;
    }
    ASSERT_TRUE(written);
  }
  ASSERT_NE(initDev(), 0) << getErr();
  Records r;
  EXPECT_EQ(ReadDevice(kPin, &r), 0);
  EXPECT_EQ(getErr(), ZARVO_ERR_DEVICE_RECORDS);
  EXPECT_TRUE(r.Untouched());
}

TEST(NoTokenTest, NoMarkedTokenMeansNoDevice) {
  if (Shell("softhsm2-util --version") != 0) GTEST_SKIP() << "softhsm2-util is not installed";
  {
    SoftHsm hsm;  // only SoftHSM2's free slot
    EXPECT_EQ(initDev(), 0);
    EXPECT_EQ(getErr(), ZARVO_ERR_NO_DEVICE);
  }
  {
    SoftHsm hsm;
    ASSERT_TRUE(hsm.InitToken("unmarked"));  // a token, but not ours
    EXPECT_EQ(initDev(), 0);
    EXPECT_EQ(getErr(), ZARVO_ERR_NO_DEVICE);
  }
  setenv("ZARVO_PKCS11_MODULE", "/nonexistent/module.so", 1);
  EXPECT_EQ(initDev(), 0);
  EXPECT_EQ(getErr(), ZARVO_ERR_NO_DEVICE);
  unsetenv("ZARVO_PKCS11_MODULE");
  closeDev();  // nothing open: harmless
}

}  // namespace
