#include "qovra/controls/balloon_tip.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <utility>

namespace qovra::ui {
namespace {

constexpr int kMargin = 8;
constexpr int kIconSize = 16;
constexpr int kIconGap = 6;
constexpr int kTailHeight = 10;
constexpr int kTailHalfWidth = 8;
constexpr int kTailInset = 20;  // tail tip's distance from the balloon's left edge
constexpr int kMaxTextWidth = 320;
constexpr int kRadius = 6;

// The tool-tip window. It watches its field and its field's window, follows
// the window when it moves and closes itself on anything that makes the
// message stale.
class BalloonWidget : public QWidget {
 public:
  BalloonWidget(QWidget* field, TBalloonState state, int timeout_ms)
      : QWidget(field->window(), Qt::ToolTip | Qt::FramelessWindowHint), state_(std::move(state)) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    field_ = field;
    window_ = field->window();
    field->installEventFilter(this);
    if (window_ != field) window_->installEventFilter(this);
    // A field whose focus goes to an inner editor gets its keys there.
    proxy_ = field->focusProxy();
    if (proxy_) proxy_->installEventFilter(this);
    connect(field, &QObject::destroyed, this, [this] { Close(); });
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { Close(); });
    if (timeout_ms > 0) timer_.start(timeout_ms);
    Layout();
  }

  ~BalloonWidget() override {
    if (field_) field_->removeEventFilter(this);
    if (window_) window_->removeEventFilter(this);
    if (proxy_) proxy_->removeEventFilter(this);
  }

  const TBalloonState& State() const { return state_; }
  bool Closing() const { return closing_; }

  void Close();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::FocusOut:
        if (watched == field_ || (proxy_ && watched == proxy_)) Close();
        break;
      case QEvent::Hide:
      case QEvent::WindowDeactivate:
        Close();
        break;
      case QEvent::Move:
      case QEvent::Resize:
        if (field_) Layout();
        break;
      default:
        break;
    }
    return false;
  }

  void mousePressEvent(QMouseEvent*) override { Close(); }

  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::ToolTipText), 1));
    p.setBrush(palette().color(QPalette::ToolTipBase));
    p.drawPath(Outline().translated(0.5, 0.5));
    p.setRenderHint(QPainter::Antialiasing, false);

    int x = kMargin;
    const int top = body_.top() + kMargin;
    if (const QIcon icon = Icon(); !icon.isNull()) {
      icon.paint(&p, QRect(x, top, kIconSize, kIconSize));
      x += kIconSize + kIconGap;
    }
    p.setPen(palette().color(QPalette::ToolTipText));
    int y = top;
    if (!state_.title.isEmpty()) {
      p.setFont(TitleFont());
      p.drawText(QRect(x, y, title_size_.width(), title_size_.height()), Qt::TextWordWrap,
                 state_.title);
      y += title_size_.height() + 4;
    }
    p.setFont(font());
    p.drawText(QRect(x, y, text_size_.width(), text_size_.height()), Qt::TextWordWrap, state_.text);
  }

 private:
  QFont TitleFont() const {
    QFont f = font();
    f.setBold(true);
    return f;
  }

  QIcon Icon() const {
    switch (state_.icon) {
      case TBalloonIcon::Info:
        return style()->standardIcon(QStyle::SP_MessageBoxInformation);
      case TBalloonIcon::Warning:
        return style()->standardIcon(QStyle::SP_MessageBoxWarning);
      case TBalloonIcon::Error:
        return style()->standardIcon(QStyle::SP_MessageBoxCritical);
      case TBalloonIcon::None:
        break;
    }
    return {};
  }

  // The point the tail touches, in global coordinates.
  QPoint Anchor() const {
    int x = std::min(kTailInset, field_->width() / 2);
    if (auto* edit = qobject_cast<QLineEdit*>(field_.data())) {
      const QRect cursor = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect();
      x = std::clamp(cursor.center().x(), 0, std::max(0, field_->width() - 1));
    }
    return field_->mapToGlobal(QPoint(x, field_->height() - 4));
  }

  QPainterPath Outline() const {
    QPainterPath path;
    path.addRoundedRect(QRectF(body_.adjusted(0, 0, -1, -1)), kRadius, kRadius);
    QPolygonF tail;
    if (tail_up_) {
      tail << QPointF(tail_x_ - kTailHalfWidth, body_.top() + 1) << QPointF(tail_x_, 0)
           << QPointF(tail_x_ + kTailHalfWidth, body_.top() + 1);
    } else {
      tail << QPointF(tail_x_ - kTailHalfWidth, body_.bottom() - 1)
           << QPointF(tail_x_, height() - 1)
           << QPointF(tail_x_ + kTailHalfWidth, body_.bottom() - 1);
    }
    QPainterPath tail_path;
    tail_path.addPolygon(tail);
    tail_path.closeSubpath();
    return path.united(tail_path).simplified();
  }

  void Layout() {
    const QFontMetrics title_metrics(TitleFont());
    const QFontMetrics text_metrics(font());
    const QRect bound(0, 0, kMaxTextWidth, 10000);
    title_size_ = state_.title.isEmpty()
                      ? QSize()
                      : title_metrics.boundingRect(bound, Qt::TextWordWrap, state_.title).size();
    text_size_ = text_metrics.boundingRect(bound, Qt::TextWordWrap, state_.text).size();
    const int icon_width = state_.icon == TBalloonIcon::None ? 0 : kIconSize + kIconGap;
    const int content_width = std::max(title_size_.width(), text_size_.width());
    int content_height = text_size_.height();
    if (!state_.title.isEmpty()) content_height += title_size_.height() + 4;
    content_height = std::max(content_height, icon_width > 0 ? kIconSize : 0);
    const QSize body_size(kMargin * 2 + icon_width + content_width, kMargin * 2 + content_height);
    const QSize total(std::max(body_size.width(), kTailInset + kTailHalfWidth + kRadius),
                      body_size.height() + kTailHeight);

    const QPoint anchor = Anchor();
    QRect screen(QPoint(0, 0), QSize(1 << 15, 1 << 15));
    if (const QScreen* s = field_->screen()) screen = s->availableGeometry();
    tail_up_ = anchor.y() + total.height() <= screen.bottom() + 1;
    int left = anchor.x() - kTailInset;
    left = std::clamp(left, screen.left(),
                      std::max(screen.left(), screen.right() + 1 - total.width()));
    const int top = tail_up_ ? anchor.y() : field_->mapToGlobal(QPoint(0, 0)).y() - total.height();
    tail_x_ = std::clamp(anchor.x() - left, kRadius + kTailHalfWidth,
                         total.width() - kRadius - kTailHalfWidth - 1);
    body_ = tail_up_ ? QRect(0, kTailHeight, total.width(), body_size.height())
                     : QRect(0, 0, total.width(), body_size.height());
    setGeometry(QRect(QPoint(left, top), total));
    setMask(QRegion(Outline().toFillPolygon().toPolygon(), Qt::WindingFill));
  }

  TBalloonState state_;
  QPointer<QWidget> field_;
  QPointer<QWidget> window_;
  QPointer<QWidget> proxy_;
  QTimer timer_;
  QSize title_size_;
  QSize text_size_;
  QRect body_;
  int tail_x_ = kTailInset;
  bool tail_up_ = true;
  bool closing_ = false;
};

QPointer<BalloonWidget>& Current() {
  static QPointer<BalloonWidget> current;
  return current;
}

void BalloonWidget::Close() {
  if (closing_) return;
  closing_ = true;
  timer_.stop();
  hide();
  if (Current() == this) Current() = nullptr;
  deleteLater();
}

}  // namespace

void ShowBalloon(QWidget* field, const QString& title, const QString& text, TBalloonIcon icon,
                 int timeout_ms) {
  HideBalloon();
  auto* balloon = new BalloonWidget(field, TBalloonState{field, title, text, icon}, timeout_ms);
  Current() = balloon;
  balloon->show();
}

std::optional<TBalloonState> CurrentBalloon() {
  const QPointer<BalloonWidget>& balloon = Current();
  if (!balloon || balloon->Closing()) return std::nullopt;
  return balloon->State();
}

void HideBalloon() {
  if (QPointer<BalloonWidget> balloon = Current()) balloon->Close();
}

}  // namespace qovra::ui
