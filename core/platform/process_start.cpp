#include "platform/process_start.h"

#include <spawn.h>

extern char** environ;

namespace qovra {

pid_t StartProcess(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // glibc reports a failed exec as posix_spawnp's result, so a pid here
  // means the program runs.
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  return pid;
}

}  // namespace qovra
