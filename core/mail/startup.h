// The user's folders and databases: what the main block sets up between
// the login and the main window, and takes down again at shut-down.
//
// After a login (Session.State 1 or 2, Session.OwnContact.Email set):
//   UserDir      = mail folder + "/" + own address + "/"
//   MessagesDir  = UserDir + "messages/"      (server_request_folders.h)
//   temporary    = UserDir + "temp/"          (SetTempFolder, temp_files.h)
//   MailDb       = UserDir + "ecm.edb"
//   AddrBookDb   = UserDir + "eca.edb"
// Folders the program creates are mode 0700. The databases are copied from
// the templates in the program's folder on a user's first login and are
// never overwritten afterwards.
//
// Every failure is shown to the user here (message seam, ui_seam.h);
// callers only end the program. Interface thread only.
#pragma once

#include <string>
#include <string_view>

#include "store/sqlite_db.h"

namespace qovra {

// The user's folder with a trailing "/"; empty until SetUpUserData succeeded.
extern std::string UserDir;
// The mail database and the address book of the logged-in user.
extern SqliteDb MailDb;
extern SqliteDb AddrBookDb;

inline constexpr std::string_view kMailDbFileName = "ecm.edb";
inline constexpr std::string_view kAddrBookDbFileName = "eca.edb";

// When the session is online and the settings' last login name differs
// from Session.Login (case counts), stores it and saves the settings. True
// when the settings were saved.
bool StoreLastLogin();

// The mail folder to use, without a trailing "/": Options.Folders.maildir
// when it names an existing folder by an absolute path; otherwise the
// documents folder (GetSpecialFolderW), which is then stored in the settings
// and saved. Empty, with a message shown, when neither gives an absolute
// folder: a relative path (such as an empty setting) never stands for the
// current folder.
std::string ResolveMailFolder();

// True when name can be one folder name: not empty, not "." or "..", at
// most 255 bytes, no "/", no control character. The own address comes from
// the server and is checked with it before it becomes a folder.
bool IsSafeFolderName(std::string_view name);

// Creates UserDir, its "messages/" and its "temp/" under mail_folder for
// the own address (every missing level with mode 0700) and sets UserDir,
// MessagesDir and the temporary folder. On failure a message names the
// folder and nothing is set.
[[nodiscard]] bool MakeUserFolders(const std::string& mail_folder, const std::string& address);

// Copies the templates from program_dir (with a trailing "/") where the
// user has no database yet, then opens MailDb and AddrBookDb on UserDir's
// files. A missing or unreadable template, a failed copy or a database that
// does not open is shown to the user; both databases are then closed.
// REQUIRES: UserDir is set.
[[nodiscard]] bool OpenUserDatabases(const std::string& program_dir);

// Steps after a successful login, in order: StoreLastLogin,
// ResolveMailFolder, MakeUserFolders for Session.OwnContact.Email (refused
// with a message when it is not a safe folder name), the lock of UserDir,
// held until TearDownUserData, and when this process got it, the sweep of
// what a killed run left in the user's folders (SweepUserFolder); then
// OpenUserDatabases. False when a step failed; the program must then end.
[[nodiscard]] bool SetUpUserData(const std::string& program_dir);

// Shut-down of the user's data: empties the user's temporary folder (when
// UserDir is set), closes AddrBookDb, then MailDb, releases UserDir's lock
// and forgets UserDir and MessagesDir.
void TearDownUserData();

}  // namespace qovra
