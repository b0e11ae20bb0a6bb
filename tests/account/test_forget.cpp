// Password recovery against the local exchange server: the whole wizard,
// the chances rule, failed question requests, the captcha and answer
// checks, the new password's checks, and the account binding of the
// recovery commands.
#include <QLabel>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "account/register_test_fixture.h"
#include "base/msg_format.h"
#include "commands/account_commands.h"
#include "net/session_setup.h"
#include "qovra/account/login_window.h"

namespace qovra_test {
namespace {

using qovra::ui::CurrentBalloon;
using qovra::ui::TBalloonIcon;

constexpr char kOldPassword[] = "Old-pass-1";
constexpr char kAnswer[] = "Murka the cat";

class ForgetTest : public AccountServerFixture {
 protected:
  // Starts the server and registers the fixture's user.
  void SetUpAccount() {
    StartServer();
    ASSERT_TRUE(RegisterUser(QString::fromUtf8(kOldPassword), QString::fromUtf8(kAnswer)));
    ui_->messages.clear();
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
  }

  std::unique_ptr<TfrmForget> NewWizard(const std::string& login) {
    auto f = std::make_unique<TfrmForget>();
    f->eLogin->setText(QString::fromStdString(login));
    f->show();
    return f;
  }

  // Page 0 to page 1.
  static void AskQuestion(TfrmForget& f) {
    f.btnNextClick();
    ASSERT_EQ(f.pgForget->currentIndex(), TfrmForget::kPageQuestion);
  }

  // Page 1 to page 2 with the right answer and captcha.
  static void Answer(TfrmForget& f) {
    f.eAnswer->setText(QString::fromUtf8(kAnswer));
    f.eCaptcha->clear();
    // Typed in capitals: the field lowers them.
    QTest::keyClicks(f.eCaptcha, f.CaptchaText().toUpper());
    EXPECT_EQ(f.eCaptcha->text(), f.CaptchaText());
    f.btnNextClick();
    ASSERT_EQ(f.pgForget->currentIndex(), TfrmForget::kPageNewPassword);
  }

  // Page 2 to page 3.
  static void SetPassword(TfrmForget& f, const QString& password) {
    f.eNewPassword->setText(password);
    f.eConfirmPassword->setText(password);
    f.btnNextClick();
    ASSERT_EQ(f.pgForget->currentIndex(), TfrmForget::kPageFinish);
  }

  // A recovery outside the wizard, in a session of the fixture's user.
  void RecoverDirectly(const std::string& password) {
    ASSERT_TRUE(qovra::HandshakeDone || qovra::ServerHandshake(nullptr, false));
    ASSERT_TRUE(qovra::SetNewPassword({}, login_, password));
  }

  static std::string FinishText(int used, int of) {
    return qovra::FormatMsg(qovra::GetMsg("msgPasswordSetButRemains"), {used, of});
  }
};

TEST_F(ForgetTest, WholeWizardSetsAPasswordThatLogsIn) {
  SetUpAccount();
  auto f = NewWizard(login_);
  EXPECT_EQ(f->lblTop->text(), f->pgForget->tabText(TfrmForget::kPageLogin));
  AskQuestion(*f);
  EXPECT_EQ(f->lblQuestion->text().toStdString(), qovra::GetMsg("strQuestion2"));
  EXPECT_EQ(f->lblTop->text(), f->pgForget->tabText(TfrmForget::kPageQuestion));
  EXPECT_EQ(f->UsedChances(), 0);
  Answer(*f);
  EXPECT_EQ(QApplication::focusWidget() == f->eNewPassword || !f->isActiveWindow(), true);
  SetPassword(*f, QStringLiteral("Новый-1"));
  EXPECT_EQ(f->lblCongratulations->text().toStdString(), FinishText(1, 3));
  EXPECT_EQ(f->btnNext->text().toStdString(), qovra::GetMsg("btnFinish"));
  EXPECT_TRUE(f->btnCancel->isHidden());
  EXPECT_EQ(f->lblTop->text(), f->pgForget->tabText(TfrmForget::kPageFinish));
  f->btnNextClick();
  EXPECT_EQ(f->result(), TfrmForget::kResultPasswordSet);
  EXPECT_TRUE(ui_->messages.empty()) << ui_->messages[0].text;

  EXPECT_EQ(LogIn(login_, "Новый-1"), 1);
  EXPECT_NE(LogIn(login_, kOldPassword), 1);
}

TEST_F(ForgetTest, SecondChanceUsedShowsThreeOfThreeAndThenNoMore) {
  SetUpAccount();
  RecoverDirectly("first-new");
  RecoverDirectly("second-new");
  {
    auto f = NewWizard(login_);
    AskQuestion(*f);
    EXPECT_EQ(f->UsedChances(), 2);
    Answer(*f);
    SetPassword(*f, QStringLiteral("third-new"));
    EXPECT_EQ(f->lblCongratulations->text().toStdString(), FinishText(3, 3));
  }
  auto f = NewWizard(login_);
  f->btnNextClick();
  EXPECT_EQ(f->result(), TfrmForget::kResultChancesUsed);
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgAllChancesUsed")});
  EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconWarning);
  EXPECT_EQ(LogIn(login_, "third-new"), 1);
}

TEST_F(ForgetTest, ThirdFailedRequestClosesWithThree) {
  SetUpAccount();
  ASSERT_TRUE(server_.SetFault("enc:18"));
  auto f = NewWizard(login_);
  for (int attempt = 1; attempt <= 2; ++attempt) {
    f->btnNextClick();
    EXPECT_EQ(f->RequestFailures(), attempt);
    EXPECT_EQ(f->result(), 0) << "still open after " << attempt;
    EXPECT_EQ(f->pgForget->currentIndex(), TfrmForget::kPageLogin);
  }
  f->btnNextClick();
  EXPECT_EQ(f->result(), TfrmForget::kResultChancesUsed);
  // Each failure was reported by the request; then the closing box.
  const std::vector<std::string> shown = Shown();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0], qovra::GetMsg("msgServerError18"));
  EXPECT_EQ(shown[3], qovra::GetMsg("msgAllRecoveryRequestsFailed"));
  EXPECT_EQ(ui_->messages[3].flags, qovra::kMsgIconWarning);
}

TEST_F(ForgetTest, WrongCaptchaOrAnswerDrawsANewCaptcha) {
  SetUpAccount();
  auto f = NewWizard(login_);
  AskQuestion(*f);
  const struct {
    const char* what;
    QString answer;
    bool right_captcha;
    bool empty_captcha;
    const char* field;
    const char* key;
    bool new_captcha;
  } rows[] = {
      {"NoCaptcha", QString::fromUtf8(kAnswer), false, true, "eCaptcha", "msgEnterCaptcha", false},
      {"WrongCaptcha", QString::fromUtf8(kAnswer), false, false, "eCaptcha", "msgIncorrectCaptcha",
       true},
      {"WrongAnswer", QStringLiteral("Barsik the cat"), true, false, "eAnswer",
       "msgIncorrectAnswer", true},
      // Another letter case is another answer.
      {"AnswerInOtherCase", QStringLiteral("murka the cat"), true, false, "eAnswer",
       "msgIncorrectAnswer", true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    qovra::ui::HideBalloon();
    const QString captcha = f->CaptchaText();
    const QImage image = f->CaptchaImage().copy();
    f->eAnswer->setText(r.answer);
    f->eCaptcha->setText(r.empty_captcha   ? QString()
                         : r.right_captcha ? captcha
                                           : QStringLiteral("zzzzzzz"));
    f->btnNextClick();
    EXPECT_EQ(f->pgForget->currentIndex(), TfrmForget::kPageQuestion);
    const auto balloon = CurrentBalloon();
    ASSERT_TRUE(balloon.has_value());
    EXPECT_EQ(balloon->field->objectName().toStdString(), r.field);
    EXPECT_EQ(balloon->text.toStdString(), qovra::GetMsg(r.key));
    EXPECT_EQ(balloon->icon, TBalloonIcon::Error);
    EXPECT_EQ(balloon->title, f->lblTop->text());
    EXPECT_EQ(f->CaptchaText() != captcha, r.new_captcha);
    EXPECT_EQ(f->CaptchaImage() != image, r.new_captcha);
    if (r.new_captcha) {
      EXPECT_TRUE(f->eCaptcha->text().isEmpty());
    }
  }
  EXPECT_TRUE(ui_->messages.empty());
  // The right answer still passes afterwards.
  Answer(*f);
}

TEST_F(ForgetTest, NewPasswordChecks) {
  SetUpAccount();
  auto f = NewWizard(login_);
  AskQuestion(*f);
  Answer(*f);
  const struct {
    const char* what;
    QString password, confirm;
    const char* field;
    const char* key;
  } rows[] = {
      {"Empty", QString(), QString(), "eNewPassword", "msgEnterNewPassword"},
      {"ConfirmationInOtherCase", QStringLiteral("Secret-9"), QStringLiteral("secret-9"),
       "eConfirmPassword", "msgPasswordNotConfirmed"},
      {"ConfirmationDiffers", QStringLiteral("Secret-9"), QStringLiteral("Secret-8"),
       "eConfirmPassword", "msgPasswordNotConfirmed"},
      {"ThreeCharacters", QStringLiteral("abc"), QStringLiteral("abc"), "eNewPassword",
       "msgPasswordLengthMismatch"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    qovra::ui::HideBalloon();
    f->eNewPassword->setText(r.password);
    f->eConfirmPassword->setText(r.confirm);
    f->btnNextClick();
    EXPECT_EQ(f->pgForget->currentIndex(), TfrmForget::kPageNewPassword);
    const auto balloon = CurrentBalloon();
    ASSERT_TRUE(balloon.has_value());
    EXPECT_EQ(balloon->field->objectName().toStdString(), r.field);
    EXPECT_EQ(balloon->text.toStdString(), qovra::GetMsg(r.key));
    EXPECT_EQ(balloon->icon, TBalloonIcon::Warning);
    EXPECT_EQ(balloon->title, f->windowTitle());
  }
  // Four characters are enough.
  SetPassword(*f, QStringLiteral("abcd"));
  EXPECT_EQ(LogIn(login_, "abcd"), 1);
}

TEST_F(ForgetTest, AccountWithoutQuestionStaysOnTheFirstPageSilently) {
  StartServer();
  UseKeys(kSeededUser);  // seeded accounts have no question
  auto f = NewWizard("alice");
  f->btnNextClick();
  EXPECT_EQ(f->pgForget->currentIndex(), TfrmForget::kPageLogin);
  EXPECT_EQ(f->QuestionNumber(), 0);
  EXPECT_EQ(f->result(), 0);
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(ForgetTest, AnotherUsersSessionCannotResetThePassword) {
  SetUpAccount();
  UseKeys(kSeededUser);
  auto f = NewWizard(login_);
  f->btnNextClick();
  EXPECT_EQ(f->pgForget->currentIndex(), TfrmForget::kPageLogin);
  EXPECT_EQ(f->RequestFailures(), 1);
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgServerError14")});
  // Nor does the command itself, sent from alice's session.
  EXPECT_FALSE(qovra::SetNewPassword({}, login_, "stolen-1"));

  UseKeys(address_);
  EXPECT_EQ(LogIn(login_, kOldPassword), 1);
}

TEST_F(ForgetTest, LoginWindowLinkOpensTheWizardWithItsLogin) {
  StartServer();
  TfrmLogin login;
  login.RefreshFromOptions(false);
  login.eLogin->setText(QString::fromStdString(login_));
  login.show();
  QString preset;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* f = qobject_cast<TfrmForget*>(QApplication::activeModalWidget());
    if (!f) return;
    preset = f->eLogin->text();
    QTest::keyClick(f, Qt::Key_Escape);
  });
  closer.start(20);
  login.wlForgetPasswordClick();
  closer.stop();
  EXPECT_EQ(preset.toStdString(), login_);
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(ForgetTest, UserCannotTurnThePages) {
  auto f = NewWizard(login_);
  f->pgForget->setCurrentIndex(TfrmForget::kPageNewPassword);
  EXPECT_EQ(f->pgForget->currentIndex(), TfrmForget::kPageLogin);
}

TEST_F(ForgetTest, CaptchaIsSixLowerCaseLettersInAFrame) {
  auto f = NewWizard(login_);
  QString previous;
  for (int i = 0; i < 3; ++i) {
    f->imgCaptchaClick();
    const QString text = f->CaptchaText();
    ASSERT_EQ(text.size(), 6);
    for (const QChar c : text)
      EXPECT_TRUE(c >= QLatin1Char('a') && c <= QLatin1Char('z')) << static_cast<int>(c.unicode());
    EXPECT_NE(text, previous);
    previous = text;
    const QImage& image = f->CaptchaImage();
    EXPECT_EQ(image.size(), f->imgCaptcha->size());
    const QRgb shadow = f->palette().color(QPalette::Dark).rgb();
    const QRgb form = f->palette().color(QPalette::Window).rgb();
    const QRgb face = f->palette().color(QPalette::Button).rgb();
    // Inside the frame, the letters are all that is neither the form's nor
    // the ellipses' colour.
    int letter_pixels = 0;
    for (int y = 1; y < image.height() - 1; ++y) {
      for (int x = 1; x < image.width() - 1; ++x) {
        const QRgb p = image.pixel(x, y);
        letter_pixels += p != form && p != face;
      }
    }
    EXPECT_GT(letter_pixels, 6 * 20);
    EXPECT_EQ(image.pixel(0, 0), shadow);
  }
}

}  // namespace
}  // namespace qovra_test
