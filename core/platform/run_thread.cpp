#include "platform/run_thread.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

extern char** environ;

namespace qovra {

TRunThreadList* RunThreadList = nullptr;

namespace {

// Starts argv with a clean signal state; the pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return -1;
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : -1;
}

int PidfdOpen(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

}  // namespace

TRunThread::TRunThread(const std::vector<std::string>& argv, TRunEnd on_end)
    : on_end_(std::move(on_end)) {
  pid_ = Spawn(argv);
  if (pid_ <= 0) {
    pid_ = -1;
    done_ = true;
    return;
  }
  // The child cannot have been reaped yet (only our thread reaps it), so
  // the pidfd names exactly this process.
  pidfd_ = PidfdOpen(pid_);
  thread_ = std::thread(&TRunThread::Execute, this);
}

TRunThread::~TRunThread() {
  End(TRunThreadList::kDefaultGrace);
  if (pidfd_ >= 0) close(pidfd_);
}

void TRunThread::Execute() {
  if (pidfd_ >= 0) {
    pollfd p{pidfd_, POLLIN, 0};
    while (poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
  } else {
    // Without a pidfd: wait without reaping, so Signal can still tell.
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
  }
  {
    std::lock_guard<std::mutex> lock(reap_mutex_);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = status;
    reaped_ = true;
  }
  if (on_end_) on_end_(status_.load());
  done_ = true;
}

void TRunThread::Signal(int sig) {
  if (!Started()) return;
  if (pidfd_ >= 0) {
    // A pidfd never names another process, even after the reaping.
    syscall(SYS_pidfd_send_signal, pidfd_, sig, nullptr, 0);
    return;
  }
  std::lock_guard<std::mutex> lock(reap_mutex_);
  if (!reaped_) kill(pid_, sig);
}

bool TRunThread::WaitEnded(std::chrono::milliseconds timeout) {
  if (Done() || !Started()) return true;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (pidfd_ >= 0) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{pidfd_, POLLIN, 0};
      const int rc = poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
      if (rc > 0) return true;
      if (rc == 0) return Done();
      if (errno != EINTR) break;
    }
  }
  while (!Done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return Done();
}

void TRunThread::End(std::chrono::milliseconds grace) {
  if (!thread_.joinable()) return;
  if (!Done()) {
    Signal(SIGTERM);
    if (!WaitEnded(grace)) Signal(SIGKILL);
  }
  thread_.join();
}

TRunThreadList::TRunThreadList(std::string opener, std::chrono::milliseconds grace)
    : opener_(std::move(opener)), grace_(grace) {}

TRunThreadList::~TRunThreadList() {
  EndAll();
}

void TRunThreadList::DropEnded() {
  std::erase_if(threads_, [](const std::unique_ptr<TRunThread>& t) { return t->Done(); });
}

const TRunThread& TRunThreadList::Run(const std::string& program,
                                      const std::vector<std::string>& params) {
  DropEnded();
  std::vector<std::string> argv;
  argv.reserve(params.size() + 1);
  argv.push_back(program);
  argv.insert(argv.end(), params.begin(), params.end());
  threads_.push_back(std::make_unique<TRunThread>(argv));
  return *threads_.back();
}

const TRunThread& TRunThreadList::OpenDocument(const std::string& file, TRunEnd on_end) {
  DropEnded();
  threads_.push_back(
      std::make_unique<TRunThread>(std::vector<std::string>{opener_, file}, std::move(on_end)));
  return *threads_.back();
}

void TRunThreadList::EndAll() {
  for (auto& t : threads_) {
    if (!t->Done()) t->Signal(SIGTERM);
  }
  const auto deadline = std::chrono::steady_clock::now() + grace_;
  for (auto& t : threads_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!t->WaitEnded(std::max(left, std::chrono::milliseconds(0)))) t->Signal(SIGKILL);
  }
  for (auto& t : threads_) t->End(grace_);
  threads_.clear();
}

}  // namespace qovra
