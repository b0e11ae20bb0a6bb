#include "qovra/account/mail_folder_move.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/messages.h"
#include "base/utf.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "platform/file_utils.h"
#include "platform/temp_files.h"
#include "qovra/account/folder_copy.h"

namespace qovra {
namespace {

enum class TMoveMode {
  UseExisting,  // keep the new folder's data, fill in a missing database
  CopyAll,      // copy the old data over
  StartEmpty    // the new folder as it is, templates where a database is missing
};

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void ShowFailure(TWindowHandle owner, std::string_view key, const std::string& subject) {
  (void)ShowMessageText(owner, GetMsg(key) + "\n" + subject, kMsgIconError);
}

// The mail folder without trailing "/"s.
std::string MailFolderPath(const std::u16string& maildir) {
  std::string path = Utf16ToUtf8(maildir);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The folder above path (without trailing "/"); "/" above a top level.
std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

// Notes in journal the levels of folder (with a trailing "/") that do not
// exist yet, top first, so that undoing removes what making it made.
void NoteMissingLevels(const std::string& folder, TCopyJournal& journal) {
  std::vector<std::string> missing;
  for (std::string level = folder.substr(0, folder.size() - 1); level != "/" && !level.empty();
       level = ParentOf(level)) {
    struct stat st {};
    if (lstat(level.c_str(), &st) == 0) break;
    missing.push_back(level);
  }
  for (auto level = missing.rbegin(); level != missing.rend(); ++level) journal.FolderMade(*level);
}

// The message for a copy that stopped, and what it names.
void ShowCopyFailure(TWindowHandle owner, const TFolderCopyResult& result) {
  if (result.error != 0)
    std::fprintf(stderr, "qovra: %s: %s\n", result.path.c_str(), std::strerror(result.error));
  const bool link =
      result.failure == TCopyFailure::kBrokenLink || result.failure == TCopyFailure::kLinkLoop;
  ShowFailure(owner, link ? "msgMailDataLinkNotCopied" : "msgMailDataCopyFailed", result.path);
}

// Fills the new user folder as mode says, under the progress window;
// false (with a message) on failure. What it wrote goes into journal.
bool FillNewFolder(TWindowHandle owner, TMoveMode mode, const TMailFolderChange& change,
                   const std::string& old_dir, const std::string& new_dir, TCopyJournal& journal) {
  if (mode == TMoveMode::StartEmpty) return true;
  ShowProgress(owner, true, GetMsg("msgMovingMailData"), new_dir);
  TFolderCopyResult result;
  if (mode == TMoveMode::UseExisting) {
    for (std::string_view name : {kMailDbFileName, kAddrBookDbFileName}) {
      // Without one in either folder, the template fills in later.
      if (IsFile(new_dir + std::string(name)) || !IsFile(old_dir + std::string(name))) continue;
      result = CopyFileInto(old_dir + std::string(name), new_dir, std::string(name), journal);
      if (!result.ok()) break;
    }
  } else {
    TFolderCopyOptions options;
    options.skip_top_level = {"temp"};
    options.last_top_level = {std::string(kAddrBookDbFileName), std::string(kMailDbFileName)};
    options.progress = change.progress;
    options.progress_data = change.progress_data;
    result = CopyFolderContents(old_dir, new_dir, options, journal);
  }
  HideProgress(owner, false);
  if (result.ok()) return true;
  ShowCopyFailure(owner, result);
  return false;
}

}  // namespace

std::string UserFolderOf(const std::u16string& maildir, const std::string& address) {
  return IncludeTrailingBackslashA(MailFolderPath(maildir)) + address + "/";
}

bool MailFolderChangeNeeded(const TMailFolderChange& change) {
  if (change.address.empty()) return false;
  const std::string old_dir = UserFolderOf(change.old_maildir, change.address);
  return IsFolder(old_dir) && UserFolderOf(change.new_maildir, change.address) != old_dir;
}

bool InsideUserFolder(const std::string& new_dir, const std::string& old_dir) {
  struct stat old_st {};
  if (stat(old_dir.c_str(), &old_st) != 0) return false;
  // The deepest level of new_dir that exists: the levels below it would be
  // made inside it.
  std::string path = std::filesystem::path(new_dir).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st {};
  while (stat(path.c_str(), &st) != 0) {
    if (path == "/" || path.empty()) return false;
    path = ParentOf(path);
  }
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return false;
  std::string level = real;
  free(real);
  // Each level up to the root, each compared as a file-system object.
  for (;;) {
    if (stat(level.c_str(), &st) == 0 && st.st_dev == old_st.st_dev && st.st_ino == old_st.st_ino)
      return true;
    if (level == "/") return false;
    level = ParentOf(level);
  }
}

int ChangeMailFolder(TWindowHandle owner, TMailFolderChange& change) {
  if (!MailFolderChangeNeeded(change)) return kOptionsApplied;
  const std::string old_dir = UserFolderOf(change.old_maildir, change.address);
  const std::string new_folder = MailFolderPath(change.new_maildir);
  const std::string new_dir = UserFolderOf(change.new_maildir, change.address);
  const bool absolute = !new_folder.empty() && new_folder[0] == '/';
  if (absolute && InsideUserFolder(new_dir, old_dir)) {
    ShowFailure(owner, "msgMailDirectoryInsideUserFolder", new_dir);
    return kOptionsCancelled;
  }

  const int answer = AskYesNoCancel(owner, "msgMailDirectoryChanged");
  if (answer != kMsgResultYes && answer != kMsgResultNo) return kOptionsCancelled;

  auto give_up = [&change] {
    change.new_maildir = change.old_maildir;
    return kOptionsApplied;
  };
  // What the move makes in the new folder goes again when it fails.
  TCopyJournal journal;
  NoteMissingLevels(new_dir, journal);
  for (const char* sub : {"messages", "temp"}) {
    struct stat st {};
    if (lstat((new_dir + sub).c_str(), &st) != 0) journal.FolderMade(new_dir + sub);
  }
  // A relative path would name a folder under whatever the current one is.
  if (!absolute || !ForceDirectoriesW(Utf8ToUtf16(new_dir))) {
    ShowFailure(owner, "msgCannotCreateFolder", new_dir);
    return give_up();
  }
  TMoveMode mode = TMoveMode::StartEmpty;
  if (answer == kMsgResultYes) {
    const bool has_data = IsFile(new_dir + std::string(kMailDbFileName)) ||
                          IsFile(new_dir + std::string(kAddrBookDbFileName));
    mode = has_data && AskYesNo(owner, "msgMailDataExistsIgnoreCopy") ? TMoveMode::UseExisting
                                                                      : TMoveMode::CopyAll;
  }

  TReceiveTimerPause pause;
  const std::string old_messages = MessagesDir;
  const std::string old_temp = GetTempFolder();
  AddrBookDb.Close();
  MailDb.Close();
  // MakeUserFolders and OpenUserDatabases show their own failures.
  if (FillNewFolder(owner, mode, change, old_dir, new_dir, journal) &&
      MakeUserFolders(new_folder, change.address) && OpenUserDatabases(change.program_dir)) {
    journal.Commit();
    return mode == TMoveMode::UseExisting ? kOptionsExistingData : kOptionsApplied;
  }
  // Nothing in the new folder stays open while its copy goes.
  AddrBookDb.Close();
  MailDb.Close();
  journal.Undo();
  UserDir = old_dir;
  MessagesDir = old_messages;
  SetTempFolder(old_temp);
  (void)OpenUserDatabases(change.program_dir);
  return give_up();
}

}  // namespace qovra
