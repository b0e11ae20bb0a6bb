// The password change: the field checks in their order, the change on the
// local exchange server (the old password refused afterwards), the offline
// change of the offline password signature (key files and key device) and
// a second change in one session checking against the new password.
#include "account/login_test_fixture.h"
#include "commands/login_command.h"
#include "qovra/account/change_password.h"

namespace qovra_test {
namespace {

using qovra::ui::CurrentBalloon;
using qovra::ui::TBalloonIcon;

constexpr char kOfflinePassword[] = "offline-пароль";

template <size_t N>
bool AllZero(const std::array<uint8_t, N>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

std::array<uint8_t, 32> HashOf(const std::string& utf8) {
  return qovra::HashString(qovra::Utf8ToCp1251(utf8));
}

// True when signature is the offline password signature of password for
// alice.
bool SignsPassword(const std::string& signature, const std::string& password_utf8,
                   const ExchangePki& pki) {
  const qovra::THashValue hash = HashOf(password_utf8);
  int verdict = 0;
  return signature.size() == 160 &&
         UZDST_SIGNATURE_verify(hash.data(), pki.User(kAlice).keys.pub.data(), signature.data(),
                                &verdict) == 1 &&
         verdict == 1;
}

class ChangePasswordTest : public LoginWindowFixture {
 protected:
  void TearDown() override {
    dialog_.reset();
    LoginWindowFixture::TearDown();
  }

  // A new shown dialog built from the session as it is now.
  TfrmChangePassword& NewDialog() {
    dialog_.reset();
    dialog_ = std::make_unique<TfrmChangePassword>();
    dialog_->show();
    return *dialog_;
  }

  // Fills the three fields (the current one unless disabled) and presses OK.
  int Submit(const QString& current, const QString& fresh, const QString& confirm) {
    TfrmChangePassword& d = *dialog_;
    if (d.eCurPassword->isEnabled()) d.eCurPassword->setText(current);
    d.eNewPassword->setText(fresh);
    d.eConfirmPassword->setText(confirm);
    d.btnOKClick();
    return d.result();
  }

  // The offline login of the login window with password.
  void LogInOffline(const std::string& password) {
    form_.reset();
    qovra::Session.Clear();
    TfrmLogin& f = Form();
    f.chkOfflineWork->setChecked(true);
    f.chkOfflineWorkClick();
    f.ePassword->setText(QString::fromUtf8(password.c_str()));
    f.btnOKClick();
  }
  bool LoggedIn() { return Form().result() == TfrmLogin::kResultLoggedIn; }

  std::unique_ptr<TfrmChangePassword> dialog_;
};

TEST_F(ChangePasswordTest, FieldChecksInOrderWithTheirBalloons) {
  qovra::Options.langid = 1;
  const struct {
    const char* what;
    uint8_t state;
    const char* current;
    const char* fresh;
    const char* confirm;
    int field;  // 0 current, 1 new, 2 confirmation
    const char* key;
  } rows[] = {
      {"EmptyCurrent", 1, "", "new-secret", "new-secret", 0, "msgEnterCurrentPassword"},
      {"WrongCurrent", 1, "wrong", "new-secret", "new-secret", 0, "msgCurrentPasswordIncorrect"},
      // The hash is of the exact bytes.
      {"CurrentInOtherCase", 1, "ALICE-SECRET", "new-secret", "new-secret", 0,
       "msgCurrentPasswordIncorrect"},
      {"OfflineChecksTheOfflineHash", 2, "alice-secret", "new-secret", "new-secret", 0,
       "msgCurrentPasswordIncorrect"},
      {"EmptyNew", 1, "alice-secret", "", "", 1, "msgEnterNewPassword"},
      // The login window would refuse a password of 3 characters or fewer.
      {"OneCharacterNew", 1, "alice-secret", "a", "a", 1, "msgPasswordLengthMismatch"},
      {"ThreeCyrillicCharacters", 1, "alice-secret", "пар", "пар", 1, "msgPasswordLengthMismatch"},
      {"ShortBeforeConfirmation", 1, "alice-secret", "abc", "abd", 1, "msgPasswordLengthMismatch"},
      {"NewIsCurrentInOtherCase", 1, "alice-secret", "Alice-Secret", "Alice-Secret", 1,
       "msgPasswordUnchanged"},
      {"ConfirmationDiffers", 1, "alice-secret", "new-secret", "new-secre", 2,
       "msgPasswordNotConfirmed"},
      {"ConfirmationInOtherCase", 1, "alice-secret", "new-secret", "NEW-SECRET", 2,
       "msgPasswordNotConfirmed"},
      {"OfflineConfirmationInOtherCase", 2, kOfflinePassword, "new-secret", "New-Secret", 2,
       "msgPasswordNotConfirmed"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    qovra::Session.State = r.state;
    qovra::Session.OnlinePasswordHash = HashOf(kAlicePassword);
    qovra::Session.OfflinePasswordHash = HashOf(kOfflinePassword);
    qovra::ui::HideBalloon();
    TfrmChangePassword& d = NewDialog();
    EXPECT_EQ(Submit(QString::fromUtf8(r.current), QString::fromUtf8(r.fresh),
                     QString::fromUtf8(r.confirm)),
              0);
    const auto balloon = CurrentBalloon();
    ASSERT_TRUE(balloon.has_value());
    qovra::ui::TEditEx* fields[] = {d.eCurPassword, d.eNewPassword, d.eConfirmPassword};
    EXPECT_EQ(balloon->field, fields[r.field]);
    EXPECT_EQ(balloon->text.toStdString(), qovra::GetMsg(r.key));
    EXPECT_EQ(balloon->title, d.windowTitle());
    EXPECT_EQ(balloon->icon, TBalloonIcon::Warning);
    EXPECT_TRUE(d.isVisible());
  }
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_FALSE(qovra::HandshakeDone) << "no request went out";
  EXPECT_TRUE(qovra::Options.Keys.offpass.empty()) << "nothing signed";
}

TEST_F(ChangePasswordTest, OnlineChangeOnTheServerRefusesTheOldPasswordAfterwards) {
  StartServer();
  const qovra::TLoginRequestForm form{nullptr, "TfrmLogin", nullptr};
  ASSERT_EQ(qovra::LoginSession("alice", kAlicePassword, form), 1)
      << ::testing::PrintToString(Shown());
  const std::string offpass = qovra::Options.Keys.offpass;
  constexpr char kFresh[] = "свежий-secret";

  TfrmChangePassword& d = NewDialog();
  EXPECT_FALSE(d.ResetsOfflinePassword());
  EXPECT_EQ(d.eCurPassword->echoMode(), QLineEdit::Password);
  ASSERT_EQ(Submit(kAlicePassword, QString::fromUtf8(kFresh), QString::fromUtf8(kFresh)),
            TfrmChangePassword::kResultChanged)
      << ::testing::PrintToString(Shown());
  ASSERT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgPasswordChanged")});
  EXPECT_EQ(qovra::Session.OnlinePasswordHash, HashOf(kFresh));
  EXPECT_EQ(qovra::Options.Keys.offpass, offpass) << "the offline signature stays";

  // In the same session the current password is now the new one.
  qovra::ui::HideBalloon();
  NewDialog();
  EXPECT_EQ(Submit(kAlicePassword, "third", "third"), 0);
  ASSERT_TRUE(CurrentBalloon().has_value());
  EXPECT_EQ(CurrentBalloon()->text.toStdString(), qovra::GetMsg("msgCurrentPasswordIncorrect"));

  // A new session: the server refuses the old password and takes the new.
  qovra::Session.Clear();
  qovra::HandshakeDone = false;
  ui_->messages.clear();
  EXPECT_NE(qovra::LoginSession("alice", kAlicePassword, form), 1);
  EXPECT_EQ(qovra::Session.State, 0);
  qovra::Session.Clear();
  qovra::HandshakeDone = false;
  EXPECT_EQ(qovra::LoginSession("alice", kFresh, form), 1) << ::testing::PrintToString(Shown());
}

// The shortest password the dialog sends is one the login window sends
// too: the user is never locked out by a new password.
TEST_F(ChangePasswordTest, FourCharactersAreTheShortestOnlinePassword) {
  StartServer();
  const qovra::TLoginRequestForm form{nullptr, "TfrmLogin", nullptr};
  ASSERT_EQ(qovra::LoginSession("alice", kAlicePassword, form), 1)
      << ::testing::PrintToString(Shown());
  constexpr char kShortest[] = "ключ";
  NewDialog();
  ASSERT_EQ(Submit(kAlicePassword, QString::fromUtf8(kShortest), QString::fromUtf8(kShortest)),
            TfrmChangePassword::kResultChanged)
      << ::testing::PrintToString(Shown());

  // The login window logs in with it.
  qovra::Session.Clear();
  qovra::HandshakeDone = false;
  TryLogin(QStringLiteral("alice"), QString::fromUtf8(kShortest));
  EXPECT_EQ(Form().result(), TfrmLogin::kResultLoggedIn) << ::testing::PrintToString(Shown());
}

TEST_F(ChangePasswordTest, OnlineRefusalOfTheServerKeepsTheDialogAndTheHash) {
  StartServer();
  const qovra::TLoginRequestForm form{nullptr, "TfrmLogin", nullptr};
  ASSERT_EQ(qovra::LoginSession("alice", kAlicePassword, form), 1)
      << ::testing::PrintToString(Shown());
  // The window's check passes, the server's does not.
  qovra::Session.OnlinePasswordHash = {};
  TfrmChangePassword& d = NewDialog();
  EXPECT_EQ(Submit("not-the-password", "fresh-one", "fresh-one"), 0);
  EXPECT_TRUE(d.isVisible());
  ASSERT_EQ(ui_->messages.size(), 1u) << "the request's own report";
  EXPECT_TRUE(AllZero(qovra::Session.OnlinePasswordHash));
}

class ChangeOfflinePasswordTest : public ChangePasswordTest {
 protected:
  void SetUp() override {
    ChangePasswordTest::SetUp();
    qovra::Options.Keys.offpass = OfflineSignature(kOfflinePassword);
    PointAt("127.0.0.1:8480");
  }
};

// The offline password lives only in the settings file: when the file
// cannot be written, the change is refused and the old password stays.
TEST_F(ChangeOfflinePasswordTest, ASettingsFileThatCannotBeWrittenKeepsTheOldPassword) {
  LogInOffline(kOfflinePassword);
  ASSERT_TRUE(LoggedIn()) << ::testing::PrintToString(Shown());
  const std::string offpass = qovra::Options.Keys.offpass;
  const auto hash = qovra::Session.OfflinePasswordHash;
  // A folder took the settings file's name: it cannot be replaced.
  const std::string file = qovra::SettingsPaths().file;
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  constexpr char kFresh[] = "fresh-пароль";

  TfrmChangePassword& d = NewDialog();
  EXPECT_EQ(Submit(QString::fromUtf8(kOfflinePassword), QString::fromUtf8(kFresh),
                   QString::fromUtf8(kFresh)),
            0);
  EXPECT_TRUE(d.isVisible());
  ASSERT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgOfflinePasswordNotSaved")});
  EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconWarning);
  EXPECT_EQ(qovra::Options.Keys.offpass, offpass);
  EXPECT_EQ(qovra::Session.OfflinePasswordHash, hash);

  // With the file writable again, the same OK changes it.
  std::filesystem::remove(file);
  ui_->messages.clear();
  d.btnOKClick();
  EXPECT_EQ(d.result(), TfrmChangePassword::kResultChanged) << ::testing::PrintToString(Shown());
  qovra::Options = qovra::TOptions{};
  qovra::LoadOptions();
  EXPECT_TRUE(SignsPassword(qovra::Options.Keys.offpass, kFresh, *pki_));
}

TEST_F(ChangeOfflinePasswordTest, KeyFilesTwoChangesThenOfflineLoginWithTheNewPassword) {
  LogInOffline(kOfflinePassword);
  ASSERT_TRUE(LoggedIn()) << ::testing::PrintToString(Shown());
  constexpr char kSecond[] = "second-пароль";
  // Offline a short password locks nobody out: the offline login checks
  // only that one was typed.
  constexpr char kThird[] = "abc";

  TfrmChangePassword& d = NewDialog();
  EXPECT_EQ(d.windowTitle().toStdString(), qovra::GetMsg("msgChangeOfflinePassword"));
  EXPECT_FALSE(d.ResetsOfflinePassword());
  ASSERT_EQ(Submit(QString::fromUtf8(kOfflinePassword), QString::fromUtf8(kSecond),
                   QString::fromUtf8(kSecond)),
            TfrmChangePassword::kResultChanged)
      << ::testing::PrintToString(Shown());
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgOfflinePasswordChanged")});
  EXPECT_TRUE(SignsPassword(qovra::Options.Keys.offpass, kSecond, *pki_));
  EXPECT_FALSE(qovra::HandshakeDone) << "offline needs no server";

  // The second change checks against the password set by the first.
  qovra::ui::HideBalloon();
  NewDialog();
  EXPECT_EQ(Submit(QString::fromUtf8(kOfflinePassword), kThird, kThird), 0);
  ASSERT_TRUE(CurrentBalloon().has_value());
  EXPECT_EQ(CurrentBalloon()->text.toStdString(), qovra::GetMsg("msgCurrentPasswordIncorrect"));
  ASSERT_EQ(Submit(QString::fromUtf8(kSecond), kThird, kThird), TfrmChangePassword::kResultChanged)
      << ::testing::PrintToString(Shown());
  EXPECT_EQ(qovra::Session.OfflinePasswordHash, HashOf(kThird));

  // The settings file holds the last signature: the next start logs in
  // offline with the newest password only.
  qovra::Options = qovra::TOptions{};
  qovra::LoadOptions();
  EXPECT_TRUE(SignsPassword(qovra::Options.Keys.offpass, kThird, *pki_));
  LogInOffline(kSecond);
  EXPECT_FALSE(LoggedIn());
  LogInOffline(kThird);
  EXPECT_TRUE(LoggedIn()) << ::testing::PrintToString(Shown());
}

class ResetOfflinePasswordTest : public ChangeOfflinePasswordTest {
 protected:
  static constexpr char kPin[] = "2580";

  void SetUp() override {
    ChangeOfflinePasswordTest::SetUp();
    if (!HaveSoftHsm()) {
      GTEST_SKIP() << "softhsm2-util is not installed: the key-device reset is not tested";
    }
    ASSERT_NO_FATAL_FAILURE(MakeAliceToken(dir_, *pki_, kPin));
  }
  void TearDown() override {
    unsetenv("SOFTHSM2_CONF");
    ChangeOfflinePasswordTest::TearDown();
  }
};

TEST_F(ResetOfflinePasswordTest, AfterAKeyDeviceLoginTheDeviceSignsTheNewPassword) {
  ui_->QueueSecret(std::string(kPin));
  LogInOffline(kOfflinePassword);
  ASSERT_TRUE(LoggedIn()) << ::testing::PrintToString(Shown());
  ASSERT_TRUE(AllZero(qovra::Session.OfflinePasswordHash));
  constexpr char kFresh[] = "device-reset";

  TfrmChangePassword& d = NewDialog();
  EXPECT_TRUE(d.ResetsOfflinePassword());
  EXPECT_FALSE(d.eCurPassword->isEnabled());
  EXPECT_EQ(d.eCurPassword->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(d.eCurPassword->text().toStdString(), qovra::GetMsg("msgResetOfflinePassword"));
  EXPECT_EQ(d.windowTitle().toStdString(), qovra::GetMsg("msgChangeOfflinePassword"));
  // The shown text is no password: a new password equal to it is taken.
  const QString shown = d.eCurPassword->text();
  ASSERT_EQ(Submit(QString(), shown, shown), TfrmChangePassword::kResultChanged)
      << ::testing::PrintToString(Shown());
  EXPECT_TRUE(ui_->prompts.size() == 1) << "the PIN of the login is kept, not asked again";
  EXPECT_TRUE(SignsPassword(qovra::Options.Keys.offpass, shown.toStdString(), *pki_));

  // The device's keys, and from now on a current password to check.
  EXPECT_EQ(qovra::Session.OwnPrivateKey, pki_->User(kAlice).keys.priv);
  TfrmChangePassword& again = NewDialog();
  EXPECT_FALSE(again.ResetsOfflinePassword());
  ASSERT_EQ(Submit(shown, kFresh, kFresh), TfrmChangePassword::kResultChanged)
      << ::testing::PrintToString(Shown());
  EXPECT_TRUE(SignsPassword(qovra::Options.Keys.offpass, kFresh, *pki_));
}

}  // namespace
}  // namespace qovra_test
