#include "support/file_system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

namespace qovra_test {

// Read by the wrappers below.
FileSystemKind g_kind = FileSystemKind::Full;
std::string g_full_folder;  // empty: no full disk
int64_t g_free_bytes = 0;

// True when the file open at fd lies in g_full_folder.
bool OnFullDisk(int fd) {
  if (g_full_folder.empty()) return false;
  char link[64], path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  return std::string(path, static_cast<size_t>(n)).rfind(g_full_folder, 0) == 0;
}

ScopedFileSystem::ScopedFileSystem(FileSystemKind kind) : previous_(g_kind) {
  g_kind = kind;
}

ScopedFileSystem::~ScopedFileSystem() {
  g_kind = previous_;
}

ScopedDiskFull::ScopedDiskFull(std::string folder, int64_t free_bytes) {
  g_full_folder = std::move(folder);
  g_free_bytes = free_bytes;
}

ScopedDiskFull::~ScopedDiskFull() {
  g_full_folder.clear();
}

}  // namespace qovra_test

extern "C" {

int __real_link(const char* from, const char* to);
ssize_t __real_write(int fd, const void* buffer, size_t count);
int __real_renameat2(int from_dir, const char* from, int to_dir, const char* to,
                     unsigned int flags);

int __wrap_link(const char* from, const char* to) {
  if (qovra_test::g_kind != qovra_test::FileSystemKind::Full) {
    errno = EPERM;
    return -1;
  }
  return __real_link(from, to);
}

int __wrap_renameat2(int from_dir, const char* from, int to_dir, const char* to,
                     unsigned int flags) {
  if (qovra_test::g_kind == qovra_test::FileSystemKind::NoLinksNorFlag &&
      (flags & RENAME_NOREPLACE)) {
    errno = EINVAL;
    return -1;
  }
  return __real_renameat2(from_dir, from, to_dir, to, flags);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t count) {
  if (count == 0 || !qovra_test::OnFullDisk(fd)) return __real_write(fd, buffer, count);
  if (qovra_test::g_free_bytes <= 0) {
    errno = ENOSPC;
    return -1;
  }
  const size_t fits = std::min(count, static_cast<size_t>(qovra_test::g_free_bytes));
  const ssize_t n = __real_write(fd, buffer, fits);
  if (n > 0) qovra_test::g_free_bytes -= n;
  return n;
}

}  // extern "C"
