// The main window over a seeded mail database: the action table (shortcut
// and enabling rule of every action, online and offline with 0, 1 and 2
// selected mails), the refused password change, folder counts,
// the column caption, sorting and searching, the schema repair, a database
// without tables, copies of mail records, and the temporary folder emptied
// on close.
#include <QAbstractItemModelTester>
#include <QCursor>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidgetItem>
#include <filesystem>
#include <fstream>

#include "commands/login_command.h"
#include "platform/run_thread.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/about_box.h"
#include "qovra/workspace/auto_receive.h"
#include "qovra/workspace/folder_tree.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/new_mail.h"
#include "qovra/workspace/new_mail_top.h"
#include "qovra/workspace/new_voice_mail.h"
#include "qovra/workspace/temp_folder_cleanup.h"
#include "qovra/workspace/update_page.h"
#include "store/mail_db_upgrade.h"
#include "support/program_language.h"
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
};

const ActionRow kActions[] = {
    {"acMailNew", "Ctrl+N", Rule::Online},
    {"acMailNewVoice", "Ctrl+M", Rule::Online},
    {"acMailReceive", "F5", Rule::Online},
    {"acMailOpen", "", Rule::One},
    {"acMailSend", "Ctrl+Return", Rule::Online},
    {"acMailForward", "Ctrl+E", Rule::OneOnline},
    {"acMailSaveAs", "Ctrl+Alt+S", Rule::One},
    {"acMailReply", "Ctrl+R", Rule::Reply},
    {"acMailReplyVoice", "Ctrl+Alt+R", Rule::Reply},
    {"acMailDelete", "Del", Rule::AtLeastOne},
    {"acMailSaveToDrafts", "Ctrl+S", Rule::Always},
    {"acMailSignDetails", "Ctrl+D", Rule::Always},
    {"acMailAttachmentsSave", "", Rule::Always},
    {"acMailReport", "Alt+Return", Rule::One},
    {"acMailPrint", "Ctrl+P", Rule::One},
    {"acMailImport", "Ctrl+Alt+I", Rule::Always},
    {"acWorkOffline", "", Rule::Always},
    {"acToolsContactsBook", "", Rule::Always},
    {"acToolsChangePassword", "", Rule::Always},
    {"acToolsOptions", "", Rule::Always},
    {"acToolsFind", "Ctrl+F", Rule::Always},
    {"acToolUserProfile", "", Rule::Online},
    {"acHelpAbout", "", Rule::Always},
    {"acHelpCheckUpdate", "", Rule::Online},
    {"acExit", "", Rule::Always},
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

// The contacts book opens over the main window; its new text or voice mail
// opens the matching compose window with the recipients in To.
TEST_F(MainWindowTest, ContactsBookWritesAMailToItsSelection) {
  MakeUser(kBob);
  TfrmMain& w = Window();
  QString to, voice_to;
  bool book_seen = false;
  QTimer::singleShot(0, &w, [&] {
    auto* book = qobject_cast<TfrmAddrBook*>(QApplication::activeModalWidget());
    book_seen = book != nullptr;
    if (!book) return;
    EXPECT_EQ(book->parentWidget(), &w);
    QTimer::singleShot(0, &w, [&] {
      if (auto* form = qobject_cast<TfrmNewMail*>(QApplication::activeModalWidget())) {
        to = form->frameNewMailTop1->eTo->text();
        form->done(2);
      }
    });
    book->OnNewMail(0, QStringLiteral("Ann <ann@example.uz>"));
    QTimer::singleShot(0, &w, [&] {
      if (auto* form = qobject_cast<TfrmNewVoiceMail*>(QApplication::activeModalWidget())) {
        voice_to = form->GetTopFrame()->eTo->text();
        form->done(2);
      }
    });
    book->OnNewMail(1, QStringLiteral("Bob <bob@example.uz>"));
    book->done(2);
  });
  w.alMain->acToolsContactsBook->trigger();
  EXPECT_TRUE(book_seen);
  EXPECT_EQ(to, QStringLiteral("Ann <ann@example.uz>"));
  EXPECT_EQ(voice_to, QStringLiteral("Bob <bob@example.uz>"));
  EXPECT_EQ(w.NewMailForm(), nullptr);
}

TEST_F(MainWindowTest, ChangingThePasswordOfflineWithAKeyDeviceIsRefused) {
  MakeUser(kBob);
  TfrmMain& w = Window();
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

// A mouse click on a folder node lists that folder's mails and names column
// 2 after it, for each folder in turn (the press moves the current node
// before the selection follows).
TEST_F(MainWindowTest, MouseClickOnEachFolderListsThatFolder) {
  MakeUser(kBob);
  const std::u16string subjects[] = {u"in", u"out", u"sent", u"bin", u"draft"};
  Store(qovra::kFolderInbox, kAlice, kBob, subjects[qovra::kFolderInbox]);
  Store(qovra::kFolderOutbox, kBob, kAlice, subjects[qovra::kFolderOutbox]);
  Store(qovra::kFolderSent, kBob, kAlice, subjects[qovra::kFolderSent]);
  Store(qovra::kFolderTrash, kAlice, kBob, subjects[qovra::kFolderTrash]);
  Store(qovra::kFolderDrafts, kBob, kAlice, subjects[qovra::kFolderDrafts]);
  TfrmMain& w = Window();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  ASSERT_EQ(w.model->Folder(), qovra::kFolderInbox);
  for (const int32_t folder : {1, 2, 3, 4, 0, 2, 4, 1}) {
    SCOPED_TRACE(folder);
    const QRect rect = w.tvMain->visualItemRect(w.FindFolderNode(folder));
    ASSERT_FALSE(rect.isEmpty());
    QTest::mouseClick(w.tvMain->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    EXPECT_EQ(w.CurrentFolder().FolderId, folder);
    EXPECT_EQ(w.model->Folder(), folder);
    ASSERT_EQ(w.model->Count(), 1);
    EXPECT_EQ(w.model->Row(0).Subject.toStdU16String(), subjects[folder]);
    EXPECT_EQ(
        w.model->headerData(TMailListModel::kColAddress, Qt::Horizontal).toString().toStdString(),
        folder == qovra::kFolderInbox ? "From" : "To");
  }
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

// At first show the time columns are as wide as their texts (an unread
// mail's bold time) and captions, and the width left over goes to the
// subject, not to the last column.
TEST_F(MainWindowTest, TimeColumnsFitTheirTextsAtFirstShow) {
  MakeUser(kBob);
  qovra::SetMsg("msgSentTime", "The time the mail was sent");
  const int32_t id = Store(qovra::kFolderInbox, kAlice, kBob, u"unread", 0, 1, 45488.99998);
  ASSERT_TRUE(
      qovra::MailDb.Exec("UPDATE ecm_recipients SET received_time = '2024-07-15 "
                         "23:59:58', read_time = '2024-07-16 08:08:08' WHERE mail_id = " +
                         std::to_string(id)));
  TfrmMain& w = Window();
  w.tvMain->hide();  // room for every column on the small offscreen screen
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  ASSERT_EQ(w.model->Count(), 1);
  QHeaderView* header = w.lvMain->header();
  for (const int column :
       {TMailListModel::kColSent, TMailListModel::kColReceived, TMailListModel::kColRead}) {
    SCOPED_TRACE(column);
    ASSERT_FALSE(w.model->index(0, column).data().toString().isEmpty());
    const int cells = static_cast<QAbstractItemView*>(w.lvMain)->sizeHintForColumn(column);
    const int needed = std::max(cells, header->sectionSizeHint(column));
    EXPECT_GE(header->sectionSize(column), needed);
    EXPECT_LE(header->sectionSize(column), needed + 16);
  }
  // The last column ends at the list's right edge; a narrower address
  // column gives its width to the subject.
  EXPECT_EQ(header->length(), w.lvMain->viewport()->width());
  const int subject = header->sectionSize(TMailListModel::kColSubject);
  const int read = header->sectionSize(TMailListModel::kColRead);
  header->resizeSection(TMailListModel::kColAddress,
                        header->sectionSize(TMailListModel::kColAddress) - 50);
  EXPECT_EQ(header->sectionSize(TMailListModel::kColSubject), subject + 50);
  EXPECT_EQ(header->sectionSize(TMailListModel::kColRead), read);
}

// A window that is not maximised, in Russian and in Uzbek: the subject
// takes what the other columns leave and keeps a dozen characters at least,
// and the sender gives way to its texts before the subject is cut;
// no other column is narrower than its texts and caption; at 900 pixels the
// Read column is whole in sight, at 640 the list scrolls to it; the folder
// captions are whole, and every toolbar button, Work offline the last, stays
// in sight with its caption whole.
TEST_F(MainWindowTest, ColumnsAndToolbarFitAWindowThatIsNotMaximised) {
  const struct {
    int langid;
    QSize size;
    bool read_in_sight;
  } cases[] = {
      {1, {900, 600}, true},
      {1, {640, 420}, false},
      {0, {900, 600}, true},
      {0, {640, 420}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "langid " << c.langid << " at " << c.size.width());
    window_.reset();
    const qovra::testing::ScopedProgramLanguage language(std::string(QOVRA_SOURCE_DIR) + "/",
                                                         c.langid);
    MakeUser(kBob);
    const int32_t read = Store(qovra::kFolderInbox, kCarol, kBob, u"Квартальный отчёт за третий",
                               qovra::mfReceived | qovra::mfRead, 1, 45650.4);
    ASSERT_TRUE(qovra::MailDb.Exec(
        "UPDATE ecm_recipients SET received_time = '2024.12.24 09:37:26', read_time = "
        "'2024-12-24 10:00:00' WHERE mail_id = " +
        std::to_string(read)));
    Store(qovra::kFolderInbox, kAlice, kBob, u"Обед в пятницу", qovra::mfReceived, 1, 45650.5);

    TfrmMain& w = Window();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // The first activation maximises the window; the user makes it smaller.
    w.showNormal();
    w.resize(c.size);
    QTest::qWait(20);
    ASSERT_EQ(w.size(), c.size);

    QHeaderView* header = w.lvMain->header();
    const QAbstractItemView* cells = w.lvMain;
    for (int column = 0; column < TMailListModel::kColumnCount; ++column) {
      if (column == TMailListModel::kColSubject) continue;
      SCOPED_TRACE(column);
      EXPECT_GE(header->sectionSize(column),
                std::max(cells->sizeHintForColumn(column), header->sectionSizeHint(column)));
    }
    EXPECT_GE(header->sectionSize(TMailListModel::kColSubject),
              12 * w.lvMain->fontMetrics().averageCharWidth());
    // The subject is cut here, so the sender has given way to its texts.
    EXPECT_LT(header->sectionSize(TMailListModel::kColSubject),
              cells->sizeHintForColumn(TMailListModel::kColSubject));
    EXPECT_LE(header->sectionSize(TMailListModel::kColAddress),
              std::max(cells->sizeHintForColumn(TMailListModel::kColAddress),
                       header->sectionSizeHint(TMailListModel::kColAddress)));
    const int read_end = header->sectionViewportPosition(TMailListModel::kColRead) +
                         header->sectionSize(TMailListModel::kColRead);
    const int list = w.lvMain->viewport()->width();
    if (c.read_in_sight) {
      EXPECT_LE(read_end, list);
    } else {
      EXPECT_EQ(w.lvMain->horizontalScrollBar()->maximum(), header->length() - list);
    }
    EXPECT_GE(w.tvMain->width(), w.tvMain->ContentWidth());

    for (QAction* action : w.tbMain->actions()) {
      QWidget* button = w.tbMain->widgetForAction(action);
      ASSERT_NE(button, nullptr);
      SCOPED_TRACE(button->objectName().toStdString());
      EXPECT_TRUE(button->isVisible());
      EXPECT_TRUE(w.tbMain->rect().contains(button->geometry()));
      EXPECT_GE(button->width(), button->sizeHint().width());
    }
    auto* offline = w.tbMain->findChild<QToolButton*>(QStringLiteral("btnWorkOffline"));
    ASSERT_NE(offline, nullptr);
    EXPECT_TRUE(offline->isVisible());
    window_.reset();
    qovra::MailDb.Close();
  }
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

// Where the next Enter continues: only keys that change the text start the
// search over from the top; Enter with Ctrl or Alt (Send and Report, here
// disabled) is neither the search's Enter nor the list's.
TEST_F(MainWindowTest, SearchContinuesAfterKeysThatLeaveTheTextAlone) {
  MakeUser(kBob);
  Store(qovra::kFolderInbox, kCarol, kBob, u"lunch", 0, 1, 45004);
  Store(qovra::kFolderInbox, kAlice, kBob, u"abc one", 0, 1, 45003);
  Store(qovra::kFolderInbox, kAlice, kBob, u"abc two", 0, 1, 45002);
  Store(qovra::kFolderInbox, kAlice, kBob, u"abc three", 0, 1, 45001);
  qovra::Session.State = 2;  // offline: Send is disabled
  TfrmMain& w = Window();
  w.show();
  QLineEdit* edit = w.frameSearchEdit1->eSearch();
  auto selected_subject = [&w] {
    const std::vector<int> rows = w.SelectedRows();
    return rows.size() == 1 ? w.model->Row(rows[0]).Subject : QString();
  };
  w.alMain->acToolsFind->trigger();

  struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
  };
  const Key kLeaveText[] = {
      {Qt::Key_Shift, Qt::ShiftModifier}, {Qt::Key_Control, Qt::ControlModifier},
      {Qt::Key_Left, Qt::NoModifier},     {Qt::Key_Right, Qt::NoModifier},
      {Qt::Key_Home, Qt::NoModifier},     {Qt::Key_End, Qt::ShiftModifier},
      {Qt::Key_Up, Qt::NoModifier},       {Qt::Key_Return, Qt::ControlModifier},
      {Qt::Key_Return, Qt::AltModifier},  {Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier},
  };
  for (const Key& k : kLeaveText) {
    SCOPED_TRACE(QKeySequence(k.key | k.modifiers).toString().toStdString());
    edit->clear();
    QTest::keyClicks(edit, "abc");
    ASSERT_EQ(selected_subject(), QStringLiteral("abc one"));
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_EQ(selected_subject(), QStringLiteral("abc two"));
    ASSERT_FALSE(w.alMain->acMailSend->isEnabled());
    w.alMain->acMailReport->setEnabled(false);  // one mail selected would enable it
    QTest::keyClick(edit, k.key, k.modifiers);
    EXPECT_EQ(selected_subject(), QStringLiteral("abc two")) << "the key searched";
    EXPECT_EQ(edit->text(), QStringLiteral("abc"));
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(selected_subject(), QStringLiteral("abc three")) << "Enter started over";
  }

  // A key that changes the text starts over from the top.
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_EQ(selected_subject(), QStringLiteral("abc one"));
  QTest::keyClick(edit, Qt::Key_Return);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(selected_subject(), QStringLiteral("abc three"));
  QTest::keyClick(edit, Qt::Key_C);
  EXPECT_EQ(selected_subject(), QStringLiteral("abc one"));

  // In the list too, only the plain Enter opens the selected mail (whose
  // file this test never wrote).
  w.lvMain->setFocus();
  w.alMain->acMailReport->setEnabled(false);
  ui_->messages.clear();
  QTest::keyClick(w.lvMain, Qt::Key_Return, Qt::ControlModifier);
  QTest::keyClick(w.lvMain, Qt::Key_Return, Qt::AltModifier);
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  QTest::keyClick(w.lvMain, Qt::Key_Return);
  ASSERT_EQ(ui_->messages.size(), 1u);
  EXPECT_EQ(ui_->messages[0].text, qovra::GetMsg("msgMailContentNotFound"));
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

  // Online with parts of the name or none: no double or stray blanks.
  struct Case {
    std::u16string first, last;
    const char* title;
  };
  qovra::Session.State = 1;
  for (const Case& c :
       {Case{u"", u"", "Qovra - bob@127.0.0.1"}, Case{u"Bob", u"", "Qovra - Bob (bob@127.0.0.1)"},
        Case{u"", u"Builder", "Qovra - Builder (bob@127.0.0.1)"}}) {
    qovra::Session.OwnContact.FirstName = c.first;
    qovra::Session.OwnContact.LastName = c.last;
    Window().UpdateTitle();
    EXPECT_EQ(Window().windowTitle().toStdString(), c.title);
    EXPECT_EQ(tray_.hint, Window().windowTitle());
  }
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

// The list's progress is seen while the list fills (no event loop runs
// then): the bar is shown and painted at 0 under the busy text, and
// painted again as it moves, up to its end.
TEST_F(MainWindowTest, StatusBarProgressIsPaintedWhileTheListFills) {
  MakeUser(kBob);
  qovra::SetMsg("msgBuildingList", "building the list");
  for (int i = 0; i < 120; ++i) Store(qovra::kFolderSent, kBob, kAlice, u"s");
  TfrmMain& w = Window();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  qovra::ui::TMainStatusBar& bar = *w.pnlStatusBar;

  // Paints of the bar while the status bar is busy.
  struct Paint {
    bool visible;
    int width;
    int progress;
    QString status;
  };
  struct Recorder : QObject {
    qovra::ui::TMainStatusBar* bar;
    std::vector<Paint> paints;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint && bar->Busy())
        paints.push_back({bar->pbStatus->isVisible(), bar->pbStatus->width(),
                          bar->pbStatus->Progress(), bar->lblStatus->text()});
      return false;
    }
  } recorder;
  recorder.bar = &bar;
  bar.pbStatus->installEventFilter(&recorder);

  w.SelectFolder(qovra::kFolderSent);
  ASSERT_EQ(w.model->Count(), 120);
  ASSERT_GE(recorder.paints.size(), 2u) << "the bar was not painted while the list filled";
  EXPECT_EQ(recorder.paints.front().progress, 0);
  EXPECT_EQ(recorder.paints.back().progress, bar.pbStatus->MaxValue());
  for (const Paint& p : recorder.paints) {
    EXPECT_TRUE(p.visible);
    EXPECT_EQ(p.width, bar.lblStatus->fontMetrics().horizontalAdvance(p.status) + 4);
    EXPECT_EQ(p.status, QStringLiteral("building the list"));
  }
  EXPECT_FALSE(bar.pbStatus->isVisible());
  EXPECT_FALSE(bar.Busy());
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

// The link opens the update page with the version code, and only an http
// or https page.
TEST_F(MainWindowTest, UpdateLinkOpensTheUpdatePage) {
  struct Case {
    const char* url;
    std::optional<std::string> opened;
  } cases[] = {
      {"https://example.org/get", "https://example.org/get?ver=67109120"},
      {"HTTP://example.org/get", "HTTP://example.org/get?ver=67109120"},
      {"file:///etc/passwd", std::nullopt},
      {"javascript:alert(1)", std::nullopt},
      {"/usr/bin/xterm", std::nullopt},
      {"http:///no-host", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(qovra::ui::UpdatePageAddress(c.url, 0x04000100), c.opened) << c.url;
  }

  MakeUser(kBob);
  qovra::SetMsg("msgNewVersionAvailable", "version %s is out");
  qovra::CurrentVersionCode = 0x04000100;
  qovra::LatestVersionCode = 0x04000200;
  qovra::LatestClientVersion = "4.0.2.0";
  // The opener records what it was given.
  const std::string opener = dir_.File("opener");
  std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"" << dir_.File("opened")
                        << "\"\n";
  fs::permissions(opener, fs::perms::owner_all);
  qovra::TRunThreadList programs(opener);
  qovra::RunThreadList = &programs;
  TfrmMain& w = Window();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  qovra::ui::TWebLink* link = w.pnlStatusBar->wlUpdate;
  ASSERT_TRUE(link->isVisible());
  for (const char* url : {"file:///etc/passwd", "https://example.org/get"}) {
    qovra::UpdateUrl = url;
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  }
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return fs::exists(dir_.File("opened")) && fs::file_size(dir_.File("opened")) > 0; },
      5000));
  programs.EndAll();
  qovra::RunThreadList = nullptr;
  EXPECT_TRUE(ui_->messages.empty());
  std::ifstream in(dir_.File("opened"));
  const std::string opened{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(opened, "https://example.org/get?ver=67109120\n");  // the current version
  qovra::CurrentVersionCode = qovra::LatestVersionCode = 0;
  qovra::LatestClientVersion.clear();
  qovra::UpdateUrl.clear();
}

// The settings command: the pages online and offline, the settings saved,
// the receive timer and the tray set from them, and a mail folder switched
// to data that was there reloads the folders and the list.
TEST_F(MainWindowTest, SettingsCommandAppliesWhatTheDialogChanged) {
  qovra::InitAppSettings(dir_.File("qovra"), {dir_.File("qovra.xml"), "", true});
  MakeUser(kBob);
  Store(qovra::kFolderInbox, kAlice, kBob, u"old folder");
  TfrmMain& w = Window();
  w.SelectFolder(qovra::kFolderInbox);
  ASSERT_EQ(w.model->Count(), 1);

  // The data already in another folder: two inbox mails.
  const std::string other = dir_.File("other") + "/";
  std::filesystem::create_directories(other);
  std::filesystem::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", other + "ecm.edb");
  ui_->on_options = [&](int) {
    qovra::Options.Mail.reffreq = 300;
    qovra::Options.Other.traymin = 1;
    qovra::MailDb.Close();
    EXPECT_TRUE(qovra::MailDb.Open(other + "ecm.edb"));
    qovra::UserDir = other;
    Store(qovra::kFolderInbox, kAlice, kBob, u"one");
    Store(qovra::kFolderInbox, kAlice, kBob, u"two");
    return qovra::kOptionsExistingData;
  };
  qovra::Session.State = 1;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  uint64_t now_ms = 5'000'000;
  qovra::ui::SetTickClock([&] { return now_ms; });
  w.alMain->acToolsOptions->trigger();
  qovra::ui::SetTickClock(nullptr);
  EXPECT_EQ(w.AutoReceive().LastReceiveTick(), now_ms) << "a new period counts from now";
  ASSERT_EQ(ui_->options_calls.size(), 1u);
  EXPECT_EQ(ui_->options_calls[0].page, -4) << "online: interface, folders and mail";
  EXPECT_EQ(w.model->Count(), 2);
  EXPECT_EQ(w.FindFolderNode(qovra::kFolderInbox)->text(1), QStringLiteral("2/2"));
  EXPECT_TRUE(ui_->timer_enabled);
  EXPECT_TRUE(tray_.minimize_to_tray);
  EXPECT_NE(qovra::testing::ScratchDir::Read(dir_.File("qovra.xml")).find("<reffreq>300</reffreq>"),
            std::string::npos);

  // Offline every page; a cancelled dialog saves nothing, and the timer
  // follows the settings.
  qovra::Session.State = 2;
  qovra::Options.Mail.reffreq = 0;
  ui_->on_options = nullptr;
  w.alMain->acToolsOptions->trigger();
  ASSERT_EQ(ui_->options_calls.size(), 2u);
  EXPECT_EQ(ui_->options_calls[1].page, -1);
  EXPECT_FALSE(ui_->timer_enabled);
  EXPECT_NE(qovra::testing::ScratchDir::Read(dir_.File("qovra.xml")).find("<reffreq>300</reffreq>"),
            std::string::npos);
}

}  // namespace
