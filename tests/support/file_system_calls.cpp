#include "support/file_system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

namespace qovra_test {

// Read by the wrappers below.
FileSystemKind g_kind = FileSystemKind::Full;

ScopedFileSystem::ScopedFileSystem(FileSystemKind kind) : previous_(g_kind) {
  g_kind = kind;
}

ScopedFileSystem::~ScopedFileSystem() {
  g_kind = previous_;
}

}  // namespace qovra_test

extern "C" {

int __real_link(const char* from, const char* to);
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

}  // extern "C"
