#include "qovra/account/mail_folder_move.h"

#include <sys/stat.h>

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

// Fills the new user folder as mode says; false (with a message) on failure.
bool FillNewFolder(TWindowHandle owner, TMoveMode mode, const std::string& old_dir,
                   const std::string& new_dir) {
  std::string failed;
  switch (mode) {
    case TMoveMode::UseExisting:
      for (std::string_view name : {kMailDbFileName, kAddrBookDbFileName}) {
        const std::string target = new_dir + std::string(name);
        // Without one in either folder, the template fills in later.
        if (IsFile(target) || !IsFile(old_dir + std::string(name))) continue;
        if (!CopyFileInto(old_dir + std::string(name), new_dir, std::string(name))) {
          ShowFailure(owner, "msgMailDataCopyFailed", target);
          return false;
        }
      }
      return true;
    case TMoveMode::CopyAll:
      if (!CopyFolderContents(old_dir, new_dir, {/*overwrite=*/true, {"temp"}}, &failed)) {
        ShowFailure(owner, "msgMailDataCopyFailed", failed);
        return false;
      }
      return true;
    case TMoveMode::StartEmpty:
      return true;
  }
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

int ChangeMailFolder(TWindowHandle owner, TMailFolderChange& change) {
  if (!MailFolderChangeNeeded(change)) return kOptionsApplied;
  const std::string old_dir = UserFolderOf(change.old_maildir, change.address);
  const std::string new_folder = MailFolderPath(change.new_maildir);
  const std::string new_dir = UserFolderOf(change.new_maildir, change.address);

  const int answer = AskYesNoCancel(owner, "msgMailDirectoryChanged");
  if (answer != kMsgResultYes && answer != kMsgResultNo) return kOptionsCancelled;

  auto give_up = [&change] {
    change.new_maildir = change.old_maildir;
    return kOptionsApplied;
  };
  // A relative path would name a folder under whatever the current one is.
  if (new_folder.empty() || new_folder[0] != '/' || !ForceDirectoriesW(Utf8ToUtf16(new_dir))) {
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
  if (FillNewFolder(owner, mode, old_dir, new_dir) && MakeUserFolders(new_folder, change.address) &&
      OpenUserDatabases(change.program_dir)) {
    return mode == TMoveMode::UseExisting ? kOptionsExistingData : kOptionsApplied;
  }
  UserDir = old_dir;
  MessagesDir = old_messages;
  SetTempFolder(old_temp);
  (void)OpenUserDatabases(change.program_dir);
  return give_up();
}

}  // namespace qovra
