#include "qovra/ui/slide_dialog.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace {

constexpr int kSlideStep = 10;
constexpr int kSlideInterval = 15;
constexpr int kAlpha = 230;

}  // namespace

TSlideDialog::TSlideDialog(QWidget* parent, TSlideSizes sizes)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      Timer1(new QTimer(this)),
      sizes_(sizes) {
  placement_ = PlacementFor(QGuiApplication::platformName());
  setWindowOpacity(kAlpha / 255.0);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kSlideInterval);
  connect(Timer1, &QTimer::timeout, this, &TSlideDialog::Timer1Timer);
}

TSlideDialog::TPlacement TSlideDialog::PlacementFor(const QString& platform_name) {
  return platform_name.startsWith(QLatin1String("wayland")) ? TPlacement::kOwnerPopup
                                                            : TPlacement::kTopLevel;
}

void TSlideDialog::PlaceOverOwner(QWidget* owner) {
  QWidget* window = owner ? owner->window() : nullptr;
  const bool usable = window && window->isVisible() && !window->isMinimized() &&
                      window->width() >= sizes_.min_owner_width;
  QScreen* screen =
      window && window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  screen_area_ = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  const QRect& area = screen_area_;
  int width = 0;
  if (usable) {
    // The client area's corner: the owner's frame and title bar stay free,
    // and so does a main window's menu bar, which is no client area either
    // on the desktops the dialog was first drawn for.
    int top = 0;
    if (auto* main = qobject_cast<QMainWindow*>(window)) {
      if (main->menuWidget() && main->menuWidget()->isVisible()) {
        top = main->menuWidget()->geometry().bottom() + 1;
      }
    }
    wanted_pos_ = window->mapToGlobal(QPoint(0, top));
    width = std::min(window->width(), area.width());
    centred_on_screen_ = false;
  } else {
    width = std::min(sizes_.screen_width, area.width());
    wanted_pos_ = QPoint(area.x() + (area.width() - width) / 2, area.y() + area.height() / 2);
    centred_on_screen_ = true;
  }
  const bool popup = usable && placement_ == TPlacement::kOwnerPopup;
  const Qt::WindowFlags flags = (popup ? Qt::Popup : Qt::Dialog) | Qt::FramelessWindowHint;
  if (windowFlags() != flags) setWindowFlags(flags);
  move(wanted_pos_);
  // Never 0 high: a top-level window of no height is unmapped and mapped
  // again when it grows.
  resize(width, std::max(height(), 1));
  if (usable) {
    // The native window names its owner (a transient, or a pop-up's parent).
    winId();
    if (windowHandle() && window->windowHandle()) {
      windowHandle()->setTransientParent(window->windowHandle());
    }
  }
  client_height_ = 0;
}

void TSlideDialog::StartSlide(int target_height) {
  target_height_ = target_height;
  if (centred_on_screen_) {
    const QRect& area = screen_area_;
    wanted_pos_.setY(area.y() + std::max(0, (area.height() - target_height_) / 2));
    move(wanted_pos_);
  }
  // The window has its full height before it is mapped; the slide uncovers it.
  resize(width(), target_height_);
  slide_done_ = false;
  SetClientHeight(0);
  // A pop-up cannot be moved or uncovered reliably once it is mapped.
  if (placement_ == TPlacement::kOwnerPopup && !centred_on_screen_) FinishSlide();
}

void TSlideDialog::SetColors(QColor back, QColor frame) {
  back_color_ = back;
  frame_color_ = frame;
  update();
}

void TSlideDialog::SetClientHeight(int height) {
  client_height_ = height;
  if (slide_done_) {
    clearMask();
  } else {
    // An empty region would clear the mask: at least one row shows.
    setMask(QRegion(0, 0, width(), std::max(height, 1)));
  }
  update();
}

void TSlideDialog::KeepPlace() {
  // A window manager may still have moved the mapped window: put it back.
  if (placement_ == TPlacement::kTopLevel && isVisible() && pos() != wanted_pos_) {
    move(wanted_pos_);
  }
}

void TSlideDialog::Timer1Timer() {
  if (slide_done_) return;
  KeepPlace();
  if (client_height_ + kSlideStep < target_height_) {
    SetClientHeight(client_height_ + kSlideStep);
    return;
  }
  Timer1->stop();
  slide_done_ = true;
  SetClientHeight(target_height_);
  LayoutButtons();
  repaint();
}

void TSlideDialog::FinishSlide() {
  while (!slide_done_) Timer1Timer();
}

void TSlideDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), back_color_);
  painter.setPen(frame_color_);
  painter.setBrush(Qt::NoBrush);
  // The frame closes around the part uncovered so far.
  const int shown = slide_done_ ? height() : std::max(client_height_, 1);
  painter.drawRect(QRect(0, 0, width(), shown).adjusted(0, 0, -1, -1));
}

void TSlideDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!slide_done_) Timer1->start();
}
