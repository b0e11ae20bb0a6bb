// The registration form: the login proposal, the field checks in their
// order, the keyboard switch, filling the names from the certificate, and
// a registration against the local exchange server followed by a login.
#include <QAbstractItemView>
#include <QApplication>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>

#include "account/register_test_fixture.h"
#include "base/utf.h"
#include "qovra/account/login_window.h"
#include "qovra/account/us_keyboard.h"
#include "zarvo/pki_fixtures.h"

namespace qovra_test {
namespace {

using qovra::ui::CurrentBalloon;
using qovra::ui::TBalloonIcon;

class RegisterTest : public AccountServerFixture {};

TEST(ProposedLogin, FollowsTheNamesAndKeepsOnlyLoginCharacters) {
  const struct {
    const char* what;
    QString first, last;
    std::optional<QString> login;
  } rows[] = {
      {"FirstAndLast", QStringLiteral("Олма"), QStringLiteral("Нок"), QStringLiteral("o.nok")},
      {"LastOnly", QString(), QStringLiteral("Нок"), QStringLiteral("nok")},
      {"FirstOnly", QStringLiteral("Олма"), QString(), QStringLiteral("olma")},
      {"BothBlank", QStringLiteral("  "), QStringLiteral(" "), std::nullopt},
      // The first character is the trimmed name's, not a blank.
      {"NamesTrimmed", QStringLiteral("  Олма "), QStringLiteral(" Нок  "),
       QStringLiteral("o.nok")},
      // Blanks, apostrophes and marks are no part of a login.
      {"InnerBlank", QStringLiteral("Ann Mari"), QString(), QStringLiteral("annmari")},
      {"Apostrophe", QStringLiteral("Ivan!"), QStringLiteral("O'Brien"),
       QStringLiteral("i.obrien")},
      {"UnknownLetters", QString(), QStringLiteral("Müller-Lüdenscheidt"),
       QStringLiteral("mller-ldenscheidt")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const std::optional<QString> got = qovra::account::ProposedLogin(r.first, r.last);
    ASSERT_EQ(got.has_value(), r.login.has_value());
    if (got) {
      EXPECT_EQ(got->toStdString(), r.login->toStdString());
    }
  }
}

TEST_F(RegisterTest, TypingTheNamesProposesTheLogin) {
  auto f = NewRegisterForm();
  f->eFirstName->setText(QStringLiteral("Олма"));
  EXPECT_EQ(f->eLogin->text(), QStringLiteral("olma"));
  f->eLastName->setText(QStringLiteral("Нок"));
  EXPECT_EQ(f->eLogin->text(), QStringLiteral("o.nok"));
  f->eFirstName->clear();
  EXPECT_EQ(f->eLogin->text(), QStringLiteral("nok"));
  // Both names gone: the login stays as it was.
  f->eLogin->setText(QStringLiteral("mylogin"));
  f->eLastName->clear();
  EXPECT_EQ(f->eLogin->text(), QStringLiteral("mylogin"));
}

TEST_F(RegisterTest, ChecksRunInOrderAndTheFirstFailureNamesItsField) {
  // The server is not there: a form that passes every check reaches the
  // handshake, which reports the connection error.
  auto f = NewRegisterForm();
  struct Row {
    const char* what;
    std::function<void(Registration&)> change;
    const char* field;  // object name; null: every check passed
    const char* key;
  };
  const Row rows[] = {
      {"FirstNameBlank", [](Registration& r) { r.first = QStringLiteral("  "); }, "eFirstName",
       "msgEnterFirstName"},
      {"LastNameBlank", [](Registration& r) { r.last = QStringLiteral(" "); }, "eLastName",
       "msgEnterLastName"},
      {"LoginBlank", [](Registration& r) { r.login = QStringLiteral("  "); }, "eLogin",
       "msgEnterLogin"},
      {"LoginOfThree", [](Registration& r) { r.login = QStringLiteral(" abc "); }, "eLogin",
       "msgLoginLengthMustMoreThan4"},
      {"LoginOfFour", [](Registration& r) { r.login = QStringLiteral("abcd"); }, nullptr, nullptr},
      {"PasswordEmpty", [](Registration& r) { r.password = QString(""); }, "ePassword",
       "msgEnterPassword"},
      {"PasswordOfThree", [](Registration& r) { r.password = QStringLiteral("abc"); }, "ePassword",
       "msgPasswordLengthMismatch"},
      {"PasswordOfFour", [](Registration& r) { r.password = QStringLiteral("abcd"); }, nullptr,
       nullptr},
      // Letter case counts in the confirmation.
      {"ConfirmationInOtherCase", [](Registration& r) { r.confirm = QStringLiteral("SECRET-1"); },
       "eConfirmPassword", "msgPasswordNotConfirmed"},
      {"ConfirmationDiffers", [](Registration& r) { r.confirm = QStringLiteral("Secret-2"); },
       "eConfirmPassword", "msgPasswordNotConfirmed"},
      {"NoQuestionChosen", [](Registration& r) { r.question = -1; }, nullptr, nullptr},
      {"TheChooseEntry", [](Registration& r) { r.question = 0; }, "cbSecurityQuestion", nullptr},
      {"AnswerBlank", [](Registration& r) { r.answer = QStringLiteral("   "); }, "eAnswer",
       "msgEnterAnswer"},
      {"AnswerOfFive", [](Registration& r) { r.answer = QStringLiteral("  abcde "); }, "eAnswer",
       "msgAnswerLengthMustBeAtLeast6Symbols"},
      {"AnswerOfSix", [](Registration& r) { r.answer = QStringLiteral(" abcdef "); }, nullptr,
       nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    qovra::ui::HideBalloon();
    f->cbSecurityQuestion->hidePopup();
    ui_->messages.clear();
    Registration r;
    row.change(r);
    Fill(*f, r);
    f->btnOKClick();
    EXPECT_EQ(f->result(), 0);
    const auto balloon = CurrentBalloon();
    if (!row.field) {
      EXPECT_FALSE(balloon.has_value()) << balloon->text.toStdString();
      ASSERT_EQ(ui_->messages.size(), 1u) << "the handshake was tried";
      continue;
    }
    EXPECT_TRUE(ui_->messages.empty());
    QWidget* field = f->findChild<QWidget*>(QLatin1String(row.field));
    ASSERT_NE(field, nullptr);
    if (!row.key) {
      // The question list drops down, without a balloon.
      EXPECT_FALSE(balloon.has_value());
      EXPECT_TRUE(f->cbSecurityQuestion->view()->isVisible());
      continue;
    }
    ASSERT_TRUE(balloon.has_value());
    EXPECT_EQ(balloon->field, field);
    EXPECT_EQ(balloon->text.toStdString(), qovra::GetMsg(row.key));
    EXPECT_EQ(balloon->title, f->windowTitle());
    EXPECT_EQ(balloon->icon, TBalloonIcon::Warning);
  }
}

// Records the switch's calls; "switches" when told to.
class FakeKeyboard : public qovra::account::TUsKeyboardSwitch {
 public:
  explicit FakeKeyboard(std::vector<std::string>* calls, bool switches)
      : calls_(calls), switches_(switches) {}
  bool Enter() override {
    calls_->push_back("enter");
    return switches_;
  }
  void Leave() override { calls_->push_back("leave"); }

 private:
  std::vector<std::string>* calls_;
  bool switches_;
};

TEST_F(RegisterTest, SecretFieldsHoldTheUsLayoutAndGiveItBack) {
  for (const bool switches : {true, false}) {
    SCOPED_TRACE(switches);
    qovra::ui::HideBalloon();
    std::vector<std::string> calls;  // outlives the form, which leaves on closing
    auto f = NewRegisterForm();
    f->SetKeyboardSwitch(std::make_unique<FakeKeyboard>(&calls, switches));
    f->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.get()));
    f->eFirstName->setFocus();
    f->ePassword->setFocus();
    QCoreApplication::processEvents();
    const auto balloon = CurrentBalloon();
    if (switches) {
      ASSERT_TRUE(balloon.has_value());
      EXPECT_EQ(balloon->field, f->ePassword);
      EXPECT_EQ(balloon->text.toStdString(), qovra::GetMsg("msgENKeyboardLayoutActivated"));
      EXPECT_EQ(balloon->icon, TBalloonIcon::Info);
      EXPECT_EQ(balloon->title, f->windowTitle());
    } else {
      EXPECT_FALSE(balloon.has_value());
    }
    f->eConfirmPassword->setFocus();
    f->eLogin->setFocus();
    f->eAnswer->setFocus();
    EXPECT_EQ(calls,
              (std::vector<std::string>{"enter", "leave", "enter", "leave", "enter", "leave"}));
  }
}

// Off X11 (here the offscreen platform) the real switch leaves the
// keyboard alone: nothing to tell the user, nothing to give back.
TEST(UsKeyboardSwitch, DoesNothingOffX11) {
  ASSERT_NE(QGuiApplication::platformName(), QStringLiteral("xcb"));
  qovra::account::TUsKeyboardSwitch keyboard;
  EXPECT_FALSE(keyboard.Enter());
  keyboard.Leave();
  EXPECT_FALSE(keyboard.Enter());
}

TEST_F(RegisterTest, NamesFromTheCertificateOwner) {
  const struct {
    const char* owner;
    const char* typed_middle;  // typed before the fill
    const char* first;
    const char* middle;
    const char* last;
  } rows[] = {
      {"Нок Олма Ивановна", "", "Олма", "Ивановна", "Нок"},
      {"Нок Олма", "", "Олма", "", "Нок"},
      {"Олма", "", "Олма", "", ""},
      {"Нок Олма Ивановна Старшая", "", "Олма", "Ивановна Старшая", "Нок"},
      {"Нок Олма Ивановна", "Петровна", "Олма", "Ивановна", "Нок"},
      {"Нок Олма", "Петровна", "Олма", "Петровна", "Нок"},
      {"Нок Олма ", "Петровна", "Олма", "Петровна", "Нок"},
      {"Нок Олма  ", "Петровна", "Олма", "Петровна", "Нок"},
      {"Нок Олма  Ивановна ", "Петровна", "Олма", "Ивановна", "Нок"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string("[") + r.owner + "]");
    const Party owner = MakeParty(r.owner);
    const std::string cert = dir_.File("owner.cer");
    WriteAll(cert, owner.cert);
    qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(cert);
    auto f = NewRegisterForm();
    f->eMiddleName->setText(QString::fromUtf8(r.typed_middle));
    f->eCompany->setText(QStringLiteral("old company"));
    f->wlFillFromCertificateClick();
    EXPECT_EQ(f->eFirstName->text().toStdString(), r.first);
    EXPECT_EQ(f->eMiddleName->text().toStdString(), r.middle);
    EXPECT_EQ(f->eLastName->text().toStdString(), r.last);
    // The certificate carries no company or job title: both are cleared.
    EXPECT_TRUE(f->eCompany->text().isEmpty());
    EXPECT_TRUE(f->eJobTitle->text().isEmpty());
  }
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(RegisterTest, CertificateLinksNeedAnExistingFile) {
  const struct {
    std::string path;
    const char* key;
  } rows[] = {{"", "msgCertificatePathNotSpecified"},
              {dir_.File("missing.cer"), "msgCertificatePathNotExists"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.key);
    qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(r.path);
    auto f = NewRegisterForm();
    ui_->messages.clear();
    f->wlCertificateClick();
    f->wlFillFromCertificateClick();
    EXPECT_EQ(Shown(), (std::vector<std::string>{qovra::GetMsg(r.key), qovra::GetMsg(r.key)}));
    for (const auto& m : ui_->messages) EXPECT_EQ(m.flags, qovra::kMsgIconWarning);
  }
}

TEST_F(RegisterTest, RegisteredUserLogsInWithTheNewPassword) {
  StartServer();
  ASSERT_TRUE(RegisterUser(QStringLiteral("Новый-пароль"), QStringLiteral("Murka the cat")));
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgSuccessfullyRegistered")});
  EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconInformation);
  // The offline password signature of the new password is kept.
  EXPECT_EQ(qovra::Options.Keys.offpass.size(), 160u);
  const std::string offpass = qovra::Options.Keys.offpass;
  EXPECT_EQ(LogIn(login_, "Новый-пароль"), 1);
  EXPECT_EQ(qovra::Session.State, 1);
  EXPECT_EQ(qovra::Session.OwnContact.FirstName, u"Олма");
  EXPECT_EQ(qovra::Options.Keys.offpass, offpass) << "the login keeps the registration's";
  EXPECT_NE(LogIn(login_, "новый-пароль"), 1);
}

TEST_F(RegisterTest, ServerRefusalsKeepTheFormOpen) {
  StartServer();
  ASSERT_TRUE(RegisterUser(QStringLiteral("Secret-1"), QStringLiteral("Murka the cat")));
  // The same certificate again, and a login that is taken.
  for (const std::string& login : {std::string("otherlogin"), std::string("alice")}) {
    SCOPED_TRACE(login);
    ui_->messages.clear();
    auto f = NewRegisterForm();
    Registration r;
    r.login = QString::fromStdString(login);
    Fill(*f, r);
    f->btnOKClick();
    EXPECT_EQ(f->result(), 0);
    EXPECT_TRUE(f->isVisible());
    ASSERT_EQ(ui_->messages.size(), 1u);
  }
  EXPECT_NE(ui_->messages[0].text.find("alice"), std::string::npos) << ui_->messages[0].text;
}

TEST_F(RegisterTest, LoginWindowLinkRegistersAndTakesTheNewLogin) {
  StartServer();
  TfrmLogin login;
  login.RefreshFromOptions(false);
  login.show();
  bool filled = false;
  QTimer filler;
  QObject::connect(&filler, &QTimer::timeout, [&] {
    auto* f = qobject_cast<TfrmRegister*>(QApplication::activeModalWidget());
    if (!f || filled) return;
    filled = true;
    EXPECT_EQ(f->eDomain->text().toStdString(), qovra::Options.Conn.srvaddr);
    if (f->cbSecurityQuestion->count() == 0) {
      f->cbSecurityQuestion->addItems({QStringLiteral("?"), QStringLiteral("q1")});
    }
    Registration r;
    r.question = 1;
    Fill(*f, r);
    QTest::mouseClick(f->btnOK, Qt::LeftButton);
  });
  filler.start(20);
  login.wlRegisterClick();
  filler.stop();
  ASSERT_TRUE(filled);
  EXPECT_EQ(login.eLogin->text(), QStringLiteral("o.nok"));
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgSuccessfullyRegistered")});
  EXPECT_EQ(LogIn("o.nok", "Secret-1"), 1);
}

}  // namespace
}  // namespace qovra_test
