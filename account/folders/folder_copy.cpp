#include "qovra/account/folder_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/temp_files.h"

namespace qovra {
namespace {

// The entries of folder other than "." and "..", sorted; false when it
// cannot be read.
bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool CopyFileInto(const std::string& from, const std::string& to_folder, const std::string& name) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) return false;
  std::string temp_path;
  const int out = CreateUniqueFile(to_folder, ".copy", ".part", temp_path);
  if (out < 0) {
    close(in);
    return false;
  }
  bool ok = true;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (!WriteAll(out, buffer, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  close(in);
  if (ok && fsync(out) != 0) ok = false;
  if (close(out) != 0) ok = false;
  if (ok && rename(temp_path.c_str(), (to_folder + name).c_str()) != 0) ok = false;
  if (!ok) unlink(temp_path.c_str());
  return ok;
}

namespace {

bool MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0) return true;
  struct stat st {};
  return errno == EEXIST && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CopyTree(const std::string& from, const std::string& to, const TFolderCopyOptions& options,
              bool top, std::string* failed_path) {
  auto fail = [failed_path](const std::string& path) {
    if (failed_path) *failed_path = path;
    return false;
  };
  if (!MakeFolder(to)) return fail(to);
  std::vector<std::string> names;
  if (!ListFolder(from, names)) return fail(from);
  for (const std::string& name : names) {
    if (top && std::find(options.skip_top_level.begin(), options.skip_top_level.end(), name) !=
                   options.skip_top_level.end())
      continue;
    const std::string source = from + name;
    struct stat st {};
    if (lstat(source.c_str(), &st) != 0) return fail(source);
    if (S_ISDIR(st.st_mode)) {
      if (!CopyTree(source + "/", to + name + "/", options, false, failed_path)) return false;
    } else if (S_ISREG(st.st_mode)) {
      struct stat target {};
      const bool exists = lstat((to + name).c_str(), &target) == 0;
      if (exists && !options.overwrite) continue;
      if (exists && S_ISDIR(target.st_mode)) return fail(to + name);
      if (!CopyFileInto(source, to, name)) return fail(to + name);
    }
    // Links, devices and pipes are not copied.
  }
  return true;
}

}  // namespace

bool CopyFolderContents(const std::string& from, const std::string& to,
                        const TFolderCopyOptions& options, std::string* failed_path) {
  return CopyTree(from, to, options, true, failed_path);
}

}  // namespace qovra
