#include "qovra/controls/search_edit_frame.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

#include "qovra/ui/png_resources.h"

namespace qovra::ui {
namespace {

constexpr int kFieldHeight = 21;
constexpr int kEditLeft = 22;
constexpr int kEditTop = 4;
constexpr int kEditRightSpare = 21;
constexpr int kClearWidth = 20;

}  // namespace

TframeSearchEdit::TframeSearchEdit(QWidget* parent) : QWidget(parent) {
  edit_ = new QLineEdit(this);
  edit_->setObjectName(QStringLiteral("eSearch"));
  edit_->setFrame(false);
  edit_->installEventFilter(this);
  connect(edit_, &QLineEdit::textChanged, this, &TframeSearchEdit::eSearchChange);
  setFocusProxy(edit_);
  resize(312, 25);
}

TframeSearchEdit::~TframeSearchEdit() = default;

void TframeSearchEdit::eSearchChange() {
  update(clear_rect_);
}

void TframeSearchEdit::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QStyleOptionFrame option;
  option.initFrom(this);
  option.rect = QRect(0, 0, width(), kFieldHeight);
  option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &p, this);
  DrawPngResource(p, 3, 2, QStringLiteral("search16"), QColor());
  if (!edit_->text().isEmpty()) {
    DrawPngResource(p, width() - kClearWidth, 2, QStringLiteral("search_clear16"), QColor());
  }
}

void TframeSearchEdit::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (edit_->isEnabled() && event->button() == Qt::LeftButton &&
      clear_rect_.contains(event->position().toPoint())) {
    edit_->clear();
    eSearchChange();
  }
  if (edit_->isEnabled() && edit_->focusPolicy() != Qt::NoFocus) {
    edit_->setFocus(Qt::MouseFocusReason);
  }
}

void TframeSearchEdit::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  clear_rect_ = QRect(width() - kClearWidth, 0, kClearWidth, kFieldHeight);
  const int edit_height = std::min(edit_->sizeHint().height(), kFieldHeight - kEditTop - 1);
  edit_->setGeometry(kEditLeft, kEditTop, std::max(0, width() - kEditLeft - kEditRightSpare),
                     edit_height);
  update();
}

void TframeSearchEdit::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) update();
}

bool TframeSearchEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edit_) return false;
  const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
  if (!key || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) return false;
  // Accepting the override keeps window shortcuts on Esc from taking the key.
  event->accept();
  if (event->type() == QEvent::KeyPress) edit_->clear();
  return true;
}

}  // namespace qovra::ui
