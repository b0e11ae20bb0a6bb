// Starting an outside program that outlives the request to start it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qovra {

// Starts argv[0] (a path; searched in PATH when it has no "/") with exactly
// the arguments in argv, no shell involved, and does not wait for it.
// Returns the child's pid once the program image was really executed, or
// -1 when it could not be (missing, not executable, empty argv). The child
// belongs to the caller, who may wait for it; a program about to end need
// not.
[[nodiscard]] pid_t StartProcess(const std::vector<std::string>& argv);

}  // namespace qovra
