// File systems that are not the test machine's: one without hard links, as
// a FAT stick is, for the tests of code that places files; a full disk for
// the tests of code that writes them.
//
// A test executable that links tests/support/file_system_calls.cpp with
// the linker options of qovra_wrap_file_system_calls (tests/CMakeLists.txt)
// has every call to link(2), renameat2(2) and write(2) in its own code and
// in the static libraries it links go through here; while a
// ScopedFileSystem or a ScopedDiskFull lives they fail as such a file
// system makes them fail.
#pragma once

#include <cstdint>
#include <string>

namespace qovra_test {

enum class FileSystemKind {
  Full,           // the real calls
  NoHardLinks,    // link fails with EPERM (FAT, exFAT)
  NoLinksNorFlag  // also renameat2 with RENAME_NOREPLACE fails with EINVAL
};

class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystemKind kind);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystemKind previous_;
};

// Files in folder (a path prefix) may grow by free_bytes in all; a write
// beyond that writes what still fits and then fails with ENOSPC, as on a
// full disk. Writes elsewhere are not touched.
class ScopedDiskFull {
 public:
  ScopedDiskFull(std::string folder, int64_t free_bytes);
  ~ScopedDiskFull();
  ScopedDiskFull(const ScopedDiskFull&) = delete;
  ScopedDiskFull& operator=(const ScopedDiskFull&) = delete;
};

}  // namespace qovra_test
