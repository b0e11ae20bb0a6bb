#include "qovra/controls/progress_bar_ex.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>

#include "qovra/ui/drawing.h"

namespace qovra::ui {

TProgressBarEx::TProgressBarEx(QWidget* parent)
    : QWidget(parent),
      lt_color_(palette().color(QPalette::Dark)),
      rb_color_(palette().color(QPalette::Light)),
      back_color_(clBtnFace()) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(100, 18);
}

TProgressBarEx::~TProgressBarEx() = default;

int TProgressBarEx::Percentage() const {
  if (max_ == min_) return 0;
  const int64_t done = int64_t{progress_} - min_;
  const int64_t range = int64_t{max_} - min_;
  return static_cast<int>(done * 100 / range);
}

void TProgressBarEx::SetProgress(int value) {
  value = std::clamp(value, min_, max_);
  if (value == progress_) return;
  const int before = Percentage();
  progress_ = value;
  if (Percentage() != before) update();
}

bool TProgressBarEx::SetMinValue(int value, QString* error) {
  if (value > max_) {
    if (error) {
      *error =
          QStringLiteral("Value must be between %1 and %2").arg(-2147483647).arg(int64_t{max_} - 1);
    }
    return false;
  }
  if (value == min_) return true;
  min_ = value;
  progress_ = std::clamp(progress_, min_, max_);
  update();
  return true;
}

bool TProgressBarEx::SetMaxValue(int value, QString* error) {
  if (value < min_) {
    if (error) {
      *error =
          QStringLiteral("Value must be between %1 and %2").arg(int64_t{min_} + 1).arg(2147483647);
    }
    return false;
  }
  if (value == max_) return true;
  max_ = value;
  progress_ = std::clamp(progress_, min_, max_);
  update();
  return true;
}

void TProgressBarEx::SetShowText(bool show) {
  if (show == show_text_) return;
  show_text_ = show;
  update();
}

void TProgressBarEx::SetBorderStyle(TBorderStyle style) {
  if (style == border_style_) return;
  border_style_ = style;
  update();
}

void TProgressBarEx::SetColor(QColor& field, const QColor& color) {
  if (color == field) return;
  field = color;
  update();
}

void TProgressBarEx::SetAColor(const QColor& color) {
  SetColor(a_color_, color);
}
void TProgressBarEx::SetBColor(const QColor& color) {
  SetColor(b_color_, color);
}
void TProgressBarEx::SetLTColor(const QColor& color) {
  SetColor(lt_color_, color);
}
void TProgressBarEx::SetRBColor(const QColor& color) {
  SetColor(rb_color_, color);
}
void TProgressBarEx::SetBackColor(const QColor& color) {
  SetColor(back_color_, color);
}

QRgb TProgressBarEx::TextColorOver(QRgb under) {
  // Perceived lightness (ITU-R BT.601 weights), 0..255000.
  const int light = 299 * qRed(under) + 587 * qGreen(under) + 114 * qBlue(under);
  return light >= 128000 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
}

int TProgressBarEx::GradientChannel(int a, int b, int x, int width) {
  if (width <= 0) return a;
  // a + x * (b - a) / width as one fraction num / width, then rounded.
  const int64_t num = int64_t{a} * width + int64_t{x} * (b - a);
  int64_t q = num / width;
  int64_t r = num % width;
  if (r < 0) {
    r += width;
    --q;
  }
  if (2 * r > width || (2 * r == width && (q & 1) != 0)) ++q;
  return static_cast<int>(std::clamp<int64_t>(q, 0, 255));
}

QImage TProgressBarEx::Render() const {
  const int w = width();
  const int h = height();
  QImage bar(std::max(w, 1), std::max(h, 1), QImage::Format_RGB32);
  bar.fill(back_color_);
  if (w <= 0 || h <= 0) return bar;

  QRect inner = rect();
  if (border_style_ == TBorderStyle::bsSingle) inner.adjust(1, 1, -1, -1);
  {
    QPainter p(&bar);
    p.fillRect(inner, back_color_);
    // Fill width: the inner width plus one, scaled by the percentage; the
    // columns 1 .. n - 1 hold the gradient.
    const int64_t span = int64_t{inner.width()} + 1;
    const int64_t n = std::min(span, span * Percentage() / 100);
    for (int x = 1; x < n && x < w; ++x) {
      const QColor c(GradientChannel(a_color_.red(), b_color_.red(), x, w),
                     GradientChannel(a_color_.green(), b_color_.green(), x, w),
                     GradientChannel(a_color_.blue(), b_color_.blue(), x, w));
      p.fillRect(QRect(x, 1, 1, std::max(0, h - 2)), c);
    }
    if (border_style_ == TBorderStyle::bsSingle) {
      p.fillRect(QRect(0, 0, 1, h - 1), lt_color_);
      p.fillRect(QRect(0, 0, w - 1, 1), lt_color_);
      p.fillRect(QRect(w - 1, 0, 1, h), rb_color_);
      p.fillRect(QRect(0, h - 1, w, 1), rb_color_);
    }
  }
  if (!show_text_) return bar;

  // The text drawn as a mask, then each of its pixels in black or white,
  // whichever stands out from the pixel under it: readable over the empty
  // part and over every shade of the fill. (An inverse of the mid-tones
  // halfway along the gradient is itself a mid-tone.)
  QImage mask(bar.size(), QImage::Format_RGB32);
  mask.fill(Qt::black);
  {
    QPainter p(&mask);
    QFont f = font();
    f.setStyleStrategy(QFont::NoAntialias);
    p.setFont(f);
    p.setPen(Qt::white);
    p.setBrush(Qt::NoBrush);
    p.drawText(inner, Qt::AlignCenter, QStringLiteral("%1%").arg(Percentage()));
  }
  for (int y = 0; y < bar.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(bar.scanLine(y));
    const auto* text = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
    for (int x = 0; x < bar.width(); ++x) {
      if (qRed(text[x]) == 0) continue;
      line[x] = TextColorOver(line[x]);
    }
  }
  return bar;
}

void TProgressBarEx::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Render());
}

}  // namespace qovra::ui
