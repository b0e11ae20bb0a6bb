#include "platform/file_place.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace qovra {
namespace {

// The flag (or the call) is unknown to the file system or the kernel.
bool FlagUnsupported(int err) {
  return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

int WriteAll(int fd, const char* p, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return 0;
}

// Copies from into a new file to, created exclusively; 0 or an errno. A
// target this call created is removed again when the copy fails.
int CopyExclusive(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    const int err = errno;
    ::close(in);
    return err;
  }
  int err = 0;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = errno;
      break;
    }
    if (n == 0) break;
    err = WriteAll(out, buffer, static_cast<size_t>(n));
    if (err != 0) break;
  }
  if (err == 0 && ::fsync(out) != 0) err = errno;
  if (::close(out) != 0 && err == 0) err = errno;
  ::close(in);
  if (err != 0) ::unlink(to.c_str());
  return err;
}

}  // namespace

int PlaceFileNoReplace(const std::string& temp, const std::string& target) {
  const int linked = ::link(temp.c_str(), target.c_str()) == 0 ? 0 : errno;
  if (linked == 0) {
    ::unlink(temp.c_str());
    return 0;
  }
  if (linked == EEXIST) return EEXIST;
  // No hard links here (FAT gives EPERM): a rename that never replaces.
  const int renamed =
      ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0 ? 0
                                                                                           : errno;
  if (renamed == 0 || renamed == EEXIST) return renamed;
  if (!FlagUnsupported(renamed)) return renamed;
  const int copied = CopyExclusive(temp, target);
  if (copied == 0) ::unlink(temp.c_str());
  return copied;
}

}  // namespace qovra
