// Folder and file steps of start-up and shut-down: the private temporary
// folder, emptying folders, and the copying of template databases.
//
// None of these follows a symbolic link found inside a folder: a link is
// removed as a link, never entered. Interface thread only.
#pragma once

#include <string>
#include <string_view>

#include "platform/folder_lock.h"

namespace qovra {

// Deletes everything inside folder (files, links and sub-folders at any
// depth) and keeps folder itself. A link among the entries is deleted, not
// followed; folder itself must not be a link. True when folder exists and
// is empty afterwards.
[[nodiscard]] bool EmptyFolder(const std::string& folder);

// EmptyFolder, then removes folder itself. True when it is gone.
[[nodiscard]] bool RemoveFolderTree(const std::string& folder);

// The start of the private temporary folders' names; mkdtemp adds six
// letters and digits.
inline constexpr std::string_view kPrivateTempPrefix = "qovra-";

// The temporary folder of the process before the login: a new folder of its
// own (mode 0700, made with mkdtemp in the system's temporary folder) that
// becomes the program's temporary folder (SetTempFolder) while this object
// lives. The process holds the folder's lock (folder_lock.h) as long, so a
// later start can tell the folder of a killed copy from a running one's
// (SweepPrivateTempFolders). The destructor removes it with everything in
// it, and restores the default temporary folder when the program's folder
// still points there.
class TPrivateTempFolder {
 public:
  TPrivateTempFolder();
  ~TPrivateTempFolder();
  TPrivateTempFolder(const TPrivateTempFolder&) = delete;
  TPrivateTempFolder& operator=(const TPrivateTempFolder&) = delete;

  // False when the folder could not be made (the temporary folder is then
  // unchanged).
  bool Valid() const { return !path_.empty(); }
  // The folder with a trailing "/"; empty when not Valid.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  TFolderLock lock_;
};

// What EnsureDatabaseFile did.
enum class DatabaseFileResult {
  Existing,         // db_path existed and was left as it is
  Copied,           // the template was copied to db_path
  TemplateMissing,  // no readable template that is an SQLite database
  CopyFailed        // the copy could not be written; db_path does not exist
};

// Makes sure a database file exists at db_path: when there is none, the
// template is copied there (written to a temporary name with mode 0600 and
// renamed, so no half-written database is ever left). An existing file is
// never touched.
[[nodiscard]] DatabaseFileResult EnsureDatabaseFile(const std::string& template_path,
                                                    const std::string& db_path);

}  // namespace qovra
