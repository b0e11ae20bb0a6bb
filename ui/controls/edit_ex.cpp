#include "qovra/controls/edit_ex.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTextOption>
#include <utility>

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
  AlignMultiline();
}

void TCustomEditEx::SetEditBorderStyle(TEditBorderStyle style) {
  if (style == border_style_) return;
  border_style_ = style;
  setFrame(style == TEditBorderStyle::ebsClientEdge);
  UpdateTextMargins();
  if (multi_) {
    multi_->setFrameShape(style == TEditBorderStyle::ebsClientEdge ? QFrame::StyledPanel
                                                                   : QFrame::NoFrame);
  }
  LayoutMultiline();
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

void TCustomEditEx::SetPlaceHolder(const QString& text) {
  setPlaceholderText(text);
  if (multi_) multi_->setPlaceholderText(text);
}

void TCustomEditEx::SetMultiline(bool multiline) {
  if (multiline == Multiline()) return;
  if (!multiline) {
    const bool had_focus = multi_->hasFocus();
    setFocusProxy(nullptr);
    // Out of the filter first: the editor sends events while it goes.
    QPlainTextEdit* editor = std::exchange(multi_, nullptr);
    editor->viewport()->removeEventFilter(this);
    editor->removeEventFilter(this);
    delete editor;
    if (had_focus) setFocus();
    update();
    return;
  }
  multi_ = new QPlainTextEdit(this);
  multi_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  multi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  multi_->setTabChangesFocus(true);
  multi_->setFrameShape(border_style_ == TEditBorderStyle::ebsClientEdge ? QFrame::StyledPanel
                                                                         : QFrame::NoFrame);
  multi_->setPlainText(text());
  multi_->setPlaceholderText(placeholderText());
  multi_->setReadOnly(isReadOnly());
  AlignMultiline();
  multi_->installEventFilter(this);
  multi_->viewport()->installEventFilter(this);
  connect(multi_, &QPlainTextEdit::textChanged, this, [this] {
    const QString plain = multi_->toPlainText();
    if (plain != text()) setText(plain);
  });
  connect(this, &QLineEdit::textChanged, multi_, [this](const QString& now) {
    if (multi_->toPlainText() != now) multi_->setPlainText(now);
  });
  const bool had_focus = hasFocus();
  setFocusProxy(multi_);
  LayoutMultiline();
  multi_->show();
  if (had_focus) multi_->setFocus();
  update();
}

void TCustomEditEx::LayoutMultiline() {
  if (!multi_) return;
  const int border = BorderWidth();
  multi_->setGeometry(rect().adjusted(border, border, -border, -border));
}

void TCustomEditEx::AlignMultiline() {
  if (!multi_) return;
  QTextOption option = multi_->document()->defaultTextOption();
  option.setAlignment(alignment() & Qt::AlignHorizontal_Mask);
  multi_->document()->setDefaultTextOption(option);
}

void TCustomEditEx::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  LayoutMultiline();
}

void TCustomEditEx::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (multi_ && event->type() == QEvent::ReadOnlyChange) multi_->setReadOnly(isReadOnly());
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
  InsertText(text);
  return true;
}

void TCustomEditEx::InsertText(const QString& text) {
  if (multi_) {
    multi_->insertPlainText(text);
  } else {
    insert(text);
  }
}

void TCustomEditEx::paste() {
  if (isReadOnly()) return;
  if (const std::optional<QString> text = PasteText(QClipboard::Clipboard)) InsertPasted(*text);
}

QMenu* TCustomEditEx::CreateContextMenu() {
  if (multi_) {
    // The editor's own Paste goes to its text control; put ours in its place.
    QMenu* menu = multi_->createStandardContextMenu();
    auto* original = menu->findChild<QAction*>(QStringLiteral("edit-paste"));
    if (!original) return menu;
    auto* action = new QAction(original->icon(), original->text(), menu);
    action->setShortcut(original->shortcut());
    action->setObjectName(QStringLiteral("edit-paste"));
    action->setEnabled(!isReadOnly() && PasteText(QClipboard::Clipboard).has_value());
    connect(action, &QAction::triggered, this, &TCustomEditEx::paste);
    menu->insertAction(original, action);
    menu->removeAction(original);
    delete original;
    return menu;
  }
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

bool TCustomEditEx::FilterKey(QKeyEvent* event) {
  const bool shift_insert =
      event->key() == Qt::Key_Insert && event->modifiers() == Qt::ShiftModifier;
  if (event->matches(QKeySequence::Paste) || shift_insert) {
    paste();
    event->accept();
    return true;
  }
  if (!isReadOnly() && InsertsText(event) && !AcceptsText(event->text())) {
    ShowCharError();
    event->accept();
    return true;
  }
  return false;
}

void TCustomEditEx::keyPressEvent(QKeyEvent* event) {
  if (FilterKey(event)) return;
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

bool TCustomEditEx::FilterMultilineInput(QInputMethodEvent* event) {
  if (isReadOnly() || event->commitString().isEmpty() || AcceptsText(event->commitString())) {
    return false;
  }
  QInputMethodEvent stripped(event->preeditString(), event->attributes());
  QCoreApplication::sendEvent(multi_, &stripped);
  event->accept();
  ShowCharError();
  return true;
}

void TCustomEditEx::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::MiddleButton) {
    QLineEdit::mouseReleaseEvent(event);
    return;
  }
  event->accept();
  MiddleClickPaste(event->position().toPoint());
}

bool TCustomEditEx::MiddleClickPaste(QPoint pos) {
  QWidget* area = multi_ ? multi_->viewport() : static_cast<QWidget*>(this);
  if (isReadOnly() || !area->rect().contains(pos)) return false;
  const std::optional<QString> text = PasteText(QClipboard::Selection);
  if (!text) return false;
  if (multi_) {
    multi_->setTextCursor(multi_->cursorForPosition(pos));
  } else {
    deselect();
    setCursorPosition(cursorPositionAt(pos));
  }
  return InsertPasted(*text);
}

bool TCustomEditEx::FilterMultilineDrop(QDropEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (isReadOnly() || !mime || !mime->hasText()) return false;
  const QString raw = mime->text();
  const QString text = AdjustPastedText(raw);
  if (!text.isEmpty() && AcceptsText(text) && text == raw) return false;
  event->ignore();
  QDragLeaveEvent leave;
  QCoreApplication::sendEvent(multi_->viewport(), &leave);
  if (text.isEmpty()) return true;
  if (!AcceptsText(text)) {
    ShowPasteError();
    return true;
  }
  multi_->setTextCursor(multi_->cursorForPosition(event->position().toPoint()));
  multi_->insertPlainText(text);
  event->setDropAction(Qt::CopyAction);
  event->accept();
  return true;
}

bool TCustomEditEx::eventFilter(QObject* watched, QEvent* event) {
  if (!multi_ || (watched != multi_ && watched != multi_->viewport())) {
    return QLineEdit::eventFilter(watched, event);
  }
  switch (event->type()) {
    case QEvent::KeyPress:
      return watched == multi_ && FilterKey(static_cast<QKeyEvent*>(event));
    case QEvent::InputMethod:
      return watched == multi_ && FilterMultilineInput(static_cast<QInputMethodEvent*>(event));
    case QEvent::MouseButtonRelease: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (watched != multi_->viewport() || mouse->button() != Qt::MiddleButton) return false;
      MiddleClickPaste(mouse->position().toPoint());
      return true;
    }
    case QEvent::Drop:
      return watched == multi_->viewport() && FilterMultilineDrop(static_cast<QDropEvent*>(event));
    case QEvent::ContextMenu: {
      QMenu* menu = CreateContextMenu();
      menu->setAttribute(Qt::WA_DeleteOnClose);
      menu->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
      return true;
    }
    default:
      return false;
  }
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
  if (!multi_) QLineEdit::paintEvent(event);
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
