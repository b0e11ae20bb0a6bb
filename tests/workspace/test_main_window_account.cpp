// The account dialogs of the Tools menu over the main window: the profile
// dialog preset from the own contact, its change on the local exchange
// server renewing the window's title and the tray hint; the password
// change dialog opened over the window.
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "base/utf.h"
#include "commands/login_command.h"
#include "net/server_request.h"
#include "qovra/account/change_password.h"
#include "qovra/account/user_profile.h"
#include "qovra/controls/edit_ex.h"
#include "server/exchange_pki.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "test_main_window_fixture.h"

namespace {

constexpr char kBob[] = "bob@127.0.0.1";
constexpr char kPassword[] = "secret";

class MainWindowAccountTest : public qovra_test::MainWindowFixture {
 protected:
  static void SetUpTestSuite() {
    pki_ = new qovra_test::ExchangePki;
    pki_->AddUserWithKeyFile(kBob);
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    MainWindowFixture::SetUp();
    saved_title_ = qovra::AppTitle;
    qovra::AppTitle = "Qovra";
    qovra::HandshakeDone = false;
    qovra_test::ExchangeServerOptions o = pki_->Options();
    o.seed_accounts.push_back(std::string(kBob) + ":" + kPassword);
    ASSERT_TRUE(server_.Start(o)) << server_.error();
    qovra::Options.Conn.useiewc = 2;
    qovra_test::UseServerAddress("127.0.0.1", server_.Port());
    qovra_test::UseKeyFilesOf(*pki_, kBob);
    ASSERT_NO_FATAL_FAILURE(MakeUser(kBob));
    int owner = 0;
    ASSERT_EQ(qovra::LoginSession("bob", kPassword, {&owner, "TfrmLogin", nullptr}), 1)
        << testing::PrintToString(Shown());
    qovra::Session.OwnContact.FirstName = u"Bob";
    qovra::Session.OwnContact.LastName = u"Demo";
    ui_->messages.clear();
  }
  void TearDown() override {
    MainWindowFixture::TearDown();
    qovra::AppTitle = saved_title_;
    qovra::HandshakeDone = false;
  }

  // Triggers action and runs answer on the modal dialog it opens, which
  // must be a T over the main window; false when none opened.
  template <typename T>
  bool WithDialog(QAction* action, const std::function<void(T&)>& answer) {
    bool opened = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
      if (!dialog) return;
      opened = true;
      EXPECT_EQ(dialog->parentWidget(), &Window());
      answer(*dialog);
      if (dialog->isVisible()) dialog->reject();
    });
    action->trigger();
    return opened;
  }

  static qovra_test::ExchangePki* pki_;
  qovra_test::ExchangeServer server_;
  std::string saved_title_;
};

qovra_test::ExchangePki* MainWindowAccountTest::pki_ = nullptr;

TEST_F(MainWindowAccountTest, ProfileChangeRenewsTheTitleAndTheTrayHint) {
  TfrmMain& w = Window();
  w.show();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Qovra - Bob Demo (bob@127.0.0.1)"));
  ASSERT_TRUE(WithDialog<TfrmUserProfile>(w.alMain->acToolUserProfile, [](TfrmUserProfile& d) {
    EXPECT_EQ(d.eFirstName->text(), QStringLiteral("Bob"));
    EXPECT_EQ(d.eLastName->text(), QStringLiteral("Demo"));
    d.eFirstName->setText(QStringLiteral("Бобур"));
    d.eLastName->setText(QStringLiteral("Каримов"));
    QTest::mouseClick(d.btnOK, Qt::LeftButton);
  }));
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgUserProfileSuccessfullyChanged")});
  const QString title = QStringLiteral("Qovra - Бобур Каримов (bob@127.0.0.1)");
  EXPECT_EQ(w.windowTitle(), title);
  EXPECT_EQ(tray_.hint, title);
  EXPECT_EQ(qovra::ApplicationTitle, title.toStdString());

  // Cancelled: nothing sent, the title stays.
  ui_->messages.clear();
  ASSERT_TRUE(WithDialog<TfrmUserProfile>(w.alMain->acToolUserProfile, [](TfrmUserProfile& d) {
    d.eFirstName->setText(QStringLiteral("Другой"));
    QTest::mouseClick(d.btnCancel, Qt::LeftButton);
  }));
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_EQ(w.windowTitle(), title);
}

TEST_F(MainWindowAccountTest, ChangePasswordOpensOverTheWindowAndChangesOnTheServer) {
  TfrmMain& w = Window();
  w.show();
  ASSERT_TRUE(
      WithDialog<TfrmChangePassword>(w.alMain->acToolsChangePassword, [](TfrmChangePassword& d) {
        EXPECT_FALSE(d.ResetsOfflinePassword());
        d.eCurPassword->setText(QString::fromLatin1(kPassword));
        d.eNewPassword->setText(QStringLiteral("fresh-one"));
        d.eConfirmPassword->setText(QStringLiteral("fresh-one"));
        QTest::mouseClick(d.btnOK, Qt::LeftButton);
      }));
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgPasswordChanged")});
  qovra::Session.Clear();
  qovra::HandshakeDone = false;
  int owner = 0;
  EXPECT_EQ(qovra::LoginSession("bob", "fresh-one", {&owner, "TfrmLogin", nullptr}), 1)
      << testing::PrintToString(Shown());
}

}  // namespace
