// The program's main block with the real login window: typing alice's
// password logs in against the exchange server and leads to the main window;
// the links to the settings dialog open the program's own settings dialog.
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "account/login_test_fixture.h"
#include "base/msg_format.h"
#include "mail/startup.h"
#include "program_main.h"
#include "qovra/account/options_dialog.h"
#include "qovra/account/options_pages.h"
#include "qovra/workspace/main_window.h"
#include "store/mail_db.h"
#include "support/client_settings.h"

namespace qovra_test {
namespace {

namespace fs = std::filesystem;

class LoginProgramTest : public LoginWindowFixture {
 protected:
  // A program folder with the templates, sounds and language files, and a
  // settings file with alice's key files, the last login, the mail folder
  // and server_address (none when empty). The program's own login window
  // and settings dialog; messages go to the fake.
  qovra::app::TProgramSetup ProgramWith(const std::string& server_address,
                                        const std::string& server_url) {
    const std::string prog = dir_.File("prog") + "/";
    fs::create_directories(prog);
    for (const char* file : {"ecm.edb", "eca.edb", "qelto.rcc"}) {
      fs::copy_file(std::string(QOVRA_BIN_DIR) + "/" + file, prog + file);
    }
    fs::copy(std::string(QOVRA_BIN_DIR) + "/lang", prog + "lang");
    fs::create_directories(mail_);
    const std::string run = dir_.File("run") + "/";
    fs::create_directories(run);
    fs::permissions(run, fs::perms::owner_all);

    qovra::InitAppSettings(prog + "qovra", SettingsPaths());
    qovra::Options.langid = 1;
    qovra::Options.Conn.srvaddr = server_address;
    qovra::Options.Conn.ServerUrl = server_url;
    qovra_test::UseKeyFilesOf(*pki_, kAlice);
    qovra::Options.Other.lastlgn = "alice";
    qovra::Options.Folders.maildir = qovra::Utf8ToUtf16(mail_);
    EXPECT_TRUE(qovra::SaveOptions());
    qovra::Options = qovra::TOptions{};

    qovra::app::TProgramSetup setup;
    setup.program_path = prog + "qovra";
    setup.settings = SettingsPaths();
    setup.instance_folder = run;
    setup.message_ui = &*ui_;
    // login_ui stays null: the program's own login window.
    return setup;
  }

  const std::string mail_ = dir_.File("mail");
};

TEST_F(LoginProgramTest, RealLoginWindowLogsInToTheMainWindow) {
  StartServer();
  const std::string& mail = mail_;
  qovra::app::TProgramSetup setup =
      ProgramWith("127.0.0.1:" + std::to_string(server_.Port()), server_.Url());

  bool typed = false;
  QTimer typist;
  QObject::connect(&typist, &QTimer::timeout, [&] {
    auto* login = qobject_cast<TfrmLogin*>(QApplication::activeModalWidget());
    if (!login || typed) return;
    typed = true;
    EXPECT_EQ(login->eLogin->text(), QStringLiteral("alice"));
    login->ePassword->setText(kAlicePassword);
    QTest::mouseClick(login->btnOK, Qt::LeftButton);
  });
  typist.start(20);

  int state = -1;
  bool databases_open = false;
  std::string user_dir;
  setup.on_main_window = [&](TfrmMain& window) {
    state = qovra::Session.State;
    databases_open = qovra::MailDb.IsOpen();
    user_dir = qovra::UserDir;
    QTimer::singleShot(0, &window, &QWidget::close);
  };
  EXPECT_EQ(qovra::app::ProgramMain(setup), qovra::app::ProgramEnd::MainWindowClosed)
      << testing::PrintToString(Shown());
  typist.stop();
  EXPECT_TRUE(typed);
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  EXPECT_EQ(state, 1);
  EXPECT_TRUE(databases_open);
  EXPECT_EQ(user_dir, mail + "/" + kAlice + "/");
  EXPECT_TRUE(fs::is_regular_file(mail + "/" + kAlice + "/ecm.edb"));

  // The login left its offline signature in the settings file.
  qovra::LoadOptions();
  EXPECT_EQ(qovra::Options.Keys.offpass.size(), 160u);
  EXPECT_EQ(qovra::Options.Other.lastlgn, "alice");
}

// The login window's links open the program's own settings dialog: the
// server link without a server shows the connection page alone, the
// settings link the connection, keys and interface pages; what is set there
// is saved and shown, a new language at once.
TEST_F(LoginProgramTest, LinksOpenTheRealSettingsDialog) {
  qovra::app::TProgramSetup setup = ProgramWith("", "");
  int login_step = 0;
  int dialog_step = 0;
  std::vector<std::vector<int>> pages;
  QString domain_caption, settings_caption, password_placeholder;
  QTimer login_driver, dialog_driver;
  QObject::connect(&login_driver, &QTimer::timeout, [&] {
    auto* login = qobject_cast<TfrmLogin*>(QApplication::activeModalWidget());
    if (!login) return;
    if (login_step == 0) {
      login_step = 1;
      QTest::mouseClick(login->wlDomain, Qt::LeftButton);  // runs the dialog
      domain_caption = login->wlDomain->Caption();
      QTest::mouseClick(login->wlSettings, Qt::LeftButton);
      settings_caption = login->wlSettings->Caption();
      password_placeholder = login->ePassword->PlaceHolder();
      QTest::keyClick(login, Qt::Key_Escape);
    }
  });
  QObject::connect(&dialog_driver, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible() || dialog->result() != 0) return;
    std::vector<int> shown;
    for (int i = 0; i < dialog->lbMenu->count(); ++i)
      shown.push_back(dialog->lbMenu->item(i)->data(Qt::UserRole).toInt());
    pages.push_back(shown);
    if (dialog_step++ == 0) {
      auto* connection = dynamic_cast<TfrmOptConnection*>(dialog->FindPage(0));
      ASSERT_NE(connection, nullptr);
      connection->eServerAddress->setText(QStringLiteral("127.0.0.1:4"));
    } else {
      dialog->lbMenu->setCurrentRow(2);
      auto* iface = dynamic_cast<TfrmOptInterface*>(dialog->FindPage(2));
      ASSERT_NE(iface, nullptr);
      iface->cbLanguage->setCurrentIndex(0);
    }
    QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
  });
  login_driver.start(20);
  dialog_driver.start(20);
  EXPECT_EQ(qovra::app::ProgramMain(setup), qovra::app::ProgramEnd::LoginCancelled);
  login_driver.stop();
  dialog_driver.stop();

  EXPECT_EQ(pages, (std::vector<std::vector<int>>{{0}, {0, 1, 2}}));
  EXPECT_EQ(domain_caption, QStringLiteral("@127.0.0.1:4"));
  EXPECT_EQ(settings_caption.toStdString(), "Созламалар") << "the Uzbek file, applied at once";
  EXPECT_EQ(password_placeholder.toStdString(), "Парол");
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  EXPECT_TRUE(ui_->options_calls.empty()) << "the fake settings dialog was not asked";
  qovra::LoadOptions();
  EXPECT_EQ(qovra::Options.Conn.srvaddr, "127.0.0.1:4");
  EXPECT_EQ(qovra::Options.langid, 0);
}

}  // namespace
}  // namespace qovra_test
