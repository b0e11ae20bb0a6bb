#include "net/http_timeouts.h"

#include <algorithm>

namespace qovra {

namespace {
THttpTimeouts g_timeouts;
}  // namespace

THttpTimeouts GetHttpTimeouts() {
  return g_timeouts;
}

void SetHttpTimeouts(const THttpTimeouts& timeouts) {
  g_timeouts.ConnectMs = std::max<int64_t>(1, timeouts.ConnectMs);
  g_timeouts.LowSpeedBytes = std::max<int64_t>(1, timeouts.LowSpeedBytes);
  g_timeouts.LowSpeedSeconds = std::max<int64_t>(1, timeouts.LowSpeedSeconds);
}

void ResetHttpTimeouts() {
  g_timeouts = THttpTimeouts();
}

}  // namespace qovra
