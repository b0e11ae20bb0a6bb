// The import dialog from the Tools menu: fields and radio buttons, the
// path checks, the messages, and the main window's folders afterwards.
#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <string>

#include "qovra/controls/button_edit.h"
#include "qovra/workspace/folder_tree.h"
#include "qovra/workspace/import_form.h"
#include "store/mail_container_writer.h"
#include "test_main_window_fixture.h"

namespace {

namespace fs = std::filesystem;
constexpr char kOwn[] = "alice@localhost";

std::string Container(const std::string& from, const std::string& to) {
  qovra::TMemoryStream s;
  {
    qovra::TMailWriter w(s, "", [] { return 45000.5; });
    w.AddMailHeaders(from, u"Subject", to);
    w.AddField("body", "text");
    EXPECT_TRUE(w.Finish());
  }
  return s.Data();
}

class ImportFormTest : public qovra_test::MainWindowFixture {
 protected:
  void SetUp() override {
    MainWindowFixture::SetUp();
    qovra::SetMsg("msgMailsImported", "imported %d");
    qovra::SetMsg("msgMailsNotImported", "skipped:\n%s");
    qovra::SetMsg("msgMailSignContentNotFound", "no signature");
    MakeUser(kOwn);
    in_ = dir_.File("in");
    fs::create_directories(in_);
    dir_.Write("in/0123456789ABCDEF0123456789ABCDEF.emz", Container("bob@localhost", kOwn));
    dir_.Write("in/0123456789ABCDEF0123456789ABCDEF.ems", "signature");
    dir_.Write("in/00000000000000000000000000000002.emz", Container(kOwn, "bob@localhost"));
    dir_.Write("in/broken.emz", "not a container");
  }
  void TearDown() override {
    TfrmImport::SetChoosersForTesting({}, {});
    MainWindowFixture::TearDown();
  }
  // Runs the Tools menu's import with body working on the open dialog.
  void RunImport(const std::function<void(TfrmImport&)>& body) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<TfrmImport*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      body(*dialog);
      ran = true;
      if (dialog->isVisible()) dialog->reject();
    });
    Window().alMain->acMailImport->trigger();
    EXPECT_TRUE(ran);
  }
  std::string in_;
};

TEST_F(ImportFormTest, FolderImportFillsInboxAndSentAndSaysWhatWasSkipped) {
  Window().SelectFolder(qovra::kFolderSent);
  ASSERT_EQ(Window().model->Count(), 0);
  int stored = -1;
  RunImport([&](TfrmImport& d) {
    EXPECT_TRUE(d.rbImportFolder->isChecked());
    d.eImportFolder->setText(QString::fromStdString(in_));
    QTest::mouseClick(d.btnImport, Qt::LeftButton);
    EXPECT_TRUE(d.isVisible());  // stays open for more imports
    QTest::mouseClick(d.btnClose, Qt::LeftButton);
    stored = d.StoredMails();
  });
  EXPECT_EQ(stored, 2);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"imported 2\n\nskipped:\nbroken.emz"}));
  // The window refreshed: the inbox is selected and lists the mail.
  EXPECT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderInbox);
  EXPECT_EQ(Window().model->Count(), 1);
  Window().SelectFolder(qovra::kFolderSent);
  EXPECT_EQ(Window().model->Count(), 1);
}

TEST_F(ImportFormTest, FileModeWarnsWhenTheSignatureStayedBehind) {
  TfrmImport::SetChoosersForTesting({}, [&](QWidget*, const QString& filter, const QString&) {
    EXPECT_EQ(filter, QStringLiteral("Mail files (*.emz)"));
    return QString::fromStdString(in_ + "/00000000000000000000000000000002.emz");
  });
  qovra::SetMsg("msgQovraMailFilesFilter", "Mail files (*.emz)|*.emz");
  RunImport([&](TfrmImport& d) {
    QTest::mouseClick(d.eImportFile->Button(), Qt::LeftButton);
    EXPECT_TRUE(d.rbImportFile->isChecked());
    QTest::mouseClick(d.btnImport, Qt::LeftButton);
  });
  EXPECT_EQ(Shown(), (std::vector<std::string>{"no signature", "imported 1"}));
  EXPECT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderInbox);
}

TEST_F(ImportFormTest, PathsThatDoNotExistOnlyRefocusTheField) {
  Window().SelectFolder(qovra::kFolderSent);
  RunImport([&](TfrmImport& d) {
    d.eImportFolder->setText(QString::fromStdString(in_ + "/missing"));
    QTest::mouseClick(d.btnImport, Qt::LeftButton);
    EXPECT_EQ(d.eImportFolder->selectedText(), d.eImportFolder->text());
    // Typing in the file field switches to file mode; a folder is no file.
    d.eImportFile->setFocus();
    QTest::keyClicks(d.eImportFile, QString::fromStdString(in_));
    EXPECT_TRUE(d.rbImportFile->isChecked());
    QTest::mouseClick(d.btnImport, Qt::LeftButton);
    EXPECT_EQ(d.eImportFile->selectedText(), d.eImportFile->text());
    EXPECT_EQ(d.StoredMails(), 0);
  });
  EXPECT_TRUE(Shown().empty());
  // Nothing stored: the window was left as it was.
  EXPECT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderSent);
}

TEST(QtNameFilter, PairsBecomeQtFilters) {
  EXPECT_EQ(QtNameFilter(QStringLiteral("Mail (*.emz)|*.emz")), QStringLiteral("Mail (*.emz)"));
  EXPECT_EQ(QtNameFilter(QStringLiteral("Mail|*.emz;*.eme|All|*")),
            QStringLiteral("Mail (*.emz *.eme);;All (*)"));
}

}  // namespace
