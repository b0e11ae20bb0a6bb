#include "qovra/account/folder_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qovra {

TCopyJournal::~TCopyJournal() {
  Undo();
}

void TCopyJournal::FolderMade(const std::string& path) {
  folders_.push_back(path);
}

void TCopyJournal::FileWritten(const std::string& path, const std::string& original) {
  files_.push_back({path, original});
}

void TCopyJournal::Commit() {
  for (const Written& w : files_)
    if (!w.original.empty() && unlink(w.original.c_str()) != 0)
      std::fprintf(stderr, "qovra: %s: %s\n", w.original.c_str(), std::strerror(errno));
  files_.clear();
  folders_.clear();
}

void TCopyJournal::Undo() {
  for (auto w = files_.rbegin(); w != files_.rend(); ++w) {
    const bool gone = w->original.empty() ? unlink(w->path.c_str()) == 0
                                          : rename(w->original.c_str(), w->path.c_str()) == 0;
    if (!gone) std::fprintf(stderr, "qovra: %s: %s\n", w->path.c_str(), std::strerror(errno));
  }
  // A folder that holds something else now stays.
  for (auto f = folders_.rbegin(); f != folders_.rend(); ++f) (void)rmdir(f->c_str());
  files_.clear();
  folders_.clear();
}

namespace {

TFolderCopyResult Failure(TCopyFailure failure, const std::string& path, int error) {
  return {failure, path, error};
}

// Bytes to copy and bytes done, for the progress callback.
struct TProgress {
  TProgressProc proc = nullptr;
  void* data = nullptr;
  int64_t total = 0;
  int64_t done = 0;
  void Add(int64_t bytes) {
    done += bytes;
    ReportProgress(proc, data, total, done);
  }
};

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

// Copies the open regular file in to the temporary file out; false with
// errno set (and which side failed in read_failed).
bool CopyBytes(int in, int out, TProgress& progress, bool& read_failed) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      read_failed = true;
      return false;
    }
    if (!WriteAll(out, buffer, static_cast<size_t>(n))) return false;
    progress.Add(n);
  }
}

// The name a file is written under until it is whole, and the second name
// a replaced file keeps until the copy is committed: hidden, and the same
// on every try, so that a try cut short leaves nothing the next one does
// not replace.
std::string WorkingName(const std::string& folder, const std::string& name) {
  return folder + "." + name + ".copying";
}
std::string KeptName(const std::string& folder, const std::string& name) {
  return folder + "." + name + ".replaced";
}

// Keeps the file at target under original as well. A hard link leaves
// target in place all along; a file system without links gets a rename
// (the new file follows at once). False with errno set.
bool KeepOriginal(const std::string& target, const std::string& original) {
  if (unlink(original.c_str()) != 0 && errno != ENOENT) return false;
  if (link(target.c_str(), original.c_str()) == 0) return true;
  if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return false;
  return rename(target.c_str(), original.c_str()) == 0;
}

// Copies the file from as to_folder + name: written under its working
// name, synced when sync says so, and renamed; a file it replaces is kept
// under its kept name until the journal is committed.
TFolderCopyResult CopyFile(const std::string& from, const std::string& to_folder,
                           const std::string& name, bool sync, TCopyJournal& journal,
                           TProgress& progress) {
  // Non-blocking: a pipe planted under a file's name must not hang the copy.
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return Failure(TCopyFailure::kReadFailed, from, errno);
  struct stat st {};
  const int stat_error = fstat(in, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  if (stat_error != 0) {
    close(in);
    return Failure(TCopyFailure::kReadFailed, from, stat_error);
  }
  const std::string target = to_folder + name;
  const std::string working = WorkingName(to_folder, name);
  const int out =
      open(working.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (out < 0) {
    const int error = errno;
    close(in);
    return Failure(TCopyFailure::kWriteFailed, target, error);
  }
  bool read_failed = false;
  bool ok = CopyBytes(in, out, progress, read_failed);
  int error = ok ? 0 : errno;
  close(in);
  if (ok && sync && fsync(out) != 0) {
    ok = false;
    error = errno;
  }
  if (close(out) != 0 && ok) {
    ok = false;
    error = errno;
  }
  std::string original;
  struct stat there {};
  if (ok && lstat(target.c_str(), &there) == 0) {
    original = KeptName(to_folder, name);
    if (!KeepOriginal(target, original)) {
      ok = false;
      error = errno;
      original.clear();
    }
  }
  if (ok && rename(working.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
    if (!original.empty()) (void)rename(original.c_str(), target.c_str());
  }
  if (!ok) {
    unlink(working.c_str());
    return read_failed ? Failure(TCopyFailure::kReadFailed, from, error)
                       : Failure(TCopyFailure::kWriteFailed, target, error);
  }
  journal.FileWritten(target, original);
  return {};
}

// One thing to copy: a folder to make or a file, with its path below the
// target.
struct TPlanEntry {
  std::string source;
  std::string target;  // below the target folder; a folder's ends with "/"
  bool folder = false;
  int64_t size = 0;
  bool last = false;  // under one of last_top_level
};

struct TIdentity {
  dev_t dev;
  ino_t ino;
  bool operator==(const TIdentity& o) const { return dev == o.dev && ino == o.ino; }
};

// The entries of folder other than "." and "..", sorted; false (errno set)
// when it cannot be read.
bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const int error = errno;
  closedir(dir);
  errno = error;
  if (error != 0) return false;
  std::sort(names.begin(), names.end());
  return true;
}

// Walks the source and lists what to copy, following links.
class TPlanner {
 public:
  explicit TPlanner(const TFolderCopyOptions& options) : options_(options) {}

  TFolderCopyResult Plan(const std::string& from) {
    struct stat st {};
    if (stat(from.c_str(), &st) != 0) return Failure(TCopyFailure::kReadFailed, from, errno);
    std::vector<TIdentity> ancestors{{st.st_dev, st.st_ino}};
    return Walk(from, "", ancestors);
  }

  std::vector<TPlanEntry> entries;
  int64_t total = 0;

 private:
  // The top level's names: skipped ones out, the last ones moved to the end.
  void OrderTopLevel(std::vector<std::string>& names) const {
    std::vector<std::string> ordered;
    for (const std::string& name : names) {
      const auto& skip = options_.skip_top_level;
      const auto& last = options_.last_top_level;
      if (std::find(skip.begin(), skip.end(), name) == skip.end() &&
          std::find(last.begin(), last.end(), name) == last.end())
        ordered.push_back(name);
    }
    for (const std::string& name : options_.last_top_level)
      if (std::find(names.begin(), names.end(), name) != names.end()) ordered.push_back(name);
    names.swap(ordered);
  }

  TFolderCopyResult Walk(const std::string& from, const std::string& below,
                         std::vector<TIdentity>& ancestors) {
    std::vector<std::string> names;
    if (!ListFolder(from, names)) return Failure(TCopyFailure::kReadFailed, from, errno);
    if (below.empty()) OrderTopLevel(names);
    for (const std::string& name : names) {
      const std::string source = from + name;
      const auto& last_names = options_.last_top_level;
      if (below.empty())
        last_ = std::find(last_names.begin(), last_names.end(), name) != last_names.end();
      struct stat st {};
      if (lstat(source.c_str(), &st) != 0) return Failure(TCopyFailure::kReadFailed, source, errno);
      if (S_ISLNK(st.st_mode) && stat(source.c_str(), &st) != 0)
        return Failure(TCopyFailure::kBrokenLink, source, errno);
      if (S_ISDIR(st.st_mode)) {
        const TIdentity id{st.st_dev, st.st_ino};
        if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end())
          return Failure(TCopyFailure::kLinkLoop, source, ELOOP);
        entries.push_back({source + "/", below + name + "/", true, 0, last_});
        ancestors.push_back(id);
        TFolderCopyResult inner = Walk(source + "/", below + name + "/", ancestors);
        ancestors.pop_back();
        if (!inner.ok()) return inner;
      } else if (S_ISREG(st.st_mode)) {
        entries.push_back({source, below + name, false, static_cast<int64_t>(st.st_size), last_});
        total += st.st_size;
      }
      // Devices, pipes and sockets hold no mail.
    }
    return {};
  }

  const TFolderCopyOptions& options_;
  bool last_ = false;
};

// Writes everything of the file system that holds folder to the disk;
// false with errno set.
bool SyncFileSystem(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = syncfs(fd) == 0;
  const int error = errno;
  close(fd);
  errno = error;
  return ok;
}

// Makes folder unless it is there; false (errno set) when something else
// is in the way or it cannot be made.
bool MakeFolder(const std::string& path, TCopyJournal& journal) {
  if (mkdir(path.c_str(), 0700) == 0) {
    journal.FolderMade(path);
    return true;
  }
  if (errno != EEXIST) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

}  // namespace

TFolderCopyResult CopyFileInto(const std::string& from, const std::string& to_folder,
                               const std::string& name, TCopyJournal& journal) {
  TProgress none;
  return CopyFile(from, to_folder, name, /*sync=*/true, journal, none);
}

TFolderCopyResult CopyFolderContents(const std::string& from, const std::string& to,
                                     const TFolderCopyOptions& options, TCopyJournal& journal) {
  TPlanner planner(options);
  if (TFolderCopyResult planned = planner.Plan(from); !planned.ok()) return planned;
  TProgress progress{options.progress, options.progress_data, planner.total, 0};
  ReportProgress(progress.proc, progress.data, progress.total, 0);
  if (!MakeFolder(to, journal)) return Failure(TCopyFailure::kWriteFailed, to, errno);
  // The mail files reach the disk together, before the last entries (the
  // databases), each of which is synced on its own: a crash never leaves a
  // last entry without what came before it.
  bool synced = false;
  auto sync_all = [&to, &synced]() {
    synced = true;
    return SyncFileSystem(to);
  };
  for (const TPlanEntry& entry : planner.entries) {
    const std::string target = to + entry.target;
    if (entry.last && !synced && !sync_all()) return Failure(TCopyFailure::kWriteFailed, to, errno);
    if (entry.folder) {
      if (!MakeFolder(target, journal)) return Failure(TCopyFailure::kWriteFailed, target, errno);
      continue;
    }
    struct stat there {};
    if (lstat(target.c_str(), &there) == 0) {
      if (S_ISDIR(there.st_mode)) return Failure(TCopyFailure::kWriteFailed, target, EISDIR);
      if (!options.overwrite) {
        progress.Add(entry.size);
        continue;
      }
    }
    const size_t slash = target.rfind('/');
    TFolderCopyResult copied = CopyFile(entry.source, target.substr(0, slash + 1),
                                        target.substr(slash + 1), entry.last, journal, progress);
    if (!copied.ok()) return copied;
  }
  if (!sync_all()) return Failure(TCopyFailure::kWriteFailed, to, errno);
  return {};
}

}  // namespace qovra
