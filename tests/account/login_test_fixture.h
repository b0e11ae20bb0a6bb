// The login window against the local exchange server: a user alice with a
// clear key file and a certificate, a scratch settings file, and the fake
// window seam for messages, prompts and the settings dialog.
#pragma once

#include <gtest/gtest.h>
#include <tevqa.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "base/cp1251.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "keys/crypto_binding.h"
#include "net/server_request.h"
#include "qovra/account/login_window.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/web_link.h"
#include "seam/fake_ui.h"
#include "server/exchange_pki.h"
#include "settings/settings.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "support/scratch_dir.h"

namespace qovra_test {

inline constexpr char kAlice[] = "alice@127.0.0.1";
inline constexpr char kAlicePassword[] = "alice-secret";

class LoginWindowFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new ExchangePki;
    pki_->AddUserWithKeyFile(kAlice);
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    qovra::InitAppSettings(dir_.File("qovra"), SettingsPaths());
    qovra::Options = qovra::TOptions{};
    qovra::Options.langid = 1;
    qovra::Options.Conn.useiewc = 1;
    qovra_test::UseKeyFilesOf(*pki_, kAlice);
    qovra::Options.Other.lastlgn = "alice";
    PointAt("127.0.0.1:1");
  }
  void TearDown() override {
    form_.reset();
    qovra::ui::HideBalloon();
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    qovra::Options = qovra::TOptions{};
    qovra::ClearMsgTable();
  }

  qovra::TSettingsPaths SettingsPaths() const { return {dir_.File("qovra.xml"), "", true}; }

  void PointAt(const std::string& srvaddr) {
    qovra::Options.Conn.srvaddr = srvaddr;
    qovra::Options.Conn.ServerUrl = "http://" + srvaddr + "/qovra4/";
  }

  // Starts the exchange server with alice's account and points the
  // settings at it.
  void StartServer() {
    ExchangeServerOptions o = pki_->Options();
    o.seed_accounts = {std::string(kAlice) + ":" + kAlicePassword};
    o.test_commands = true;
    ASSERT_TRUE(server_.Start(o)) << server_.error();
    PointAt("127.0.0.1:" + std::to_string(server_.Port()));
  }

  // A shown login window filled from the settings.
  TfrmLogin& Form() {
    if (!form_) {
      form_ = std::make_unique<TfrmLogin>();
      form_->SetUsLayoutSwitch([this] { ++layout_switches_; });
      form_->RefreshFromOptions(false);
      form_->show();
    }
    return *form_;
  }

  // Types login and password and presses OK.
  void TryLogin(const QString& login, const QString& password) {
    TfrmLogin& f = Form();
    f.eLogin->setText(login);
    f.ePassword->setText(password);
    f.btnOKClick();
  }

  // The offline password signature of password for alice (what an online
  // login leaves in the settings).
  static std::string OfflineSignature(const std::string& password_utf8) {
    const qovra::THashValue hash = qovra::HashString(qovra::Utf8ToCp1251(password_utf8));
    const Party& alice = pki_->User(kAlice);
    std::string signature(160, '\0');
    EXPECT_EQ(UZDST_SIGNATURE_generate(hash.data(), alice.keys.priv.data(), alice.keys.pub.data(),
                                       signature.data()),
              1);
    return signature;
  }

  std::vector<std::string> Shown() { return ui_->ShownTexts(); }

  static ExchangePki* pki_;
  qovra::testing::ScopedFakeUi ui_;
  qovra::testing::ScratchDir dir_;
  ExchangeServer server_;
  std::unique_ptr<TfrmLogin> form_;
  int layout_switches_ = 0;
};

inline ExchangePki* LoginWindowFixture::pki_ = nullptr;

// Runs cmd through the shell with its output hidden; its exit status.
inline int Shell(const std::string& cmd) {
  return std::system((cmd + " >/dev/null 2>&1").c_str());
}

inline bool HaveSoftHsm() {
  return Shell("softhsm2-util --version") == 0;
}

// A SoftHSM2 token in dir holding alice's keys (SOFTHSM2_CONF points at it
// until the caller unsets it); the settings take their keys from the key
// device (keyssrc 1) and name no key files. REQUIRES: HaveSoftHsm().
inline void MakeAliceToken(const qovra::testing::ScratchDir& dir, const ExchangePki& pki,
                           const std::string& pin) {
  std::filesystem::create_directory(dir.File("tokens"));
  std::ofstream(dir.File("softhsm2.conf"))
      << "directories.tokendir = " << dir.File("tokens") << "\n"
      << "objectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n";
  setenv("SOFTHSM2_CONF", dir.File("softhsm2.conf").c_str(), 1);
  ASSERT_EQ(Shell("softhsm2-util --init-token --free --label qovra-login-test --pin " + pin +
                  " --so-pin 87654321"),
            0);
  ASSERT_EQ(Shell(std::string(QOVRA_BIN_DIR) +
                  "/keytool token --token-label qovra-login-test --pin " + pin + " --keyfile " +
                  pki.File(std::string(kAlice) + ".prk") + " --cert " + pki.CertPath(kAlice)),
            0);
  qovra::Options.Keys.keyssrc = 1;
  qovra::Options.Keys.crtpath.clear();
  qovra::Options.Keys.pvkpath.clear();
}

}  // namespace qovra_test
