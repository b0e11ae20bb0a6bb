// An exclusive lock on a folder, held by one open of it.
//
// The lock is a flock on the folder itself (no file is added to it). The
// kernel drops it when the process ends in any way (kill -9 included), so
// a folder whose lock can be taken belongs to no running process. A second
// open, even in the same process, does not get it. Interface thread only.
#pragma once

#include <string>

namespace qovra {

class TFolderLock {
 public:
  TFolderLock() = default;
  ~TFolderLock();
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;

  enum class Result {
    Acquired,       // held by this object now
    HeldElsewhere,  // another open of the folder holds it
    Failed          // the folder cannot be opened, or its file system locks no folders
  };

  // Opens folder (never through a link) and locks it without waiting;
  // anything held before is released first. Only Acquired means that no
  // running process uses the folder through its lock.
  [[nodiscard]] Result TryLock(const std::string& folder);
  bool Held() const { return fd_ >= 0; }
  void Release();

 private:
  int fd_ = -1;
};

}  // namespace qovra
