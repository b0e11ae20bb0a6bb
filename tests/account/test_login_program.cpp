// The program's main block with the real login window: typing alice's
// password logs in against the exchange server and leads to the main window;
// the links to the settings dialog reach the program's own settings seam.
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "account/login_test_fixture.h"
#include "base/msg_format.h"
#include "mail/startup.h"
#include "program_main.h"
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

// Until the settings dialog is built, the links that open it say so in the
// running program, as every function not built yet does.
TEST_F(LoginProgramTest, LinksToTheSettingsDialogSayItIsNotAvailable) {
  qovra::app::TProgramSetup setup = ProgramWith("", "");
  std::vector<QString> captions;
  bool clicked = false;
  QTimer clicker;
  QObject::connect(&clicker, &QTimer::timeout, [&] {
    auto* login = qobject_cast<TfrmLogin*>(QApplication::activeModalWidget());
    if (!login || clicked) return;
    clicked = true;
    captions = {login->wlSettings->Caption(), login->wlDomain->Caption()};
    QTest::mouseClick(login->wlSettings, Qt::LeftButton);
    // Without a server the server link shows that none is set and leads to
    // the settings too.
    QTest::mouseClick(login->wlDomain, Qt::LeftButton);
    QTest::keyClick(login, Qt::Key_Escape);
  });
  clicker.start(20);
  EXPECT_EQ(qovra::app::ProgramMain(setup), qovra::app::ProgramEnd::LoginCancelled);
  clicker.stop();
  ASSERT_TRUE(clicked);

  const std::string settings = qovra::GetMsg("msgSettings");
  EXPECT_EQ(settings, "Настройки");
  EXPECT_EQ(captions[0].toStdString(), settings) << "the settings link's own caption";
  EXPECT_EQ(captions[1].toStdString(), qovra::GetMsg("msgNotSpecified"));
  const std::string not_available =
      qovra::FormatMsg(qovra::GetMsg("msgFunctionNotAvailable"), {settings});
  EXPECT_EQ(Shown(), (std::vector<std::string>{not_available, not_available}));
  for (const auto& m : ui_->messages) EXPECT_EQ(m.flags, qovra::kMsgIconInformation);
  EXPECT_TRUE(ui_->options_calls.empty()) << "the fake settings dialog was not asked";
}

}  // namespace
}  // namespace qovra_test
