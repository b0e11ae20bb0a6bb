// Copying a folder's content into another folder, undone when it fails.
//
// A copy first walks the whole source and makes a list of what it will
// copy; only then is anything written. Symbolic links are copied as what
// they point to (a linked folder becomes a folder, a linked file a file);
// a link that leads nowhere, or to a folder that holds it, stops the copy
// before anything is written. Devices, pipes and sockets are not copied.
//
// Everything a copy writes is noted in a TCopyJournal, which removes it
// again unless the caller commits: files it wrote, files it replaced (put
// back as they were) and folders it made. What was in the target before
// and is not replaced stays untouched.
//
// Interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/records.h"

namespace qovra {

// Why a copy stopped.
enum class TCopyFailure {
  kNone,
  kReadFailed,   // a source file or folder could not be read
  kWriteFailed,  // a target file or folder could not be made or written
  kBrokenLink,   // a symbolic link leads nowhere
  kLinkLoop,     // a symbolic link (or a mount) leads to a folder that holds it
};

struct TFolderCopyResult {
  TCopyFailure failure = TCopyFailure::kNone;
  std::string path;  // the source or target that failed
  int error = 0;     // errno of the failing call; 0 when there was none
  bool ok() const { return failure == TCopyFailure::kNone; }
};

// What one or more copies wrote. Undone on destruction unless committed,
// like a transaction.
class TCopyJournal {
 public:
  TCopyJournal() = default;
  ~TCopyJournal();
  TCopyJournal(const TCopyJournal&) = delete;
  TCopyJournal& operator=(const TCopyJournal&) = delete;

  // Keeps what was written and drops the kept originals of replaced files.
  void Commit();
  // Removes the files written, puts replaced files back and removes the
  // folders made (deepest first, each only when empty). Nothing is left to
  // commit or undo afterwards.
  void Undo();

  // Notes a folder made; folders are removed in the reverse order of notes.
  void FolderMade(const std::string& path);
  // Notes a file written at path; original names where the file it
  // replaced was kept (empty when nothing was replaced).
  void FileWritten(const std::string& path, const std::string& original);

 private:
  struct Written {
    std::string path;
    std::string original;
  };
  std::vector<Written> files_;
  std::vector<std::string> folders_;
};

struct TFolderCopyOptions {
  // Replace files that already exist in the target (else they are kept).
  bool overwrite = true;
  // Names of entries directly in the source folder that are not copied.
  std::vector<std::string> skip_top_level;
  // Names of entries directly in the source folder copied after all the
  // others, in this order (a copy cut short by a crash then lacks them).
  std::vector<std::string> last_top_level;
  // Told the total number of bytes to copy (done 0), then the bytes done.
  TProgressProc progress = nullptr;
  void* progress_data = nullptr;
};

// Copies every file and sub-folder of from into to, at any depth, in name
// order (but for last_top_level). Missing folders are made with mode 0700;
// each file is written under a hidden working name beside its target
// ("." + name + ".copying", mode 0600) and renamed; a file it replaces
// keeps a second name ("." + name + ".replaced") until the journal is
// committed or undone. Those names are the same on every try, so what a
// try cut short by a crash left is replaced by the next. The target's file
// system is synced once before the last_top_level entries, each of which is
// synced on its own, and once at the end. The source is never changed.
// Stops at the first failure and says what failed and why; what this copy
// wrote is in journal, for the caller to commit or undo. REQUIRES: from and
// to end with "/".
[[nodiscard]] TFolderCopyResult CopyFolderContents(const std::string& from, const std::string& to,
                                                   const TFolderCopyOptions& options,
                                                   TCopyJournal& journal);

// Copies the file from (a link is followed) as to_folder + name the same
// way, synced, replacing a file there, and notes it in journal. REQUIRES: to_folder
// ends with "/" and exists.
[[nodiscard]] TFolderCopyResult CopyFileInto(const std::string& from, const std::string& to_folder,
                                             const std::string& name, TCopyJournal& journal);

}  // namespace qovra
