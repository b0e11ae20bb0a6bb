// The login window online: field checks, a login filling the session, the
// failure count, the silent refusal with its shake, and the fade-in.
#include <sys/stat.h>

#include <QTimer>
#include <vector>

#include "account/login_test_fixture.h"
#include "base/messages.h"
#include "base/version.h"
#include "commands/login_command.h"
#include "net/session_setup.h"
#include "qovra/account/login_dialog_ui.h"
#include "qovra/ui/widgets.h"

namespace qovra_test {
namespace {

using qovra::ui::CurrentBalloon;
using qovra::ui::TBalloonIcon;

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class LoginOnlineTest : public LoginWindowFixture {};

TEST_F(LoginOnlineTest, FieldChecksStopBeforeTheServer) {
  const QString placeholder = QString::fromStdString(qovra::GetMsg("msgLogin"));
  const struct {
    const char* what;
    QString login;
    QString password;
    const char* key;  // the balloon's text key
    bool on_login;    // the balloon points at the login field
  } rows[] = {
      {"EmptyLogin", "", "secret", "msgLoginNotSpecified", true},
      {"PlaceholderAsLogin", placeholder.toUpper(), "secret", "msgLoginNotSpecified", true},
      {"EmptyPassword", "alice", "", "msgPasswordNotSpecified", false},
      {"ThreeCharacters", "alice", "abc", "msgPasswordLengthMismatch", false},
      // Three Cyrillic letters are three bytes of 8-bit text (six of UTF-8).
      {"ThreeCyrillicCharacters", "alice", QStringLiteral("пар"), "msgPasswordLengthMismatch",
       false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    qovra::ui::HideBalloon();
    TryLogin(r.login, r.password);
    TfrmLogin& f = Form();
    const auto balloon = CurrentBalloon();
    ASSERT_TRUE(balloon.has_value());
    EXPECT_EQ(balloon->field, r.on_login ? static_cast<QWidget*>(f.eLogin) : f.ePassword);
    EXPECT_EQ(balloon->text.toStdString(), qovra::GetMsg(r.key));
    EXPECT_EQ(balloon->title, f.windowTitle());
    EXPECT_EQ(balloon->icon, TBalloonIcon::Warning);
    EXPECT_EQ(f.LoginFailures(), 0);
    EXPECT_TRUE(f.isVisible());
  }
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_FALSE(qovra::HandshakeDone) << "no request went out";
}

TEST_F(LoginOnlineTest, LoginFieldTakesOnlyLoginCharacters) {
  TfrmLogin& f = Form();
  EXPECT_EQ(f.eLogin->maxLength(), 32);
  const auto msg = [](const char* key) { return QString::fromStdString(qovra::GetMsg(key)); };
  EXPECT_EQ(f.eLogin->CharErrorTitle(), msg("msgLoginCharErrorTitle"));
  EXPECT_EQ(f.eLogin->PasteErrorTitle(), msg("msgLoginPasteErrorTitle"));
  EXPECT_EQ(f.eLogin->CharErrorText(), msg("msgLoginCharErrorText"));
  EXPECT_EQ(f.eLogin->PasteErrorText(), msg("msgLoginPasteErrorText"));
  f.eLogin->clear();
  f.eLogin->setFocus();
  QTest::keyClicks(f.eLogin, QStringLiteral("a.b_c-9 !"));
  EXPECT_EQ(f.eLogin->text(), QStringLiteral("a.b_c-9"));
  const auto balloon = CurrentBalloon();
  ASSERT_TRUE(balloon.has_value());
  EXPECT_EQ(balloon->title, msg("msgLoginCharErrorTitle"));
}

TEST_F(LoginOnlineTest, SuccessFillsTheSessionAndWritesTheOfflineSignatureOnce) {
  StartServer();
  qovra::Session.MaxUploadSize = 99;
  TryLogin("alice", kAlicePassword);
  ASSERT_EQ(Form().result(), TfrmLogin::kResultLoggedIn) << testing::PrintToString(Shown());
  EXPECT_FALSE(Form().isVisible());
  EXPECT_TRUE(ui_->messages.empty());

  const Party& alice = pki_->User(kAlice);
  const qovra::THashValue hash = qovra::HashString(kAlicePassword);
  EXPECT_EQ(qovra::Session.State, 1);
  EXPECT_EQ(qovra::Session.Login.str(), "alice");
  EXPECT_EQ(qovra::Session.Host.str(), "127.0.0.1");
  EXPECT_EQ(qovra::Session.OwnContact.Email, kAlice);
  EXPECT_EQ(qovra::Session.OnlinePasswordHash, hash);
  EXPECT_EQ(qovra::Session.Certificate, ToString(alice.cert));
  EXPECT_EQ(qovra::Session.MaxUploadSize, 0);
  EXPECT_TRUE(qovra::HandshakeDone);
  EXPECT_EQ(qovra::CurrentVersionCode, qovra::VersionToInt(qovra::ClientVersionString()));

  // The offline password signature: made, saved, and valid for the password.
  ASSERT_EQ(qovra::Options.Keys.offpass.size(), 160u);
  int verdict = 0;
  EXPECT_EQ(UZDST_SIGNATURE_verify(hash.data(), alice.keys.pub.data(),
                                   qovra::Options.Keys.offpass.data(), &verdict),
            1);
  EXPECT_EQ(verdict, 1);
  const std::string offpass = qovra::Options.Keys.offpass;
  const std::string file = SettingsPaths().file;
  const std::string saved = qovra::testing::ScratchDir::Read(file);
  const ino_t inode = InodeOf(file);
  qovra::Options.Keys.offpass.clear();
  qovra::LoadOptions();
  EXPECT_EQ(qovra::Options.Keys.offpass, offpass);

  // A second login leaves the signature and the settings file alone.
  form_.reset();
  qovra::Session.Clear();
  qovra::HandshakeDone = false;
  TryLogin("alice", kAlicePassword);
  ASSERT_EQ(Form().result(), TfrmLogin::kResultLoggedIn);
  EXPECT_EQ(qovra::Options.Keys.offpass, offpass);
  EXPECT_EQ(qovra::testing::ScratchDir::Read(file), saved);
  EXPECT_EQ(InodeOf(file), inode);
}

TEST_F(LoginOnlineTest, ThirdWrongPasswordClosesWithTwo) {
  StartServer();
  for (int attempt = 1; attempt <= 3; ++attempt) {
    SCOPED_TRACE(attempt);
    TryLogin("alice", "wrong-password");
    EXPECT_EQ(Form().LoginFailures(), attempt);
    EXPECT_TRUE(Form().ePassword->text().isEmpty());
    EXPECT_EQ(Form().isVisible(), attempt < 3);
  }
  EXPECT_EQ(Form().result(), TfrmLogin::kResultCancelled);
  EXPECT_TRUE(ui_->messages.empty()) << "refusals pass silently";
  EXPECT_EQ(qovra::Session.State, 0);
  EXPECT_TRUE(qovra::Options.Keys.offpass.empty());
}

TEST_F(LoginOnlineTest, UnreachableServerIsReportedButCountsNoAttempt) {
  // The settings point at a closed port: no session can be agreed, so no
  // login request is ever made.
  for (int attempt = 1; attempt <= 4; ++attempt) {
    SCOPED_TRACE(attempt);
    ui_->messages.clear();
    TryLogin("alice", kAlicePassword);
    EXPECT_FALSE(ui_->messages.empty()) << "the failed connection is reported";
    EXPECT_EQ(Form().LoginFailures(), 0);
    EXPECT_EQ(Form().ePassword->text(), kAlicePassword) << "the password stays for a retry";
    EXPECT_TRUE(Form().isVisible());
  }
  EXPECT_EQ(qovra::Session.State, 0);
  EXPECT_FALSE(qovra::HandshakeDone);
}

TEST_F(LoginOnlineTest, RefusalIsSilentAndShakesOtherCodesAreShownWithoutShake) {
  StartServer();
  TfrmLogin& f = Form();
  const int home = f.x();
  // The session exists, so the fault meets the login request itself.
  ASSERT_TRUE(qovra::ServerHandshake(qovra::ui::HandleOf(&f), false));
  ASSERT_TRUE(server_.SetFault("once:plain:3"));
  TryLogin("alice", kAlicePassword);  // the right password, refused by the fault
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_EQ(f.LoginFailures(), 1);
  ASSERT_TRUE(f.Timer1->isActive());
  EXPECT_EQ(f.Timer1->interval(), 50);
  EXPECT_EQ(f.HomeLeft(), home);
  std::vector<int> lefts;
  while (f.Timer1->isActive()) {
    f.Timer1Timer();
    lefts.push_back(f.x());
  }
  EXPECT_EQ(lefts, (std::vector<int>{home - 5, home + 5, home - 5, home + 5, home}));
  EXPECT_EQ(f.ShakeCount(), 5);

  ASSERT_TRUE(server_.SetFault("once:plain:7"));
  TryLogin("alice", kAlicePassword);
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgServerError7")});
  EXPECT_FALSE(f.Timer1->isActive()) << "no shake for other codes";
  EXPECT_EQ(f.LoginFailures(), 2);

  // The next attempt still logs in.
  TryLogin("alice", kAlicePassword);
  EXPECT_EQ(f.result(), TfrmLogin::kResultLoggedIn) << testing::PrintToString(Shown());
}

TEST_F(LoginOnlineTest, ShakeRunsOnItsTimerAndEndsAtHome) {
  TfrmLogin& f = Form();
  f.StartShake();
  const int home = f.HomeLeft();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !f.Timer1->isActive(); }, 2000));
  EXPECT_EQ(f.x(), home);
  EXPECT_EQ(f.ShakeCount(), 5);
}

TEST_F(LoginOnlineTest, FadesInFromFiveToFullInStepsOfTwentyFive) {
  TfrmLogin form;
  EXPECT_EQ(form.AlphaBlendValue(), 5);
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.Timer1->interval(), 4);
  std::vector<int> values;
  while (form.Timer1->isActive()) {
    form.Timer1Timer();
    values.push_back(form.AlphaBlendValue());
  }
  EXPECT_EQ(values, (std::vector<int>{30, 55, 80, 105, 130, 155, 180, 205, 230, 255}));
  EXPECT_DOUBLE_EQ(form.windowOpacity(), 1.0);

  TfrmLogin timed;
  EXPECT_TRUE(QTest::qWaitFor([&] { return timed.AlphaBlendValue() == 255; }, 2000));
  EXPECT_FALSE(timed.Timer1->isActive());
}

TEST_F(LoginOnlineTest, RefreshFromOptionsFillsTheLoginAndTheServerLink) {
  TfrmLogin& f = Form();
  EXPECT_EQ(f.eLogin->text(), QStringLiteral("alice"));
  EXPECT_EQ(f.wlDomain->Caption(), QStringLiteral("@127.0.0.1:1"));
  qovra::Options.Conn.srvaddr.clear();
  qovra::Options.Other.lastlgn = "bob";
  f.RefreshFromOptions(false);
  EXPECT_EQ(f.eLogin->text(), QStringLiteral("alice")) << "a typed login stays";
  EXPECT_EQ(f.wlDomain->Caption().toStdString(), qovra::GetMsg("msgNotSpecified"));
  f.eLogin->clear();
  f.RefreshFromOptions(true);
  EXPECT_TRUE(f.eLogin->text().isEmpty());
  f.RefreshFromOptions(false);
  EXPECT_EQ(f.eLogin->text(), QStringLiteral("bob"));
}

TEST_F(LoginOnlineTest, TheSeamRunsTheWindowModally) {
  StartServer();
  QTimer::singleShot(0, [this] {
    auto* f = qobject_cast<TfrmLogin*>(QApplication::activeModalWidget());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->eLogin->text(), QStringLiteral("alice")) << "filled from the settings";
    f->ePassword->setText(kAlicePassword);
    QTest::mouseClick(f->btnOK, Qt::LeftButton);
  });
  EXPECT_EQ(qovra::account::LoginWindowUi().ShowLoginWindow(), 1);
  EXPECT_EQ(qovra::Session.State, 1);

  // Escape gives 2.
  qovra::Session.Clear();
  QTimer::singleShot(0, [] {
    QWidget* f = QApplication::activeModalWidget();
    ASSERT_NE(f, nullptr);
    QTest::keyClick(f, Qt::Key_Escape);
  });
  EXPECT_EQ(qovra::account::LoginWindowUi().ShowLoginWindow(), 2);
  EXPECT_EQ(qovra::Session.State, 0);
}

}  // namespace
}  // namespace qovra_test
