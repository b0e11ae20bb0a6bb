// Running an outside program and waiting for its end.
#pragma once

#include <string>
#include <vector>

namespace qovra {

// Result of RunProcessAndWait when the program could not be started.
constexpr int kProcessNotStarted = -1;

// Starts argv[0] (searched in PATH when it has no "/") with exactly the
// arguments in argv, no shell involved, so blanks, quotes and "$(...)" reach
// the program unchanged. Blocks the calling thread without a time-out until
// the program ends. There are no windows to hide: hidden is accepted for the
// callers' sake and has no effect. Returns the program's exit code (0-255),
// 128 + the signal number when a signal ended it, or kProcessNotStarted
// (also for an empty argv).
int RunProcessAndWait(const std::vector<std::string>& argv, bool hidden);

}  // namespace qovra
