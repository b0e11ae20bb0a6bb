#include "platform/process_runner.h"

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace qovra {
namespace {

// Waits for pid to end through a pidfd when the kernel offers one.
void WaitUntilEnded(pid_t pid) {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return;  // waitpid below still waits
  pollfd p{pidfd, POLLIN, 0};
  while (poll(&p, 1, -1) < 0 && errno == EINTR) {
  }
  close(pidfd);
}

}  // namespace

int RunProcessAndWait(const std::vector<std::string>& argv, bool /*hidden*/) {
  if (argv.empty() || argv[0].empty()) return kProcessNotStarted;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
    return kProcessNotStarted;
  }
  WaitUntilEnded(pid);
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return kProcessNotStarted;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kProcessNotStarted;
}

}  // namespace qovra
