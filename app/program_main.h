// The program's main block: from process start to the main window, and the
// shut-down after it closes.
//
// Start-up, each step only when those before it succeeded:
//   1. the random pool takes its first entropy poll;
//   2. settings (InitAppSettings with the program's path) and the message
//      texts of the chosen language;
//   3. the private temporary folder of the process (mode 0700), the
//      temporary folder until the login;
//   4. the dialog sounds are unpacked into it;
//   5. the single-instance guard: a second copy activates the first and
//      ends here; the only copy removes the private temporary folders
//      that killed copies left (SweepPrivateTempFolders);
//   6. the shared progress window and the receive timer (2000 ms,
//      disabled); the list of started programs; the settings dialog;
//   7. the login window (ShowLoginDialog); cancelled: shut-down;
//   8. the user's data (startup.h): last login saved, mail folder, user
//      folders and what a killed run left in them swept, databases copied
//      from the templates where missing and opened;
//   9. the main window TfrmMain; the event loop runs until it closes.
// Shut-down, whatever step was reached: the main window is freed; started
// programs still running are ended; the user's temporary folder is emptied,
// the address book and the mail database are closed; the timer and the
// progress window are freed; the dialog sounds are deleted; the private
// temporary folder is removed; the random pool and the session's secrets
// are wiped; the instance lock is released.
//
// An exception that escapes a step, or an event handler while a window
// runs, takes the same shut-down; then its reason goes to stderr and the
// user reads "msgUnexpectedError".
//
// REQUIRES: a QApplication exists. GUI thread only.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "seam/ui_seam.h"
#include "settings/settings.h"

class TfrmMain;

namespace qovra::app {

// How the main block ended.
enum class ProgramEnd {
  MainWindowClosed,  // the normal end
  AnotherCopy,       // another copy runs and was brought forward
  GuardFailed,       // the single-instance guard could not be set up (shown)
  NoTempFolder,      // the private temporary folder could not be made (shown)
  LoginCancelled,    // the login window closed without a session
  UserDataFailed,    // the user's folders or databases failed (shown)
  UnexpectedError,   // an exception ended the steps (shown)
};

// The process exit code for an end: 0 for the normal ends, 1 for failures.
int ExitCodeOf(ProgramEnd end);

// Where the main block takes its parts from; the defaults are the
// program's own, tests put in their own.
struct TProgramSetup {
  // The program's path (its folder holds lang/, the templates and the
  // helper programs); empty: the running program (/proc/self/exe).
  std::string program_path;
  // Where the settings file lives; unset: LocateSettingsFile.
  std::optional<TSettingsPaths> settings;
  // Folder of the instance lock and socket; empty: InstanceFolder().
  std::string instance_folder;
  // The message seam; null: the message dialog.
  IMessageUi* message_ui = nullptr;
  // The login window; null: the program's own (TfrmLogin).
  ILoginDialogUi* login_ui = nullptr;
  // The program that opens documents.
  std::string document_opener = "xdg-open";
  // Called once the main window is shown (tests close it from here).
  std::function<void(TfrmMain&)> on_main_window;
};

// ProgramMain: runs the program as described above.
ProgramEnd ProgramMain(const TProgramSetup& setup = {});

}  // namespace qovra::app
