// Peak resident memory of this process, for the benchmarks.
#pragma once

#include <fstream>
#include <string>

namespace qovra_bench {

// A size line ("VmRSS:", "VmHWM:") of a status file of /proc (this
// process's by default) in KiB; 0 when unknown.
inline long StatusKiB(const std::string& field, const std::string& path = "/proc/self/status") {
  std::ifstream status(path);
  std::string key;
  while (status >> key) {
    if (key == field) {
      long kib = 0;
      status >> kib;
      return kib;
    }
    std::string rest;
    std::getline(status, rest);
  }
  return 0;
}

// Resident memory now and at its peak, in KiB.
inline long RssKiB() {
  return StatusKiB("VmRSS:");
}
inline long PeakRssKiB() {
  return StatusKiB("VmHWM:");
}

// Starts a new peak measurement (Linux: writing 5 to clear_refs resets
// VmHWM to the current resident size).
inline void ResetPeakRss() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace qovra_bench
