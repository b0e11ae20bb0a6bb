// The receive timer: RefreshTimer ticks every 2000 ms while automatic
// receiving is on. The main block creates it disabled; the main window
// enables it when automatic receiving is set. Other windows stop and
// restart it through the core's seam: qovra::ReceiveTimer().SetEnabled().
//
// GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include "qovra/workspace/main_window.h"
#include "seam/ui_seam.h"

namespace qovra::app {

// The timer's handler object: each tick is the main window's automatic
// receiving (TfrmMain::TimerTick), while a main window is set.
class TTimerClass : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;
  int Ticks() const { return ticks_; }
  // The window the ticks go to; it may be destroyed first (the ticks then
  // go nowhere).
  void SetMainWindow(TfrmMain* form) { main_window_ = form; }

 public slots:
  void TimerTick();

 private:
  int ticks_ = 0;
  QPointer<TfrmMain> main_window_;
};

// The timer as the core's receive-timer seam sees it (install it with
// qovra::SetReceiveTimer).
class TRefreshTimer : public IReceiveTimer {
 public:
  static constexpr int kIntervalMs = 2000;

  // Created disabled, with kIntervalMs and TTimerClass::TimerTick.
  TRefreshTimer();
  TRefreshTimer(const TRefreshTimer&) = delete;
  TRefreshTimer& operator=(const TRefreshTimer&) = delete;

  bool IsEnabled() override { return timer_.isActive(); }
  void SetEnabled(bool enabled) override;

  QTimer& Timer() { return timer_; }
  TTimerClass& Handler() { return handler_; }

 private:
  TTimerClass handler_;
  QTimer timer_;
};

// The program's timer while the main block runs; null otherwise.
extern TRefreshTimer* RefreshTimer;

}  // namespace qovra::app
