// Automatic receiving (the interval on a fake clock, the states in which the
// timer starts nothing), offline work without a server, the tray through
// the fake icon, and the first activation's notices.
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "base/base64.h"
#include "commands/login_command.h"
#include "qovra/ui/progress.h"
#include "qovra/workspace/auto_receive.h"
#include "qovra/workspace/testing/fake_tick_clock.h"
#include "test_main_window_fixture.h"

namespace {

namespace fs = std::filesystem;
using qovra::ui::testing::FakeTickClock;

constexpr char kBob[] = "bob@127.0.0.1";

// TAutoReceive alone: a receive that only counts, and may take time.
class AutoReceiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qovra::Options = qovra::TOptions{};
    ui_->timer_enabled = true;
  }
  void TearDown() override { qovra::Options = qovra::TOptions{}; }

  qovra::ui::TAutoReceive Make(uint64_t receive_takes_ms = 0) {
    return qovra::ui::TAutoReceive(
        [this, receive_takes_ms] {
          ++receives_;
          timer_during_.push_back(ui_->timer_enabled);
          silent_during_.push_back(qovra::ui::SilentReceive);
          clock_.AdvanceMs(receive_takes_ms);
        },
        [this] { return ready_; });
  }

  qovra::testing::ScopedFakeUi ui_;
  FakeTickClock clock_;
  int receives_ = 0;
  bool ready_ = true;
  std::vector<bool> timer_during_;
  std::vector<bool> silent_during_;
};

TEST_F(AutoReceiveTest, ReceivesOnlyAfterMoreThanTheInterval) {
  qovra::Options.Mail.reffreq = 300;
  qovra::ui::TAutoReceive auto_receive = Make();
  const uint64_t start = clock_.NowMs();
  // Ticks every 2 s up to 300 s and 999 ms: 300 whole seconds at most.
  for (int i = 0; i < 150; ++i) {
    clock_.AdvanceMs(2000);
    auto_receive.TimerTick();
  }
  clock_.AdvanceMs(999);
  auto_receive.TimerTick();
  EXPECT_EQ(receives_, 0);
  EXPECT_TRUE(ui_->timer_enabled);

  clock_.AdvanceMs(1);  // 301 s
  auto_receive.TimerTick();
  EXPECT_EQ(receives_, 1);
  EXPECT_EQ(auto_receive.LastReceiveTick(), start + 301'000);
  // The timer is off and the receive silent while it runs, and back after.
  EXPECT_EQ(timer_during_, std::vector<bool>{false});
  EXPECT_EQ(silent_during_, std::vector<bool>{true});
  EXPECT_TRUE(ui_->timer_enabled);
  EXPECT_FALSE(qovra::ui::SilentReceive);
}

// A 40-second receive: the next interval counts from the tick before it.
TEST_F(AutoReceiveTest, LongReceiveCountsFromTheTickBeforeIt) {
  qovra::Options.Mail.reffreq = 300;
  qovra::ui::TAutoReceive auto_receive = Make(/*receive_takes_ms=*/40'000);
  clock_.AdvanceSeconds(301);
  const uint64_t first = clock_.NowMs();
  auto_receive.TimerTick();
  ASSERT_EQ(receives_, 1);
  EXPECT_EQ(auto_receive.LastReceiveTick(), first);
  EXPECT_EQ(clock_.NowMs(), first + 40'000);

  clock_.AdvanceSeconds(260);  // 300 s after the tick before the receive
  auto_receive.TimerTick();
  EXPECT_EQ(receives_, 1);
  clock_.AdvanceSeconds(1);  // 301 s after it, 261 s after the receive ended
  auto_receive.TimerTick();
  EXPECT_EQ(receives_, 2);
}

// Fifty days without a receive (the timer was off) are more than 49.7 days
// of milliseconds: the interval does not wrap.
TEST_F(AutoReceiveTest, IntervalDoesNotWrapAfterFiftyDays) {
  qovra::Options.Mail.reffreq = 300;
  qovra::ui::TAutoReceive auto_receive = Make();
  clock_.AdvanceMs((uint64_t{1} << 32) + 100'000);  // 2^32 ms and 100 s
  auto_receive.TimerTick();
  EXPECT_EQ(receives_, 1);
}

TEST_F(AutoReceiveTest, ZeroIntervalStopsTheTimer) {
  for (const int32_t interval : {0, -5}) {
    SCOPED_TRACE(interval);
    qovra::Options.Mail.reffreq = interval;
    ui_->timer_enabled = true;
    qovra::ui::TAutoReceive auto_receive = Make();
    clock_.AdvanceSeconds(100'000);
    auto_receive.TimerTick();
    EXPECT_FALSE(ui_->timer_enabled);
    EXPECT_EQ(receives_, 0);
  }
}

// A tick that may not receive now keeps the last receive's time: the next
// ready tick receives.
TEST_F(AutoReceiveTest, NotReadyWaitsForTheNextTick) {
  qovra::Options.Mail.reffreq = 300;
  qovra::ui::TAutoReceive auto_receive = Make();
  const uint64_t start = clock_.NowMs();
  ready_ = false;
  clock_.AdvanceSeconds(400);
  auto_receive.TimerTick();
  EXPECT_EQ(receives_, 0);
  EXPECT_EQ(auto_receive.LastReceiveTick(), start);
  EXPECT_TRUE(ui_->timer_changes.empty());
  ready_ = true;
  clock_.AdvanceSeconds(2);
  auto_receive.TimerTick();
  EXPECT_EQ(receives_, 1);
}

// The main window with a server that answers nothing (a closed port): a
// receive shows the connection failure, which is enough to count it.
class MainWindowOfflineTest : public qovra_test::MainWindowFixture {
 protected:
  void SetUp() override {
    MainWindowFixture::SetUp();
    qovra::SetMsg("msgOfflineMode", "offline");
    qovra::SetMsg("msgGoOnlineCaption", "Going online");
    qovra::SetMsg("msgPasswordPrompt", "Password of %s:");
    qovra::SetMsg("msgCertIsAboutToBeExpired", "certificate ends in %d days");
    qovra::SetMsg("msgNewVersionAvailable2", "install %s?");
    qovra::SetMsg("msgUpdaterNotStarted", "no updater");
    qovra::SetMsg("msgNewVersionAvailable", "version %s");
    qovra::AppTitle = "Qovra";
    qovra::Options.Conn.ServerUrl = "http://127.0.0.1:1/qovra4/";
    qovra::Options.Mail.reffreq = 300;
    qovra::Options.Other.lastlgn = "bob";
  }
  void TearDown() override {
    qovra::CurrentVersionCode = qovra::LatestVersionCode = 0;
    qovra::LatestClientVersion.clear();
    qovra::UpdateRule.clear();
    MainWindowFixture::TearDown();
  }

  // Shows bob's window and lets a tick come after more than the interval.
  TfrmMain& ShownWindow(uint8_t state) {
    qovra::Session.State = state;
    MakeUser(kBob);
    TfrmMain& w = Window();
    w.show();
    return w;
  }
  void TickAfterInterval() {
    clock_.AdvanceSeconds(301);
    Window().TimerTick();
  }

  FakeTickClock clock_;
};

// Offline, neither the timer, nor F5, nor the first activation receives.
TEST_F(MainWindowOfflineTest, NothingReachesTheServerOffline) {
  qovra::Options.Mail.sdownld = 1;
  TfrmMain& w = ShownWindow(2);
  w.FormActivate();
  TickAfterInterval();
  EXPECT_FALSE(w.alMain->acMailReceive->isEnabled());
  QTest::keyClick(w.lvMain, Qt::Key_F5);
  EXPECT_FALSE(w.acMailReceiveExecute());
  EXPECT_EQ(w.ReceiveRuns(), 0);
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  EXPECT_TRUE(ui_->progress.empty());
}

// No receive inside a question's event loop, nor under the progress
// window; a compose window or viewer does not stop it, and the copy of
// the mail it holds stays as it was when the list refills.
TEST_F(MainWindowOfflineTest, TimerWaitsForMessagesAndProgressNotForMailWindows) {
  TfrmMain& w = ShownWindow(1);
  ui_->messages.clear();
  ui_->on_message = [&](const std::string&) {
    ui_->on_message = nullptr;
    TickAfterInterval();
  };
  qovra::ShowInfo(nullptr, "msgAnything");
  EXPECT_EQ(w.ReceiveRuns(), 0);

  {
    qovra::ui::TProgressDisplay display;
    display.Form()->show();
    TickAfterInterval();
    EXPECT_EQ(w.ReceiveRuns(), 0);
  }

  Store(qovra::kFolderInbox, "alice@127.0.0.1", kBob, u"kept");
  w.SelectFolder(qovra::kFolderInbox);
  SelectRows({0});
  const std::optional<qovra::TMailMessage> copy = w.SelectedMailCopy();
  ASSERT_TRUE(copy);
  {
    TfrmMain::TActiveFormScope viewer(w, TActiveFormKind::TextViewer);
    ui_->messages.clear();
    TickAfterInterval();
    EXPECT_EQ(w.ReceiveRuns(), 1);
    EXPECT_FALSE(ui_->messages.empty());  // the closed port, reported
  }
  EXPECT_EQ(copy->Subject, u"kept");
  EXPECT_EQ(copy->FromAddress, "alice@127.0.0.1");
}

// Show enables the timer; reffreq 0 stops it at the first tick; the
// settings dialog's end applies reffreq and traymin at once.
TEST_F(MainWindowOfflineTest, TimerFollowsShowTicksAndSettings) {
  qovra::Options.Mail.reffreq = 0;
  TfrmMain& w = ShownWindow(2);
  EXPECT_TRUE(ui_->timer_enabled);
  w.TimerTick();
  EXPECT_FALSE(ui_->timer_enabled);

  qovra::Options.Mail.reffreq = 600;
  qovra::Options.Other.traymin = 1;
  w.ApplyTimerAndTraySettings();
  EXPECT_TRUE(ui_->timer_enabled);
  EXPECT_TRUE(tray_.minimize_to_tray);
  qovra::Options.Mail.reffreq = 0;
  w.ApplyTimerAndTraySettings();
  EXPECT_FALSE(ui_->timer_enabled);

  // A show restarts the interval.
  w.hide();
  clock_.AdvanceSeconds(1000);
  w.show();
  EXPECT_EQ(w.AutoReceive().LastReceiveTick(), clock_.NowMs());
}

TEST_F(MainWindowOfflineTest, GoingOfflineAndACancelledWayBack) {
  TfrmMain& w = ShownWindow(1);
  qovra::Session.OwnContact.FirstName = u"Bob";
  w.UpdateTitle();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Qovra - Bob (bob@127.0.0.1)"));
  ui_->messages.clear();

  w.alMain->acWorkOffline->trigger();
  EXPECT_EQ(qovra::Session.State, 2);
  EXPECT_TRUE(w.alMain->acWorkOffline->isChecked());
  EXPECT_FALSE(w.alMain->acMailReceive->isEnabled());
  EXPECT_FALSE(w.alMain->acHelpCheckUpdate->isEnabled());
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Qovra - offline"));
  EXPECT_EQ(tray_.hint, w.windowTitle());
  EXPECT_TRUE(ui_->prompts.empty());
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_TRUE(ui_->progress.empty());

  // The prompt is cancelled: still offline.
  ui_->reauth_answers.push_back(2);
  w.alMain->acWorkOffline->trigger();
  ASSERT_EQ(ui_->prompts.size(), 1u);
  EXPECT_TRUE(ui_->prompts[0].reauthenticate);
  EXPECT_EQ(ui_->prompts[0].caption, "Going online");
  EXPECT_EQ(ui_->prompts[0].prompt, "Password of bob:");
  EXPECT_EQ(ui_->prompts[0].icon_name, "ico_lock48");
  EXPECT_EQ(qovra::Session.State, 2);
  EXPECT_TRUE(w.alMain->acWorkOffline->isChecked());
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Qovra - offline"));
}

// Minimised with traymin, the window goes to the tray; Open and the
// balloon's click bring it back. Without a notification area it stays in
// the task bar and nothing is said.
TEST_F(MainWindowOfflineTest, MinimiseToTrayAndBack) {
  struct Case {
    const char* name;
    bool available;
    bool traymin;
    bool to_tray;
  } cases[] = {
      {"tray with traymin", true, true, true},
      {"tray without traymin", true, false, false},
      {"no system tray available", false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tray_ = qovra::ui::testing::FakeTrayIcon{};
    tray_.available = c.available;
    qovra::Options.Other.traymin = c.traymin;
    qovra::Session.State = 2;
    MakeUser(kBob);
    NewWindow();
    TfrmMain& w = Window();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ASSERT_EQ(tray_.menu, w.pmTray);
    ui_->messages.clear();

    w.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.isVisible(), !c.to_tray);
    EXPECT_EQ(tray_.visible, c.to_tray);
    EXPECT_TRUE(ui_->messages.empty());
    if (!c.to_tray) continue;

    tray_.ClickBalloon();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
    EXPECT_FALSE(tray_.visible);

    w.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    ASSERT_FALSE(w.isVisible());
    QAction* open = w.pmTray->findChild<QAction*>(QStringLiteral("mnuTrayOpen"));
    ASSERT_TRUE(open);
    EXPECT_EQ(w.pmTray->defaultAction(), open);
    EXPECT_TRUE(w.pmTray->actions().contains(w.alMain->acExit));
    open->trigger();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(tray_.visible);

    // Exit from the tray's menu closes the hidden window.
    w.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    ASSERT_FALSE(w.isVisible());
    QSignalSpy closed(&w, &TfrmMain::closed);
    w.alMain->acExit->trigger();
    EXPECT_EQ(closed.count(), 1);
  }
}

// The first activation's notices: the certificate's remaining days when
// positive, and the offer of a newer version with a usable rule.
TEST_F(MainWindowOfflineTest, FirstActivationNotices) {
  const std::string rule = qovra::Base64Encode("<update/>");
  struct Case {
    const char* name;
    int32_t cert_days;
    uint32_t current, latest;
    std::string rule;
    std::vector<std::string> shown;
  } cases[] = {
      {"nothing to say", 0, 0x04000100, 0x04000100, rule, {}},
      {"certificate ends in 5 days", 5, 0, 0, "", {"certificate ends in 5 days"}},
      {"same version", 0, 0x04000100, 0x04000100, rule, {}},
      {"newer version", 0, 0x04000100, 0x04000200, rule, {"install 4.0.2.0?"}},
      {"newer version, no rule", 0, 0x04000100, 0x04000200, "", {}},
      {"newer version, rule decodes to nothing", 0, 0x04000100, 0x04000200, "@@@@", {}},
      {"both", 3, 0x04000100, 0x04000200, rule, {"certificate ends in 3 days", "install 4.0.2.0?"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qovra::Session.State = 2;
    MakeUser(kBob);
    qovra::Session.CertValidityRemain = c.cert_days;
    qovra::CurrentVersionCode = c.current;
    qovra::LatestVersionCode = c.latest;
    qovra::LatestClientVersion = "4.0.2.0";
    qovra::UpdateRule = c.rule;
    NewWindow();
    ui_->messages.clear();
    ui_->QueueAnswer(qovra::kMsgResultOk);
    ui_->QueueAnswer(qovra::kMsgResultNo);
    Window().FormActivate();
    EXPECT_EQ(Shown(), c.shown);
    if (!c.shown.empty() && c.cert_days > 0) {
      EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconWarning);
    }
    EXPECT_TRUE(Window().FirstActivationDone());
    // Later activations say nothing.
    ui_->messages.clear();
    Window().FormActivate();
    EXPECT_TRUE(ui_->messages.empty());
  }
}

// Yes to the offer: the updater from the program folder gets the rule file
// and the window closes; without an updater the window says so and stays.
TEST_F(MainWindowOfflineTest, UpdateOfferStartsTheUpdaterOrWarns) {
  qovra::Session.State = 2;
  MakeUser(kBob);
  qovra::CurrentVersionCode = 0x04000100;
  qovra::LatestVersionCode = 0x04000200;
  qovra::LatestClientVersion = "4.0.2.0";
  qovra::UpdateRule = qovra::Base64Encode("<update/>");

  ui_->QueueAnswer(qovra::kMsgResultYes);
  QSignalSpy closed(&Window(), &TfrmMain::closed);
  Window().show();
  Window().FormActivate();
  EXPECT_EQ(Shown(), (std::vector<std::string>{"install 4.0.2.0?", "no updater"}));
  EXPECT_EQ(closed.count(), 0);
  EXPECT_TRUE(Window().isVisible());

  // An updater that copies its rule and records its arguments.
  const std::string updater = qovra::ProgramDir + "qovraupd";
  std::ofstream(updater) << "#!/bin/sh\ncp \"$1\" \"" << dir_.File("rule-seen")
                         << "\"\nprintf '%s\\n' \"$@\" > \"" << dir_.File("args") << "\"\n";
  fs::permissions(updater, fs::perms::owner_all);
  NewWindow();
  QSignalSpy closed2(&Window(), &TfrmMain::closed);
  Window().show();
  ui_->messages.clear();
  ui_->QueueAnswer(qovra::kMsgResultYes);
  Window().FormActivate();
  EXPECT_EQ(Shown(), std::vector<std::string>{"install 4.0.2.0?"});
  EXPECT_EQ(closed2.count(), 1);
  EXPECT_FALSE(Window().isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(dir_.File("args")); }, 5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return fs::file_size(dir_.File("args")) > 0; }, 5000));
  std::ifstream args(dir_.File("args"));
  std::string file, flag;
  std::getline(args, file);
  std::getline(args, flag);
  EXPECT_EQ(flag, "-DELETERULE");
  EXPECT_EQ(fs::path(file).extension(), ".xml");
  std::ifstream seen(dir_.File("rule-seen"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(seen), {}), "<update/>");
  if (fs::exists(file)) {
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    fs::remove(file);
  }
}

}  // namespace
