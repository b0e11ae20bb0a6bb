// The address book's windows offscreen: the duplicate dialog, the contact
// and group dialogs, the tree model and the recipient picker.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <functional>

#include "address_book_fixture.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contact_dialogs.h"
#include "qovra/addressbook/contact_tree_model.h"
#include "qovra/addressbook/contacts_list.h"
#include "qovra/addressbook/dup_dialog.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/ui/sound.h"
#include "qovra/ui/testing/fake_audio_backend.h"
#include "settings/settings.h"
#include "support/program_language.h"

namespace qovra::testing {
namespace {

using addressbook::TContactTreeModel;

// Runs dialog's modal loop and, once it is up, act(dialog).
template <typename Dialog>
int RunWith(Dialog& dialog, const std::function<int()>& exec, const std::function<void()>& act) {
  QTimer::singleShot(0, &dialog, [&] {
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog, 1000));
    act();
  });
  return exec();
}

class WindowsTest : public AddressBookTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenTemplate()) << db_.LastError();
    SetMsg("msgAll", "All");
    audio_->output_devices = 0;
    // Groups 3 (with 4 below) and 5; ann in 3 and 5, bob in 4, cy linked to
    // the root, dee without a link.
    ASSERT_TRUE(db_.Exec(
        "INSERT INTO eca_groups (id,name,parent_id) VALUES (3,'Friends',0),(4,'Close',3),"
        "(5,'Work',0);"
        "INSERT INTO eca_companies (id,name) VALUES (1,'Acme'),(2,'Unused Ltd');"
        "INSERT INTO eca_job_titles (id,name) VALUES (1,'Boss');"
        "INSERT INTO eca_contacts (id,first_name,last_name,email,company_id) VALUES "
        "(1,'Ann','Lee','Ann@X.uz',1),(2,'Bob','Ray','bob@x.uz',0),(3,'Cy','Oh','cy@x.uz',0),"
        "(4,'Dee','Ng','dee@x.uz',0);"
        "INSERT INTO eca_group_contacts VALUES (3,1),(5,1),(4,2),(0,3);"))
        << db_.LastError();
  }

  ui::testing::ScopedFakeAudio audio_;
};

// ---- duplicate dialog

TEST_F(WindowsTest, DupDialogKeysAndButtons) {
  const struct {
    const char* action;
    int result;
  } cases[] = {{"Return", kAbReplaced},     {"Escape", kAbRefused},
               {"btnReplace", kAbReplaced}, {"btnReplaceAll", kAbReplacedAll},
               {"btnSkip", kAbSkipped},     {"btnSkipAll", kAbSkippedAll},
               {"btnCancel", kAbRefused}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    TfrmDupMsg dialog;
    const int result = RunWith(
        dialog, [&] { return dialog.Execute(nullptr, QStringLiteral("Replace?")); },
        [&] {
          const QString action = QString::fromLatin1(c.action);
          if (action == QStringLiteral("Return")) {
            QTest::keyClick(&dialog, Qt::Key_Return);
          } else if (action == QStringLiteral("Escape")) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
          } else {
            dialog.findChild<QPushButton*>(action)->click();
          }
        });
    EXPECT_EQ(result, c.result);
  }
  // Without a sound device the question beeps.
  EXPECT_EQ(audio_->beeps.size(), std::size(cases));
  EXPECT_EQ(audio_->beeps.front(), kMsgIconQuestion);
}

// With a sound device the question sound (102) plays; nothing beeps.
TEST_F(WindowsTest, DupDialogPlaysTheQuestionSound) {
  ui::ExtractDialogSounds(QStringLiteral(QOVRA_BIN_DIR));
  const QString sound = ui::DialogSoundFile(ui::kSoundQuestion);
  ASSERT_FALSE(sound.isEmpty());
  audio_->output_devices = 1;
  TfrmDupMsg dialog;
  dialog.Prepare(nullptr, QStringLiteral("Replace?"));
  ui::DeleteDialogSounds();
  EXPECT_EQ(audio_->played, QStringList{sound});
  EXPECT_TRUE(audio_->beeps.empty());
}

TEST_F(WindowsTest, DupDialogOpensDownwardsOverTheOwnerAndFitsLongText) {
  QWidget owner;
  owner.setGeometry(100, 100, 520, 400);
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));

  TfrmDupMsg short_one;
  short_one.Prepare(&owner, QStringLiteral("Short."));
  EXPECT_EQ(short_one.TargetHeight(),
            std::max(short_one.lblPrompt->height() + 3 * short_one.btnReplace->height() + 20,
                     short_one.MinHeight()));

  TfrmDupMsg dialog;
  QString text;
  for (int i = 0; i < 40; ++i) text += QStringLiteral("A rather long line of the question text. ");
  dialog.Prepare(&owner, text);
  EXPECT_EQ(dialog.width(), owner.width());
  EXPECT_EQ(dialog.pos(), owner.mapToGlobal(QPoint(0, 0)));
  EXPECT_EQ(dialog.ClientHeight(), 0);
  EXPECT_LE(dialog.lblPrompt->width(), dialog.width() - 48 - 8);
  EXPECT_GT(dialog.lblPrompt->height(), 4 * short_one.lblPrompt->height());  // wrapped
  EXPECT_EQ(dialog.TargetHeight(),
            dialog.lblPrompt->height() + 3 * dialog.btnReplace->height() + 20);

  // Opening: 10 pixels a step; the buttons come only at full height.
  dialog.Timer1Timer();
  EXPECT_EQ(dialog.ClientHeight(), 10);
  EXPECT_LT(dialog.btnReplace->x(), 0);
  dialog.FinishSlide();
  EXPECT_EQ(dialog.ClientHeight(), dialog.TargetHeight());
  const int w = dialog.width();
  const int h = dialog.height();
  const int bw = dialog.btnReplace->width();
  const int bh = dialog.btnReplace->height();
  EXPECT_EQ(dialog.btnReplace->pos(), QPoint(w - 2 * bw - 8, h - 3 * bh - 12));
  EXPECT_EQ(dialog.btnReplaceAll->pos(), QPoint(w - bw - 4, h - 3 * bh - 12));
  EXPECT_EQ(dialog.btnSkip->pos(), QPoint(w - 2 * bw - 8, h - 2 * bh - 8));
  EXPECT_EQ(dialog.btnSkipAll->pos(), QPoint(w - bw - 4, h - 2 * bh - 8));
  EXPECT_EQ(dialog.btnCancel->pos(), QPoint(w - bw - 4, h - bh - 4));
  // The text ends above the first button row.
  EXPECT_LE(dialog.lblPrompt->geometry().bottom(), dialog.btnReplace->y());
}

// Like the message dialog: the window is mapped at its place and full
// height as a transient of the owner, and the slide only uncovers it with a
// growing mask, so a window manager never sees it resized (and moved).
TEST_F(WindowsTest, DupDialogSlidesWithAMaskAtItsFullHeight) {
  QWidget owner;
  owner.setGeometry(100, 100, 520, 400);
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));

  TfrmDupMsg dialog;
  dialog.Prepare(&owner, QStringLiteral("Replace?"));
  const int target = dialog.TargetHeight();
  EXPECT_EQ(dialog.height(), target);
  EXPECT_EQ(dialog.windowType(), Qt::Dialog);
  ASSERT_NE(dialog.windowHandle(), nullptr);
  EXPECT_EQ(dialog.windowHandle()->transientParent(), owner.windowHandle());
  dialog.show();
  dialog.Timer1->stop();  // stepped by hand below
  int resizes = 0;
  struct Counter : QObject {
    int* count;
    explicit Counter(int* c) : count(c) {}
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Resize) ++*count;
      return false;
    }
  } counter(&resizes);
  dialog.installEventFilter(&counter);
  const int steps = (target + 9) / 10;
  for (int step = 0; step < steps; ++step) {
    SCOPED_TRACE(step);
    EXPECT_EQ(dialog.mask().boundingRect(), QRect(0, 0, dialog.width(), std::max(step * 10, 1)));
    EXPECT_LT(dialog.btnReplace->x(), 0) << "buttons stay out of view while sliding";
    dialog.Timer1Timer();
  }
  EXPECT_TRUE(dialog.mask().isEmpty()) << "the whole window shows once open";
  EXPECT_EQ(dialog.height(), target);
  EXPECT_EQ(dialog.pos(), owner.mapToGlobal(QPoint(0, 0)));
  EXPECT_EQ(resizes, 0);
  EXPECT_TRUE(dialog.rect().contains(dialog.btnCancel->geometry()));
}

// SaveContact asks through the seam; the window answers it.
TEST_F(WindowsTest, SaveContactAsksThroughTheDuplicateWindow) {
  SetDupDialogUi(&addressbook::DupDialogWindowUi());
  QWidget owner;
  owner.setGeometry(50, 50, 480, 300);
  owner.show();
  QApplication::setActiveWindow(&owner);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  QPoint placed;
  QTimer::singleShot(50, [&] {
    auto* dialog = qobject_cast<TfrmDupMsg*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    placed = dialog->pos();
    dialog->btnSkipAll->click();
  });
  TContact c;
  c.FirstName = u"Ann2";
  c.Email = "Ann@X.uz";
  EXPECT_EQ(SaveContact(db_, c, 3, ""), kAbSkippedAll);
  SetDupDialogUi(&*ui_);
  EXPECT_EQ(DupChoice, kAbSkippedAll);
  EXPECT_EQ(placed, owner.mapToGlobal(QPoint(0, 0)));
}

// The duplicate question in the shipped texts of both languages lists a
// company and a job title only when there is one: no ", ," and no comma
// after the address for empty ones.
TEST_F(WindowsTest, DuplicateQuestionListsOnlyTheTextsThereAre) {
  const struct {
    std::u16string company;
    std::u16string title;
    std::string tail;  // the question ends with the new contact's line
  } cases[] = {{u"", u"", "Lee Bea <Ann@X.uz>"},
               {u"Acme", u"", "Lee Bea <Ann@X.uz>, Acme"},
               {u"", u"Boss", "Lee Bea <Ann@X.uz>, Boss"},
               {u"Acme", u"Boss", "Lee Bea <Ann@X.uz>, Acme, Boss"}};
  for (int langid : {0, 1}) {
    const ScopedProgramLanguage language(std::string(QOVRA_BIN_DIR) + "/", langid);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(langid) + " " + c.tail);
      ui_->dup_dialogs.clear();
      ui_->QueueDupAnswer(kAbSkipped);
      DupChoice = 0;
      TContact incoming;
      incoming.FirstName = u"Bea";
      incoming.LastName = u"Lee";
      incoming.Email = "Ann@X.uz";
      incoming.Company = c.company;
      incoming.JobTitle = c.title;
      incoming.CompanyId = -1;
      incoming.JobTitleId = -1;
      EXPECT_EQ(SaveContact(db_, incoming, 3, ""), kAbSkipped);
      ASSERT_EQ(ui_->dup_dialogs.size(), 1u);
      const std::string& text = ui_->dup_dialogs[0].text;
      EXPECT_EQ(text.find(", ,"), std::string::npos) << text;
      EXPECT_NE(text.find("Lee Ann <Ann@X.uz>, Acme\n"), std::string::npos) << text;
      ASSERT_GE(text.size(), c.tail.size());
      EXPECT_EQ(text.substr(text.size() - c.tail.size()), c.tail) << text;
    }
  }
}

// ---- contact and group dialogs

TEST_F(WindowsTest, ContactAndGroupDialogsEnterAndEscape) {
  for (const auto& [key, result] : {std::pair{Qt::Key_Return, 1}, std::pair{Qt::Key_Escape, 2}}) {
    TfrmNewAddr contact(db_);
    EXPECT_EQ(RunWith(
                  contact, [&] { return contact.exec(); },
                  [&] {
                    contact.eName->setFocus();
                    QTest::keyClicks(contact.eName, QStringLiteral("Ivan"));
                    QTest::keyClick(contact.eName, key);
                  }),
              result);
    EXPECT_EQ(contact.eName->text(), QStringLiteral("Ivan"));
    TfrmNewGroup group;
    EXPECT_EQ(RunWith(
                  group, [&] { return group.exec(); }, [&] { QTest::keyClick(group.eName, key); }),
              result);
  }
}

TEST_F(WindowsTest, ContactDialogListsEveryStoredName) {
  SetMsg("msgFIO", "Full name");
  SetMsg("msgEmail", "Address");
  TfrmNewAddr dialog(db_);
  ASSERT_EQ(dialog.cbCompany->count(), 2);
  EXPECT_EQ(dialog.cbCompany->itemText(1), QStringLiteral("Unused Ltd"));
  EXPECT_EQ(dialog.cbCompany->itemData(1).toInt(), 2);
  EXPECT_EQ(dialog.cbJobtitle->count(), 1);
  EXPECT_EQ(dialog.eName->PlaceHolder(), QStringLiteral("Full name"));
  EXPECT_EQ(dialog.eEmail->PlaceHolder(), QStringLiteral("Address"));
  SqliteDb closed;
  TfrmNewAddr without(closed);
  EXPECT_EQ(without.cbCompany->count(), 0);
}

// ---- tree model and picker

TEST_F(WindowsTest, TreeModelChecksFollowTheContactsBelow) {
  TContactTreeModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.BeginFill();
  TContactNode* root = AddAllGroupNode(model.Tree());
  ASSERT_TRUE(LoadGroupNode(db_, model.Tree(), *root));
  model.EndFill();
  const QModelIndex all = model.index(0, 0);
  const QModelIndex friends = model.index(0, 0, all);
  const QModelIndex close = model.index(0, 0, friends);
  const QModelIndex bob = model.index(0, 0, close);
  EXPECT_EQ(model.data(friends).toString(), QStringLiteral("Friends"));
  EXPECT_EQ(model.data(bob).toString(), QStringLiteral("Ray Bob <bob@x.uz>"));

  auto state = [&](const QModelIndex& i) { return model.data(i, Qt::CheckStateRole).toInt(); };
  ASSERT_TRUE(model.setData(bob, Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(state(close), Qt::Checked);
  EXPECT_EQ(state(friends), Qt::PartiallyChecked);
  EXPECT_EQ(state(all), Qt::PartiallyChecked);
  ASSERT_TRUE(model.setData(all, Qt::Checked, Qt::CheckStateRole));
  for (const QModelIndex& i : {all, friends, close, bob}) EXPECT_EQ(state(i), Qt::Checked);
  ASSERT_TRUE(model.setData(friends, Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_EQ(state(bob), Qt::Unchecked);
  EXPECT_EQ(state(all), Qt::PartiallyChecked);
}

class PickerTest : public WindowsTest {
 protected:
  // The picker prepared for to_text, OK pressed; returns ResultText.
  QString PickOk(TfrmContactsList& picker, const QString& to_text) {
    picker.Prepare(to_text);
    picker.CollectChecked();
    return picker.ResultText;
  }
  // Row texts of the checked rows, in tree order.
  static QStringList CheckedRows(TfrmContactsList& picker) {
    QStringList rows;
    TContactTreeModel* m = picker.Model();
    for (TContactNode* n = m->Tree().First(); n; n = TContactTree::Next(n)) {
      if (!n->IsGroup && m->CheckStateOf(n) == Qt::Checked) rows << TContactTreeModel::RowText(*n);
    }
    return rows;
  }
};

// A To text naming one address of a contact in two groups checks both of
// its rows; OK yields it once. An address not in the book is dropped.
TEST_F(PickerTest, ToTextChecksEveryRowOfAContactAndDropsUnknownAddresses) {
  TfrmContactsList picker(db_);
  const QString result =
      PickOk(picker, QStringLiteral("\"Someone\" <ann@x.uz>; stranger@y.uz, cy@x.uz"));
  EXPECT_EQ(CheckedRows(picker),
            (QStringList{QStringLiteral("Lee Ann <Ann@X.uz>"), QStringLiteral("Lee Ann <Ann@X.uz>"),
                         QStringLiteral("Oh Cy <cy@x.uz>")}));
  EXPECT_EQ(result, QStringLiteral("Lee Ann <Ann@X.uz>, Oh Cy <cy@x.uz>"));
  EXPECT_EQ(picker.ResultAddresses, "Ann@X.uz,cy@x.uz");
}

TEST_F(PickerTest, CheckingTheRootListsEveryAddressOnceInTreeOrder) {
  TfrmContactsList picker(db_);
  picker.Prepare(QString());
  ASSERT_TRUE(
      picker.Model()->setData(picker.Model()->index(0, 0), Qt::Checked, Qt::CheckStateRole));
  picker.CollectChecked();
  EXPECT_EQ(picker.ResultAddresses, "bob@x.uz,Ann@X.uz,cy@x.uz,dee@x.uz");
  // Every row is there, expanded.
  EXPECT_TRUE(picker.lvContacts->isExpanded(picker.Model()->index(0, 0)));
}

TEST_F(PickerTest, NamesCannotAddRecipients) {
  ASSERT_TRUE(db_.Exec("UPDATE eca_contacts SET first_name='x, <evil@z.uz>' WHERE id=3"));
  TfrmContactsList picker(db_);
  EXPECT_EQ(PickOk(picker, QStringLiteral("cy@x.uz")), QStringLiteral("Oh x evilz.uz <cy@x.uz>"));
}

TEST_F(PickerTest, SearchSelectsTheFirstMatchingRow) {
  TfrmContactsList picker(db_);
  picker.Prepare(QString());
  const struct {
    const char* text;
    const char* row;
  } cases[] = {{"ANN", "Lee Ann <Ann@X.uz>"},
               {"work", "Work"},
               {"<dee", "Ng Dee <dee@x.uz>"},
               {"nobody", "All"},
               {"", "All"}};
  for (const auto& c : cases) {
    picker.frameSearchEditField->eSearch()->setText(QString::fromUtf8(c.text));
    EXPECT_EQ(picker.lvContacts->currentIndex().data().toString(), QString::fromUtf8(c.row))
        << c.text;
  }
}

TEST_F(PickerTest, EnterTakesTheCheckedContactsEscapeLeavesNothing) {
  {
    TfrmContactsList picker(db_);
    const int result = RunWith(
        picker, [&] { return picker.Execute(QStringLiteral("bob@x.uz"), true); },
        [&] { QTest::keyClick(picker.lvContacts, Qt::Key_Return); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(picker.ResultText, QStringLiteral("Ray Bob <bob@x.uz>"));
  }
  {
    TfrmContactsList picker(db_);
    const int result = RunWith(
        picker, [&] { return picker.Execute(QStringLiteral("bob@x.uz"), true); },
        [&] { QTest::keyClick(picker.lvContacts, Qt::Key_Escape); });
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(picker.ResultText.isEmpty());
    EXPECT_TRUE(picker.ResultAddresses.empty());
    EXPECT_TRUE(picker.lblMessage->isHidden());
    EXPECT_FALSE(picker.frameSearchEditField->isHidden());
  }
}

TEST_F(PickerTest, WithoutDatabaseOnlyTheRoot) {
  SqliteDb closed;
  TfrmContactsList picker(closed);
  picker.Prepare(QStringLiteral("a@b.uz"));
  EXPECT_EQ(picker.Model()->rowCount(), 1);
  EXPECT_EQ(picker.Model()->rowCount(picker.Model()->index(0, 0)), 0);
  picker.CollectChecked();
  EXPECT_TRUE(picker.ResultText.isEmpty());
}

TEST_F(PickerTest, UnknownRecipientsAreReadBackFromTheirChecks) {
  TfrmContactsList picker(db_);
  QAbstractItemModelTester tester(picker.Model(),
                                  QAbstractItemModelTester::FailureReportingMode::Fatal);
  TContact a;
  a.Email = "new1@y.uz";
  a.FirstName = u"New";
  TContact b;
  b.Email = "new2@y.uz";
  picker.AddUnknownRecipient(a);
  picker.AddUnknownRecipient(b);
  const int result = RunWith(
      picker, [&] { return picker.ExecuteUnknownRecipients(); },
      [&] {
        picker.Model()->setData(picker.Model()->index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
        picker.btnOK->click();
      });
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(picker.UnknownRecipientsMode());
  EXPECT_FALSE(picker.lblMessage->isHidden());
  const std::vector<TContact> checked = picker.CheckedContacts();
  ASSERT_EQ(checked.size(), 1u);
  EXPECT_EQ(checked[0].Email, "new1@y.uz");
}

}  // namespace
}  // namespace qovra::testing
