// TButtonEdit: the embedded button, its keys and the first-line paste.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <memory>

#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/button_edit.h"

namespace qovra::ui {
namespace {

// The parent counts the keys that reach it.
class KeyCountingParent : public QWidget {
 public:
  int enter = 0;
  int escape = 0;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) ++enter;
    if (event->key() == Qt::Key_Escape) ++escape;
  }
};

class ButtonEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<KeyCountingParent>();
    auto* layout = new QVBoxLayout(window_.get());
    edit_ = new TButtonEdit(window_.get());
    other_ = new QWidget(window_.get());
    other_->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(edit_);
    layout->addWidget(other_);
    window_->resize(200, 80);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override {
    HideBalloon();
    window_.reset();
    QGuiApplication::clipboard()->clear();
  }

  std::unique_ptr<KeyCountingParent> window_;
  TButtonEdit* edit_ = nullptr;
  QWidget* other_ = nullptr;
};

TEST_F(ButtonEditTest, CtrlEnterClicksTheButtonAndGoesNoFurther) {
  QSignalSpy clicks(edit_, &TButtonEdit::OnButtonClick);
  QTest::keyClick(edit_, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(window_->enter, 0);
}

TEST_F(ButtonEditTest, EnterAndEscapeReachTheParent) {
  QSignalSpy clicks(edit_, &TButtonEdit::OnButtonClick);
  QTest::keyClick(edit_, Qt::Key_Return);
  QTest::keyClick(edit_, Qt::Key_Escape);
  EXPECT_EQ(clicks.count(), 0);
  EXPECT_EQ(window_->enter, 1);
  EXPECT_EQ(window_->escape, 1);
  EXPECT_EQ(edit_->text(), "");
}

TEST_F(ButtonEditTest, ButtonClickFocusesTheEditFirst) {
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  other_->setFocus();
  bool focused_at_click = false;
  QObject::connect(edit_, &TButtonEdit::OnButtonClick,
                   [&] { focused_at_click = edit_->hasFocus(); });
  QTest::mouseClick(edit_->Button(), Qt::LeftButton);
  EXPECT_TRUE(focused_at_click);
}

TEST_F(ButtonEditTest, PasteTakesTheFirstLineAndLeavesTheClipboard) {
  struct Case {
    QString clipboard;
    QString pasted;
  };
  const Case cases[] = {
      {"first\nsecond", "first"}, {"first\r\nsecond", "first"},
      {"one\rtwo\nthree", "one"}, {"plain", "plain"},
      {"\nsecond", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clipboard.toStdString());
    edit_->clear();
    QGuiApplication::clipboard()->setText(c.clipboard);
    QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit_->text(), c.pasted);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), c.clipboard);

    edit_->clear();
    std::unique_ptr<QMenu> menu(edit_->CreateContextMenu());
    auto* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"));
    ASSERT_NE(paste, nullptr);
    paste->trigger();
    EXPECT_EQ(edit_->text(), c.pasted);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), c.clipboard);

    edit_->clear();
    QMimeData mime;
    mime.setText(c.clipboard);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit_, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit_, &drop);
    EXPECT_EQ(edit_->text(), c.pasted);
  }
}

TEST_F(ButtonEditTest, TheFilterSeesOnlyTheFirstLine) {
  edit_->SetAcceptableChars(CharSetRange('0', '9'));
  QGuiApplication::clipboard()->setText("12\nabc");
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit_->text(), "12");
  EXPECT_FALSE(CurrentBalloon());

  QGuiApplication::clipboard()->setText("3a\n4");
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit_->text(), "12");
  ASSERT_TRUE(CurrentBalloon());
  EXPECT_EQ(CurrentBalloon()->title, "Unacceptable Character In Clipboard Text");
}

TEST_F(ButtonEditTest, TextNeverRunsUnderTheButton) {
  QToolButton* button = edit_->Button();
  EXPECT_EQ(button->width(), edit_->ButtonWidth());
  EXPECT_EQ(button->geometry().right(),
            edit_->width() - 1 -
                (edit_->hasFrame()
                     ? edit_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit_)
                     : 0));
  edit_->setText(QString(200, u'W'));
  edit_->end(false);
  edit_->repaint();  // the edit scrolls to the cursor when it paints
  // The caret sits at the middle of the edit's cursor rectangle.
  auto caret_x = [this] {
    return edit_->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
  };
  EXPECT_LT(caret_x(), button->x());
  EXPECT_GT(caret_x(), button->x() - 20);

  for (TEditBorderStyle style : {TEditBorderStyle::ebsNone, TEditBorderStyle::ebsBorder}) {
    edit_->SetEditBorderStyle(style);
    const int border = style == TEditBorderStyle::ebsBorder ? 1 : 0;
    EXPECT_EQ(button->geometry(), QRect(edit_->width() - border - edit_->ButtonWidth(), border,
                                        edit_->ButtonWidth(), edit_->height() - 2 * border));
  }
  edit_->SetButtonWidth(30);
  edit_->end(false);
  edit_->repaint();
  EXPECT_EQ(button->width(), 30);
  EXPECT_LT(caret_x(), button->x());
}

TEST_F(ButtonEditTest, BuiltInGlyphIsAnEllipsis) {
  EXPECT_TRUE(edit_->UseDefaultGlyph());
  const QImage glyph =
      edit_->Button()->icon().pixmap(QSize(11, 6)).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(glyph.size(), QSize(11, 6));
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 11; ++x) {
      const bool dot = (y == 2 || y == 3) && (x % 4) < 2;
      SCOPED_TRACE(testing::Message() << "x " << x << " y " << y);
      EXPECT_EQ(glyph.pixel(x, y), dot ? qRgb(0, 0, 0) : qRgba(0, 0, 0, 0));
    }
  }
  QPixmap picture(8, 8);
  picture.fill(Qt::red);
  edit_->SetButtonGlyph(picture);
  EXPECT_FALSE(edit_->UseDefaultGlyph());
  edit_->SetButtonGlyph(QPixmap());
  EXPECT_TRUE(edit_->UseDefaultGlyph());
}

TEST_F(ButtonEditTest, DisablingTheEditDisablesTheButton) {
  edit_->setEnabled(false);
  EXPECT_FALSE(edit_->Button()->isEnabled());
  edit_->setEnabled(true);
  EXPECT_TRUE(edit_->Button()->isEnabled());
}

}  // namespace
}  // namespace qovra::ui
