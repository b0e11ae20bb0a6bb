// A full disk, for tests: while the object lives this process writes no
// file beyond a size. A write past it fails with EFBIG, as one on a full
// disk fails with ENOSPC; SIGXFSZ, which would end the process, is ignored
// meanwhile. Keep the scope tight: every file this process writes is held
// to the limit.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace qovra::testing {

class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t old_handler_ = SIG_DFL;
};

}  // namespace qovra::testing
