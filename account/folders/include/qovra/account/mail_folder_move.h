// Moving the logged-in user's data when the mail folder setting changes.
//
// The user's folder is the mail folder + "/" + the own address + "/"
// (startup.h). A new user folder inside the old one, or the old one itself
// reached by another path (a link, a bind mount: the same device and
// inode), is refused with msgMailDirectoryInsideUserFolder before anything
// is asked or written (kOptionsCancelled: the dialog stays open). Otherwise
// the user is asked (msgMailDirectoryChanged, Yes/No/Cancel) what to do
// with the data:
//   Yes    move the data. When the new user folder already holds a mail
//          database or an address book, a second question
//          (msgMailDataExistsIgnoreCopy) decides: Yes uses the data there
//          (a missing database is copied from the old folder) and gives
//          kOptionsExistingData; No copies the old data over it. A new
//          folder without data gets a copy of the old data.
//   No     start with the new folder as it is: a missing database comes
//          from the program's template.
//   Cancel nothing happens (kOptionsCancelled).
// The data is copied into the new folder first (the user's "temp" folder is
// not copied; mail files before the databases, so that a copy cut short
// holds no database), under the shared progress window; the databases are
// opened there, and only then do MailDb, AddrBookDb, UserDir, MessagesDir
// and the temporary folder switch over. Nothing is ever deleted from the
// old folder. When a step fails (msgMailDataCopyFailed names what failed;
// a symbolic link that leads nowhere or into its own folder gives
// msgMailDataLinkNotCopied instead), everything the move wrote into the new
// folder is removed again and files it replaced are put back, the databases
// are opened on the old folder again and the new mail folder setting is
// set back to the old one; the other settings still apply
// (kOptionsApplied). The receive timer is paused while the data moves.
//
// Interface thread only; questions, messages and the progress window go
// through the window seam.
#pragma once

#include <string>

#include "base/records.h"
#include "seam/ui_seam.h"

namespace qovra {

struct TMailFolderChange {
  std::u16string old_maildir;  // the mail folder in use
  std::u16string new_maildir;  // the one chosen; set back to old_maildir on failure
  std::string address;         // the own address; empty when nobody is logged in
  std::string program_dir;     // where the template databases are, with a trailing "/"
  // Told the bytes to copy and the bytes done while data is copied (the
  // window passes ProgressCallback's bar, and keeps itself painted); null
  // for none.
  TProgressProc progress = nullptr;
  void* progress_data = nullptr;
};

// The user folder for a mail folder and an address, with a trailing "/".
std::string UserFolderOf(const std::u16string& maildir, const std::string& address);

// True when the change must be asked about: the address is set, the old
// user folder exists, and the new user folder differs from it (exactly:
// letter case counts).
bool MailFolderChangeNeeded(const TMailFolderChange& change);

// True when new_dir is old_dir (the same device and inode) or lies inside
// it, through links and mounts included; new_dir need not exist yet.
// REQUIRES: both absolute.
bool InsideUserFolder(const std::string& new_dir, const std::string& old_dir);

// Asks and moves as above when MailFolderChangeNeeded; returns
// kOptionsApplied, kOptionsExistingData or kOptionsCancelled. Without a
// needed change it returns kOptionsApplied and changes nothing.
int ChangeMailFolder(TWindowHandle owner, TMailFolderChange& change);

}  // namespace qovra
