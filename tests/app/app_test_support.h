// Helpers shared by the start-up tests: environment variables, file modes
// and a program folder of the test's own.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "mail/startup_files.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

namespace qovra::testing {

// The permission bits of path (not following a link); -1 when it is missing.
inline int ModeOf(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

inline ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// The build's template database name (ecm.edb, eca.edb).
inline std::string BuiltTemplate(const std::string& name) {
  return std::string(QOVRA_BIN_DIR) + "/" + name;
}

// A program folder "prog/" in dir holding copies of the named files of the
// build folder. Returns the folder with a trailing "/".
inline std::string MakeProgramDir(const ScratchDir& dir, const std::vector<std::string>& files) {
  const std::string prog = dir.File("prog");
  std::filesystem::create_directories(prog);
  for (const std::string& f : files) {
    std::filesystem::copy_file(std::string(QOVRA_BIN_DIR) + "/" + f, prog + "/" + f);
  }
  return prog + "/";
}

// Starts a child process that makes its private temporary folder (in
// $TMPDIR) as the program does, with a file in it, reports the folder's
// path and then stays (until killed) or dies at once (SIGKILL).
struct CopyWithTempFolder {
  pid_t pid = -1;
  std::string path;
  explicit CopyWithTempFolder(bool die) {
    int fds[2];
    if (pipe(fds) != 0) return;
    std::fflush(nullptr);
    pid = fork();
    if (pid == 0) {
      close(fds[0]);
      qovra::TPrivateTempFolder temp;
      std::ofstream(temp.Path() + "sound.wav") << "RIFF";
      const std::string line = temp.Path() + "\n";
      (void)!write(fds[1], line.data(), line.size());
      if (die) raise(SIGKILL);
      pause();
      _exit(0);
    }
    close(fds[1]);
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') path += c;
    close(fds[0]);
    if (die) {
      waitpid(pid, nullptr, 0);
      pid = -1;
    }
  }
  ~CopyWithTempFolder() {
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
  }
  CopyWithTempFolder(const CopyWithTempFolder&) = delete;
  CopyWithTempFolder& operator=(const CopyWithTempFolder&) = delete;
};

}  // namespace qovra::testing
