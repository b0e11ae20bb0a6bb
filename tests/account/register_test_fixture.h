// Registration and recovery against the local exchange server: alice has
// an account; every test gets a fresh user whose certificate the server
// knows but whose account does not exist yet, with that user's key files in
// the settings.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QStringList>
#include <memory>
#include <string>

#include "base/messages.h"
#include "base/records.h"
#include "commands/login_command.h"
#include "net/server_request.h"
#include "qovra/account/forget_window.h"
#include "qovra/account/register_window.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/edit_ex.h"
#include "seam/fake_ui.h"
#include "server/exchange_pki.h"
#include "settings/settings.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "support/scratch_dir.h"

namespace qovra_test {

inline constexpr char kSeededUser[] = "alice@127.0.0.1";
inline constexpr char kSeededPassword[] = "alice-secret";

// What a user types into the registration form.
struct Registration {
  QString first = QStringLiteral("Олма");
  QString last = QStringLiteral("Нок");
  QString login;  // empty: the proposal stays
  QString password = QStringLiteral("Secret-1");
  QString confirm;  // null: the password again
  int question = 2;
  QString answer = QStringLiteral("Murka the cat");
};

class AccountServerFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new ExchangePki;
    pki_->AddUserWithKeyFile(kSeededUser);
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    qovra::InitAppSettings(dir_.File("qovra"), {dir_.File("qovra.xml"), "", true});
    qovra::Options = qovra::TOptions{};
    qovra::Options.langid = 1;
    qovra::Options.Conn.useiewc = 1;
    static int users = 0;
    login_ = "user" + std::to_string(++users);
    address_ = login_ + "@127.0.0.1";
    pki_->AddUserWithKeyFile(address_);
    UseKeys(address_);
    PointAt("127.0.0.1:1");
  }
  void TearDown() override {
    qovra::ui::HideBalloon();
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    qovra::Options = qovra::TOptions{};
    qovra::ClearMsgTable();
  }

  void PointAt(const std::string& srvaddr) {
    qovra::Options.Conn.srvaddr = srvaddr;
    qovra::Options.Conn.ServerUrl = "http://" + srvaddr + "/qovra4/";
  }

  // The key files of address; a new session is needed for them.
  void UseKeys(const std::string& address) {
    UseKeyFilesOf(*pki_, address);
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
  }

  void StartServer() {
    ExchangeServerOptions o = pki_->Options();
    o.seed_accounts = {std::string(kSeededUser) + ":" + kSeededPassword};
    o.test_commands = true;
    ASSERT_TRUE(server_.Start(o)) << server_.error();
    PointAt("127.0.0.1:" + std::to_string(server_.Port()));
  }

  // A registration form with the question list of the language file.
  static std::unique_ptr<TfrmRegister> NewRegisterForm() {
    auto f = std::make_unique<TfrmRegister>();
    if (f->cbSecurityQuestion->count() == 0) {
      f->cbSecurityQuestion->addItems({QStringLiteral("?"), QStringLiteral("q1"),
                                       QStringLiteral("q2"), QStringLiteral("q3"),
                                       QStringLiteral("q4"), QStringLiteral("q5")});
    }
    f->eDomain->setText(QString::fromStdString(qovra::Options.Conn.srvaddr));
    f->show();
    return f;
  }

  static void Fill(TfrmRegister& f, const Registration& r) {
    f.eFirstName->setText(r.first);
    f.eLastName->setText(r.last);
    if (!r.login.isNull()) f.eLogin->setText(r.login);
    f.ePassword->setText(r.password);
    f.eConfirmPassword->setText(r.confirm.isNull() ? r.password : r.confirm);
    f.cbSecurityQuestion->setCurrentIndex(r.question);
    f.eAnswer->setText(r.answer);
  }

  // Registers the fixture's user through the form; true on result 1.
  bool RegisterUser(const QString& password, const QString& answer) {
    auto f = NewRegisterForm();
    Registration r;
    r.login = QString::fromStdString(login_);
    r.password = password;
    r.answer = answer;
    Fill(*f, r);
    f->btnOKClick();
    return f->result() == TfrmRegister::kResultRegistered;
  }

  // A login with the session's current keys, in a fresh session.
  int LogIn(const std::string& login, const std::string& password) {
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    return qovra::LoginSession(login, password, qovra::TLoginRequestForm{});
  }

  std::vector<std::string> Shown() { return ui_->ShownTexts(); }

  static ExchangePki* pki_;
  qovra::testing::ScopedFakeUi ui_;
  qovra::testing::ScratchDir dir_;
  ExchangeServer server_;
  std::string login_;
  std::string address_;
};

inline ExchangePki* AccountServerFixture::pki_ = nullptr;

}  // namespace qovra_test
