// The about box: texts from the message table, the product line, closing.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>

#include "base/messages.h"
#include "base/version.h"
#include "qovra/ui/about_box.h"
#include "qovra/ui/widgets.h"

namespace {

// The message table with the two texts the box takes from it, emptied again
// at the end.
class AboutMessages {
 public:
  AboutMessages() {
    qovra::ReplaceMsgTable(
        {{"msgProgramName", "Qovra"}, {"msgCopyright", "\u00A9 Notice from the language file"}});
  }
  ~AboutMessages() { qovra::ClearMsgTable(); }
};

}  // namespace

TEST(AboutBox, NoticeComesFromTheLanguageFile) {
  AboutMessages messages;
  TfrmAbout box;
  EXPECT_EQ(box.lblCopyright->text(), QStringLiteral("\u00A9 Notice from the language file"));
}

TEST(AboutBox, ProductLineShowsTheProgramsVersionOrNothing) {
  AboutMessages messages;
  TfrmAbout running;
  EXPECT_EQ(running.lblProgramInfo->text(),
            QStringLiteral("Qovra ") + QString::fromUtf8(qovra::ClientVersionString().data(),
                                                         qovra::ClientVersionString().size()));
  QTemporaryFile other;
  ASSERT_TRUE(other.open());
  TfrmAbout unversioned(nullptr, other.fileName());
  EXPECT_EQ(unversioned.lblProgramInfo->text(), QStringLiteral("Qovra "));
  // No "Segoe UI" here: the product line keeps the form's font.
  EXPECT_EQ(unversioned.lblProgramInfo->font().family(), unversioned.font().family());
}

TEST(AboutBox, EnterEscapeAndOkAllCloseWithTwo) {
  const std::function<void(TfrmAbout&)> closers[] = {
      [](TfrmAbout& b) { QTest::keyClick(&b, Qt::Key_Return); },
      [](TfrmAbout& b) { QTest::keyClick(&b, Qt::Key_Escape); },
      [](TfrmAbout& b) { QTest::mouseClick(b.btnOK, Qt::LeftButton); },
  };
  for (const auto& close : closers) {
    TfrmAbout box;
    box.setResult(0);
    box.show();
    box.btnOK->setFocus();
    close(box);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), 2);
  }
}

TEST(AboutBox, LayoutAndNames) {
  TfrmAbout box;
  EXPECT_STREQ(box.metaObject()->className(), "TfrmAbout");
  EXPECT_EQ(box.size(), QSize(333, 161));
  EXPECT_EQ(box.imgLogo->pixmap().size(), QSize(48, 48));
  EXPECT_EQ(box.lblAboutDesc->text(), QStringLiteral("Secured e-mail"));
  EXPECT_EQ(box.btnOK->text(), QStringLiteral("OK"));
  for (const char* name : {"imgLogo", "lblProgramInfo", "lblAboutDesc", "lblCopyright", "btnOK"}) {
    EXPECT_NE(box.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  }
}

TEST(AboutBox, AppliesTheLanguageBeforeFillingTheProductLine) {
  AboutMessages messages;
  static QWidget* applied_to = nullptr;
  qovra::ui::SetApplyLanguageFn([](QWidget* form) {
    applied_to = form;
    form->findChild<QLabel*>(QStringLiteral("lblAboutDesc"))->setText(QStringLiteral("Translated"));
    form->findChild<QLabel*>(QStringLiteral("lblProgramInfo"))->setText(QStringLiteral("Design"));
  });
  TfrmAbout box;
  qovra::ui::SetApplyLanguageFn(nullptr);
  EXPECT_EQ(applied_to, &box);
  EXPECT_EQ(box.lblAboutDesc->text(), QStringLiteral("Translated"));
  EXPECT_TRUE(box.lblProgramInfo->text().startsWith(QStringLiteral("Qovra ")));
}
