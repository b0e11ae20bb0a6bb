// Moving the logged-in user's data when the mail folder setting changes.
//
// The user's folder is the mail folder + "/" + the own address + "/"
// (startup.h). When it changes, the user is asked (msgMailDirectoryChanged,
// Yes/No/Cancel) what to do with the data:
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
// not copied), the databases are opened there, and only then do MailDb,
// AddrBookDb, UserDir, MessagesDir and the temporary folder switch over.
// Nothing is ever deleted from the old folder. When a step fails, a message
// names what failed, the databases are opened on the old folder again and
// the new mail folder setting is set back to the old one. The receive timer
// is paused while the data moves.
//
// Interface thread only; questions and messages go through the message seam.
#pragma once

#include <string>

#include "seam/ui_seam.h"

namespace qovra {

struct TMailFolderChange {
  std::u16string old_maildir;  // the mail folder in use
  std::u16string new_maildir;  // the one chosen; set back to old_maildir on failure
  std::string address;         // the own address; empty when nobody is logged in
  std::string program_dir;     // where the template databases are, with a trailing "/"
};

// The user folder for a mail folder and an address, with a trailing "/".
std::string UserFolderOf(const std::u16string& maildir, const std::string& address);

// True when the change must be asked about: the address is set, the old
// user folder exists, and the new user folder differs from it (exactly:
// letter case counts).
bool MailFolderChangeNeeded(const TMailFolderChange& change);

// Asks and moves as above when MailFolderChangeNeeded; returns
// kOptionsApplied, kOptionsExistingData or kOptionsCancelled. Without a
// needed change it returns kOptionsApplied and changes nothing.
int ChangeMailFolder(TWindowHandle owner, TMailFolderChange& change);

}  // namespace qovra
