// Automatic receiving: what a tick of the receive timer (RefreshTimer,
// every 2000 ms while enabled) does.
//
// With Options.Mail.reffreq 0 (or below) a tick disables the timer. Otherwise, once
// more than reffreq whole seconds have passed since LastReceiveTick, and a
// receive may start now (ready()), the tick disables the timer, runs the
// receive with SilentReceive set, records the tick read before the receive
// as LastReceiveTick and enables the timer again: the next interval counts
// from before the receive, however long it took. A tick that finds the
// receive not ready leaves everything as it was, so a later tick tries
// again.
//
// Times come from TickCountMs(): milliseconds on the monotonic clock, 64
// bits wide, so the interval never wraps.
//
// The timer is the core's seam (qovra::ReceiveTimer()); its plain
// SetEnabled(bool) is what other windows call to stop and restart it.
//
// GUI thread only.
#pragma once

#include <cstdint>
#include <functional>

namespace qovra::ui {

// Milliseconds on the installed clock: by default the monotonic clock
// (std::chrono::steady_clock).
uint64_t TickCountMs();
// Installs a clock (tests); null restores the monotonic one.
void SetTickClock(std::function<uint64_t()> clock);

class TAutoReceive {
 public:
  // receive runs one receive; ready tells whether one may start now.
  TAutoReceive(std::function<void()> receive, std::function<bool()> ready);

  // The interval counts from now (the main window's show).
  void Restart();
  // One tick of the timer (TTimerClass.TimerTick).
  void TimerTick();

  uint64_t LastReceiveTick() const { return last_receive_tick_; }

 private:
  std::function<void()> receive_;
  std::function<bool()> ready_;
  uint64_t last_receive_tick_ = 0;
};

}  // namespace qovra::ui
