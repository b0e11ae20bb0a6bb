#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace qovra {
namespace {

std::string UidText() {
  return std::to_string(static_cast<unsigned long>(getuid()));
}

// A folder (not a link) of the user that nobody else may write; with
// private_only also nobody else may read or enter.
bool IsOwnFolder(const std::string& path, bool private_only) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
  const mode_t forbidden = private_only ? 077 : 022;
  return (st.st_mode & forbidden) == 0;
}

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

}  // namespace

std::string InstanceFolder(const char* runtime_dir, const std::string& fallback_root) {
  if (runtime_dir && runtime_dir[0] == '/') {
    std::string dir = runtime_dir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (IsOwnFolder(dir, false)) return WithSlash(dir);
  }
  const std::string fallback = fallback_root + std::string(kInstanceName) + "-" + UidText();
  if (mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST) return {};
  return IsOwnFolder(fallback, true) ? WithSlash(fallback) : std::string();
}

std::string InstanceFolder() {
  return InstanceFolder(std::getenv("XDG_RUNTIME_DIR"), "/tmp/");
}

std::string InstanceLockPath(const std::string& folder) {
  return folder + std::string(kInstanceName) + "-" + UidText() + ".lock";
}

std::string InstanceSocketPath(const std::string& folder) {
  return folder + std::string(kInstanceName) + "-" + UidText() + ".sock";
}

TInstanceLock::~TInstanceLock() {
  Release();
}

void TInstanceLock::Release() {
  if (fd_ >= 0) close(fd_);  // closing the only descriptor drops the flock
  fd_ = -1;
}

TInstanceLock::Result TInstanceLock::Acquire(const std::string& folder) {
  Release();
  if (folder.empty()) return Result::Failed;
  const std::string path = InstanceLockPath(folder);
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Result::Failed;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
    close(fd);
    return Result::Failed;
  }
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? Result::HeldElsewhere : Result::Failed;
  }
  fd_ = fd;
  return Result::Acquired;
}

}  // namespace qovra
