// The shared progress window and the progress display that drives it.
//
// Long work on the GUI thread (server requests, cryptography over files,
// imports) shows TfrmProgress through ShowProgress, moves its bar through
// the core's ProgressCallback and hides it through HideProgress. The
// window is painted synchronously, so it is seen and its bar moves while
// the GUI thread is busy: ShowProgress lets the window system expose it and
// settle (user input is not processed; one second at most), so that its
// first frame has its content, and bar moves repaint at most about 30
// times a second.
//
// Bars: a ProgressCallback data pointer is a QWidget* bar (passed as
// void*), such as frmProgress->progBar. Its maximum and position are read
// and written through the Qt properties MaxValue and Progress, or maximum
// and value (QProgressBar).
//
// GUI thread only.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

#include "seam/ui_seam.h"

class QLabel;

// The progress window: a frameless panel with a title line, a status line
// and a bar, all stretching with the window's width.
class TfrmProgress : public QWidget {
  Q_OBJECT

 public:
  // Makes the bar with the installed factory (see SetProgressBarFactory)
  // and colours it from the panel (TntFormCreate).
  explicit TfrmProgress(QWidget* parent = nullptr);

  // Makes the bar of every progress window created afterwards (the
  // program's own gradient bar); null restores the default QProgressBar.
  using ProgressBarFactory = QWidget* (*)(QWidget* parent);
  static void SetProgressBarFactory(ProgressBarFactory factory);

  QLabel* lblTitle;
  QLabel* lblStatus;
  QWidget* progBar;

  static QColor BackColor() { return QColor(230, 232, 238); }
  static QColor FrameColor() { return QColor(0, 72, 145); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
};

namespace qovra::ui {

// The bar's maximum and position through its properties (see above);
// maximum 0 and no effect for a widget without them.
int ProgressBarMaximum(QWidget* bar);
void SetProgressBarPosition(QWidget* bar, int position);

// done of total scaled to maximum, rounded, 64-bit safe; 0 when total is 0
// or below, clamped to 0..maximum.
int ScaleProgress(int64_t done, int64_t total, int maximum);

// Set by automatic receiving while a timer-started receive runs: the
// progress window is then neither shown nor hidden.
extern bool SilentReceive;

// The core's progress seam served by the shared progress window. The
// display owns the window (frmProgress points to it while the display
// lives). Install it with qovra::SetProgressUi(&display).
class TProgressDisplay : public IProgressUi {
 public:
  TProgressDisplay();
  ~TProgressDisplay() override;
  TProgressDisplay(const TProgressDisplay&) = delete;
  TProgressDisplay& operator=(const TProgressDisplay&) = delete;

  // Acts only while the application shows a window (see
  // SetApplicationVisibleCheck) and SilentReceive is false. Sets the two
  // lines, shows or hides the bar and sets it to 0, and remembers the
  // active window when none is remembered. When the window is not yet
  // visible and owner is given, the remembered window (else owner's
  // window) is disabled and the progress window is centred on it, 450
  // pixels wide, or the owner's width less 20 when it is narrower (at
  // least 187), and 87 high. Then it is shown, raised and repainted.
  void ShowProgress(TWindowHandle owner, bool show_bar, const std::string& title,
                    const std::string& status) override;
  // Nothing while the application shows no window, while SilentReceive is
  // set, or when keep is true. Otherwise hides the window; when an owner is
  // given or a window was disabled, re-enables it, activates it and forgets
  // it.
  void HideProgress(TWindowHandle owner, bool keep) override;
  // Moves bar (a QWidget*) to done of total, repainting it at most about 30
  // times a second (always at the end).
  void ReportProgress(void* bar, int64_t total, int64_t done) override;

  TfrmProgress* Form() const { return form_; }
  QWidget* SavedActiveWindow() const { return saved_active_; }

  // Whether the application shows a window; by default, whether any
  // top-level window other than the progress window is visible.
  void SetApplicationVisibleCheck(std::function<bool()> check);

 private:
  bool Acting() const;

  TfrmProgress* form_;
  QPointer<QWidget> saved_active_;
  QPointer<QWidget> disabled_;
  std::function<bool()> app_visible_;
  qint64 last_paint_ms_ = -1;
};

// Qt-side forwarders to the core's seam (qovra::ShowProgress and
// qovra::HideProgress), for windows.
void ShowProgress(QWidget* owner, bool show_bar, const QString& title, const QString& status);
void HideProgress(QWidget* owner, bool keep);

}  // namespace qovra::ui

// The shared progress window while a TProgressDisplay lives; null otherwise.
extern TfrmProgress* frmProgress;
