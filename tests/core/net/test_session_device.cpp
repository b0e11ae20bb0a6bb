// Loading the user's keys from the key device: a SoftHSM2 token made in a
// scratch folder and written by keytool, reached through p11-kit.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/net/session_test_fixture.h"
#include "net/session_setup.h"

namespace {

using qovra_test::ClientParty;

constexpr char kPin[] = "4711";
constexpr char kTokenLabel[] = "qovra-session-test";

int Shell(const std::string& cmd) {
  return std::system((cmd + " >/dev/null 2>&1").c_str());
}

class DeviceKeysTest : public qovra_test::SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    if (Shell("softhsm2-util --version") != 0) GTEST_SKIP() << "softhsm2-util is not installed";
    std::filesystem::create_directory(dir_.File("tokens"));
    std::ofstream(dir_.File("softhsm2.conf"))
        << "directories.tokendir = " << dir_.File("tokens") << "\n"
        << "objectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n";
    setenv("SOFTHSM2_CONF", dir_.File("softhsm2.conf").c_str(), 1);
    ASSERT_EQ(Shell(std::string("softhsm2-util --init-token --free --label ") + kTokenLabel +
                    " --pin " + kPin + " --so-pin 87654321"),
              0);
    WriteProtectedKeyFile("file password");
    ASSERT_EQ(Shell(std::string(QOVRA_BIN_DIR) + "/keytool token --token-label " + kTokenLabel +
                    " --pin " + kPin + " --keyfile " + KeyFile() + " --cert " + CertFile() +
                    " --password 'file password'"),
              0);
    qovra::Options.Keys.keyssrc = 1;
    // The device needs no key files.
    qovra::Options.Keys.crtpath.clear();
    qovra::Options.Keys.pvkpath.clear();
  }
  void TearDown() override {
    unsetenv("SOFTHSM2_CONF");
    unsetenv("ZARVO_PKCS11_MODULE");
    SessionFixture::TearDown();
  }
};

TEST_F(DeviceKeysTest, RightPinLoadsTheRecordsAndIsCached) {
  ui_->QueueSecret(std::string(kPin));
  ASSERT_TRUE(qovra::LoadUserKeys(owner_)) << testing::PrintToString(Shown());
  ASSERT_EQ(ui_->prompts.size(), 1u);
  EXPECT_EQ(ui_->prompts[0].caption, qovra::GetMsg("msgMurvexPasswordCaption"));
  EXPECT_EQ(ui_->prompts[0].prompt, qovra::GetMsg("msgMurvexPasswordPrompt"));
  EXPECT_EQ(ui_->prompts[0].icon_name, "ico_murvex_password48");
  EXPECT_EQ(qovra::Session.DevicePin, kPin);
  EXPECT_EQ(qovra::Session.OwnPrivateKey, ClientParty().Priv());
  EXPECT_EQ(qovra::Session.OwnPublicKey, ClientParty().Pub());
  EXPECT_NE(qovra::Session.OwnDhKey, qovra::Session.OwnPublicKey);

  // The device was closed; the next request opens it again without asking.
  ASSERT_TRUE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(ui_->prompts.size(), 1u);
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(DeviceKeysTest, WrongPinIsShownWithTheCodeAndForgotten) {
  ui_->QueueSecret(std::string("0000"));
  EXPECT_FALSE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgMurvexPasswordIncorrect") + "3"});
  EXPECT_TRUE(qovra::Session.DevicePin.empty());
  ui_->QueueSecret(std::string(kPin));
  EXPECT_TRUE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(ui_->prompts.size(), 2u);
}

TEST_F(DeviceKeysTest, CancelledPinSaysNothing) {
  EXPECT_FALSE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(ui_->prompts.size(), 1u);
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_TRUE(qovra::Session.DevicePin.empty());
}

TEST_F(DeviceKeysTest, NoDevice) {
  setenv("ZARVO_PKCS11_MODULE", dir_.File("no-such-module.so").c_str(), 1);
  qovra::Session.DevicePin = kPin;
  EXPECT_FALSE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(Shown(), Only("msgMurvexNotFound"));
  EXPECT_TRUE(ui_->prompts.empty());
}

}  // namespace
