// Peak resident memory of this process, for the benchmarks.
#pragma once

#include <fstream>
#include <string>

namespace qovra_bench {

// VmHWM of /proc/self/status in KiB; 0 when unknown.
inline long PeakRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
    std::string rest;
    std::getline(status, rest);
  }
  return 0;
}

// Starts a new peak measurement (Linux: writing 5 to clear_refs resets
// VmHWM to the current resident size).
inline void ResetPeakRss() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace qovra_bench
