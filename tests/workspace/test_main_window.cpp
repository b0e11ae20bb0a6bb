// The main window over a seeded mail database: the action table (shortcut
// and enabling rule of every action, online and offline with 0, 1 and 2
// selected mails), the actions whose workflows come later, folder counts,
// the column caption, sorting and searching, the schema repair, a database
// without tables, copies of mail records, and the temporary folder emptied
// on close.
#include <QAbstractItemModelTester>
#include <QCursor>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItem>
#include <filesystem>
#include <fstream>

#include "commands/login_command.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/about_box.h"
#include "qovra/workspace/folder_tree.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/temp_folder_cleanup.h"
#include "store/mail_db_upgrade.h"
#include "test_main_window_fixture.h"

namespace {

namespace fs = std::filesystem;
using qovra::ui::TMailListModel;

constexpr char kBob[] = "bob@127.0.0.1";
constexpr char kAlice[] = "alice@127.0.0.1";
constexpr char kCarol[] = "carol@127.0.0.1";

class MainWindowTest : public qovra_test::MainWindowFixture {};

// Enabling rules of the action table.
enum class Rule { Online, One, OneOnline, Reply, AtLeastOne, Always };

struct ActionRow {
  const char* name;
  const char* shortcut;  // portable text; empty for none
  Rule rule;
  bool later;  // its workflow comes later: triggering it says so
};

const ActionRow kActions[] = {
    {"acMailNew", "Ctrl+N", Rule::Online, true},
    {"acMailNewVoice", "Ctrl+M", Rule::Online, true},
    {"acMailReceive", "F5", Rule::Online, false},
    {"acMailOpen", "", Rule::One, true},
    {"acMailSend", "Ctrl+Return", Rule::Online, true},
    {"acMailForward", "Ctrl+E", Rule::OneOnline, true},
    {"acMailSaveAs", "Ctrl+Alt+S", Rule::One, true},
    {"acMailReply", "Ctrl+R", Rule::Reply, true},
    {"acMailReplyVoice", "Ctrl+Alt+R", Rule::Reply, true},
    {"acMailDelete", "Del", Rule::AtLeastOne, true},
    {"acMailSaveToDrafts", "Ctrl+S", Rule::Always, true},
    {"acMailSignDetails", "Ctrl+D", Rule::Always, true},
    {"acMailAttachmentsSave", "", Rule::Always, true},
    {"acMailReport", "Alt+Return", Rule::One, true},
    {"acMailPrint", "Ctrl+P", Rule::One, true},
    {"acMailImport", "Ctrl+Alt+I", Rule::Always, true},
    {"acWorkOffline", "", Rule::Always, true},
    {"acToolsContactsBook", "", Rule::Always, true},
    {"acToolsChangePassword", "", Rule::Always, true},
    {"acToolsOptions", "", Rule::Always, true},
    {"acToolsFind", "Ctrl+F", Rule::Always, false},
    {"acToolUserProfile", "", Rule::Online, true},
    {"acHelpAbout", "", Rule::Always, false},
    {"acHelpCheckUpdate", "", Rule::Online, true},
    {"acExit", "", Rule::Always, false},
};

bool Expected(Rule rule, bool online, int selected, bool replyable) {
  switch (rule) {
    case Rule::Online:
      return online;
    case Rule::One:
      return selected == 1;
    case Rule::OneOnline:
      return selected == 1 && online;
    case Rule::Reply:
      return selected == 1 && online && replyable;
    case Rule::AtLeastOne:
      return selected >= 1;
    case Rule::Always:
      return true;
  }
  return false;
}

TEST_F(MainWindowTest, EveryActionHasItsShortcutAndEnablingRule) {
  MakeUser(kBob);
  Store(qovra::kFolderInbox, kAlice, kBob, u"one");
  Store(qovra::kFolderInbox, kAlice, kBob, u"two");
  TfrmMain& w = Window();
  w.SelectFolder(qovra::kFolderInbox);
  ASSERT_EQ(w.model->Count(), 2);
  ASSERT_EQ(w.alMain->All().size(), std::size(kActions));

  for (const ActionRow& row : kActions) {
    QAction* a = w.alMain->Find(row.name);
    ASSERT_NE(a, nullptr) << row.name;
    EXPECT_EQ(a->shortcut().toString(QKeySequence::PortableText).toStdString(), row.shortcut)
        << row.name;
  }
  for (const uint8_t state : {uint8_t{1}, uint8_t{2}}) {
    qovra::Session.State = state;
    w.UpdateOnlineActions();
    for (int selected : {0, 1, 2}) {
      SelectRows(selected == 0   ? std::vector<int>{}
                 : selected == 1 ? std::vector<int>{0}
                                 : std::vector<int>{0, 1});
      for (const ActionRow& row : kActions) {
        EXPECT_EQ(w.alMain->Find(row.name)->isEnabled(),
                  Expected(row.rule, state == 1, selected, true))
            << row.name << " state " << int{state} << " selected " << selected;
      }
    }
  }
}

// The reply rule's part about the mail: not from oneself (case ignored),
// not flagged as having a bad signature. Forward needs no more than one
// selected mail online.
TEST_F(MainWindowTest, ReplyNeedsAMailFromSomeoneElseWithAGoodSignature) {
  MakeUser(kBob);
  struct Case {
    const char* from;
    uint16_t flags;
    bool replyable;
  } cases[] = {
      {kAlice, 0, true},
      {"BOB@127.0.0.1", 0, false},
      {kAlice, qovra::mfBadSignature, false},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(qovra::MailDb.Exec("DELETE FROM ecm_mails"));
    EXPECT_TRUE(qovra::MailDb.Exec("DELETE FROM ecm_recipients"));
    Store(qovra::kFolderInbox, c.from, kBob, u"s", c.flags);
    NewWindow();
    TfrmMain& w = Window();
    w.SelectFolder(qovra::kFolderInbox);
    SelectRows({0});
    EXPECT_EQ(w.alMain->acMailReply->isEnabled(), c.replyable) << c.from << " " << c.flags;
    EXPECT_EQ(w.alMain->acMailReplyVoice->isEnabled(), c.replyable) << c.from;
    EXPECT_TRUE(w.alMain->acMailForward->isEnabled());
  }
}

TEST_F(MainWindowTest, LaterWorkflowsSayTheyAreNotAvailableYet) {
  MakeUser(kBob);
  TfrmMain& w = Window();
  for (const ActionRow& row : kActions) {
    if (!row.later) continue;
    QAction* a = w.alMain->Find(row.name);
    a->setEnabled(true);
    const bool checked = a->isChecked();
    ui_->messages.clear();
    a->trigger();
    ASSERT_EQ(ui_->messages.size(), 1u) << row.name;
    EXPECT_EQ(ui_->messages[0].text, "not yet: " + qovra::ui::PlainActionCaption(a).toStdString());
    EXPECT_EQ(a->isChecked(), checked) << row.name << " keeps its state";
  }
  // Offline with a key device, changing the password is refused outright.
  qovra::Session.State = 2;
  qovra::Options.Keys.keyssrc = 1;
  ui_->messages.clear();
  w.alMain->acToolsChangePassword->trigger();
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], qovra::GetMsg("msgChangingPasswordNotAvailable"));
}

TEST_F(MainWindowTest, AboutShowsTheAboutBoxAndExitClosesTheWindow) {
  MakeUser(kBob);
  TfrmMain& w = Window();
  w.show();
  bool about_shown = false;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<TfrmAbout*>(QApplication::activeModalWidget())) {
      about_shown = true;
      box->reject();
    }
  });
  w.alMain->acHelpAbout->trigger();
  EXPECT_TRUE(about_shown);

  QSignalSpy closed(&w, &TfrmMain::closed);
  w.alMain->acExit->trigger();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(closed.count(), 1);
}

TEST_F(MainWindowTest, FolderTreeCountsMailsAndShowsTheInboxBoldWhileUnread) {
  MakeUser(kBob);
  Store(qovra::kFolderInbox, kAlice, kBob, u"a");
  Store(qovra::kFolderInbox, kCarol, kBob, u"b");
  Store(qovra::kFolderInbox, kAlice, kBob, u"c", qovra::mfRead);
  Store(qovra::kFolderInbox, kBob, kBob, u"to myself", qovra::mfRead);
  Store(qovra::kFolderSent, kBob, kAlice, u"sent");
  Store(qovra::kFolderDrafts, kBob, kAlice, u"draft");
  TfrmMain& w = Window();
  ASSERT_EQ(w.tvMain->topLevelItemCount(), qovra::ui::kFolderCount);
  const char* expected[] = {"2/4", "0", "2", "0", "1"};
  for (int i = 0; i < qovra::ui::kFolderCount; ++i) {
    QTreeWidgetItem* node = w.FindFolderNode(i);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->text(0).toStdString(), qovra::GetMsg("folder" + std::to_string(i)));
    EXPECT_EQ(node->text(1).toStdString(), expected[i]) << i;
  }
  EXPECT_TRUE(w.FindFolderNode(0)->font(0).bold());
  EXPECT_FALSE(w.FindFolderNode(2)->font(0).bold());

  // The sent folder lists its own mail and the inbox mail from oneself.
  w.SelectFolder(qovra::kFolderSent);
  EXPECT_EQ(w.model->Count(), 2);
  EXPECT_EQ(w.CurrentFolder().FolderId, qovra::kFolderSent);

  // Reading every inbox mail: the inbox is no longer bold.
  EXPECT_TRUE(qovra::MailDb.Exec("UPDATE ecm_mails SET flag = flag | 32"));
  w.RefreshFolderCounters();
  EXPECT_EQ(w.FindFolderNode(0)->text(1), QStringLiteral("0/4"));
  EXPECT_FALSE(w.FindFolderNode(0)->font(0).bold());
}

// The caption of column 2 names the sender in the inbox and the recipients
// elsewhere, for the selected folder, also after the captions are re-read.
TEST_F(MainWindowTest, AddressColumnCaptionFollowsTheSelectedFolder) {
  MakeUser(kBob);
  TfrmMain& w = Window();
  auto caption = [&w] {
    return w.model->headerData(TMailListModel::kColAddress, Qt::Horizontal).toString();
  };
  w.SelectFolder(qovra::kFolderSent);
  EXPECT_EQ(caption(), QStringLiteral("To"));
  w.SelectFolder(qovra::kFolderInbox);
  EXPECT_EQ(caption(), QStringLiteral("From"));
  w.ApplyFolderCaptions();
  EXPECT_EQ(caption(), QStringLiteral("From"));
}

TEST_F(MainWindowTest, HeaderClicksSortColumnsTwoToSixOnly) {
  MakeUser(kBob);
  Store(qovra::kFolderInbox, kAlice, kBob, u"b", 0, 1, 45001);
  Store(qovra::kFolderInbox, kAlice, kBob, u"a", 0, 1, 45003);
  Store(qovra::kFolderInbox, kAlice, kBob, u"c", 0, 1, 45002);
  TfrmMain& w = Window();
  QAbstractItemModelTester tester(w.model, QAbstractItemModelTester::FailureReportingMode::Warning);
  w.show();
  auto subjects = [&w] {
    QString s;
    for (int r = 0; r < w.model->Count(); ++r) s += w.model->Row(r).Subject;
    return s;
  };
  // Shown: sent time, newest first.
  EXPECT_EQ(w.model->SortColumn(), TMailListModel::kColSent);
  EXPECT_EQ(subjects(), QStringLiteral("acb"));

  QHeaderView* header = w.lvMain->header();
  emit header->sectionClicked(TMailListModel::kColKind);
  EXPECT_EQ(w.model->SortColumn(), TMailListModel::kColSent);
  EXPECT_EQ(subjects(), QStringLiteral("acb"));

  emit header->sectionClicked(TMailListModel::kColSubject);
  EXPECT_EQ(w.model->SortOrder(), Qt::AscendingOrder);
  EXPECT_EQ(subjects(), QStringLiteral("abc"));
  emit header->sectionClicked(TMailListModel::kColSubject);
  EXPECT_EQ(subjects(), QStringLiteral("cba"));
  EXPECT_EQ(header->sortIndicatorSection(), TMailListModel::kColSubject);
}

TEST_F(MainWindowTest, SearchLineFindsSenderThenSubjectAndHidesWithEscape) {
  MakeUser(kBob);
  Store(qovra::kFolderInbox, kAlice, kBob, u"the ABC report", 0, 1, 45003);
  Store(qovra::kFolderInbox, kCarol, kBob, u"lunch", 0, 1, 45002);
  Store(qovra::kFolderInbox, kAlice, kBob, u"abc again", 0, 1, 45001);
  TfrmMain& w = Window();
  w.show();
  QLineEdit* edit = w.frameSearchEdit1->eSearch();
  auto selected_subject = [&w] {
    const std::vector<int> rows = w.SelectedRows();
    return rows.size() == 1 ? w.model->Row(rows[0]).Subject : QString();
  };

  EXPECT_FALSE(w.frameSearchEdit1->isVisibleTo(&w));
  w.alMain->acToolsFind->trigger();
  EXPECT_TRUE(w.frameSearchEdit1->isVisibleTo(&w));

  QTest::keyClicks(edit, "CAROL");
  EXPECT_EQ(selected_subject(), QStringLiteral("lunch"));

  edit->clear();
  QTest::keyClicks(edit, "abc");  // no sender has it: the subject
  EXPECT_EQ(selected_subject(), QStringLiteral("the ABC report"));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(selected_subject(), QStringLiteral("abc again"));

  QTest::keyClick(edit, Qt::Key_Escape);  // the frame empties the line
  EXPECT_TRUE(edit->text().isEmpty());
  EXPECT_TRUE(w.frameSearchEdit1->isVisibleTo(&w));
  QTest::keyClick(edit, Qt::Key_Escape);  // empty: hides it
  EXPECT_FALSE(w.frameSearchEdit1->isVisibleTo(&w));
  EXPECT_FALSE(w.alMain->acToolsFind->isChecked());
}

TEST_F(MainWindowTest, SchemaRepairAddsTheMissingColumnsOnceAndChangesNothingAfter) {
  MakeUser(kBob, QOVRA_ECM_OLD);
  auto schema = [] {
    std::string all;
    qovra::SqliteStatement q =
        qovra::MailDb.Prepare("SELECT sql FROM sqlite_master WHERE type='table' ORDER BY name");
    while (q.Step() == qovra::SqliteStatement::StepResult::Row) all += q.ColumnText(0) + "\n";
    return all;
  };
  const std::string before = schema();
  EXPECT_EQ(before.find("send_flag"), std::string::npos);
  Window();
  const std::string once = schema();
  for (const char* column : {"send_flag", "mail_size", "fau_data"})
    EXPECT_NE(once.find(column), std::string::npos) << column;
  NewWindow();
  EXPECT_EQ(schema(), once);
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());

  // The repaired database takes mails and lists them.
  const int32_t id = Store(qovra::kFolderInbox, kAlice, kBob + std::string(";") + kCarol, u"x");
  Window().SelectFolder(qovra::kFolderInbox);
  EXPECT_EQ(Window().model->Count(), 1);
  const auto flags = Window().LoadRecipientSendFlags(id);
  const qovra::TSendFlags expected = {{kBob, 0}, {kCarol, 0}};
  EXPECT_EQ(flags, expected);
}

TEST_F(MainWindowTest, DatabaseWithoutTablesGivesMessagesAndAnEmptyWindow) {
  const std::string empty = dir_.File("empty.edb");
  {
    qovra::SqliteDb db;
    ASSERT_TRUE(db.Open(empty, true));
    ASSERT_TRUE(db.Exec("PRAGMA user_version = 1"));
  }
  MakeUser(kBob, empty);
  TfrmMain& w = Window();
  w.show();
  EXPECT_FALSE(ui_->messages.empty());
  EXPECT_EQ(w.model->Count(), 0);
  EXPECT_EQ(w.FindFolderNode(0)->text(1), QStringLiteral("0/0"));
  EXPECT_TRUE(w.LoadRecipientSendFlags(1).empty());
}

// A mail window's record is a copy: a refill of the list leaves it whole,
// and the window's kind is reset when the window ends.
TEST_F(MainWindowTest, MailWindowsHoldTheirOwnCopyAndResetTheActiveKind) {
  MakeUser(kBob);
  Store(qovra::kFolderInbox, kAlice, kBob, u"kept subject");
  TfrmMain& w = Window();
  w.SelectFolder(qovra::kFolderInbox);
  SelectRows({0});
  std::optional<qovra::TMailMessage> copy;
  {
    TfrmMain::TActiveFormScope scope(w, TActiveFormKind::TextViewer);
    EXPECT_EQ(w.ActiveFormKind(), TActiveFormKind::TextViewer);
    copy = w.SelectedMailCopy();
    ASSERT_TRUE(copy.has_value());
    EXPECT_TRUE(qovra::MailDb.Exec("DELETE FROM ecm_mails"));
    w.FillMailList(qovra::kFolderInbox, false);
    EXPECT_EQ(w.model->Count(), 0);
  }
  EXPECT_EQ(w.ActiveFormKind(), TActiveFormKind::None);
  EXPECT_EQ(std::u16string(copy->Subject), u"kept subject");
  EXPECT_EQ(std::string(copy->FromAddress), kAlice);
  EXPECT_FALSE(w.SelectedMailCopy().has_value());
}

TEST_F(MainWindowTest, ClosingEmptiesTheUserTempFolderWithoutFollowingLinks) {
  MakeUser(kBob);
  const std::string temp = qovra::UserDir + "temp/";
  const std::string outside = dir_.File("outside");
  fs::create_directories(outside);
  std::ofstream(outside + "/keep.txt") << "keep";
  std::ofstream(temp + "attachment.pdf") << "x";
  fs::create_directories(temp + "sub/deeper");
  std::ofstream(temp + "sub/deeper/f") << "y";
  fs::create_directory_symlink(outside, temp + "link");
  TfrmMain& w = Window();
  w.show();
  w.close();
  EXPECT_TRUE(fs::is_directory(temp));
  EXPECT_TRUE(fs::is_empty(temp));
  EXPECT_TRUE(fs::exists(outside + "/keep.txt"));
}

TEST_F(MainWindowTest, ClosingWithoutAUserFolderTouchesNothing) {
  MakeUser(kBob);
  const std::string other = dir_.File("process-temp") + "/";
  fs::create_directories(other);
  std::ofstream(other + "f") << "x";
  qovra::SetTempFolder(other);
  qovra::UserDir.clear();
  EXPECT_EQ(qovra::ui::UserTempFolder(), "");
  TfrmMain& w = Window();
  w.show();
  w.close();
  EXPECT_TRUE(fs::exists(other + "f"));

  // Paths the emptying refuses outright.
  for (const std::string& bad :
       {std::string(), std::string("/"), std::string("//"), std::string("relative/temp/")})
    EXPECT_FALSE(qovra::ui::EmptyUserTempFolder(bad)) << bad;
  // A folder that is itself a link is not entered.
  const std::string real = dir_.File("real");
  fs::create_directories(real);
  std::ofstream(real + "/g") << "x";
  fs::create_directory_symlink(real, dir_.File("alias"));
  EXPECT_FALSE(qovra::ui::EmptyUserTempFolder(dir_.File("alias") + "/"));
  EXPECT_TRUE(fs::exists(real + "/g"));
}

TEST_F(MainWindowTest, TitleShowsTheUserOnlineAndTheOfflineText) {
  MakeUser(kBob);
  qovra::AppTitle = "Qovra";
  qovra::Session.OwnContact.FirstName = u"Bob";
  qovra::Session.OwnContact.LastName = u"Builder";
  qovra::SetMsg("msgOfflineMode", "offline");
  qovra::Session.State = 1;
  TfrmMain& w = Window();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Qovra - Bob Builder (bob@127.0.0.1)"));
  EXPECT_EQ(tray_.hint, w.windowTitle());
  qovra::Session.State = 2;
  NewWindow();
  EXPECT_EQ(Window().windowTitle(), QStringLiteral("Qovra - offline"));
  EXPECT_TRUE(Window().alMain->acWorkOffline->isChecked());
}

TEST_F(MainWindowTest, StatusBarBusyAndReady) {
  MakeUser(kBob);
  qovra::SetMsg("msgReady", "ready");
  TfrmMain& w = Window();
  w.show();
  qovra::ui::TMainStatusBar& bar = *w.pnlStatusBar;
  EXPECT_EQ(bar.lblStatus->text(), QStringLiteral("ready"));
  EXPECT_FALSE(bar.pbStatus->isVisible());

  w.StatusBusy(QStringLiteral("building the list"));
  EXPECT_EQ(bar.lblStatus->text(), QStringLiteral("building the list"));
  EXPECT_TRUE(bar.pbStatus->isVisible());
  EXPECT_EQ(bar.pbStatus->width(),
            bar.lblStatus->fontMetrics().horizontalAdvance(bar.lblStatus->text()) + 4);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  w.StatusBusy(QStringLiteral("again"));  // nested: one cursor to restore

  bar.pbStatus2->show();
  w.StatusReady();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(bar.pbStatus->isVisible());
  EXPECT_FALSE(bar.pbStatus2->isVisible());
  EXPECT_EQ(bar.lblStatus->text(), QStringLiteral("ready"));
}

TEST_F(MainWindowTest, ActionHintsShowInTheStatusText) {
  MakeUser(kBob);
  qovra::SetMsg("msgReady", "ready");
  TfrmMain& w = Window();
  w.show();
  QLabel* status = w.pnlStatusBar->lblStatus;
  w.alMain->acMailReceive->setStatusTip(QStringLiteral("receive new mails"));
  w.alMain->acMailReceive->showStatusText(&w);
  EXPECT_EQ(status->text(), QStringLiteral("receive new mails"));
  QStatusTipEvent leave{QString()};
  QApplication::sendEvent(&w, &leave);
  EXPECT_EQ(status->text(), QStringLiteral("ready"));

  // A busy status keeps its text.
  w.StatusBusy(QStringLiteral("building the list"));
  w.alMain->acMailReceive->showStatusText(&w);
  EXPECT_EQ(status->text(), QStringLiteral("building the list"));
  w.StatusReady();
}

TEST_F(MainWindowTest, UpdateLinkShowsOnlyForANewerVersion) {
  MakeUser(kBob);
  qovra::SetMsg("msgNewVersionAvailable", "version %s is out");
  struct Case {
    uint32_t current, latest;
    bool shown;
  };
  for (const Case& c : {Case{0x04000000, 0x04000100, true}, Case{0x04000100, 0x04000100, false},
                        Case{0x04000200, 0x04000100, false}}) {
    qovra::CurrentVersionCode = c.current;
    qovra::LatestVersionCode = c.latest;
    qovra::LatestClientVersion = "4.0.1.0";
    NewWindow();
    Window().show();
    EXPECT_EQ(Window().pnlStatusBar->wlUpdate->isVisible(), c.shown) << c.current;
    if (c.shown) {
      EXPECT_EQ(Window().pnlStatusBar->wlUpdate->Caption(),
                QStringLiteral("version 4.0.1.0 is out"));
    }
  }
  qovra::CurrentVersionCode = qovra::LatestVersionCode = 0;
  qovra::LatestClientVersion.clear();
}

}  // namespace
