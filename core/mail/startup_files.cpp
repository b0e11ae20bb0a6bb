#include "mail/startup_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/file_utils.h"
#include "platform/temp_files.h"

namespace qovra {
namespace {

// Deeper trees are left alone rather than running out of descriptors.
constexpr int kMaxDepth = 64;

// The names in the open folder dir (not "." and ".."); dir stays open.
bool ListNames(int dir, std::vector<std::string>* names) {
  const int copy = fcntl(dir, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return false;
  DIR* d = fdopendir(copy);
  if (!d) {
    close(copy);
    return false;
  }
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names->emplace_back(e->d_name);
  }
  closedir(d);
  return true;
}

bool EmptyFolderAt(int dir, int depth) {
  std::vector<std::string> names;
  if (!ListNames(dir, &names)) return false;
  bool ok = true;
  for (const std::string& name : names) {
    // Files and links go with one call; a link is never followed.
    if (unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT) continue;
    if (errno != EISDIR || depth >= kMaxDepth) {
      ok = false;
      continue;
    }
    const int sub = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) {
      ok = false;
      continue;
    }
    ok = EmptyFolderAt(sub, depth + 1) && ok;
    close(sub);
    if (unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) ok = false;
  }
  return ok;
}

std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsSqliteFile(const std::string& bytes) {
  static constexpr char kMagic[] = "SQLite format 3";  // with its terminating zero: 16 bytes
  return bytes.size() >= 100 && std::memcmp(bytes.data(), kMagic, sizeof kMagic) == 0;
}

// Template databases are small; anything bigger is not one of ours.
constexpr off_t kMaxTemplateSize = off_t{64} << 20;

}  // namespace

bool EmptyFolder(const std::string& folder) {
  if (folder.empty()) return false;
  const std::string path = WithoutSlash(folder);
  const int dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return false;
  bool ok = EmptyFolderAt(dir, 0);
  close(dir);
  return ok;
}

bool RemoveFolderTree(const std::string& folder) {
  if (!EmptyFolder(folder)) return false;
  return rmdir(WithoutSlash(folder).c_str()) == 0;
}

TPrivateTempFolder::TPrivateTempFolder() {
  // A copy that sweeps while this one starts may take a new folder before
  // its lock is held: then another name is tried. Where folders cannot be
  // locked at all, the folder is used without: no sweep can take it either.
  for (int attempt = 0; attempt < 3 && path_.empty(); ++attempt) {
    std::string path = MakePrivateTempFolder(kPrivateTempPrefix);
    if (path.empty()) return;
    if (lock_.TryLock(path) != TFolderLock::Result::HeldElsewhere) path_ = std::move(path);
  }
  if (!path_.empty()) SetTempFolder(path_);
}

TPrivateTempFolder::~TPrivateTempFolder() {
  if (path_.empty()) return;
  if (GetTempFolder() == path_) SetTempFolder("");
  (void)RemoveFolderTree(path_);
  lock_.Release();
}

DatabaseFileResult EnsureDatabaseFile(const std::string& template_path,
                                      const std::string& db_path) {
  struct stat st {};
  if (stat(db_path.c_str(), &st) == 0) return DatabaseFileResult::Existing;

  if (stat(template_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > kMaxTemplateSize) {
    return DatabaseFileResult::TemplateMissing;
  }
  std::string bytes;
  {
    const int fd = open(template_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return DatabaseFileResult::TemplateMissing;
    char buffer[8192];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
      if (n < 0) {
        if (errno == EINTR) continue;
        close(fd);
        return DatabaseFileResult::TemplateMissing;
      }
      bytes.append(buffer, static_cast<size_t>(n));
      if (bytes.size() > static_cast<size_t>(kMaxTemplateSize)) break;
    }
    close(fd);
  }
  if (bytes.size() > static_cast<size_t>(kMaxTemplateSize) || !IsSqliteFile(bytes))
    return DatabaseFileResult::TemplateMissing;
  if (!SaveBufferToFileA(bytes.data(), bytes.size(), db_path)) {
    return DatabaseFileResult::CopyFailed;
  }
  return DatabaseFileResult::Copied;
}

}  // namespace qovra
