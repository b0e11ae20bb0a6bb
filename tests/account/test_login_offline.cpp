// The login window offline: the password checked against the settings'
// offline signature with the certificate file's key or the key device's
// (a SoftHSM2 token written by keytool).
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "account/login_test_fixture.h"

namespace qovra_test {
namespace {

constexpr char kOfflinePassword[] = "offline-пароль";

template <size_t N>
bool AllZero(const std::array<uint8_t, N>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

class LoginOfflineTest : public LoginWindowFixture {
 protected:
  void SetUp() override {
    LoginWindowFixture::SetUp();
    qovra::Options.Keys.offpass = OfflineSignature(kOfflinePassword);
    PointAt("127.0.0.1:8480");
  }
  void TryOffline(const QString& password) {
    TfrmLogin& f = Form();
    f.chkOfflineWork->setChecked(true);
    f.chkOfflineWorkClick();
    f.ePassword->setText(password);
    f.btnOKClick();
  }
};

TEST_F(LoginOfflineTest, KeyFilesRightPasswordLogsInOffline) {
  TryOffline(QString::fromUtf8(kOfflinePassword));
  ASSERT_EQ(Form().result(), TfrmLogin::kResultLoggedIn) << testing::PrintToString(Shown());
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_EQ(qovra::Session.State, 2);
  EXPECT_EQ(qovra::Session.Login.str(), "alice");
  EXPECT_EQ(qovra::Session.OwnContact.Email, kAlice);
  EXPECT_EQ(qovra::Session.OwnPublicKey, pki_->User(kAlice).keys.pub);
  EXPECT_EQ(qovra::Session.OfflinePasswordHash,
            qovra::HashString(qovra::Utf8ToCp1251(kOfflinePassword)));
  EXPECT_FALSE(qovra::HandshakeDone) << "offline needs no server";
}

TEST_F(LoginOfflineTest, KeyFilesWrongPasswordShakesAndCounts) {
  TryOffline("wrong password");
  TfrmLogin& f = Form();
  EXPECT_TRUE(f.isVisible());
  EXPECT_EQ(f.LoginFailures(), 1);
  EXPECT_TRUE(f.ePassword->text().isEmpty());
  EXPECT_EQ(f.Timer1->interval(), 50) << "the shake";
  EXPECT_EQ(qovra::Session.State, 0);
  EXPECT_TRUE(AllZero(qovra::Session.OfflinePasswordHash));
  EXPECT_TRUE(ui_->messages.empty());
  // Failures count across online and offline attempts of one window.
  TryOffline("");
  EXPECT_EQ(f.LoginFailures(), 1) << "an empty field is a field check";
  TryOffline("wrong again");
  TryOffline("and again");
  EXPECT_EQ(f.result(), TfrmLogin::kResultCancelled);
}

TEST_F(LoginOfflineTest, RefusedBeforeAnyCheck) {
  // Each would leave no own address of the form login@host: the login
  // (lastlgn) or the host (the server address) is missing.
  const struct {
    const char* what;
    std::string offpass;
    std::string lastlgn;
    std::string srvaddr;
    bool bad_certificate;
    std::string message;
  } rows[] = {
      {"NoSignature", "", "alice", "127.0.0.1:8480", false,
       qovra::GetMsg("msgOnlineLoginRequired")},
      {"ShortSignature", std::string(159, 'x'), "alice", "127.0.0.1:8480", false,
       qovra::GetMsg("msgOnlineLoginRequired")},
      {"NoLastLogin", OfflineSignature(kOfflinePassword), "", "127.0.0.1:8480", false,
       qovra::GetMsg("msgOnlineLoginRequired")},
      {"NoServer", OfflineSignature(kOfflinePassword), "alice", "", false,
       qovra::GetMsg("msgServerURLNotSpecified")},
      {"BadCertificate", OfflineSignature(kOfflinePassword), "alice", "127.0.0.1:8480", true,
       qovra::GetMsg("msgUserCertificateInvalid")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    form_.reset();
    ui_->messages.clear();
    qovra::Options.Keys.offpass = r.offpass;
    qovra::Options.Other.lastlgn = r.lastlgn;
    PointAt(r.srvaddr);
    if (r.srvaddr.empty()) qovra::Options.Conn.ServerUrl.clear();
    if (r.bad_certificate) {
      std::ofstream(dir_.File("bad.cer")) << "not a certificate";
      qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(dir_.File("bad.cer"));
    }
    TryOffline(QString::fromUtf8(kOfflinePassword));
    EXPECT_EQ(Shown(), std::vector<std::string>{r.message});
    EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconWarning);
    EXPECT_EQ(Form().LoginFailures(), 0);
    EXPECT_TRUE(Form().isVisible());
    EXPECT_EQ(qovra::Session.State, 0);
    EXPECT_EQ(qovra::Session.Login.str(), "");
    EXPECT_EQ(qovra::Session.OwnContact.Email, "");
  }
}

class LoginDeviceTest : public LoginOfflineTest {
 protected:
  static constexpr char kPin[] = "4711";

  void SetUp() override {
    LoginOfflineTest::SetUp();
    if (!HaveSoftHsm()) {
      GTEST_SKIP() << "softhsm2-util is not installed: the key-device login is not tested";
    }
    ASSERT_NO_FATAL_FAILURE(MakeAliceToken(dir_, *pki_, kPin));
  }
  void TearDown() override {
    unsetenv("SOFTHSM2_CONF");
    LoginOfflineTest::TearDown();
  }
};

TEST_F(LoginDeviceTest, RightPinAndPasswordLogInOffline) {
  ui_->QueueSecret(std::string(kPin));
  TryOffline(QString::fromUtf8(kOfflinePassword));
  ASSERT_EQ(Form().result(), TfrmLogin::kResultLoggedIn) << testing::PrintToString(Shown());
  ASSERT_EQ(ui_->prompts.size(), 1u);
  EXPECT_EQ(ui_->prompts[0].caption, qovra::GetMsg("msgMurvexPasswordCaption"));
  EXPECT_EQ(ui_->prompts[0].prompt, qovra::GetMsg("msgMurvexPasswordPrompt"));
  EXPECT_EQ(ui_->prompts[0].icon_name, "ico_lock48");
  EXPECT_EQ(qovra::Session.State, 2);
  EXPECT_EQ(qovra::Session.DevicePin, kPin);
  EXPECT_EQ(qovra::Session.OwnPrivateKey, pki_->User(kAlice).keys.priv);
  EXPECT_EQ(qovra::Session.OwnPublicKey, pki_->User(kAlice).keys.pub);
  EXPECT_TRUE(AllZero(qovra::Session.OfflinePasswordHash)) << "the device path keeps no hash";
  EXPECT_EQ(Form().Timer1->interval(), 4);
}

TEST_F(LoginDeviceTest, CachedPinIsNotAskedAgainAndAWrongPasswordDoesNotShake) {
  qovra::Session.DevicePin = kPin;
  TryOffline("wrong password");
  EXPECT_TRUE(ui_->prompts.empty());
  EXPECT_EQ(Form().LoginFailures(), 1);
  EXPECT_NE(Form().Timer1->interval(), 50);
  EXPECT_EQ(qovra::Session.DevicePin, kPin);
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(LoginDeviceTest, CancelledPinChangesNothing) {
  TryOffline(QString::fromUtf8(kOfflinePassword));  // no PIN queued: the prompt is cancelled
  EXPECT_EQ(ui_->prompts.size(), 1u);
  EXPECT_EQ(Form().LoginFailures(), 0);
  EXPECT_TRUE(qovra::Session.DevicePin.empty());
  EXPECT_TRUE(Form().isVisible());
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(LoginDeviceTest, WrongPinIsSaidCountedAndForgotten) {
  ui_->QueueSecret(std::string("0000"));
  TryOffline(QString::fromUtf8(kOfflinePassword));
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgMurvexPasswordIncorrect") + "3"});
  EXPECT_EQ(Form().LoginFailures(), 1);
  EXPECT_TRUE(qovra::Session.DevicePin.empty());
  ui_->QueueSecret(std::string(kPin));
  TryOffline(QString::fromUtf8(kOfflinePassword));
  EXPECT_EQ(Form().result(), TfrmLogin::kResultLoggedIn) << testing::PrintToString(Shown());
  EXPECT_EQ(ui_->prompts.size(), 2u);
}

TEST_F(LoginDeviceTest, NoDevice) {
  setenv("ZARVO_PKCS11_MODULE", dir_.File("no-such-module.so").c_str(), 1);
  TryOffline(QString::fromUtf8(kOfflinePassword));
  unsetenv("ZARVO_PKCS11_MODULE");
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgMurvexNotFound")});
  EXPECT_TRUE(ui_->prompts.empty());
  EXPECT_EQ(Form().LoginFailures(), 0);
}

}  // namespace
}  // namespace qovra_test
