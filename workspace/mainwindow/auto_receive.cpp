#include "qovra/workspace/auto_receive.h"

#include <chrono>
#include <utility>

#include "base/records.h"
#include "qovra/ui/progress.h"
#include "seam/ui_seam.h"

namespace qovra::ui {
namespace {

std::function<uint64_t()>& Clock() {
  static std::function<uint64_t()> clock;
  return clock;
}

}  // namespace

uint64_t TickCountMs() {
  if (Clock()) return Clock()();
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SetTickClock(std::function<uint64_t()> clock) {
  Clock() = std::move(clock);
}

TAutoReceive::TAutoReceive(std::function<void()> receive, std::function<bool()> ready)
    : receive_(std::move(receive)), ready_(std::move(ready)), last_receive_tick_(TickCountMs()) {}

void TAutoReceive::Restart() {
  last_receive_tick_ = TickCountMs();
}

void TAutoReceive::TimerTick() {
  IReceiveTimer& timer = ReceiveTimer();
  const int32_t interval_s = qovra::Options.Mail.reffreq;
  if (interval_s <= 0) {
    timer.SetEnabled(false);
    return;
  }
  const uint64_t now = TickCountMs();
  // A clock that reads earlier than the last receive (another clock
  // installed) counts as no time passed.
  const uint64_t passed_s = now > last_receive_tick_ ? (now - last_receive_tick_) / 1000 : 0;
  if (passed_s <= static_cast<uint64_t>(interval_s)) return;
  if (ready_ && !ready_()) return;

  timer.SetEnabled(false);
  {
    struct Silent {
      Silent() { SilentReceive = true; }
      ~Silent() { SilentReceive = false; }
    } silent;
    receive_();
  }
  last_receive_tick_ = now;
  timer.SetEnabled(true);
}

}  // namespace qovra::ui
