// Receiving into the main window: alice sends with the real sending path
// through the exchange server and bob's window receives (F5): list rows,
// folder counts, the new-mail sound (only while the program is not the
// active application) and the tray balloon (only hidden with traymin). A
// spoiled mail among them, the server down, and a receive asked for while
// one runs; alice then sees the delivery times in her sent folder.
#include <QTest>
#include <filesystem>
#include <fstream>

#include "base/stream.h"
#include "base/utf.h"
#include "commands/login_command.h"
#include "mail/sending.h"
#include "net/server_request.h"
#include "qovra/ui/progress.h"
#include "qovra/workspace/main_receive_notices.h"
#include "qovra/workspace/testing/fake_tick_clock.h"
#include "server/exchange_pki.h"
#include "store/mail_container_writer.h"
#include "store/sqlite_db.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "test_main_window_fixture.h"

namespace {

namespace fs = std::filesystem;

constexpr char kPassword[] = "secret";
constexpr char kAlice[] = "alice@127.0.0.1";
constexpr char kBob[] = "bob@127.0.0.1";

std::string Login(const std::string& address) {
  return address.substr(0, address.find('@'));
}

class MainWindowReceiveTest : public qovra_test::MainWindowFixture {
 protected:
  static void SetUpTestSuite() {
    pki_ = new qovra_test::ExchangePki;
    for (const char* user : {kAlice, kBob}) pki_->AddUserWithKeyFile(user);
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    MainWindowFixture::SetUp();
    qovra::HandshakeDone = false;
    qovra_test::ExchangeServerOptions o = pki_->Options();
    for (const char* user : {kAlice, kBob})
      o.seed_accounts.push_back(std::string(user) + ":" + kPassword);
    ASSERT_TRUE(server_.Start(o)) << server_.error();
    sound_ = dir_.Write("new-mail.wav", "RIFF");
  }
  void TearDown() override {
    MainWindowFixture::TearDown();
    qovra::HandshakeDone = false;
  }

  // The session of address with its own user folder and database.
  void BecomeClient(const std::string& address) {
    window_.reset();
    qovra::Options.Conn.useiewc = 2;
    qovra_test::UseServerAddress("127.0.0.1", server_.Port());
    qovra_test::UseKeyFilesOf(*pki_, address);
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    ASSERT_NO_FATAL_FAILURE(MakeUser(address));
    int owner = 0;
    ASSERT_EQ(qovra::LoginSession(Login(address), kPassword, {&owner, "TfrmLogin", nullptr}), 1)
        << testing::PrintToString(Shown());
    ui_->messages.clear();
  }

  // Alice writes a text mail to bob and sends it the way the program does.
  std::string Send(int n) {
    char uuid[33];
    std::snprintf(uuid, sizeof uuid, "%032X", 0xB2000 + n);
    qovra::TMailMessage mail;
    mail.Uuid = uuid;
    mail.FromAddress = kAlice;
    EXPECT_TRUE(qovra::SplitAddressList(mail.Recipients, kBob, ';'));
    const qovra::TEMailList entries = mail.Recipients;
    mail.Subject = u"Салом " + qovra::Utf8ToUtf16(std::to_string(n));
    mail.FolderId = qovra::kFolderOutbox;
    mail.Flags = qovra::mfDeliveryReport | qovra::mfReadReport;
    qovra::TMemoryStream container;
    {
      qovra::TMailWriter writer(container);
      writer.AddMailHeaders(kAlice, std::u16string(mail.Subject), kBob);
      writer.AddField("body", "body " + std::to_string(n));
      EXPECT_TRUE(writer.Finish());
    }
    mail.MailSize = container.Size();
    mail.Id = qovra::SaveMailToDatabase(qovra::MailDb, mail, kAlice, nullptr, nullptr, false);
    int owner = 0;
    const qovra::TSendPlace place{qovra::MessagesDir, qovra::GetTempFolder(), &qovra::MailDb};
    const qovra::TSendOutcome out =
        qovra::RunSendSteps({&owner, "TfrmMain", nullptr}, place, mail, qovra::kSendModeSecure,
                            entries, container, [](std::string_view) { return true; });
    EXPECT_TRUE(out.Sent) << testing::PrintToString(Shown());
    ui_->messages.clear();
    return uuid;
  }

  // Alice sends count mails; bob's window is made (and shown unless hidden).
  std::vector<std::string> AliceSendsThenBobOpens(int count, bool shown = true) {
    std::vector<std::string> uuids;
    EXPECT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    for (int i = 0; i < count; ++i) uuids.push_back(Send(++sent_));
    EXPECT_NO_FATAL_FAILURE(BecomeClient(kBob));
    qovra::Options.Mail.playsnd = 1;
    qovra::Options.Mail.sndpath = qovra::Utf8ToUtf16(sound_);
    if (shown) Window().show();
    return uuids;
  }

  void SetActive(bool active) {
    Window().ReceiveNotices().SetApplicationActiveCheck([active] { return active; });
  }

  static qovra_test::ExchangePki* pki_;
  qovra_test::ExchangeServer server_;
  std::string sound_;
  int sent_ = 0;
};

qovra_test::ExchangePki* MainWindowReceiveTest::pki_ = nullptr;

TEST_F(MainWindowReceiveTest, ThreeMailsFromAliceAppearWithSoundAndTrayNotice) {
  AliceSendsThenBobOpens(3, /*shown=*/false);
  qovra::Options.Other.traymin = 1;
  TfrmMain& w = Window();
  SetActive(false);
  ASSERT_EQ(w.alMain->acMailReceive->shortcut(), QKeySequence(Qt::Key_F5));
  ASSERT_TRUE(w.acMailReceiveExecute());
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  EXPECT_EQ(w.LastReceive().Stored, 3);

  // The inbox is selected and lists the three mails, unread.
  EXPECT_EQ(w.CurrentFolder().FolderId, qovra::kFolderInbox);
  ASSERT_EQ(w.model->Count(), 3);
  QStringList subjects;
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(w.model->Row(r).FromAddress, kAlice);
    subjects << w.model->Row(r).Subject;
  }
  subjects.sort();
  EXPECT_EQ(subjects, (QStringList{QStringLiteral("Салом 1"), QStringLiteral("Салом 2"),
                                   QStringLiteral("Салом 3")}));
  EXPECT_EQ(w.FindFolderNode(0)->text(1), QStringLiteral("3/3"));
  EXPECT_TRUE(w.FindFolderNode(0)->font(0).bold());

  // Not active and hidden in the tray with traymin: both signals.
  EXPECT_EQ(audio_->played, QStringList{QString::fromStdString(sound_)});
  ASSERT_EQ(tray_.balloons.size(), 1u);
  EXPECT_EQ(tray_.balloons[0].text, QStringLiteral("3 new mails"));
  EXPECT_EQ(tray_.balloons[0].timeout_ms, 10000);

  // Alice's next receive brings the delivery times into her sent folder.
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  Window().show();
  ASSERT_TRUE(Window().acMailReceiveExecute());
  EXPECT_EQ(Window().LastReceive().Reports, 3);
  Window().SelectFolder(qovra::kFolderSent);
  ASSERT_EQ(Window().model->Count(), 3);
  for (int r = 0; r < 3; ++r) {
    EXPECT_GT(Window().model->Row(r).ReceivedTime, 0) << r;
    const QString shown = Window().model->index(r, 5).data().toString();
    EXPECT_FALSE(shown.isEmpty()) << r;
  }
}

// Sound only while the program is not the active application; the balloon
// only while the window is hidden and traymin is on.
TEST_F(MainWindowReceiveTest, SoundAndBalloonFollowActivityWindowAndSetting) {
  struct Case {
    bool active, shown, traymin, sound, balloon;
  } cases[] = {
      {true, true, true, false, false},
      {false, true, true, true, false},
      {true, false, false, false, false},
      {true, false, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.active << c.shown << c.traymin);
    AliceSendsThenBobOpens(1, c.shown);
    qovra::Options.Other.traymin = c.traymin;
    SetActive(c.active);
    audio_->Reset();
    tray_.balloons.clear();
    ASSERT_TRUE(Window().acMailReceiveExecute());
    EXPECT_EQ(Window().LastReceive().Stored, 1);
    EXPECT_EQ(audio_->played.size(), c.sound ? 1 : 0);
    EXPECT_EQ(tray_.balloons.size(), c.balloon ? 1u : 0u);
  }
}

TEST_F(MainWindowReceiveTest, SpoiledMailIsReportedAndTheOthersArrive) {
  const std::vector<std::string> uuids = AliceSendsThenBobOpens(3);
  // The server's copy of the second mail grows by one block.
  {
    qovra::SqliteDb store;
    ASSERT_TRUE(store.Open(server_.DataDir() + "/server.db"));
    qovra::SqliteStatement q = store.Prepare("SELECT suid FROM mails WHERE uuid=?");
    q.Bind(1, uuids[1]);
    ASSERT_EQ(q.Step(), qovra::SqliteStatement::StepResult::Row);
    std::ofstream(server_.DataDir() + "/mail/" + q.ColumnText(0) + ".eme",
                  std::ios::binary | std::ios::app)
        << std::string(32, 'x');
  }
  ASSERT_TRUE(Window().acMailReceiveExecute());
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgMessageSizeIncorrect")});
  EXPECT_EQ(Window().LastReceive().Stored, 2);
  // The spoiled mail keeps its row without a subject.
  ASSERT_EQ(Window().model->Count(), 3);
  int without_subject = 0;
  for (int r = 0; r < 3; ++r) without_subject += Window().model->Row(r).Subject.isEmpty();
  EXPECT_EQ(without_subject, 1);
  EXPECT_FALSE(fs::exists(qovra::MessagesDir + uuids[1] + ".emz"));
}

TEST_F(MainWindowReceiveTest, ServerDownShowsAMessageAndStoresNothing) {
  AliceSendsThenBobOpens(2);
  server_.Stop();
  ASSERT_TRUE(Window().acMailReceiveExecute());
  EXPECT_FALSE(Window().LastReceive().Listed);
  EXPECT_FALSE(ui_->messages.empty());
  EXPECT_EQ(Window().model->Count(), 0);
  qovra::SqliteStatement q = qovra::MailDb.Prepare("SELECT count(*) FROM ecm_mails");
  ASSERT_EQ(q.Step(), qovra::SqliteStatement::StepResult::Row);
  EXPECT_EQ(q.ColumnInt(0), 0);
  EXPECT_TRUE(audio_->played.isEmpty());
  EXPECT_FALSE(Window().Receiving());
}

// A progress seam that asks for another receive the first time the
// receive shows its progress, as a key press or a timer tick would.
class ReenteringProgress : public qovra::IProgressUi {
 public:
  explicit ReenteringProgress(TfrmMain& w) : w_(w) {}
  void ShowProgress(qovra::TWindowHandle, bool, const std::string&, const std::string&) override {
    if (asked_) return;
    asked_ = true;
    was_receiving = w_.Receiving();
    nested_result = w_.acMailReceiveExecute();
    w_.alMain->acMailReceive->trigger();
  }
  void HideProgress(qovra::TWindowHandle, bool) override {}
  void ReportProgress(void*, int64_t, int64_t) override {}
  bool was_receiving = false;
  bool nested_result = true;

 private:
  TfrmMain& w_;
  bool asked_ = false;
};

TEST_F(MainWindowReceiveTest, SecondReceiveIsRefusedWhileOneRuns) {
  AliceSendsThenBobOpens(2);
  ReenteringProgress progress(Window());
  qovra::SetProgressUi(&progress);
  const bool ran = Window().acMailReceiveExecute();
  qovra::SetProgressUi(&*ui_);
  EXPECT_TRUE(ran);
  EXPECT_TRUE(progress.was_receiving);
  EXPECT_FALSE(progress.nested_result);
  EXPECT_EQ(Window().LastReceive().Stored, 2);
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  EXPECT_FALSE(Window().Receiving());
  EXPECT_TRUE(Window().acMailReceiveExecute()) << "a later receive runs again";
  EXPECT_EQ(Window().LastReceive().NewMails, 0);
}

TEST_F(MainWindowReceiveTest, FirstActivationReceivesOnlyWhenSetAndOnline) {
  AliceSendsThenBobOpens(1);
  Window().FormActivate();
  EXPECT_TRUE(Window().FirstActivationDone());
  EXPECT_EQ(Window().LastReceive().NewMails, 0) << "sdownld off: no receive";

  // An offline session has no server to ask.
  qovra::Options.Mail.sdownld = 1;
  qovra::Session.State = 2;
  NewWindow();
  Window().show();
  Window().FormActivate();
  EXPECT_TRUE(Window().FirstActivationDone());
  EXPECT_FALSE(Window().LastReceive().Listed) << "offline: no receive";
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());

  qovra::Session.State = 1;
  NewWindow();
  Window().show();
  Window().FormActivate();
  EXPECT_EQ(Window().LastReceive().Stored, 1);
  Window().FormActivate();  // later activations do nothing
  EXPECT_EQ(Window().model->Count(), 1);
}

// Offline and back: a wrong password leaves the program offline, the right
// one brings it online; the title and the online actions follow.
TEST_F(MainWindowReceiveTest, GoingOnlineWithAWrongAndTheRightPassword) {
  qovra::SetMsg("msgOfflineMode", "offline");
  qovra::AppTitle = "Qovra";
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  qovra::Options.Other.lastlgn = Login(kBob);
  TfrmMain& w = Window();
  w.show();
  w.alMain->acWorkOffline->trigger();
  ASSERT_EQ(qovra::Session.State, 2);

  std::string password;
  ui_->on_reauthenticate = [&] {
    int owner = 0;
    return qovra::ReauthenticateSession(password, {&owner, "TfrmPassword", nullptr}) == 1 ? 1 : 2;
  };
  password = "wrong";
  w.alMain->acWorkOffline->trigger();
  EXPECT_EQ(qovra::Session.State, 2);
  EXPECT_TRUE(w.alMain->acWorkOffline->isChecked());
  EXPECT_FALSE(w.alMain->acMailReceive->isEnabled());
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Qovra - offline"));
  EXPECT_FALSE(ui_->messages.empty()) << "the refusal is reported";

  password = kPassword;
  ui_->messages.clear();
  w.alMain->acWorkOffline->trigger();
  EXPECT_EQ(qovra::Session.State, 1);
  EXPECT_FALSE(w.alMain->acWorkOffline->isChecked());
  EXPECT_TRUE(w.alMain->acMailReceive->isEnabled());
  EXPECT_TRUE(w.alMain->acHelpCheckUpdate->isEnabled());
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Qovra - ") + QString::fromLatin1(kBob));
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  EXPECT_EQ(ui_->prompts.size(), 2u);
}

// Alice's mail arrives by the timer, without F5; the receive runs silent,
// so the progress window never shows (it asks SilentReceive).
TEST_F(MainWindowReceiveTest, TimerBringsTheMailSilently) {
  struct SilentAtShow : qovra::IProgressUi {
    void ShowProgress(qovra::TWindowHandle, bool, const std::string&, const std::string&) override {
      silent.push_back(qovra::ui::SilentReceive);
    }
    void HideProgress(qovra::TWindowHandle, bool) override {}
    void ReportProgress(void*, int64_t, int64_t) override {}
    std::vector<bool> silent;
  } progress;
  AliceSendsThenBobOpens(1);
  qovra::ui::testing::FakeTickClock clock;
  qovra::Options.Mail.reffreq = 300;
  TfrmMain& w = Window();
  w.hide();
  w.show();  // the interval counts from the show
  qovra::SetProgressUi(&progress);
  clock.AdvanceSeconds(300);
  w.TimerTick();
  EXPECT_EQ(w.ReceiveRuns(), 0);
  clock.AdvanceSeconds(1);
  w.TimerTick();
  qovra::SetProgressUi(&*ui_);
  EXPECT_EQ(w.ReceiveRuns(), 1);
  EXPECT_EQ(w.LastReceive().Stored, 1);
  EXPECT_EQ(w.model->Count(), 1);
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  ASSERT_FALSE(progress.silent.empty());
  EXPECT_EQ(progress.silent, std::vector<bool>(progress.silent.size(), true));
  EXPECT_FALSE(qovra::ui::SilentReceive);
  EXPECT_TRUE(ui_->timer_enabled);
}

}  // namespace
