#include "refresh_timer.h"

namespace qovra::app {

TRefreshTimer* RefreshTimer = nullptr;

void TTimerClass::TimerTick() {
  ++ticks_;
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
