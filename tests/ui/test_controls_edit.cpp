// TEditEx: the character filter over every route text can enter by, the
// refusal balloons, the numbers-only mode, the multi-line mode and the
// placeholder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStyleHints>
#include <QTest>
#include <QVBoxLayout>
#include <memory>
#include <optional>
#include <vector>

#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/paste_source.h"

namespace qovra::ui {
namespace {

// The system clipboard for Ctrl+V and the menu; a selection of our own for
// the middle-click paste, which the offscreen platform does not keep.
class FakeSelection final : public IPasteSource {
 public:
  std::optional<QString> Text(QClipboard::Mode mode) override {
    if (mode == QClipboard::Selection) return selection;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText()) return std::nullopt;
    return data->text();
  }
  std::optional<QString> selection;
};

QString U(const char16_t* text) {
  return QString::fromUtf16(text);
}

enum class Route { Typing, CtrlV, ShiftInsert, ContextMenu, MiddleClick, Drop, InputMethod };

const char* RouteName(Route route) {
  switch (route) {
    case Route::Typing:
      return "typing";
    case Route::CtrlV:
      return "Ctrl+V";
    case Route::ShiftInsert:
      return "Shift+Insert";
    case Route::ContextMenu:
      return "context menu";
    case Route::MiddleClick:
      return "middle click";
    case Route::Drop:
      return "drop";
    case Route::InputMethod:
      return "input method";
  }
  return "?";
}

bool IsTypingRoute(Route route) {
  return route == Route::Typing || route == Route::InputMethod;
}

class EditFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    // A steady cursor, so that two pictures of one state are the same.
    QGuiApplication::styleHints()->setCursorFlashTime(0);
    SetPasteSource(&source_);
    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    edit_ = new TEditEx(window_.get());
    other_ = new TEditEx(window_.get());
    layout->addWidget(edit_);
    layout->addWidget(other_);
    window_->resize(300, 80);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override {
    HideBalloon();
    window_.reset();
    SetPasteSource(nullptr);
    QGuiApplication::clipboard()->clear();
  }

  // Brings text in by route; returns every balloon seen after each step.
  std::vector<TBalloonState> Deliver(Route route, const QString& text) {
    std::vector<TBalloonState> seen;
    // A multi-line field takes keys in its editor and the mouse in its
    // viewport.
    QPlainTextEdit* multi = edit_->MultilineEditor();
    QWidget* keys = multi ? static_cast<QWidget*>(multi) : edit_;
    QWidget* area = multi ? multi->viewport() : edit_;
    auto note = [&seen] {
      if (auto b = CurrentBalloon()) seen.push_back(*b);
    };
    switch (route) {
      case Route::Typing:
        // One key per character; a surrogate pair is one character.
        for (qsizetype i = 0; i < text.size(); ++i) {
          const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
          const QString key = text.mid(i, n);
          i += n - 1;
          QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, key);
          QApplication::sendEvent(keys, &press);
          note();
          QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, key);
          QApplication::sendEvent(keys, &release);
        }
        return seen;
      case Route::CtrlV:
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(keys, Qt::Key_V, Qt::ControlModifier);
        break;
      case Route::ShiftInsert:
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(keys, Qt::Key_Insert, Qt::ShiftModifier);
        break;
      case Route::ContextMenu: {
        QGuiApplication::clipboard()->setText(text);
        std::unique_ptr<QMenu> menu(edit_->CreateContextMenu());
        auto* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"));
        EXPECT_NE(paste, nullptr);
        if (!paste) return seen;
        EXPECT_TRUE(paste->isEnabled());
        paste->trigger();
        break;
      }
      case Route::MiddleClick:
        source_.selection = text;
        QTest::mouseClick(area, Qt::MiddleButton, Qt::NoModifier, area->rect().center());
        break;
      case Route::Drop: {
        // A drop goes to the widget that accepted the drag's entry.
        QMimeData mime;
        mime.setText(text);
        QDragEnterEvent enter(area->rect().center(), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(area, &enter);
        QDropEvent drop(QPointF(area->rect().center()), Qt::CopyAction, &mime, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(area, &drop);
        break;
      }
      case Route::InputMethod: {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(keys, &commit);
        break;
      }
    }
    note();
    return seen;
  }

  FakeSelection source_;
  std::unique_ptr<QWidget> window_;
  TEditEx* edit_ = nullptr;
  TEditEx* other_ = nullptr;
};

struct FilterCase {
  const char* set_name;
  TCharSet set;
  QString input;
  QString typed;   // text after typing it key by key
  QString pasted;  // text after any whole-text route (all or nothing)
  bool multiline = false;
};

std::vector<FilterCase> FilterCases() {
  const TCharSet digits = CharSetRange('0', '9');
  const TCharSet login = LoginCharSet();
  TCharSet full;
  full.set();
  return {
      {"digits", digits, "5", "5", "5"},
      {"digits", digits, "a", "", ""},
      {"digits", digits, "12a3", "123", ""},
      // U+0430 has the low byte of "0", U+FF11 that of a control code.
      {"digits", digits, U(u"\u0430"), "", ""},
      {"digits", digits, U(u"\uFF11"), "", ""},
      {"digits", digits, U(u"7\u0669"), "7", ""},
      {"login", login, "user_1.x-Y", "user_1.x-Y", "user_1.x-Y"},
      // Cyrillic letters whose low bytes are control codes or Latin letters.
      {"login", login, U(u"\u0418\u0432\u0430\u043D"), "", ""},
      {"login", login, U(u"\u0461"), "", ""},
      {"login", login, "ivan@", "ivan", ""},
      {"login", login, U(u"\u00E9"), "", ""},
      {"login", login, "a b", "ab", ""},
      {"full", full, U(u"\u0418\u0432\u0430\u043D \u00E9@1"),
       U(u"\u0418\u0432\u0430\u043D \u00E9@1"), U(u"\u0418\u0432\u0430\u043D \u00E9@1")},
      {"full", full, U(u"\U0001F600x"), U(u"\U0001F600x"), U(u"\U0001F600x")},
      // Multi-line: the same filter; a typed line-feed character is not text.
      {"multi-line digits", digits, "1\n2a", "12", "", true},
  };
}

TEST_F(EditFilter, EveryRouteAppliesTheSameFilter) {
  const Route routes[] = {Route::Typing,      Route::CtrlV, Route::ShiftInsert, Route::ContextMenu,
                          Route::MiddleClick, Route::Drop,  Route::InputMethod};
  for (const FilterCase& c : FilterCases()) {
    for (Route route : routes) {
      SCOPED_TRACE(std::string(c.set_name) + " set, input \"" + c.input.toStdString() + "\", by " +
                   RouteName(route));
      edit_->SetMultiline(c.multiline);
      edit_->clear();
      edit_->SetAcceptableChars(c.set);
      HideBalloon();
      const std::vector<TBalloonState> seen = Deliver(route, c.input);
      const QString expected = route == Route::Typing ? c.typed : c.pasted;
      EXPECT_EQ(edit_->text(), expected);
      const bool refused = route == Route::Typing ? c.typed != c.input : c.pasted != c.input;
      if (!refused) {
        EXPECT_TRUE(seen.empty());
        continue;
      }
      if (seen.empty()) {
        ADD_FAILURE() << "no balloon";
        continue;
      }
      const TBalloonState& b = seen.front();
      EXPECT_EQ(b.field, edit_);
      EXPECT_EQ(b.icon, TBalloonIcon::Error);
      if (IsTypingRoute(route)) {
        EXPECT_EQ(b.title, "Unacceptable Character");
        EXPECT_EQ(b.text, "You can only type acceptable characters here.");
      } else {
        EXPECT_EQ(b.title, "Unacceptable Character In Clipboard Text");
        EXPECT_EQ(b.text, "You can only paste text with acceptable characters here.");
      }
    }
  }
}

TEST_F(EditFilter, RestrictedSetAlwaysHoldsControlCodesButNotTab) {
  edit_->SetAcceptableChars(CharSetRange('0', '9'));
  const TCharSet& set = edit_->AcceptableChars();
  for (unsigned code = 0; code < 32; ++code) EXPECT_EQ(set.test(code), code != '\t') << code;
  EXPECT_FALSE(set.test(127));

  QTest::keyClicks(edit_, "12");
  QTest::keyClick(edit_, Qt::Key_Backspace);
  EXPECT_EQ(edit_->text(), "1");
  EXPECT_FALSE(CurrentBalloon());

  QGuiApplication::clipboard()->setText("3\t4");
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit_->text(), "1");
  ASSERT_TRUE(CurrentBalloon());
}

TEST_F(EditFilter, ReadOnlyFieldTakesNothingAndShowsNoBalloon) {
  edit_->SetAcceptableChars(CharSetRange('0', '9'));
  edit_->setReadOnly(true);
  QGuiApplication::clipboard()->setText("12");
  for (Route route : {Route::Typing, Route::CtrlV, Route::MiddleClick, Route::Drop}) {
    SCOPED_TRACE(RouteName(route));
    EXPECT_TRUE(Deliver(route, "1a").empty());
    EXPECT_EQ(edit_->text(), "");
  }
}

TEST_F(EditFilter, RefusalTextsChangeOnlyWhenTheyDifferBeyondCase) {
  edit_->SetCharErrorTitle("unacceptable CHARACTER");
  EXPECT_EQ(edit_->CharErrorTitle(), "Unacceptable Character");
  edit_->SetCharErrorTitle(U(u"Недопустимый символ"));
  EXPECT_EQ(edit_->CharErrorTitle(), U(u"Недопустимый символ"));
  edit_->SetPasteErrorText("Only digits.");
  EXPECT_EQ(edit_->PasteErrorText(), "Only digits.");

  edit_->SetAcceptableChars(CharSetRange('0', '9'));
  QTest::keyClick(edit_, Qt::Key_X);
  const auto typed = CurrentBalloon();
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->title, U(u"Недопустимый символ"));
  QGuiApplication::clipboard()->setText("x");
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  const auto pasted = CurrentBalloon();
  ASSERT_TRUE(pasted);
  EXPECT_EQ(pasted->text, "Only digits.");
}

TEST_F(EditFilter, NumbersOnly) {
  edit_->setText("abc");
  edit_->SetNumbersOnly(true);
  EXPECT_EQ(edit_->text(), "0");
  QTest::keyClick(edit_, Qt::Key_End);
  QTest::keyClicks(edit_, "4x2");
  EXPECT_EQ(edit_->text(), "042");
  QGuiApplication::clipboard()->setText("9e9");
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit_->text(), "042");
  edit_->SetNumbersOnly(false);
  QTest::keyClicks(edit_, "x");
  EXPECT_EQ(edit_->text(), "042x");
}

TEST_F(EditFilter, MultilineSwitchesAtRunTimeKeepingTheText) {
  edit_->setText("ab");
  edit_->SetMultiline(true);
  QPlainTextEdit* multi = edit_->MultilineEditor();
  ASSERT_NE(multi, nullptr);
  EXPECT_EQ(multi->toPlainText(), "ab");
  EXPECT_EQ(multi->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(edit_->focusProxy(), multi);
  multi->moveCursor(QTextCursor::End);
  QGuiApplication::clipboard()->setText("c\nd");
  QTest::keyClick(multi, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit_->text(), "abc\nd");
  EXPECT_FALSE(CurrentBalloon());
  edit_->setText("e\nf");
  EXPECT_EQ(multi->toPlainText(), "e\nf");

  edit_->SetMultiline(false);
  EXPECT_EQ(edit_->MultilineEditor(), nullptr);
  EXPECT_EQ(edit_->focusProxy(), nullptr);
  EXPECT_EQ(edit_->text(), "e\nf");
}

TEST_F(EditFilter, PlaceholderShowsWhileFocused) {
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  edit_->setFocus();
  ASSERT_TRUE(edit_->hasFocus());
  const QImage bare = edit_->grab().toImage();
  edit_->SetPlaceHolder("Login");
  const QImage hinted = edit_->grab().toImage();
  ASSERT_TRUE(edit_->hasFocus());
  EXPECT_NE(bare, hinted);
}

class Balloon : public EditFilter {};

TEST_F(Balloon, ClosesOnTheNextKey) {
  ShowBalloon(edit_, "Title", "Text", TBalloonIcon::Warning);
  const auto shown = CurrentBalloon();
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->title, "Title");
  EXPECT_EQ(shown->text, "Text");
  EXPECT_EQ(shown->icon, TBalloonIcon::Warning);
  QTest::keyClick(edit_, Qt::Key_A);
  EXPECT_FALSE(CurrentBalloon());
}

TEST_F(Balloon, ClosesWhenTheFieldLosesTheFocus) {
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  edit_->setFocus();
  edit_->ShowBalloonTip("Title", "Text", 1);
  ASSERT_TRUE(CurrentBalloon());
  EXPECT_EQ(CurrentBalloon()->icon, TBalloonIcon::Info);
  other_->setFocus();
  EXPECT_FALSE(CurrentBalloon());
}

TEST_F(Balloon, ClosesAfterItsTimeOut) {
  ShowBalloon(edit_, "Title", "Text", TBalloonIcon::None, 50);
  ASSERT_TRUE(CurrentBalloon());
  EXPECT_TRUE(QTest::qWaitFor([] { return !CurrentBalloon(); }, 2000));
}

TEST_F(Balloon, OneAtATime) {
  ShowBalloon(edit_, "First", "Text", TBalloonIcon::Error);
  ShowBalloon(other_, "Second", "Text", TBalloonIcon::Error);
  ASSERT_TRUE(CurrentBalloon());
  EXPECT_EQ(CurrentBalloon()->field, other_);
  EXPECT_EQ(CurrentBalloon()->title, "Second");
  QApplication::processEvents();
  int visible = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && (w->windowFlags() & Qt::ToolTip) == Qt::ToolTip) ++visible;
  }
  EXPECT_EQ(visible, 1);
}

TEST_F(Balloon, ClosesWhenTheFieldGoesAway) {
  ShowBalloon(other_, "Title", "Text", TBalloonIcon::Error);
  delete other_;
  other_ = nullptr;
  EXPECT_FALSE(CurrentBalloon());
}

}  // namespace
}  // namespace qovra::ui
