// Helpers shared by the start-up tests: environment variables, file modes
// and a program folder of the test's own.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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

}  // namespace qovra::testing
