// A clock for tests of automatic receiving: installed while it lives,
// moved only by the test.
//
//   qovra::ui::testing::FakeTickClock clock;
//   clock.AdvanceSeconds(301);
#pragma once

#include <cstdint>

#include "qovra/workspace/auto_receive.h"

namespace qovra::ui::testing {

class FakeTickClock {
 public:
  // Starts far from 0, so that nothing depends on a clock starting there.
  explicit FakeTickClock(uint64_t start_ms = 5'000'000'000ull) : now_ms_(start_ms) {
    SetTickClock([this] { return now_ms_; });
  }
  ~FakeTickClock() { SetTickClock(nullptr); }
  FakeTickClock(const FakeTickClock&) = delete;
  FakeTickClock& operator=(const FakeTickClock&) = delete;

  void AdvanceMs(uint64_t ms) { now_ms_ += ms; }
  void AdvanceSeconds(uint64_t s) { now_ms_ += s * 1000; }
  uint64_t NowMs() const { return now_ms_; }

 private:
  uint64_t now_ms_;
};

}  // namespace qovra::ui::testing
