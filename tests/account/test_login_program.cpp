// The program's main block with the real login window: typing alice's
// password logs in against the exchange server and leads to the main window.
#include <QTimer>
#include <filesystem>

#include "account/login_test_fixture.h"
#include "mail/startup.h"
#include "program_main.h"
#include "qovra/workspace/main_window.h"
#include "store/mail_db.h"
#include "support/client_settings.h"

namespace qovra_test {
namespace {

namespace fs = std::filesystem;

class LoginProgramTest : public LoginWindowFixture {};

TEST_F(LoginProgramTest, RealLoginWindowLogsInToTheMainWindow) {
  StartServer();
  const std::string prog = dir_.File("prog") + "/";
  fs::create_directories(prog);
  for (const char* file : {"ecm.edb", "eca.edb", "qelto.rcc"}) {
    fs::copy_file(std::string(QOVRA_BIN_DIR) + "/" + file, prog + file);
  }
  const std::string mail = dir_.File("mail");
  fs::create_directories(mail);
  const std::string run = dir_.File("run") + "/";
  fs::create_directories(run);
  fs::permissions(run, fs::perms::owner_all);

  // The settings file the program finds: the server, alice's key files,
  // the last login and the mail folder.
  qovra::InitAppSettings(prog + "qovra", SettingsPaths());
  qovra::Options.Conn.srvaddr = "127.0.0.1:" + std::to_string(server_.Port());
  qovra::Options.Conn.ServerUrl = server_.Url();
  qovra_test::UseKeyFilesOf(*pki_, kAlice);
  qovra::Options.Other.lastlgn = "alice";
  qovra::Options.Folders.maildir = qovra::Utf8ToUtf16(mail);
  ASSERT_TRUE(qovra::SaveOptions());
  qovra::Options = qovra::TOptions{};

  qovra::app::TProgramSetup setup;
  setup.program_path = prog + "qovra";
  setup.settings = SettingsPaths();
  setup.instance_folder = run;
  setup.message_ui = &*ui_;
  // login_ui stays null: the program's own login window.

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

}  // namespace
}  // namespace qovra_test
