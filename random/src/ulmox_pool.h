// Internal interface of the random pool and its system poll. Not exported from
// libulmox.so; tests reach it through the ulmox_internal library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ulmox {

constexpr size_t kPoolSize = 1023;
constexpr double kEntropyGoal = 32.0;

struct PoolState {
  uint8_t pool[kPoolSize];
  uint8_t digest[32];
  uint32_t index;         // next pool position
  uint32_t fill;          // pool bytes in use
  uint32_t output_count;  // calls that drew bytes
  uint32_t added_count;   // 32-byte pieces added
  double entropy;         // estimate
  bool polled;            // system entropy gathered
  bool stirred;           // stirred once with the estimate at the goal
};

// The process's pool, read-only (for tests).
const PoolState& CurrentPoolState();

// Zeroes the whole state, the stirred mark included, as at process start.
void ResetPoolForTesting();

// Mixes n bytes into the pool and credits estimate while below the goal.
// Nothing happens for n == 0; data may be null only then.
void PoolAdd(const uint8_t* data, size_t n, double estimate);

// One system entropy source. gather writes up to cap bytes into buf and
// returns how many it wrote; 0 means the source failed and is skipped.
struct EntropySource {
  const char* name;
  double credit;
  size_t (*gather)(uint8_t* buf, size_t cap);
};

// The largest piece one source may deliver per poll.
constexpr size_t kSourceBufferSize = 4096;

// The Linux sources in polling order with their credits.
std::span<const EntropySource> LinuxEntropySources();

// Feeds each source that works to the pool with its credit, in list order.
// The working buffer is wiped afterwards.
void PollSources(std::span<const EntropySource> sources);

// The list the system poll uses; LinuxEntropySources() unless replaced.
// The list must outlive its use.
void SetEntropySources(std::span<const EntropySource> sources);
std::span<const EntropySource> CurrentEntropySources();

}  // namespace ulmox
