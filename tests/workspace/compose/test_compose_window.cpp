// The compose window without the server: completion keys and mouse in the
// recipients field, attaching by batch with the refusal message and the
// row captions, removing rows, the priority and mode pop-ups with their
// menu mirrors, and the close question on every way of closing.
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <filesystem>
#include <fstream>

#include "compose_fixture.h"
#include "qovra/ui/widgets.h"

namespace {

namespace fs = std::filesystem;
using qovra_test::kAlice;

class ComposeWindowTest : public qovra_test::ComposeFixture {
 protected:
  void SetUp() override {
    ComposeFixture::SetUp();
    ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    auto add = [](std::u16string first, std::u16string last, std::string email) {
      qovra::TContact c;
      c.FirstName = std::move(first);
      c.LastName = std::move(last);
      c.Email = std::move(email);
      ASSERT_EQ(qovra::SaveContact(qovra::AddrBookDb, c, 0, c.Email), qovra::kAbStored);
    };
    add(u"Bob", u"Bobov", "bob@localhost");
    add(u"Boris", u"Borisov", "boris@127.0.0.1");
    add(u"Carol", u"Carolova", "carol@127.0.0.1");
  }
};

TEST_F(ComposeWindowTest, CompletionKeysAndPointer) {
  Compose([&](TfrmNewMail& form) {
    TframeNewMailTop* top = form.frameNewMailTop1;
    QLineEdit* to = top->eTo;
    QListWidget* list = top->lbContacts;
    to->setFocus();
    QTest::keyClicks(to, QStringLiteral("bo"));
    ASSERT_TRUE(list->isVisible());
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(list->parentWidget(), &form);
    EXPECT_EQ(list->geometry().top(), to->mapTo(&form, QPoint(0, to->height())).y());
    // Down stops at the last row, Up at the first; the caret stays.
    QTest::keyClick(to, Qt::Key_Down);
    QTest::keyClick(to, Qt::Key_Down);
    EXPECT_EQ(list->currentRow(), 1);
    QTest::keyClick(to, Qt::Key_Up);
    QTest::keyClick(to, Qt::Key_Up);
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(to->cursorPosition(), 2);
    // The wheel over the field scrolls the list, not the field.
    QTest::keyClick(to, Qt::Key_Down);
    QTest::keyClick(to, Qt::Key_Return);
    EXPECT_EQ(to->text(), QStringLiteral("Borisov Boris <boris@127.0.0.1>"));
    EXPECT_FALSE(list->isVisible());
    EXPECT_TRUE(form.isVisible());
    // A second entry after "; ": the fragment is "ca"; Escape hides the
    // list and does not close the window.
    QTest::keyClicks(to, QStringLiteral(";   car"));
    ASSERT_TRUE(list->isVisible());
    ASSERT_EQ(list->count(), 1);
    QTest::keyClick(to, Qt::Key_Escape);
    EXPECT_FALSE(list->isVisible());
    EXPECT_TRUE(form.isVisible());
    // Up and Down with the list hidden are left to the field.
    EXPECT_FALSE(top->eToKeyDown(Qt::Key_Up));
    EXPECT_FALSE(top->eToKeyDown(Qt::Key_Down));
    EXPECT_TRUE(top->eToKeyDown(Qt::Key_Escape));
    // The pointer over a row selects it; a click accepts it.
    to->setCursorPosition(static_cast<int>(to->text().size()));
    QTest::keyClick(to, Qt::Key_Backspace);
    QTest::keyClicks(to, QStringLiteral("r"));
    ASSERT_TRUE(list->isVisible());
    const QRect row = list->visualItemRect(list->item(0));
    QMouseEvent move(QEvent::MouseMove, row.center(), list->viewport()->mapToGlobal(row.center()),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &move);
    EXPECT_EQ(list->currentRow(), 0);
    emit list->itemClicked(list->item(0));
    EXPECT_EQ(to->text(),
              QStringLiteral("Borisov Boris <boris@127.0.0.1>; Carolova Carol <carol@127.0.0.1>"));
    // Enter with the list hidden is swallowed and sends nothing.
    QTest::keyClick(to, Qt::Key_Return);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(Shown().empty());
    // Typing the whole display text offers nothing.
    to->clear();
    QTest::keyClicks(to, QStringLiteral("Bobov Bob <bob@localhost>"));
    EXPECT_FALSE(list->isVisible());
    form.Modified = false;
  });
}

// Enter in a field clicks no button (the window has no default button);
// on the focused link (a keyboard user tabbed there) it opens the picker.
TEST_F(ComposeWindowTest, EnterClicksOnlyAFocusedButton) {
  Compose([&](TfrmNewMail& form) {
    TframeNewMailTop* top = form.frameNewMailTop1;
    // No button is drawn as the one Enter would press.
    for (const QPushButton* b : form.findChildren<QPushButton*>())
      EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
    QTest::keyClicks(top->eTo, QStringLiteral("dave@127.0.0.1"));
    QTest::keyClicks(top->eSubject, QStringLiteral("Minutes"));
    const struct {
      QWidget* focus;
      std::string opened;
    } cases[] = {
        {top->eTo, ""},
        {top->eSubject, ""},
        {form.lvFileAttachments, ""},
        {top->wlTo, "TfrmContactsList"},
    };
    for (const auto& c : cases) {
      c.focus->show();
      EXPECT_EQ(WindowsOpenedByEnter(c.focus), c.opened) << c.focus->objectName().toStdString();
      EXPECT_TRUE(form.isVisible());
    }
    EXPECT_EQ(top->eTo->text(), QStringLiteral("dave@127.0.0.1"));
    EXPECT_TRUE(Shown().empty());
    form.Modified = false;
  });
}

TEST_F(ComposeWindowTest, AttachingOneBatchAndRemovingRows) {
  const std::string b1023 = MakeFile("b1023.txt", 1023);
  const std::string k1024 = MakeFile("k1024.dat", 1024);
  const std::string m1 = MakeFile("m1.bin", 1048576);
  const std::string empty_exe = MakeFile("zero.exe", 0, "");
  const std::string full_exe = MakeFile("run.EXE", 0, "MZ");
  Compose([&](TfrmNewMail& form) {
    EXPECT_FALSE(form.lvFileAttachments->isVisible());
    form.AttachFiles(
        {QString::fromStdString(b1023), QString::fromStdString(k1024), QString::fromStdString(m1)});
    EXPECT_TRUE(Shown().empty());
    ASSERT_EQ(form.AttachmentCount(), 3);
    QStringList captions;
    for (int i = 0; i < 3; ++i) captions << form.lvFileAttachments->item(i)->text();
    EXPECT_EQ(captions,
              (QStringList{QStringLiteral("b1023.txt (1023 B)"), QStringLiteral("k1024.dat (1 KB)"),
                           QStringLiteral("m1.bin (1 MB)")}));
    EXPECT_TRUE(form.lvFileAttachments->isVisible());
    EXPECT_TRUE(form.Modified);
    // One of each refusal in one batch: one message with three lists; the
    // accepted file of the batch stays.
    qovra::SetMsg("msgAttachedFileIsExistsAndEmptyAndForbidden", "X[%s] E[%s] F[%s]");
    const std::string ok = MakeFile("ok.txt", 0, "ok");
    form.AttachFiles({QString::fromStdString(b1023).toUpper(), QString::fromStdString(empty_exe),
                      QString::fromStdString(full_exe), QString::fromStdString(ok)});
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0], "X[   " + QString::fromStdString(b1023).toUpper().toStdString() +
                              "\r] E[   " + empty_exe + "\r] F[   " + full_exe + "\r]");
    EXPECT_EQ(form.AttachmentCount(), 4);
    // Delete removes the selected rows; Ctrl+A selects all.
    form.lvFileAttachments->item(0)->setSelected(true);
    QTest::keyClick(form.lvFileAttachments, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(form.AttachmentCount(), 4);
    QTest::keyClick(form.lvFileAttachments, Qt::Key_Delete);
    EXPECT_EQ(form.AttachmentCount(), 3);
    QTest::keyClick(form.lvFileAttachments, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(form.lvFileAttachments->selectedItems().size(), 3);
    form.pmAttachmentsPopup(QPoint(-5, -5));
    EXPECT_TRUE(form.mnuAddFile->isEnabled());
    EXPECT_TRUE(form.mnuDeleteFile->isEnabled());
    EXPECT_FALSE(form.mnuOpen->isEnabled());
    form.acDeleteAllExecute();
    EXPECT_EQ(form.AttachmentCount(), 0);
    form.pmAttachmentsPopup(QPoint(-5, -5));
    EXPECT_FALSE(form.mnuDeleteAll->isEnabled());
    EXPECT_FALSE(form.mnuDeleteFile->isEnabled());
    // The dialog's chooser: cancel changes nothing.
    TfrmNewMail::SetAttachChooser([](QWidget*) { return std::optional<QStringList>(); });
    form.acAttachFile->trigger();
    EXPECT_EQ(form.AttachmentCount(), 0);
    TfrmNewMail::SetAttachChooser([ok](QWidget*) {
      return std::optional<QStringList>(QStringList{QString::fromStdString(ok)});
    });
    form.acAttachFile->trigger();
    EXPECT_EQ(form.AttachmentCount(), 1);
    form.Modified = false;
  });
}

TEST_F(ComposeWindowTest, PriorityModeAndReportMirrors) {
  Compose([&](TfrmNewMail& form) {
    TframeNewMailTop* top = form.frameNewMailTop1;
    EXPECT_EQ(top->PriorityTag(), 1);
    EXPECT_EQ(top->btnPriority->palette().color(QPalette::ButtonText), QColor(0, 128, 0));
    EXPECT_TRUE(form.mnuNormalPriority->isChecked());
    emit top->pmPriority->triggered(top->mnuHighPriority);
    EXPECT_EQ(top->PriorityTag(), 2);
    EXPECT_EQ(top->btnPriority->palette().color(QPalette::ButtonText), QColor(128, 0, 0));
    EXPECT_TRUE(form.mnuHighPriority->isChecked());
    form.mnuLowPriority->trigger();
    EXPECT_EQ(top->PriorityTag(), 0);
    EXPECT_TRUE(top->mnuLowPriority->isChecked());
    EXPECT_EQ(top->SendingModeTag(), 0);
    form.mnuFastSend->trigger();
    EXPECT_EQ(top->SendingModeTag(), 1);
    EXPECT_EQ(top->btnSendingMode->text(), top->mnuFastMode->text());
    emit top->pmSendingMode->triggered(top->mnuSecureMode);
    EXPECT_TRUE(form.mnuSecureSend->isChecked());
    EXPECT_TRUE(form.mnuReadReport->isChecked());
    top->btnReadReport->click();
    EXPECT_FALSE(form.mnuReadReport->isChecked());
    form.mnuReceiveReport->trigger();
    EXPECT_FALSE(top->btnReceiveReport->isChecked());
  });
}

// Every way of closing without a result asks the same question when the
// mail is modified and not empty.
TEST_F(ComposeWindowTest, CloseQuestionOnEveryWayOfClosing) {
  enum class Way { CloseButton, Escape, MenuCancel };
  struct Case {
    const char* name;
    Way way;
    bool type;           // type something
    bool clear;          // then delete it again
    int answer;          // to the question, when asked
    bool asked, closed;  // what happens
    bool not_available;  // a second message saying a command is not in this build
  };
  const Case cases[] = {
      {"untouched", Way::CloseButton, false, false, 0, false, true, false},
      {"typed then deleted", Way::Escape, true, true, 0, false, true, false},
      {"cancel keeps it", Way::CloseButton, true, false, qovra::kMsgResultCancel, true, false,
       false},
      {"no closes (escape)", Way::Escape, true, false, qovra::kMsgResultNo, true, true, false},
      {"no closes (menu)", Way::MenuCancel, true, false, qovra::kMsgResultNo, true, true, false},
      {"yes saves to drafts", Way::Escape, true, false, qovra::kMsgResultYes, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_->messages.clear();
    bool closed = false;
    Compose([&](TfrmNewMail& form) {
      if (c.type) {
        QTest::keyClicks(form.eMailBody, QStringLiteral("abc"));
        if (c.clear) form.eMailBody->clear();
      }
      if (c.answer) ui_->QueueAnswer(c.answer);
      switch (c.way) {
        case Way::CloseButton:
          form.close();
          break;
        case Way::Escape:
          form.eMailBody->setFocus();
          QTest::keyClick(&form, Qt::Key_Escape);
          break;
        case Way::MenuCancel:
          form.mnuCancel->trigger();
          break;
      }
      closed = !form.isVisible();
      form.Modified = false;
    });
    EXPECT_EQ(closed, c.closed);
    const std::vector<std::string> shown = Shown();
    EXPECT_EQ(!shown.empty() && shown[0] == "msgSaveToDraftsPrompt", c.asked)
        << testing::PrintToString(shown);
    EXPECT_EQ(shown.size() == 2 && shown[1].rfind("not yet:", 0) == 0, c.not_available)
        << testing::PrintToString(shown);
  }
}

}  // namespace

namespace {

// The tool bar's address book and the main menu's two items run the main
// window's commands; those not in this build say so over the compose
// window, which stays open.
TEST_F(ComposeWindowTest, ToolBarAndMenuRunTheMainWindowsCommands) {
  qovra::SetMsg("msgCannotSaveEmptyMail", "msgCannotSaveEmptyMail");
  Compose([&](TfrmNewMail& form) {
    ASSERT_NE(form.btnAddressBook, nullptr);
    // The address book opens over the compose window.
    QWidget* book_owner = nullptr;
    QTimer::singleShot(0, &form, [&] {
      auto* book = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (book && book != &form) {
        book_owner = book->parentWidget();
        book->done(2);
      }
    });
    form.btnAddressBook->defaultAction()->trigger();
    EXPECT_EQ(book_owner, &form);
    // Save to drafts from the menu: the empty mail is refused.
    ui_->messages.clear();
    form.mnuMailSaveToDrafts->trigger();
    EXPECT_EQ(Shown(), std::vector<std::string>{"msgCannotSaveEmptyMail"});
    EXPECT_TRUE(form.isVisible());
    // Send from the menu: the empty recipients are reported.
    ui_->messages.clear();
    form.mnuMailSend->trigger();
    EXPECT_EQ(Shown(), std::vector<std::string>{"msgEMailAddressesNotSpecified"});
  });
}

}  // namespace

namespace {

TEST_F(ComposeWindowTest, EditPopupEnabling) {
  Compose([&](TfrmNewMail& form) {
    QPlainTextEdit* body = form.eMailBody;
    body->clear();
    body->document()->clearUndoRedoStacks();
    form.pmEditPopup();
    for (QAction* a : {form.mnuEditUndo, form.mnuEditCut, form.mnuEditCopy, form.mnuEditDelete,
                       form.mnuEditSelectAll})
      EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    QTest::keyClicks(body, QStringLiteral("abc"));
    body->moveCursor(QTextCursor::Start);
    body->moveCursor(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    form.pmEditPopup();
    for (QAction* a : {form.mnuEditUndo, form.mnuEditCut, form.mnuEditCopy, form.mnuEditDelete,
                       form.mnuEditSelectAll})
      EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    body->selectAll();
    form.pmEditPopup();
    EXPECT_FALSE(form.mnuEditSelectAll->isEnabled());
    form.mnuEditDelete->trigger();
    EXPECT_TRUE(body->toPlainText().isEmpty());
    form.Modified = false;
  });
}

}  // namespace
