#include "refresh_timer.h"

namespace qovra::app {

TRefreshTimer* RefreshTimer = nullptr;

void TTimerClass::TimerTick() {
  ++ticks_;
  if (main_window_) main_window_->TimerTick();
}

TRefreshTimer::TRefreshTimer() {
  timer_.setInterval(kIntervalMs);
  QObject::connect(&timer_, &QTimer::timeout, &handler_, &TTimerClass::TimerTick);
  timer_.stop();
}

void TRefreshTimer::SetEnabled(bool enabled) {
  if (enabled) {
    timer_.start();
  } else {
    timer_.stop();
  }
}

}  // namespace qovra::app
