// TfrmForget: drawing the captcha.
#include <QFont>
#include <QLabel>
#include <QPainter>
#include <array>
#include <cstdint>
#include <cstring>

#include "keys/random_text.h"
#include "qovra/account/forget_window.h"

namespace {

constexpr int kCaptchaLength = 6;
constexpr int kEllipses = 101;
constexpr int kEllipseStep = 5;
constexpr int kEllipseSpread = 45;
constexpr int kMaxAngle = 35;
constexpr int kCharStep = 19;
constexpr int kCharTop = 1;
constexpr int kFontHeight = 18;

int32_t RandomInt32() {
  std::array<uint8_t, 4> bytes{};
  qovra::RandomBytes(bytes.data(), bytes.size());
  int32_t r = 0;
  std::memcpy(&r, bytes.data(), sizeof r);
  return r;
}

}  // namespace

void TfrmForget::NewCaptcha() {
  captcha_text_ =
      QString::fromStdString(qovra::RandomString(kCaptchaLength, qovra::kRandomLetters)).toLower();
  PaintCaptcha();
}

void TfrmForget::PaintCaptcha() {
  const QPalette& pal = palette();
  const QColor form = pal.color(QPalette::Window);
  const QColor face = pal.color(QPalette::Button);
  const QColor shadow = pal.color(QPalette::Dark);
  const QRect rect(QPoint(0, 0), captcha_.size());

  QPainter p(&captcha_);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.fillRect(rect, form);
  p.setBrush(form);
  p.setPen(face);
  std::array<int8_t, kEllipses * 4> noise{};
  qovra::RandomBytes(reinterpret_cast<uint8_t*>(noise.data()), noise.size());
  for (int i = 0; i < kEllipses; ++i) {
    const int8_t* b = &noise[static_cast<size_t>(i) * 4];
    const QPoint a(kEllipseStep * i + b[0] % kEllipseSpread, b[1] % kEllipseSpread);
    const QPoint c(kEllipseStep * i + b[2] % kEllipseSpread, b[3] % kEllipseSpread);
    p.drawEllipse(QRect(a, c).normalized());
  }
  p.setBrush(Qt::NoBrush);
  p.setPen(shadow);
  p.drawRect(rect.adjusted(0, 0, -1, -1));

  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::Courier);
  font.setFixedPitch(true);
  font.setPixelSize(kFontHeight);
  p.setFont(font);
  const int ascent = p.fontMetrics().ascent();
  for (int k = 1; k <= captcha_text_.size(); ++k) {
    const int32_t r = RandomInt32();
    int angle = r % kMaxAngle;
    if (r % 2 == 0) angle = -angle;
    p.save();
    // The cell's top-left corner is the turning point; positive angles turn
    // counter-clockwise.
    p.translate(kCharStep * k, kCharTop);
    p.rotate(-angle);
    p.drawText(0, ascent, captcha_text_.at(k - 1));
    p.restore();
  }
  p.end();
  imgCaptcha->setPixmap(QPixmap::fromImage(captcha_));
}
