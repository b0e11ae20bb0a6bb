// Time limits of both HTTP clients.
//
// A request that cannot connect within the connect time-out fails, and so
// does a transfer whose speed stays below the low-speed limit for the
// low-speed time, in either direction and also while the server has not yet
// answered. A dead or stalled server therefore gives an error within about a
// minute, while a slow but moving transfer goes on. The values are
// process-wide and read when a request starts.
#pragma once

#include <cstdint>

namespace qovra {

struct THttpTimeouts {
  int64_t ConnectMs = 15000;     // connect time-out
  int64_t LowSpeedBytes = 1024;  // bytes per second ...
  int64_t LowSpeedSeconds = 60;  // ... below which, for this long, a transfer is aborted
};

// The limits in force; the defaults above until SetHttpTimeouts is called.
THttpTimeouts GetHttpTimeouts();

// Replaces the limits (tests shorten them). Values below 1 are taken as 1.
void SetHttpTimeouts(const THttpTimeouts& timeouts);

// Restores the defaults.
void ResetHttpTimeouts();

}  // namespace qovra
