#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace qovra {

TFolderLock::~TFolderLock() {
  Release();
}

void TFolderLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the only descriptor drops the flock
  fd_ = -1;
}

TFolderLock::Result TFolderLock::TryLock(const std::string& folder) {
  Release();
  std::string path = folder;
  // A trailing "/" would make open follow a link at the name.
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.empty()) return Result::Failed;
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Result::Failed;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    return busy ? Result::HeldElsewhere : Result::Failed;
  }
  fd_ = fd;
  return Result::Acquired;
}

}  // namespace qovra
