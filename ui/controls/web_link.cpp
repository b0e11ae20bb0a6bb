#include "qovra/controls/web_link.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>

namespace qovra::ui {
namespace {
constexpr int kBorder = 1;
}  // namespace

TWebLink::TWebLink(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::PointingHandCursor);
  resize(65, 17);
}

TWebLink::~TWebLink() = default;

void TWebLink::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  AutoSize();
  update();
}

void TWebLink::SetHotFontColor(const QColor& color) {
  hot_color_ = color;
  if (hot_) SetFontColor(color);
}

void TWebLink::SetFontColor(const QColor& color) {
  font_color_ = color;
  if (color != hot_color_) normal_color_ = color;
  update();
}

void TWebLink::SetAlignment(Qt::Alignment alignment) {
  alignment_ = alignment & Qt::AlignHorizontal_Mask;
  update();
}

QSize TWebLink::sizeHint() const {
  const QFontMetrics fm(font());
  return {fm.horizontalAdvance(caption_) + 2 * kBorder, fm.height() + 2 * kBorder};
}

void TWebLink::AutoSize() {
  updateGeometry();
  // A layout places the link itself.
  if (parentWidget() && parentWidget()->layout() && parentWidget()->layout()->indexOf(this) >= 0) {
    return;
  }
  const QRect old = geometry();
  const QSize size = sizeHint();
  const int left = (alignment_ & Qt::AlignRight) ? old.right() + 1 - size.width() : old.left();
  setGeometry(left, old.top(), size.width(), size.height());
}

void TWebLink::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  p.setFont(font());
  p.setPen(isEnabled() ? font_color_ : palette().color(QPalette::Disabled, QPalette::WindowText));
  p.drawText(rect().adjusted(kBorder, kBorder, -kBorder, -kBorder),
             static_cast<int>(alignment_ | Qt::AlignVCenter | Qt::TextSingleLine), caption_);
  if (hasFocus()) {
    // A dotted frame, every other pixel, in the border.
    QPen pen(palette().color(QPalette::WindowText), 0, Qt::CustomDashLine);
    pen.setDashPattern({1, 1});
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

void TWebLink::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (!isEnabled() || hot_) return;
  hot_ = true;
  SetFontColor(hot_color_);
}

void TWebLink::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  hot_ = false;
  SetFontColor(normal_color_);
}

bool TWebLink::TakeFocus() {
  if (window()->focusWidget() == this) return true;
  if (!(focusPolicy() & Qt::ClickFocus) || !isEnabled()) return false;
  setFocus(Qt::MouseFocusReason);
  return window()->focusWidget() == this;
}

void TWebLink::mousePressEvent(QMouseEvent* event) {
  pressed_ = false;
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  event->accept();
  pressed_ = TakeFocus();
}

void TWebLink::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (click) emit OnClick();
}

void TWebLink::mouseDoubleClickEvent(QMouseEvent* event) {
  // The first press already clicked; the second one only takes the focus.
  pressed_ = false;
  event->accept();
  if (event->button() == Qt::LeftButton) TakeFocus();
}

void TWebLink::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    event->accept();
    emit OnClick();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TWebLink::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void TWebLink::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

void TWebLink::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) AutoSize();
  if (event->type() == QEvent::EnabledChange) update();
}

}  // namespace qovra::ui
