// The main block end to end, offscreen: start-up in order, the ways it
// ends early, and what shut-down leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "mail/startup.h"
#include "platform/run_thread.h"
#include "platform/single_instance.h"
#include "platform/temp_files.h"
#include "program_main.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/sound.h"
#include "qovra/workspace/main_window.h"
#include "refresh_timer.h"
#include "seam/fake_ui.h"
#include "single_instance_guard.h"

namespace qovra::app {
namespace {

namespace fs = std::filesystem;
using qovra::testing::ScratchDir;

bool Gone(pid_t pid) {
  int status = 0;
  const bool unreaped = waitpid(pid, &status, WNOHANG) != -1 || errno != ECHILD;
  return !unreaped && kill(pid, 0) == -1 && errno == ESRCH;
}

template <size_t N>
bool AllZero(const std::array<uint8_t, N>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

class ProgramMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_.emplace("HOME", dir_.File("home"));
    config_.emplace("XDG_CONFIG_HOME", dir_.File("config"));
    fs::create_directories(dir_.File("home"));
    mail_ = dir_.File("mail");
    fs::create_directories(mail_);
    run_ = dir_.File("run") + "/";
    fs::create_directories(run_);
    fs::permissions(run_, fs::perms::owner_all);
    setup_.program_path =
        testing::MakeProgramDir(dir_, {"ecm.edb", "eca.edb", "qelto.rcc"}) + "qovra";
    setup_.settings = TSettingsPaths{dir_.File("qovra.xml"), "", true};
    setup_.instance_folder = run_;
    setup_.message_ui = &ui_;
    setup_.login_ui = &ui_;
    // The login window: records what start-up had set up before it, then
    // logs in as alice with the mail folder of the test.
    ui_.on_login = [this] {
      login_temp_ = GetTempFolder();
      login_temp_mode_ = testing::ModeOf(login_temp_);
      login_sounds_ = ui::DialogSoundFiles();
      had_programs_ = RunThreadList != nullptr;
      had_progress_ = frmProgress != nullptr;
      timer_ready_ =
          RefreshTimer && !RefreshTimer->IsEnabled() && RefreshTimer->Timer().interval() == 2000;
      Options.Folders.maildir = Utf8ToUtf16(mail_);
      Session.State = 1;
      Session.Login = "alice";
      Session.OwnContact.Email = "alice@localhost";
      Session.PrivateKeyPassword = "key password";
      Session.DevicePin = "1234";
      Session.SessionKey.fill(0xAB);
      Session.OwnPrivateKey.fill(0xCD);
      return login_answer_;
    };
  }
  void TearDown() override { Session.Clear(); }

  ScratchDir dir_;
  std::optional<qovra::testing::ScopedEnv> home_, config_;
  qovra::testing::FakeUi ui_;
  TProgramSetup setup_;
  std::string mail_, run_;
  int login_answer_ = 1;
  std::string login_temp_;
  int login_temp_mode_ = -1;
  std::array<QString, 3> login_sounds_;
  bool had_programs_ = false, had_progress_ = false, timer_ready_ = false;
};

TEST_F(ProgramMainTest, RunsToTheMainWindowAndCleansUpAfterIt) {
  std::string session_temp;
  pid_t helper = -1;
  bool databases_open = false;
  QString window_class, window_name;
  setup_.on_main_window = [&](TfrmMain& window) {
    window_class = QString::fromLatin1(window.metaObject()->className());
    window_name = window.objectName();
    databases_open = MailDb.IsOpen() && AddrBookDb.IsOpen();
    session_temp = GetTempFolder();
    std::ofstream(session_temp + "attachment.pdf") << "decrypted";
    fs::create_directories(session_temp + "folder");
    helper = RunThreadList->Run("sleep", {"30"}).Pid();
    QTimer::singleShot(0, &window, &QWidget::close);
  };

  EXPECT_EQ(ProgramMain(setup_), ProgramEnd::MainWindowClosed);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(ui_.login_windows, 1);

  // What start-up had set up before the login.
  EXPECT_TRUE(had_programs_);
  EXPECT_TRUE(had_progress_);
  EXPECT_TRUE(timer_ready_);
  EXPECT_FALSE(login_temp_.empty());
  EXPECT_EQ(login_temp_mode_, 0700) << "the temporary folder before login is private";
  for (const QString& sound : login_sounds_) {
    EXPECT_EQ(sound.toStdString().rfind(login_temp_, 0), 0u) << sound.toStdString();
  }
  EXPECT_EQ(window_class, QStringLiteral("TfrmMain"));
  EXPECT_EQ(window_name, QStringLiteral("frmMain"));
  EXPECT_TRUE(databases_open);
  EXPECT_EQ(session_temp, mail_ + "/alice@localhost/temp/");

  // Shut-down.
  EXPECT_TRUE(Gone(helper)) << "the started program was ended";
  EXPECT_TRUE(fs::is_directory(session_temp));
  EXPECT_TRUE(fs::is_empty(session_temp)) << "the temporary folder was emptied";
  EXPECT_FALSE(testing::Exists(login_temp_)) << "the private folder was removed";
  for (const QString& sound : login_sounds_) EXPECT_FALSE(testing::Exists(sound.toStdString()));
  EXPECT_FALSE(MailDb.IsOpen());
  EXPECT_FALSE(AddrBookDb.IsOpen());
  EXPECT_EQ(RunThreadList, nullptr);
  EXPECT_EQ(RefreshTimer, nullptr);
  EXPECT_EQ(frmProgress, nullptr);
  EXPECT_EQ(Session.State, 0);
  EXPECT_TRUE(Session.PrivateKeyPassword.empty());
  EXPECT_TRUE(Session.DevicePin.empty());
  EXPECT_TRUE(AllZero(Session.SessionKey));
  EXPECT_TRUE(AllZero(Session.OwnPrivateKey));
  TInstanceLock lock;
  EXPECT_EQ(lock.Acquire(run_), TInstanceLock::Result::Acquired) << "the lock was released";

  // The databases came from the templates; the login was saved.
  EXPECT_EQ(ScratchDir::Read(mail_ + "/alice@localhost/ecm.edb"),
            ScratchDir::Read(testing::BuiltTemplate("ecm.edb")));
  Options.Other.lastlgn.clear();
  LoadOptions();
  EXPECT_EQ(Options.Other.lastlgn, "alice");
}

// The receive timer's ticks go to the main window: shown, it enabled the
// timer; a tick with reffreq 0 stops it.
TEST_F(ProgramMainTest, TimerTicksReachTheMainWindow) {
  bool enabled_by_show = false, enabled_after_tick = true;
  setup_.on_main_window = [&](TfrmMain& window) {
    enabled_by_show = RefreshTimer->IsEnabled();
    Options.Mail.reffreq = 0;
    RefreshTimer->Handler().TimerTick();
    enabled_after_tick = RefreshTimer->IsEnabled();
    QTimer::singleShot(0, &window, &QWidget::close);
  };
  EXPECT_EQ(ProgramMain(setup_), ProgramEnd::MainWindowClosed);
  EXPECT_TRUE(enabled_by_show);
  EXPECT_FALSE(enabled_after_tick);
}

TEST_F(ProgramMainTest, CancelledLoginTouchesNoUserDataAndStillCleansUp) {
  login_answer_ = 2;
  bool main_window = false;
  setup_.on_main_window = [&](TfrmMain&) { main_window = true; };
  EXPECT_EQ(ProgramMain(setup_), ProgramEnd::LoginCancelled);
  EXPECT_EQ(ExitCodeOf(ProgramEnd::LoginCancelled), 0);
  EXPECT_FALSE(main_window);
  EXPECT_TRUE(fs::is_empty(mail_));
  EXPECT_FALSE(testing::Exists(login_temp_));
  for (const QString& sound : login_sounds_) EXPECT_FALSE(testing::Exists(sound.toStdString()));
  EXPECT_TRUE(AllZero(Session.SessionKey));
}

TEST_F(ProgramMainTest, MissingTemplateIsReportedAndTheProgramEndsCleanly) {
  fs::remove(fs::path(setup_.program_path).parent_path() / "eca.edb");
  bool main_window = false;
  setup_.on_main_window = [&](TfrmMain&) { main_window = true; };
  const ProgramEnd end = ProgramMain(setup_);
  EXPECT_EQ(end, ProgramEnd::UserDataFailed);
  EXPECT_EQ(ExitCodeOf(end), 1);
  EXPECT_FALSE(main_window);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].text.find("eca.edb"), std::string::npos);
  EXPECT_FALSE(testing::Exists(mail_ + "/alice@localhost/eca.edb"));
  EXPECT_FALSE(MailDb.IsOpen());
  EXPECT_FALSE(testing::Exists(login_temp_));
  EXPECT_TRUE(AllZero(Session.OwnPrivateKey));
}

TEST_F(ProgramMainTest, EscapeInTheProgramsOwnLoginWindowEndsWithoutUserData) {
  setup_.login_ui = nullptr;  // the real TfrmLogin
  QString shown_class;
  QTimer::singleShot(0, [&] {
    QWidget* window = QApplication::activeModalWidget();
    if (!window) return;
    shown_class = QString::fromLatin1(window->metaObject()->className());
    QTest::keyClick(window, Qt::Key_Escape);
  });
  const ProgramEnd end = ProgramMain(setup_);
  EXPECT_EQ(end, ProgramEnd::LoginCancelled);
  EXPECT_EQ(ExitCodeOf(end), 0);
  EXPECT_TRUE(shown_class.endsWith(QStringLiteral("TfrmLogin"))) << shown_class.toStdString();
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_FALSE(testing::Exists(mail_ + "/alice@localhost"));
  EXPECT_EQ(Session.State, 0);
}

// Passes messages on to the fake and notes what was still up when the
// first one was shown.
class StateAtReport : public IMessageUi {
 public:
  explicit StateAtReport(qovra::testing::FakeUi& ui) : ui_(ui) {}
  int ShowMsgDialog(TWindowHandle owner, const std::string& text, int flags,
                    const std::string& ok_caption, const std::string& no_caption,
                    const std::string& cancel_caption) override {
    if (!seen) {
      seen = true;
      databases_open = MailDb.IsOpen() || AddrBookDb.IsOpen();
      window_up = RunThreadList || RefreshTimer || frmProgress;
      secrets_wiped = AllZero(Session.SessionKey) && AllZero(Session.OwnPrivateKey) &&
                      Session.PrivateKeyPassword.empty() && Session.DevicePin.empty();
    }
    return ui_.ShowMsgDialog(owner, text, flags, ok_caption, no_caption, cancel_caption);
  }
  TWindowHandle ActiveWindow() override { return ui_.ActiveWindow(); }
  TWindowHandle ActiveFormWindow() override { return ui_.ActiveFormWindow(); }

  bool seen = false, databases_open = true, window_up = true, secrets_wiped = false;

 private:
  qovra::testing::FakeUi& ui_;
};

TEST_F(ProgramMainTest, AnExceptionIsReportedAfterTheShutDownInOrder) {
  enum class Where { Login, MainWindow, EventHandler };
  const struct {
    const char* name;
    Where where;
    bool std_exception;
    const char* reason;  // expected on stderr
  } rows[] = {
      {"login", Where::Login, true, "the login window broke"},
      {"login_other_type", Where::Login, false, "no std::exception"},
      {"main_window", Where::MainWindow, true, "the main window broke"},
      {"event_handler", Where::EventHandler, true, "a handler broke"},
  };
  const auto login = ui_.on_login;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    ui_.messages.clear();
    const auto fail = [&r] {
      if (!r.std_exception) throw 42;
      throw std::runtime_error(r.reason);
    };
    ui_.on_login = [&] {
      const int answer = login();
      if (r.where == Where::Login) fail();
      return answer;
    };
    std::string session_temp;
    pid_t helper = -1;
    setup_.on_main_window = [&](TfrmMain& window) {
      session_temp = GetTempFolder();
      std::ofstream(session_temp + "attachment.pdf") << "decrypted";
      helper = RunThreadList->Run("sleep", {"30"}).Pid();
      if (r.where == Where::MainWindow) fail();
      QTimer::singleShot(0, &window, fail);  // thrown inside the event loop
    };
    StateAtReport state(ui_);
    setup_.message_ui = &state;

    ::testing::internal::CaptureStderr();
    const ProgramEnd end = ProgramMain(setup_);
    const std::string log = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(end, ProgramEnd::UnexpectedError);
    EXPECT_EQ(ExitCodeOf(end), 1);
    EXPECT_EQ(ui_.ShownTexts(), std::vector<std::string>{GetMsg("msgUnexpectedError")});
    EXPECT_EQ(ui_.messages.empty() ? 0 : ui_.messages[0].flags, kMsgIconError);
    EXPECT_NE(log.find(r.reason), std::string::npos) << log;
    // Everything was down before the message asked for the user's time.
    EXPECT_TRUE(state.seen);
    EXPECT_FALSE(state.databases_open);
    EXPECT_FALSE(state.window_up);
    EXPECT_TRUE(state.secrets_wiped);
    if (r.where != Where::Login) {
      EXPECT_TRUE(Gone(helper)) << "the started program was ended";
      EXPECT_TRUE(fs::is_empty(session_temp)) << "the temporary folder was emptied";
    }
    EXPECT_FALSE(testing::Exists(login_temp_)) << "the private folder was removed";
    for (const QString& sound : login_sounds_) EXPECT_FALSE(testing::Exists(sound.toStdString()));
    EXPECT_EQ(Session.State, 0);
    TInstanceLock lock;
    EXPECT_EQ(lock.Acquire(run_), TInstanceLock::Result::Acquired) << "the lock was released";
  }
}

TEST_F(ProgramMainTest, SecondCopyActivatesTheFirstAndEndsBeforeTheLogin) {
  TSingleInstanceGuard first;
  ASSERT_EQ(first.Check(run_), TSingleInstanceGuard::Outcome::OnlyCopy);
  EXPECT_EQ(ProgramMain(setup_), ProgramEnd::AnotherCopy);
  EXPECT_EQ(ui_.login_windows, 0);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_TRUE(QTest::qWaitFor([&] { return first.ActivationCount() == 1; }, 5000));
}

// The private temporary folder a killed copy left goes when the only copy
// starts, once it holds the guard; a second copy, which never gets it,
// leaves it alone.
TEST_F(ProgramMainTest, OnlyTheOnlyCopySweepsTheFolderAKilledCopyLeft) {
  fs::create_directories(dir_.File("tmp"));
  qovra::testing::ScopedEnv tmpdir("TMPDIR", dir_.File("tmp"));
  const qovra::testing::CopyWithTempFolder killed(/*die=*/true);
  ASSERT_TRUE(testing::Exists(killed.path + "sound.wav"));
  {
    TSingleInstanceGuard first;
    ASSERT_EQ(first.Check(run_), TSingleInstanceGuard::Outcome::OnlyCopy);
    EXPECT_EQ(ProgramMain(setup_), ProgramEnd::AnotherCopy);
    EXPECT_TRUE(testing::Exists(killed.path + "sound.wav"));
  }
  login_answer_ = 2;
  EXPECT_EQ(ProgramMain(setup_), ProgramEnd::LoginCancelled);
  EXPECT_FALSE(testing::Exists(killed.path));
  EXPECT_TRUE(fs::is_empty(dir_.File("tmp"))) << "its own folder went at the end";
}

TEST_F(ProgramMainTest, UnusableInstanceFolderIsReported) {
  setup_.instance_folder = dir_.File("missing") + "/";
  EXPECT_EQ(ProgramMain(setup_), ProgramEnd::GuardFailed);
  EXPECT_EQ(ui_.login_windows, 0);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, qovra::GetMsg("msgInstanceLockError"));
}

}  // namespace
}  // namespace qovra::app
