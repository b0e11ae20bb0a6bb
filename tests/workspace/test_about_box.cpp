// The about box: texts by language, the product line, closing.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>

#include "qovra/records.h"
#include "qovra/ui/about_box.h"
#include "qovra/ui/widgets.h"
#include "qovra/version.h"

namespace {

class LangIdGuard {
 public:
  LangIdGuard() : saved_(qovra::Options.langid) {}
  ~LangIdGuard() { qovra::Options.langid = saved_; }

 private:
  int32_t saved_;
};

}  // namespace

TEST(AboutBox, NoticeFollowsTheLanguageSetting) {
  LangIdGuard guard;
  struct Case {
    int langid;
    QString expected;
  } cases[] = {
      {0, QStringLiteral("© Qovra муаллифлари. Барча ҳуқуқлар ҳимояланган.")},
      {1, QStringLiteral("© Авторы Qovra. Все права защищены.")},
      {2, QStringLiteral("© The Qovra authors. All rights reserved.")},
      {-1, QStringLiteral("© The Qovra authors. All rights reserved.")},
      {77, QStringLiteral("© The Qovra authors. All rights reserved.")},
  };
  for (const Case& c : cases) {
    qovra::Options.langid = c.langid;
    TfrmAbout box;
    EXPECT_EQ(box.lblCopyright->text(), c.expected) << c.langid;
    EXPECT_EQ(TfrmAbout::CopyrightText(c.langid), c.expected);
  }
}

TEST(AboutBox, ProductLineShowsTheProgramsVersionOrNothing) {
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
