#include "qovra/ui/drawing.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <cstdint>

namespace qovra::ui {

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = int64_t{a} * int64_t{b};
  const int64_t divisor = c;
  const bool negative = (product < 0) != (divisor < 0);
  const int64_t abs_product = product < 0 ? -product : product;
  const int64_t abs_divisor = divisor < 0 ? -divisor : divisor;
  const int64_t q = (abs_product + abs_divisor / 2) / abs_divisor;
  const int64_t result = negative ? -q : q;
  if (result > INT32_MAX || result < INT32_MIN) return -1;
  return static_cast<int>(result);
}

namespace {

int Channel(int start, int end, int index, int extent) {
  // With one band there is nothing to spread: the band is the start colour.
  if (extent <= 1) return start;
  return start + MulDiv(index, end - start, extent - 1);
}

QColor Rgb(const QColor& c) {
  return c.isValid() ? c.toRgb() : QColor(0, 0, 0);
}

void FillPixelRow(QPainter& painter, int x1, int x2, int y, const QColor& color) {
  if (x2 < x1) return;
  painter.fillRect(QRect(x1, y, x2 - x1 + 1, 1), color);
}

void FillPixelColumn(QPainter& painter, int x, int y1, int y2, const QColor& color) {
  if (y2 < y1) return;
  painter.fillRect(QRect(x, y1, 1, y2 - y1 + 1), color);
}

}  // namespace

QColor GradientBandColor(const QColor& start, const QColor& end, int index, int extent) {
  const QColor s = Rgb(start);
  const QColor e = Rgb(end);
  return QColor(Channel(s.red(), e.red(), index, extent),
                Channel(s.green(), e.green(), index, extent),
                Channel(s.blue(), e.blue(), index, extent));
}

void GradientFillRect(QPainter& painter, const QRect& rect, const QColor& start, const QColor& end,
                      const QColor& frame, bool vertical, bool closed) {
  if (rect.width() <= 0 || rect.height() <= 0) return;
  painter.save();
  const QColor s = Rgb(start);
  const QColor e = Rgb(end);
  if (s == e) {
    painter.fillRect(rect, s);
  } else {
    const int extent = vertical ? rect.height() : rect.width();
    const int origin = vertical ? rect.top() : rect.left();
    for (int i = 0; i < extent; ++i) {
      const int from = origin + MulDiv(i, extent, extent);
      const int to = origin + MulDiv(i + 1, extent, extent);
      if (to <= from) continue;
      const QColor band = GradientBandColor(s, e, i, extent);
      if (vertical) {
        painter.fillRect(QRect(rect.left(), from, rect.width(), to - from), band);
      } else {
        painter.fillRect(QRect(from, rect.top(), to - from, rect.height()), band);
      }
    }
  }
  if (frame.isValid()) {
    const QColor f = frame.toRgb();
    // Exclusive right and bottom, as the line ends are: the line from
    // (left, bottom - 1) up to (left, top), across to (right - 1, top) and
    // down to (right - 1, bottom - 1), whose last pixel is not drawn.
    const int left = rect.left();
    const int top = rect.top();
    const int right = rect.left() + rect.width();
    const int bottom = rect.top() + rect.height();
    FillPixelColumn(painter, left, top, bottom - 1, f);
    FillPixelRow(painter, left, right - 1, top, f);
    FillPixelColumn(painter, right - 1, top, bottom - 2, f);
    if (closed) FillPixelRow(painter, left, right - 1, bottom - 1, f);
  }
  painter.restore();
}

QColor clBtnFace() {
  return QApplication::palette().color(QPalette::Button);
}
QColor clWindow() {
  return QApplication::palette().color(QPalette::Base);
}
QColor clWindowText() {
  return QApplication::palette().color(QPalette::WindowText);
}
QColor clHighlight() {
  return QApplication::palette().color(QPalette::Highlight);
}
QColor clGrayText() {
  return QApplication::palette().color(QPalette::Disabled, QPalette::WindowText);
}
QColor cl3DDkShadow() {
  return QApplication::palette().color(QPalette::Shadow);
}

}  // namespace qovra::ui
