#include "qovra/controls/edit_ex.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/paste_source.h"

namespace qovra::ui {
namespace {

// True when the key would insert its text: it carries text, no command
// modifier is held and no character of it is a control code (Backspace,
// Enter, Tab, Ctrl+letter and the like are editing commands, always allowed).
bool InsertsText(const QKeyEvent* event) {
  const QString text = event->text();
  if (text.isEmpty()) return false;
  if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
  for (QChar c : text) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
  }
  return true;
}

bool IsDigits(const QString& text) {
  for (QChar c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

void ReplaceUnlessSameIgnoringCase(QString& current, const QString& text) {
  if (QString::compare(current, text, Qt::CaseInsensitive) != 0) current = text;
}

}  // namespace

TCustomEditEx::TCustomEditEx(QWidget* parent)
    : QLineEdit(parent),
      paste_error_title_(QStringLiteral("Unacceptable Character In Clipboard Text")),
      paste_error_text_(QStringLiteral("You can only paste text with acceptable characters here.")),
      char_error_title_(QStringLiteral("Unacceptable Character")),
      char_error_text_(QStringLiteral("You can only type acceptable characters here.")) {
  acceptable_.set();
  UpdateTextMargins();
}

TCustomEditEx::~TCustomEditEx() = default;

void TCustomEditEx::SetTextAlignment(TEditTextAlignment alignment) {
  text_alignment_ = alignment;
  Qt::Alignment horizontal = Qt::AlignLeft;
  if (alignment == TEditTextAlignment::etaRight) horizontal = Qt::AlignRight;
  if (alignment == TEditTextAlignment::etaCenter) horizontal = Qt::AlignHCenter;
  setAlignment(horizontal | Qt::AlignVCenter);
}

void TCustomEditEx::SetEditBorderStyle(TEditBorderStyle style) {
  if (style == border_style_) return;
  border_style_ = style;
  setFrame(style == TEditBorderStyle::ebsClientEdge);
  UpdateTextMargins();
  update();
}

int TCustomEditEx::BorderWidth() const {
  return border_style_ == TEditBorderStyle::ebsBorder ||
                 border_style_ == TEditBorderStyle::ebsStaticEdge
             ? 1
             : 0;
}

void TCustomEditEx::UpdateTextMargins() {
  const int border = BorderWidth();
  setTextMargins(border, border, border + ExtraRightMargin(), border);
  MarginsChanged();
}

void TCustomEditEx::SetNumbersOnly(bool numbers_only) {
  numbers_only_ = numbers_only;
  if (numbers_only) setText(QStringLiteral("0"));
}

void TCustomEditEx::ShowBalloonTip(const QString& title, const QString& text, uint8_t icon) {
  const TBalloonIcon balloon_icon =
      icon <= 3 ? static_cast<TBalloonIcon>(icon) : TBalloonIcon::None;
  ShowBalloon(this, title, text, balloon_icon);
}

void TCustomEditEx::SetPasteErrorTitle(const QString& text) {
  ReplaceUnlessSameIgnoringCase(paste_error_title_, text);
}
void TCustomEditEx::SetPasteErrorText(const QString& text) {
  ReplaceUnlessSameIgnoringCase(paste_error_text_, text);
}
void TCustomEditEx::SetCharErrorTitle(const QString& text) {
  ReplaceUnlessSameIgnoringCase(char_error_title_, text);
}
void TCustomEditEx::SetCharErrorText(const QString& text) {
  ReplaceUnlessSameIgnoringCase(char_error_text_, text);
}

void TCustomEditEx::SetAcceptableChars(const TCharSet& set) {
  if (set == acceptable_) return;
  acceptable_ = set | ControlCodesWithoutTab();
}

bool TCustomEditEx::AcceptsText(const QString& text) const {
  if (numbers_only_ && !IsDigits(text)) return false;
  return IsAcceptableText(acceptable_, text);
}

void TCustomEditEx::ShowCharError() {
  ShowBalloon(this, char_error_title_, char_error_text_, TBalloonIcon::Error);
}

void TCustomEditEx::ShowPasteError() {
  ShowBalloon(this, paste_error_title_, paste_error_text_, TBalloonIcon::Error);
}

bool TCustomEditEx::InsertPasted(const QString& raw) {
  const QString text = AdjustPastedText(raw);
  if (text.isEmpty()) return false;
  if (!AcceptsText(text)) {
    ShowPasteError();
    return false;
  }
  insert(text);
  return true;
}

void TCustomEditEx::paste() {
  if (isReadOnly()) return;
  if (const std::optional<QString> text = PasteText(QClipboard::Clipboard)) InsertPasted(*text);
}

QMenu* TCustomEditEx::CreateContextMenu() {
  QMenu* menu = createStandardContextMenu();
  for (QAction* action : menu->actions()) {
    // The base menu may connect its Paste either way; take it off both.
    const bool by_name = disconnect(action, SIGNAL(triggered()), this, SLOT(paste()));
    const bool by_pointer = disconnect(action, &QAction::triggered, this, &QLineEdit::paste);
    if (!by_name && !by_pointer) continue;
    action->setObjectName(QStringLiteral("edit-paste"));
    action->setEnabled(!isReadOnly() && PasteText(QClipboard::Clipboard).has_value());
    connect(action, &QAction::triggered, this, &TCustomEditEx::paste);
  }
  return menu;
}

void TCustomEditEx::keyPressEvent(QKeyEvent* event) {
  const bool shift_insert =
      event->key() == Qt::Key_Insert && event->modifiers() == Qt::ShiftModifier;
  if (event->matches(QKeySequence::Paste) || shift_insert) {
    paste();
    event->accept();
    return;
  }
  if (!isReadOnly() && InsertsText(event) && !AcceptsText(event->text())) {
    ShowCharError();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TCustomEditEx::inputMethodEvent(QInputMethodEvent* event) {
  if (isReadOnly() || event->commitString().isEmpty() || AcceptsText(event->commitString())) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  // Keep the pre-edit state, drop the commit and the text it would replace.
  QInputMethodEvent stripped(event->preeditString(), event->attributes());
  QLineEdit::inputMethodEvent(&stripped);
  event->accept();
  ShowCharError();
}

void TCustomEditEx::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::MiddleButton) {
    QLineEdit::mouseReleaseEvent(event);
    return;
  }
  event->accept();
  const QPoint pos = event->position().toPoint();
  if (isReadOnly() || !rect().contains(pos)) return;
  const std::optional<QString> text = PasteText(QClipboard::Selection);
  if (!text) return;
  deselect();
  setCursorPosition(cursorPositionAt(pos));
  InsertPasted(*text);
}

void TCustomEditEx::dropEvent(QDropEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (isReadOnly() || !mime || !mime->hasText()) {
    QLineEdit::dropEvent(event);
    return;
  }
  const QString raw = mime->text();
  const QString text = AdjustPastedText(raw);
  if (text.isEmpty() || !AcceptsText(text)) {
    event->ignore();
    QDragLeaveEvent leave;
    QLineEdit::dragLeaveEvent(&leave);
    if (!text.isEmpty()) ShowPasteError();
    return;
  }
  if (text == raw) {
    QLineEdit::dropEvent(event);
    return;
  }
  QMimeData adjusted;
  adjusted.setText(text);
  QDropEvent copy(event->position(), event->possibleActions(), &adjusted, event->buttons(),
                  event->modifiers(), event->type());
  copy.setDropAction(event->dropAction());
  QLineEdit::dropEvent(&copy);
  event->setDropAction(copy.dropAction());
  event->setAccepted(copy.isAccepted());
}

void TCustomEditEx::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = CreateContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void TCustomEditEx::paintEvent(QPaintEvent* event) {
  QLineEdit::paintEvent(event);
  if (BorderWidth() == 0) return;
  QPainter p(this);
  const QRect r = rect();
  if (border_style_ == TEditBorderStyle::ebsBorder) {
    const QColor line = palette().color(QPalette::WindowText);
    p.fillRect(QRect(r.left(), r.top(), r.width(), 1), line);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), line);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height()), line);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height()), line);
    return;
  }
  const QColor shadow = palette().color(QPalette::Dark);
  const QColor highlight = palette().color(QPalette::Light);
  p.fillRect(QRect(r.left(), r.top(), r.width(), 1), shadow);
  p.fillRect(QRect(r.left(), r.top(), 1, r.height()), shadow);
  p.fillRect(QRect(r.left() + 1, r.bottom(), r.width() - 1, 1), highlight);
  p.fillRect(QRect(r.right(), r.top() + 1, 1, r.height() - 1), highlight);
}

}  // namespace qovra::ui
