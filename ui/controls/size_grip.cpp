#include "qovra/controls/size_grip.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <array>

#include "qovra/ui/drawing.h"

namespace qovra::ui {
namespace {

// "." button face, "#" grip colour, "+" highlight; rows top to bottom.
constexpr std::array<const char*, TSizeGrip::kSize> kPattern = {
    ".............",  //
    ".........##..",  //
    ".........##+.",  //
    "..........++.",  //
    ".............",  //
    ".....##..##..",  //
    ".....##+.##+.",  //
    "......++..++.",  //
    ".............",  //
    ".##..##..##..",  //
    ".##+.##+.##+.",  //
    "..++..++..++.",  //
    ".............",  //
};

}  // namespace

TSizeGrip::TSizeGrip(QWidget* form) : QWidget(form) {
  setCursor(Qt::SizeFDiagCursor);
  setFocusPolicy(Qt::NoFocus);
  resize(kSize, kSize);
}

TSizeGrip::~TSizeGrip() {
  RefuseActivation(false);
  if (panel_) panel_->removeEventFilter(this);
}

void TSizeGrip::PlaceOnPanel(QWidget* panel) {
  if (panel_) panel_->removeEventFilter(this);
  panel_ = panel;
  setParent(panel);
  const QRect client = panel->contentsRect();
  setGeometry(client.right() + 1 - kSize, client.bottom() + 1 - kSize, kSize, kSize);
  panel->installEventFilter(this);
  StickToRightEdge();
  show();
}

void TSizeGrip::StickToRightEdge() {
  if (!panel_) return;
  const QRect client = panel_->contentsRect();
  setGeometry(client.right() + 1 - kSize, client.top(), kSize, client.height());
  raise();
}

bool TSizeGrip::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panel_ && event->type() == QEvent::Resize) StickToRightEdge();
  return false;
}

bool TSizeGrip::FormMaximized() const {
  return Form()->isMaximized();
}

void TSizeGrip::paintEvent(QPaintEvent*) {
  if (FormMaximized()) return;
  const QColor face = clBtnFace();
  const QColor grip(53, 119, 168);
  const QColor highlight = palette().color(QPalette::Light);
  QPainter p(this);
  const int left = width() - kSize;
  const int top = height() - kSize;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const char c = kPattern[static_cast<size_t>(y)][x];
      p.fillRect(left + x, top + y, 1, 1, c == '#' ? grip : c == '+' ? highlight : face);
    }
  }
}

void TSizeGrip::RefuseActivation(bool refuse) {
  if (!refuse) {
    if (refusing_) refusing_->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    refusing_ = nullptr;
    return;
  }
  QWidget* form = Form();
  QWindow* handle = form->windowHandle();
  if (!handle || form->isActiveWindow() || handle->flags() & Qt::WindowDoesNotAcceptFocus) return;
  handle->setFlag(Qt::WindowDoesNotAcceptFocus, true);
  refusing_ = handle;
}

void TSizeGrip::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  RefuseActivation(true);
}

void TSizeGrip::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  // A resize in progress keeps the refusal until the button is released.
  if (!dragging_) RefuseActivation(false);
}

void TSizeGrip::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton || FormMaximized()) return;
  QWidget* form = Form();
  if (QWindow* handle = form->windowHandle();
      handle && handle->startSystemResize(Qt::BottomEdge | Qt::RightEdge)) {
    return;
  }
  dragging_ = true;
  drag_start_ = event->globalPosition().toPoint();
  start_size_ = form->size();
}

void TSizeGrip::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (!dragging_) return;
  const QPoint delta = event->globalPosition().toPoint() - drag_start_;
  Form()->resize(start_size_ + QSize(delta.x(), delta.y()));
}

void TSizeGrip::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  dragging_ = false;
  if (!underMouse()) RefuseActivation(false);
}

}  // namespace qovra::ui
