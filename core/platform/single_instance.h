// The single-instance lock: one running copy of the program per user.
//
// The first copy holds an exclusive flock on <folder>SENTAVRO-<uid>.lock for
// its whole life. The kernel drops the lock when the process ends in any way
// (kill -9 included), so a dead copy never blocks the next start. The lock
// file is opened close-on-exec: programs the copy starts never inherit it.
//
// The first copy also listens on <folder>SENTAVRO-<uid>.sock (the window
// side serves it); a second copy connects there to bring the first to the
// front. Only the holder of the lock may remove or create the socket, so a
// stale socket left by a killed copy is removed by the next holder.
//
// Interface thread only.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// The instance name the lock and socket names derive from.
inline constexpr std::string_view kInstanceName = "SENTAVRO";

// The folder of the lock and the socket, with a trailing "/":
// - runtime_dir ($XDG_RUNTIME_DIR) when it is an absolute path of a folder
//   (not a link) that belongs to the user and that nobody else may write;
// - else fallback_root + "SENTAVRO-<uid>", created with mode 0700 when
//   missing, and refused when it is a link, not a folder, not the user's or
//   open to others.
// Empty when neither is usable. REQUIRES: fallback_root ends with "/".
std::string InstanceFolder(const char* runtime_dir, const std::string& fallback_root);
// The same for the process's $XDG_RUNTIME_DIR and "/tmp/".
std::string InstanceFolder();

// folder + "SENTAVRO-<uid>.lock" and folder + "SENTAVRO-<uid>.sock".
std::string InstanceLockPath(const std::string& folder);
std::string InstanceSocketPath(const std::string& folder);

class TInstanceLock {
 public:
  enum class Result {
    Acquired,       // this is the only copy
    HeldElsewhere,  // another copy holds the lock
    Failed          // the lock file could not be opened or locked
  };

  TInstanceLock() = default;
  // Releases the lock.
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // Opens (creating, mode 0600, never through a link) the lock file in
  // folder and tries to lock it without waiting. Anything held before is
  // released first. REQUIRES: folder ends with "/".
  [[nodiscard]] Result Acquire(const std::string& folder);
  bool Held() const { return fd_ >= 0; }
  // Releases the lock (no effect when none is held).
  void Release();

 private:
  int fd_ = -1;
};

}  // namespace qovra
