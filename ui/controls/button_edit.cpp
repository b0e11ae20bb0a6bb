#include "qovra/controls/button_edit.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

namespace qovra::ui {

TButtonEdit::TButtonEdit(QWidget* parent) : TEditEx(parent) {
  button_ = new QToolButton(this);
  button_->setAutoRaise(false);
  button_->setCursor(Qt::ArrowCursor);
  button_->setFocusPolicy(Qt::NoFocus);
  button_->setObjectName(QStringLiteral("button"));
  connect(button_, &QToolButton::clicked, this, &TButtonEdit::ClickButton);
  button_width_ = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  SetButtonGlyph(QPixmap());
  UpdateTextMargins();
}

TButtonEdit::~TButtonEdit() = default;

QPixmap TButtonEdit::DefaultGlyph() {
  QImage image(11, 6, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  for (int left : {0, 4, 8}) {
    for (int y = 2; y < 4; ++y) {
      for (int x = left; x < left + 2; ++x) image.setPixel(x, y, qRgb(0, 0, 0));
    }
  }
  return QPixmap::fromImage(image);
}

void TButtonEdit::SetButtonGlyph(const QPixmap& glyph) {
  glyph_ = glyph;
  use_default_glyph_ = glyph.isNull();
  const QPixmap shown = use_default_glyph_ ? DefaultGlyph() : glyph;
  button_->setIcon(QIcon(shown));
  button_->setIconSize(shown.size());
}

void TButtonEdit::SetButtonWidth(int width) {
  if (width < 0 || width == button_width_) return;
  button_width_ = width;
  UpdateTextMargins();
}

void TButtonEdit::PlaceButton() {
  int frame = BorderWidth();
  if (hasFrame()) frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  button_->setGeometry(width() - frame - button_width_, frame, button_width_,
                       std::max(0, height() - 2 * frame));
}

void TButtonEdit::ClickButton() {
  setFocus(Qt::OtherFocusReason);
  emit OnButtonClick();
}

QString TButtonEdit::AdjustPastedText(const QString& text) const {
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') return text.left(i);
  }
  return text;
}

void TButtonEdit::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & Qt::ControlModifier)) {
    event->accept();
    ClickButton();
    return;
  }
  if (enter) setFocus(Qt::OtherFocusReason);
  TEditEx::keyPressEvent(event);
}

void TButtonEdit::resizeEvent(QResizeEvent* event) {
  TEditEx::resizeEvent(event);
  PlaceButton();
}

void TButtonEdit::changeEvent(QEvent* event) {
  TEditEx::changeEvent(event);
  if (event->type() == QEvent::StyleChange) PlaceButton();
}

}  // namespace qovra::ui
