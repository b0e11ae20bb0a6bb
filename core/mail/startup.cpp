#include "mail/startup.h"

#include <sys/stat.h>

#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "mail/startup_files.h"
#include "mail/startup_sweep.h"
#include "net/server_request_folders.h"
#include "platform/file_utils.h"
#include "platform/folder_lock.h"
#include "platform/temp_files.h"
#include "settings/settings.h"

namespace qovra {

std::string UserDir;
SqliteDb MailDb;
SqliteDb AddrBookDb;

namespace {

// Held on UserDir while this process uses it.
TFolderLock& UserFolderLock() {
  static TFolderLock lock;
  return lock;
}

// An error box with the text of key and, on a line of its own, what it is
// about (a path or an address).
void ShowFailure(std::string_view key, std::string_view subject) {
  std::string text = GetMsg(key);
  if (!subject.empty()) text += "\n" + std::string(subject);
  (void)ShowMessageText(nullptr, text, kMsgIconError);
}

bool IsAbsoluteFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && path[0] == '/' && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Copies the template of name when needed and opens db on the user's file.
bool OpenOne(const std::string& program_dir, std::string_view name, SqliteDb& db) {
  const std::string template_path = program_dir + std::string(name);
  const std::string db_path = UserDir + std::string(name);
  switch (EnsureDatabaseFile(template_path, db_path)) {
    case DatabaseFileResult::Existing:
    case DatabaseFileResult::Copied:
      break;
    case DatabaseFileResult::TemplateMissing:
      ShowFailure("msgTemplateDatabaseMissing", template_path);
      return false;
    case DatabaseFileResult::CopyFailed:
      ShowFailure("msgDatabaseCopyFailed", db_path);
      return false;
  }
  if (!db.Open(db_path)) {
    ShowFailure("msgDatabaseOpenFailed", db.LastError());
    return false;
  }
  return true;
}

}  // namespace

bool StoreLastLogin() {
  if (Session.State != 1) return false;
  const std::string login(Session.Login.view());
  if (Options.Other.lastlgn == login) return false;
  Options.Other.lastlgn = login;
  return SaveOptions();
}

std::string ResolveMailFolder() {
  const std::string configured = WithoutSlash(Utf16ToUtf8(Options.Folders.maildir));
  if (IsAbsoluteFolder(configured)) return configured;
  const std::string documents = WithoutSlash(Utf16ToUtf8(GetSpecialFolderW(kCsidlPersonal)));
  if (!IsAbsoluteFolder(documents)) {
    ShowFailure("msgMailFolderNotFound", configured);
    return {};
  }
  Options.Folders.maildir = Utf8ToUtf16(documents);
  (void)SaveOptions();  // unsaved, the same reset simply happens at the next start
  return documents;
}

bool IsSafeFolderName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

bool MakeUserFolders(const std::string& mail_folder, const std::string& address) {
  const std::string user_dir = IncludeTrailingBackslashA(mail_folder) + address + "/";
  const std::string messages_dir = user_dir + "messages/";
  const std::string temp_dir = user_dir + "temp/";
  for (const std::string& folder : {messages_dir, temp_dir}) {
    if (!ForceDirectoriesW(Utf8ToUtf16(folder))) {
      ShowFailure("msgCannotCreateFolder", folder);
      return false;
    }
  }
  UserDir = user_dir;
  MessagesDir = messages_dir;
  SetTempFolder(temp_dir);
  return true;
}

bool OpenUserDatabases(const std::string& program_dir) {
  const std::string dir = IncludeTrailingBackslashA(program_dir);
  if (OpenOne(dir, kMailDbFileName, MailDb) && OpenOne(dir, kAddrBookDbFileName, AddrBookDb)) {
    return true;
  }
  AddrBookDb.Close();
  MailDb.Close();
  return false;
}

bool SetUpUserData(const std::string& program_dir) {
  (void)StoreLastLogin();
  const std::string mail_folder = ResolveMailFolder();
  if (mail_folder.empty()) return false;
  const std::string& address = Session.OwnContact.Email;
  if (!IsSafeFolderName(address)) {
    ShowFailure("msgInvalidOwnAddress", address);
    return false;
  }
  if (!MakeUserFolders(mail_folder, address)) return false;
  // What a killed run left goes, unless another copy (another desktop
  // user, another machine on a shared folder) uses the folder now.
  if (UserFolderLock().TryLock(UserDir) == TFolderLock::Result::Acquired) SweepUserFolder(UserDir);
  return OpenUserDatabases(program_dir);
}

void TearDownUserData() {
  if (!UserDir.empty()) {
    const std::string temp_dir = UserDir + "temp/";
    (void)EmptyFolder(temp_dir);
    if (GetTempFolder() == temp_dir) SetTempFolder("");
  }
  AddrBookDb.Close();
  MailDb.Close();
  UserFolderLock().Release();
  UserDir.clear();
  MessagesDir.clear();
}

}  // namespace qovra
