#include "mail/startup_sweep.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "mail/startup_files.h"
#include "platform/folder_lock.h"

namespace qovra {
namespace {

constexpr size_t kUuidLength = 32;

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsUpperOrDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}
bool IsAlnum(char c) {
  return IsUpperOrDigit(c) || (c >= 'a' && c <= 'z');
}

// True when text is between min and max characters, each passing is.
template <typename Pred>
bool RunOf(std::string_view text, size_t min, size_t max, Pred is) {
  return text.size() >= min && text.size() <= max && std::all_of(text.begin(), text.end(), is);
}

// Cuts prefix off text; false when text does not start with it.
bool Take(std::string_view& text, std::string_view prefix) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  text.remove_prefix(prefix.size());
  return true;
}
bool TakeEnd(std::string_view& text, std::string_view suffix) {
  if (text.size() < suffix.size() || text.substr(text.size() - suffix.size()) != suffix)
    return false;
  text.remove_suffix(suffix.size());
  return true;
}

bool TakeUuid(std::string_view& text) {
  if (!RunOf(text.substr(0, kUuidLength), kUuidLength, kUuidLength, IsHex)) return false;
  text.remove_prefix(kUuidLength);
  return true;
}

// The names in folder (not "." and ".."); empty when it cannot be read.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.emplace_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

}  // namespace

bool IsLeftoverFileName(std::string_view name) {
  std::string_view rest = name;
  if (TakeEnd(rest, ".part")) {
    // ~<hex>.part: a reply file being stored.
    if (Take(rest, "~")) return RunOf(rest, 1, 64, IsHex);
    if (!TakeUuid(rest)) return false;
    // <uuid>.eme.part: a mail converted on opening.
    if (rest == ".eme") return true;
    // <uuid>.<hex>.part: a received mail being deciphered or checked.
    return Take(rest, ".") && RunOf(rest, 1, 64, IsHex);
  }
  if (!TakeEnd(rest, ".tmp")) return false;
  // .~sav<hex>.tmp: a file being saved whole.
  if (Take(rest, ".~sav")) return RunOf(rest, 1, 64, IsHex);
  if (!TakeUuid(rest)) return false;
  // <uuid>.eme.XXXXXXXX.tmp, <uuid>.ems.XXXXXXXX.tmp: a send's copies.
  if (Take(rest, ".eme.") || Take(rest, ".ems.")) return RunOf(rest, 8, 8, IsUpperOrDigit);
  // <uuid>.emz.import-<pid>.tmp: an import's copy.
  return Take(rest, ".emz.import-") &&
         RunOf(rest, 1, 10, [](char c) { return c >= '0' && c <= '9'; });
}

int SweepLeftoverFiles(const std::string& folder) {
  const std::string dir = WithSlash(folder);
  int removed = 0;
  for (const std::string& name : Names(dir)) {
    if (!IsLeftoverFileName(name)) continue;
    struct stat st {};
    const std::string path = dir + name;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

void SweepUserFolder(const std::string& user_dir) {
  const std::string dir = WithSlash(user_dir);
  (void)SweepLeftoverFiles(dir);
  (void)SweepLeftoverFiles(dir + "messages/");
  (void)EmptyFolder(dir + "temp/");
}

int SweepPrivateTempFolders(const std::string& temp_root, const std::string& keep) {
  const std::string root = WithSlash(temp_root);
  const std::string_view prefix = kPrivateTempPrefix;
  int removed = 0;
  for (const std::string& name : Names(root)) {
    std::string_view rest = name;
    // mkdtemp's six letters and digits after the prefix.
    if (!Take(rest, prefix) || !RunOf(rest, 6, 6, IsAlnum)) continue;
    const std::string path = root + name + "/";
    if (path == keep) continue;
    struct stat st {};
    if (::lstat((root + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::getuid() || (st.st_mode & 077) != 0)
      continue;
    // Held while its copy runs; free once that copy ended in any way.
    TFolderLock lock;
    if (lock.TryLock(path) != TFolderLock::Result::Acquired) continue;
    if (RemoveFolderTree(path)) ++removed;
  }
  return removed;
}

}  // namespace qovra
