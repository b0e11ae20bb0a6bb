#include "qovra/ui/progress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QThread>
#include <QWindow>
#include <algorithm>

#include "qovra/ui/widgets.h"

TfrmProgress* frmProgress = nullptr;

namespace {

constexpr int kDesignWidth = 187;
constexpr int kHeight = 87;
constexpr int kWidth = 450;
// Over an owner narrower than kWidth the window is the owner's width less
// this, but never narrower than kMinWidth (room for the bar and its "100%").
constexpr int kOwnerInset = 20;
constexpr int kMinWidth = 120;
constexpr int kMargin = 16;
constexpr int kAlpha = 230;
constexpr int kSharedAlpha = 200;
// About 30 paints a second.
constexpr qint64 kPaintIntervalMs = 33;
// How long ShowProgress waits at most for the window system to expose the
// window and let it settle, and how long no expose must have come for it to
// count as settled.
constexpr qint64 kExposeWaitMs = 1000;
constexpr qint64 kSettleMs = 40;

TfrmProgress::ProgressBarFactory g_bar_factory = nullptr;

QWidget* DefaultBar(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 100);
  bar->setTextVisible(true);
  bar->setAlignment(Qt::AlignCenter);
  return bar;
}

bool HasProperty(const QWidget* widget, const char* name) {
  return widget->metaObject()->indexOfProperty(name) >= 0;
}

QString Css(const QColor& c) {
  return c.name(QColor::HexRgb);
}

QElapsedTimer& Clock() {
  static QElapsedTimer clock;
  if (!clock.isValid()) clock.start();
  return clock;
}

// Notes when a window was last exposed.
class ExposeWatch : public QObject {
 public:
  explicit ExposeWatch(QWindow* window) { window->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Expose) last_ms_ = Clock().elapsed();
    return false;
  }
  qint64 QuietMs() const { return last_ms_ < 0 ? 0 : Clock().elapsed() - last_ms_; }

 private:
  qint64 last_ms_ = -1;
};

// Lets the window system map and expose window and settle (a window manager
// may reparent it or redirect it to a compositor and expose it again), user
// input left aside: every expose handled here paints the window, while one
// left for after the caller's busy work would leave it blank until then.
void WaitUntilShown(QWindow* window) {
  if (!window) return;
  ExposeWatch watch(window);
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < kExposeWaitMs) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    if (window->isExposed() && watch.QuietMs() >= kSettleMs) return;
    QThread::msleep(1);
  }
}

}  // namespace

TfrmProgress::TfrmProgress(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      lblTitle(new QLabel(this)),
      lblStatus(new QLabel(this)),
      progBar((g_bar_factory ? g_bar_factory : DefaultBar)(this)) {
  setObjectName(QStringLiteral("frmProgress"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setWindowOpacity(kAlpha / 255.0);
  resize(kDesignWidth, kHeight);

  lblTitle->setObjectName(QStringLiteral("lblTitle"));
  lblStatus->setObjectName(QStringLiteral("lblStatus"));
  lblTitle->setGeometry(kMargin, 16, kDesignWidth - 2 * kMargin + 2, 15);
  lblStatus->setGeometry(kMargin, 36, kDesignWidth - 2 * kMargin + 2, 15);
  for (QLabel* label : {lblTitle, lblStatus}) {
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TranslucentBackground);
  }
  QFont bold = lblTitle->font();
  bold.setBold(true);
  lblTitle->setFont(bold);

  progBar->setObjectName(QStringLiteral("progBar"));
  progBar->setGeometry(kMargin, 56, kDesignWidth - 2 * kMargin + 2, 17);
  // The bar takes its colours from the panel.
  if (HasProperty(progBar, "BackColor")) {
    progBar->setProperty("BackColor", BackColor());
    progBar->setProperty("LTColor", FrameColor());
    progBar->setProperty("RBColor", FrameColor());
    progBar->setProperty("AColor", QColor(158, 180, 194));
    progBar->setProperty("BColor", QColor(92, 124, 148));
  } else if (qobject_cast<QProgressBar*>(progBar)) {
    progBar->setStyleSheet(
        QStringLiteral("QProgressBar { background: %1; border: 1px solid %2; color: black; }"
                       "QProgressBar::chunk { background: qlineargradient(x1:0, y1:0, x2:1, y2:0,"
                       " stop:0 rgb(158,180,194), stop:1 rgb(92,124,148)); }")
            .arg(Css(BackColor()), Css(FrameColor())));
  }
}

void TfrmProgress::SetProgressBarFactory(ProgressBarFactory factory) {
  g_bar_factory = factory;
}

void TfrmProgress::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), BackColor());
  painter.setPen(FrameColor());
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TfrmProgress::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int inner = std::max(0, width() - 2 * kMargin + 2);
  lblTitle->resize(inner, lblTitle->height());
  lblStatus->resize(inner, lblStatus->height());
  progBar->resize(inner, progBar->height());
}

namespace qovra::ui {

bool SilentReceive = false;

int ProgressBarMaximum(QWidget* bar) {
  if (!bar) return 0;
  if (HasProperty(bar, "MaxValue")) return bar->property("MaxValue").toInt();
  if (HasProperty(bar, "maximum")) return bar->property("maximum").toInt();
  return 0;
}

void SetProgressBarPosition(QWidget* bar, int position) {
  if (!bar) return;
  if (HasProperty(bar, "Progress")) {
    bar->setProperty("Progress", position);
  } else if (HasProperty(bar, "value")) {
    bar->setProperty("value", position);
  }
}

int ScaleProgress(int64_t done, int64_t total, int maximum) {
  if (total <= 0 || maximum <= 0 || done <= 0) return 0;
  if (done >= total) return maximum;
  const __int128 scaled = (static_cast<__int128>(done) * maximum + total / 2) / total;
  return static_cast<int>(std::min<__int128>(scaled, maximum));
}

TProgressDisplay::TProgressDisplay() : form_(new TfrmProgress) {
  form_->setWindowOpacity(kSharedAlpha / 255.0);
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  form_->setGeometry(area.x() + (area.width() - kWidth) / 2,
                     area.y() + (area.height() - kHeight) / 2, kWidth, kHeight);
  frmProgress = form_;
}

TProgressDisplay::~TProgressDisplay() {
  if (disabled_) disabled_->setEnabled(true);
  if (frmProgress == form_) frmProgress = nullptr;
  delete form_;
}

void TProgressDisplay::SetApplicationVisibleCheck(std::function<bool()> check) {
  app_visible_ = std::move(check);
}

bool TProgressDisplay::Acting() const {
  if (SilentReceive) return false;
  if (app_visible_) return app_visible_();
  const auto windows = QApplication::topLevelWidgets();
  return std::any_of(windows.begin(), windows.end(), [this](QWidget* w) {
    return w != form_ && w->isVisible() && !w->isHidden() && w->windowType() != Qt::ToolTip &&
           w->windowType() != Qt::Popup;
  });
}

void TProgressDisplay::ShowProgress(TWindowHandle owner, bool show_bar, const std::string& title,
                                    const std::string& status) {
  if (!Acting()) return;
  form_->lblTitle->setText(QString::fromStdString(title));
  form_->lblStatus->setText(QString::fromStdString(status));
  form_->progBar->setVisible(show_bar);
  SetProgressBarPosition(form_->progBar, 0);
  if (!saved_active_) {
    QWidget* active = QApplication::activeWindow();
    if (active != form_) saved_active_ = active;
  }
  if (!form_->isVisible()) {
    QWidget* given = WidgetOf(owner);
    if (given) {
      if (!saved_active_) saved_active_ = given->window();
      QWidget* target = saved_active_;
      target->setEnabled(false);
      disabled_ = target;
      const QRect r = target->frameGeometry();
      int width = r.width() >= kWidth ? kWidth : r.width() - kOwnerInset;
      width = std::max(width, kMinWidth);
      // Over a narrow owner the window still shows its two lines whole, up
      // to the width it has over a wide one.
      const int lines =
          std::max(form_->lblTitle->fontMetrics().horizontalAdvance(form_->lblTitle->text()),
                   form_->lblStatus->fontMetrics().horizontalAdvance(form_->lblStatus->text()));
      width = std::max(width, std::min(kWidth, lines + 2 * kMargin - 2));
      form_->setGeometry(r.x() + (r.width() - width) / 2, r.y() + (r.height() - kHeight) / 2, width,
                         kHeight);
      form_->winId();
      if (form_->windowHandle() && target->windowHandle()) {
        form_->windowHandle()->setTransientParent(target->windowHandle());
      }
    }
    form_->show();
    form_->raise();
    // The caller is about to keep the GUI thread busy.
    WaitUntilShown(form_->windowHandle());
  }
  form_->repaint();
  last_paint_ms_ = Clock().elapsed();
}

void TProgressDisplay::HideProgress(TWindowHandle owner, bool keep) {
  if (!Acting() || keep) return;
  form_->hide();
  if (!owner && !disabled_) return;
  // The window that ShowProgress disabled is enabled again even when the
  // caller names no owner here, so that it can never stay locked.
  QWidget* saved = saved_active_;
  bool waited = false;
  for (QWidget* w : {saved, disabled_.data()}) {
    if (w && !w->isEnabled()) {
      w->setEnabled(true);
      if (!waited) {
        QThread::msleep(1);
        waited = true;
      }
    }
  }
  if (saved) {
    saved->raise();
    saved->activateWindow();
  }
  saved_active_ = nullptr;
  disabled_ = nullptr;
}

void TProgressDisplay::ReportProgress(void* bar, int64_t total, int64_t done) {
  QWidget* widget = static_cast<QWidget*>(bar);
  if (!widget) return;
  SetProgressBarPosition(widget, ScaleProgress(done, total, ProgressBarMaximum(widget)));
  if (!widget->isVisible()) return;
  const qint64 now = Clock().elapsed();
  if (last_paint_ms_ < 0 || now - last_paint_ms_ >= kPaintIntervalMs || done >= total) {
    widget->repaint();
    last_paint_ms_ = now;
  }
}

void ShowProgress(QWidget* owner, bool show_bar, const QString& title, const QString& status) {
  qovra::ShowProgress(HandleOf(owner), show_bar, title.toStdString(), status.toStdString());
}

void HideProgress(QWidget* owner, bool keep) {
  qovra::HideProgress(HandleOf(owner), keep);
}

}  // namespace qovra::ui
