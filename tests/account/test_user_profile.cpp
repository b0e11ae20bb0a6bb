// The user profile: the name checks, no request for unchanged texts, and
// the change on the local exchange server (a change of letter case alone
// and of the job title alone included), read back by the next login.
#include "account/login_test_fixture.h"
#include "commands/login_command.h"
#include "qovra/account/user_profile.h"

namespace qovra_test {
namespace {

using qovra::ui::CurrentBalloon;

struct Names {
  const char16_t* first;
  const char16_t* middle;
  const char16_t* last;
  const char16_t* company;
  const char16_t* job;
};

class UserProfileTest : public LoginWindowFixture {
 protected:
  void TearDown() override {
    dialog_.reset();
    LoginWindowFixture::TearDown();
  }

  // A shown dialog preset from the session's own contact, then given n.
  TfrmUserProfile& Open(const Names& n) {
    dialog_ = std::make_unique<TfrmUserProfile>();
    dialog_->Preset(qovra::Session.OwnContact);
    dialog_->show();
    dialog_->eFirstName->setText(QString::fromStdU16String(n.first));
    dialog_->eMiddleName->setText(QString::fromStdU16String(n.middle));
    dialog_->eLastName->setText(QString::fromStdU16String(n.last));
    dialog_->eCompany->setText(QString::fromStdU16String(n.company));
    dialog_->eJobTitle->setText(QString::fromStdU16String(n.job));
    return *dialog_;
  }
  int Submit(const Names& n) {
    Open(n).btnOKClick();
    return dialog_->result();
  }

  void LogIn() {
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    ASSERT_EQ(qovra::LoginSession("alice", kAlicePassword, {nullptr, "TfrmLogin", nullptr}), 1)
        << ::testing::PrintToString(Shown());
    ui_->messages.clear();
  }

  static void ExpectOwnNames(const Names& n) {
    const qovra::TContact& c = qovra::Session.OwnContact;
    EXPECT_EQ(c.FirstName, n.first);
    EXPECT_EQ(c.MiddleName, n.middle);
    EXPECT_EQ(c.LastName, n.last);
    EXPECT_EQ(c.Company, n.company);
    EXPECT_EQ(c.JobTitle, n.job);
  }

  std::unique_ptr<TfrmUserProfile> dialog_;
};

TEST_F(UserProfileTest, PresetFromTheOwnContactAndNameLimits) {
  qovra::Session.OwnContact = {};
  qovra::Session.OwnContact.FirstName = u"Алиса";
  qovra::Session.OwnContact.LastName = u"Каримова";
  qovra::Session.OwnContact.JobTitle = u"Бухгалтер";
  TfrmUserProfile d;
  d.Preset(qovra::Session.OwnContact);
  EXPECT_EQ(d.eFirstName->text(), QStringLiteral("Алиса"));
  EXPECT_EQ(d.eLastName->text(), QStringLiteral("Каримова"));
  EXPECT_EQ(d.eJobTitle->text(), QStringLiteral("Бухгалтер"));
  EXPECT_TRUE(d.eMiddleName->text().isEmpty());
  EXPECT_EQ(d.eFirstName->maxLength(), 32);
  EXPECT_EQ(d.eLastName->maxLength(), 32);
}

TEST_F(UserProfileTest, BlankNamesAreRefusedFirstNameFirst) {
  qovra::Session.State = 1;
  const struct {
    const char* what;
    Names names;
    bool on_first;
    const char* key;
  } rows[] = {
      {"EmptyFirst", {u"", u"", u"Каримова", u"", u""}, true, "msgEnterFirstName"},
      {"BlankFirst", {u"  ", u"", u"Каримова", u"", u""}, true, "msgEnterFirstName"},
      {"BothBlank", {u" ", u"", u" ", u"", u""}, true, "msgEnterFirstName"},
      {"BlankLast", {u"Алиса", u"", u"   ", u"", u""}, false, "msgEnterLastName"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    qovra::ui::HideBalloon();
    EXPECT_EQ(Submit(r.names), 0);
    const auto balloon = CurrentBalloon();
    ASSERT_TRUE(balloon.has_value());
    EXPECT_EQ(balloon->field, r.on_first ? dialog_->eFirstName : dialog_->eLastName);
    EXPECT_EQ(balloon->text.toStdString(), qovra::GetMsg(r.key));
    EXPECT_EQ(balloon->title, dialog_->windowTitle());
  }
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_FALSE(qovra::HandshakeDone) << "no request went out";
}

TEST_F(UserProfileTest, ExactlyTheSameTextsCloseWithoutARequest) {
  // The server address leads nowhere: a request would be reported.
  qovra::Session.State = 1;
  qovra::Session.OwnContact = {};
  qovra::Session.OwnContact.Email = kAlice;
  qovra::Session.OwnContact.FirstName = u"Алиса";
  qovra::Session.OwnContact.LastName = u"Каримова";
  EXPECT_EQ(Submit({u"Алиса", u"", u"Каримова", u"", u""}), TfrmUserProfile::kResultDone);
  EXPECT_TRUE(ui_->messages.empty()) << ::testing::PrintToString(Shown());
  EXPECT_FALSE(qovra::HandshakeDone);
}

TEST_F(UserProfileTest, ChangesAndCaseOnlyChangesReachTheServer) {
  StartServer();
  ASSERT_NO_FATAL_FAILURE(LogIn());
  const Names first_change = {u"Алиса", u"Ивановна", u"Каримова", u"ООО «Восток»", u"бухгалтер"};
  // Letter case alone (Cyrillic and Latin) is a change too.
  const Names case_only = {u"АЛИСА", u"Ивановна", u"Каримова", u"ООО «ВОСТОК»", u"Бухгалтер"};
  // Untrimmed, as typed.
  const Names blanks = {u" Алиса ", u"", u"Каримова", u"", u""};
  // The job title alone.
  const Names job_only = {u" Алиса ", u"", u"Каримова", u"", u"главный бухгалтер"};
  for (const Names& n : {first_change, case_only, blanks, job_only}) {
    SCOPED_TRACE(::testing::PrintToString(std::u16string(n.first)));
    ASSERT_EQ(Submit(n), TfrmUserProfile::kResultDone) << ::testing::PrintToString(Shown());
    EXPECT_EQ(Shown(),
              std::vector<std::string>{qovra::GetMsg("msgUserProfileSuccessfullyChanged")});
    ExpectOwnNames(n);
    EXPECT_EQ(qovra::Session.OwnContact.Email, kAlice);
    // The next login reads the names back from the server.
    ASSERT_NO_FATAL_FAILURE(LogIn());
    ExpectOwnNames(n);
  }
}

TEST_F(UserProfileTest, RefusedRequestKeepsTheDialogAndTheSession) {
  StartServer();
  ASSERT_NO_FATAL_FAILURE(LogIn());
  ASSERT_TRUE(server_.SetFault("once:enc:9"));
  EXPECT_EQ(Submit({u"Алиса", u"", u"Каримова", u"", u""}), 0);
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(ui_->messages.size(), 1u) << "the request's own report";
  EXPECT_NE(qovra::Session.OwnContact.FirstName, u"Алиса");
}

}  // namespace
}  // namespace qovra_test
