// TWebLink hover, keys and clicks; TframeSearchEdit clear button and Esc.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QEnterEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "qovra/controls/search_edit_frame.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/png_resources.h"

namespace qovra::ui {
namespace {

class WebLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<QWidget>();
    window_->resize(300, 100);
    link_ = new TWebLink(window_.get());
    link_->move(10, 10);
    other_ = new QWidget(window_.get());
    other_->setFocusPolicy(Qt::StrongFocus);
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  void Enter() {
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(link_->mapToGlobal(QPoint(2, 2))));
    QApplication::sendEvent(link_, &enter);
  }
  void Leave() {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link_, &leave);
  }

  std::unique_ptr<QWidget> window_;
  TWebLink* link_ = nullptr;
  QWidget* other_ = nullptr;
};

TEST_F(WebLinkTest, Defaults) {
  TWebLink fresh;
  EXPECT_EQ(fresh.size(), QSize(65, 17));
  EXPECT_EQ(fresh.HotFontColor(), QColor(0, 101, 213));
  EXPECT_EQ(fresh.FontColor(), QColor(34, 71, 136));
  EXPECT_EQ(fresh.NormalFontColor(), QColor(34, 71, 136));
  EXPECT_EQ(fresh.focusPolicy(), Qt::StrongFocus);
}

TEST_F(WebLinkTest, HoverSwitchesToTheHotColourAndBack) {
  link_->SetCaption("Register");
  Enter();
  EXPECT_TRUE(link_->IsHot());
  EXPECT_EQ(link_->FontColor(), link_->HotFontColor());
  EXPECT_EQ(link_->NormalFontColor(), QColor(34, 71, 136));
  Leave();
  EXPECT_FALSE(link_->IsHot());
  EXPECT_EQ(link_->FontColor(), QColor(34, 71, 136));

  link_->setEnabled(false);
  Enter();
  EXPECT_FALSE(link_->IsHot());
}

TEST_F(WebLinkTest, AFontColourOtherThanTheHotOneBecomesNormal) {
  link_->SetFontColor(QColor(34, 70, 136));
  EXPECT_EQ(link_->NormalFontColor(), QColor(34, 70, 136));
  link_->SetFontColor(link_->HotFontColor());
  EXPECT_EQ(link_->NormalFontColor(), QColor(34, 70, 136));
  Enter();
  Leave();
  EXPECT_EQ(link_->FontColor(), QColor(34, 70, 136));
}

TEST_F(WebLinkTest, EnterAndSpaceClickAFocusedLink) {
  QSignalSpy clicks(link_, &TWebLink::OnClick);
  link_->setFocus();
  ASSERT_TRUE(link_->hasFocus());
  QTest::keyClick(link_, Qt::Key_Return);
  QTest::keyClick(link_, Qt::Key_Space);
  QTest::keyClick(link_, Qt::Key_Enter, Qt::KeypadModifier);
  QTest::keyClick(link_, Qt::Key_A);
  QTest::keyClick(link_, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(clicks.count(), 3);
}

TEST_F(WebLinkTest, APressTakesTheFocusFirst) {
  QSignalSpy clicks(link_, &TWebLink::OnClick);
  other_->setFocus();
  QTest::mouseClick(link_, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  EXPECT_TRUE(link_->hasFocus());
  EXPECT_EQ(clicks.count(), 1);

  // A double click is one click: QTest sends its first half as a click and
  // its second half (press, double click, release) as mouseDClick.
  QTest::mouseClick(link_, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  QTest::mouseDClick(link_, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  EXPECT_EQ(clicks.count(), 2);

  // The right button does not click.
  QTest::mouseClick(link_, Qt::RightButton, Qt::NoModifier, QPoint(3, 3));
  EXPECT_EQ(clicks.count(), 2);
}

TEST_F(WebLinkTest, AClickIsDroppedWhenTheFocusCannotBeTaken) {
  QSignalSpy clicks(link_, &TWebLink::OnClick);
  other_->setFocus();
  link_->setFocusPolicy(Qt::NoFocus);
  QTest::mouseClick(link_, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  EXPECT_EQ(clicks.count(), 0);
  EXPECT_TRUE(other_->hasFocus());
}

TEST_F(WebLinkTest, RightAlignedCaptionKeepsItsRightEdge) {
  link_->SetAlignment(Qt::AlignRight);
  link_->SetCaption("x");
  const int right = link_->geometry().right();
  link_->SetCaption("a much longer caption");
  EXPECT_EQ(link_->geometry().right(), right);
  EXPECT_EQ(link_->width(), link_->sizeHint().width());

  link_->SetAlignment(Qt::AlignLeft);
  const int left = link_->x();
  link_->SetCaption("short");
  EXPECT_EQ(link_->x(), left);
  EXPECT_EQ(link_->width(), link_->sizeHint().width());
}

TEST_F(WebLinkTest, FocusDrawsAFrameInTheBorder) {
  link_->SetCaption("Settings");
  other_->setFocus();
  const QImage unfocused = link_->grab().toImage();
  link_->setFocus();
  const QImage focused = link_->grab().toImage();
  EXPECT_NE(unfocused, focused);
  // Only the one-pixel border changes.
  for (int y = 1; y < focused.height() - 1; ++y) {
    for (int x = 1; x < focused.width() - 1; ++x) {
      ASSERT_EQ(focused.pixel(x, y), unfocused.pixel(x, y)) << x << "," << y;
    }
  }
}

class SearchFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog_ = std::make_unique<QDialog>();
    dialog_->resize(400, 100);
    frame_ = new TframeSearchEdit(dialog_.get());
    frame_->move(10, 10);
    other_ = new QWidget(dialog_.get());
    other_->setFocusPolicy(Qt::StrongFocus);
    dialog_->show();
    dialog_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
  }
  QImage ClearButton() { return frame_->grab(frame_->ClearButtonRect()).toImage(); }

  std::unique_ptr<QDialog> dialog_;
  TframeSearchEdit* frame_ = nullptr;
  QWidget* other_ = nullptr;
};

TEST_F(SearchFrameTest, Layout) {
  EXPECT_EQ(frame_->size(), QSize(312, 25));
  EXPECT_EQ(frame_->eSearch()->objectName(), "eSearch");
  EXPECT_EQ(frame_->ClearButtonRect(), QRect(292, 0, 20, 21));
  EXPECT_EQ(frame_->eSearch()->x(), 22);
  EXPECT_EQ(frame_->eSearch()->y(), 4);
  EXPECT_EQ(frame_->eSearch()->geometry().right(), 312 - 21 - 1);
  EXPECT_LE(frame_->eSearch()->geometry().bottom(), 20);
  frame_->resize(200, 25);
  EXPECT_EQ(frame_->ClearButtonRect(), QRect(180, 0, 20, 21));
  EXPECT_EQ(frame_->eSearch()->geometry().right(), 200 - 21 - 1);
}

TEST_F(SearchFrameTest, ClearCrossShowsWhileThereIsText) {
  ASSERT_TRUE(HasPngResource("search_clear16"));
  const QImage empty = ClearButton();
  QTest::keyClicks(frame_->eSearch(), "abc");
  const QImage with_text = ClearButton();
  EXPECT_NE(empty, with_text);
  frame_->eSearch()->clear();
  EXPECT_EQ(ClearButton(), empty);
}

TEST_F(SearchFrameTest, ClickOnTheCrossEmptiesTheEdit) {
  QSignalSpy changes(frame_->eSearch(), &QLineEdit::textChanged);
  frame_->eSearch()->setText("abc");
  other_->setFocus();
  // Outside the cross: only the focus moves.
  QTest::mouseClick(frame_, Qt::LeftButton, Qt::NoModifier, QPoint(5, 10));
  EXPECT_EQ(frame_->eSearch()->text(), "abc");
  EXPECT_TRUE(frame_->eSearch()->hasFocus());

  other_->setFocus();
  QTest::mouseClick(frame_, Qt::LeftButton, Qt::NoModifier, frame_->ClearButtonRect().center());
  EXPECT_EQ(frame_->eSearch()->text(), "");
  EXPECT_TRUE(frame_->eSearch()->hasFocus());
  EXPECT_EQ(changes.count(), 2);

  frame_->eSearch()->setText("abc");
  frame_->eSearch()->setEnabled(false);
  QTest::mouseClick(frame_, Qt::LeftButton, Qt::NoModifier, frame_->ClearButtonRect().center());
  EXPECT_EQ(frame_->eSearch()->text(), "abc");
}

TEST_F(SearchFrameTest, EscapeEmptiesTheEditAndGoesNoFurther) {
  QSignalSpy rejected(dialog_.get(), &QDialog::rejected);
  auto* close = new QAction(dialog_.get());
  close->setShortcut(Qt::Key_Escape);
  dialog_->addAction(close);
  QSignalSpy shortcut(close, &QAction::triggered);

  frame_->eSearch()->setFocus();
  QTest::keyClicks(frame_->eSearch(), "abc");
  QTest::keyClick(frame_->eSearch(), Qt::Key_Escape);
  EXPECT_EQ(frame_->eSearch()->text(), "");
  QTest::keyClick(frame_->eSearch(), Qt::Key_Escape);
  EXPECT_EQ(rejected.count(), 0);
  EXPECT_EQ(shortcut.count(), 0);
  EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(SearchFrameTest, DisablingTheFrameDisablesTheEdit) {
  frame_->setEnabled(false);
  EXPECT_FALSE(frame_->eSearch()->isEnabled());
  frame_->setEnabled(true);
  EXPECT_TRUE(frame_->eSearch()->isEnabled());
}

}  // namespace
}  // namespace qovra::ui
