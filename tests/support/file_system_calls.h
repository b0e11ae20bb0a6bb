// A file system without hard links, as a FAT stick is, for the tests of
// code that places files.
//
// A test executable that links tests/support/file_system_calls.cpp with
// the linker options of qovra_wrap_file_system_calls (tests/CMakeLists.txt)
// has every call to link(2) and renameat2(2) in its own code and in the
// static libraries it links go through here; while a ScopedFileSystem
// lives they fail as such a file system makes them fail.
#pragma once

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

}  // namespace qovra_test
