// The work folder of a fuzz target and the files it writes there.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace qovra_fuzz {

// A new folder named after prefix, memory-backed when the system offers
// one, removed at exit (after whatever the caller registers later).
inline std::string ScratchFolder(const char* prefix) {
  static std::string root;
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  root = std::string(base) + "/" + prefix + "-XXXXXX";
  if (!mkdtemp(root.data())) std::abort();
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  });
  return root;
}

inline bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

inline void WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace qovra_fuzz
