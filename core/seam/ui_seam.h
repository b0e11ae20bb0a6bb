// The seam through which the core reaches windows.
//
// The core shows messages, drives the progress window, pauses the receive
// timer and opens the password prompt, the settings dialog and the login
// window only through these interfaces. The GUI installs its
// implementations at start-up; tests install recording fakes
// (qovra/testing/fake_ui.h). While nothing is installed, a headless default
// is used: messages go to stderr and are answered with kMsgResultCancel,
// progress is ignored, the timer reads as disabled, and every prompt and
// dialog (the duplicate-contact question too) reads as cancelled.
//
// Texts are UTF-8. All calls come from the interface thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qovra {

// An owner window as the GUI knows it; the core only passes it through.
// Null means "no particular window".
using TWindowHandle = void*;

// Message dialog flags: one icon and one button set, added together. The
// button bits are the dialog's own (8 is tested before 4), not the system
// message box's: e.g. 36 = question + Yes/No, 40 = question + Yes/No/Cancel.
constexpr int kMsgIconError = 16;        // 0x10
constexpr int kMsgIconQuestion = 32;     // 0x20
constexpr int kMsgIconWarning = 48;      // 0x30
constexpr int kMsgIconInformation = 64;  // 0x40
constexpr int kMsgButtonsOk = 0;
constexpr int kMsgButtonsYesNo = 4;
constexpr int kMsgButtonsYesNoCancel = 8;

// Message dialog results.
constexpr int kMsgResultOk = 1;
constexpr int kMsgResultCancel = 2;
constexpr int kMsgResultYes = 6;
constexpr int kMsgResultNo = 7;

class IMessageUi {
 public:
  virtual ~IMessageUi() = default;
  // Shows the modal message dialog over owner and returns the chosen result
  // (kMsgResult*; Esc gives kMsgResultCancel). The captions are final texts;
  // an empty caption hides its button.
  virtual int ShowMsgDialog(TWindowHandle owner, const std::string& text, int flags,
                            const std::string& ok_caption, const std::string& no_caption,
                            const std::string& cancel_caption) = 0;
  // The window that is active now, and the active form's window: the owners
  // used when a caller names none.
  virtual TWindowHandle ActiveWindow() = 0;
  virtual TWindowHandle ActiveFormWindow() = 0;
};

class IProgressUi {
 public:
  virtual ~IProgressUi() = default;
  // Shows the shared progress window with a title and a status line, with
  // or without its bar.
  virtual void ShowProgress(TWindowHandle owner, bool show_bar, const std::string& title,
                            const std::string& status) = 0;
  // Hides it unless keep is true.
  virtual void HideProgress(TWindowHandle owner, bool keep) = 0;
  // Moves a bar: bar is the data pointer that the caller gave along with
  // ProgressCallback.
  virtual void ReportProgress(void* bar, int64_t total, int64_t done) = 0;
};

class IReceiveTimer {
 public:
  virtual ~IReceiveTimer() = default;
  virtual bool IsEnabled() = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

// The password window (TfrmPassword) in its two uses.
class IPasswordPromptUi {
 public:
  virtual ~IPasswordPromptUi() = default;
  // Plain asking mode: shows the prompt over owner with caption, prompt
  // text and the icon resource icon_name, and returns the text typed (UTF-8,
  // untrimmed, never blank), or nothing when the user cancelled.
  virtual std::optional<std::string> AskSecret(TWindowHandle owner, const std::string& caption,
                                               const std::string& prompt,
                                               const std::string& icon_name) = 0;
  // Re-authentication mode: the window runs the short login
  // (ReauthenticateSession, login_command.h) with each password the user
  // confirms. Returns the window's result: 1 once a login succeeded, 2 when
  // the user cancelled or after the third refusal.
  virtual int Reauthenticate(TWindowHandle owner, const std::string& caption,
                             const std::string& prompt, const std::string& icon_name) = 0;
};

// Results of the settings dialog.
constexpr int kOptionsApplied = 1;       // OK: Options changed as the user set it
constexpr int kOptionsCancelled = 2;     // cancelled; Options unchanged
constexpr int kOptionsExistingData = 8;  // OK, and the mail folder switched to data that was there

// The settings dialog (TfrmOptions).
class ISettingsDialogUi {
 public:
  virtual ~ISettingsDialogUi() = default;
  // Shows the dialog modally over owner with the pages of page_mask (bit n
  // shows page n: 0 connection, 1 keys, 2 interface, 3 folders, 4 mail; -1
  // all) and lets the user edit Options. Returns kOptionsApplied,
  // kOptionsExistingData or kOptionsCancelled; the dialog itself does what
  // its OK does to Options, the caller saves them.
  virtual int ShowOptions(TWindowHandle owner, int page_mask) = 0;
  // Applies the current language file to window (captions and hints).
  virtual void ApplyLanguageToWindow(TWindowHandle window) = 0;
};

// The login window (TfrmLogin).
class ILoginDialogUi {
 public:
  virtual ~ILoginDialogUi() = default;
  // Shows the login window modally with the application as owner and
  // returns its result: 1 when it closed with the session online or
  // offline, 2 when the user gave up.
  virtual int ShowLoginWindow() = 0;
};

// What a receiving run signals besides messages and progress. Headless
// default: the application reads as active and shown, the rest does nothing.
class IReceiveNotices {
 public:
  virtual ~IReceiveNotices() = default;
  // Whether the application is the active one (no new-mail sound then).
  virtual bool ApplicationActive() = 0;
  // Whether the main window is hidden in the tray.
  virtual bool MainWindowHidden() = 0;
  // Plays the new-mail sound file.
  virtual void PlaySoundFile(const std::u16string& path) = 0;
  // Shows the tray balloon with the information icon for timeout_ms.
  virtual void ShowTrayNotice(const std::string& title, const std::string& text,
                              int timeout_ms) = 0;
  // Recounts the folders' mails and selects folder_id.
  virtual void RefreshFolders(int32_t folder_id) = 0;
};

// The address book's duplicate-contact question (TfrmDupMsg). Headless
// default: cancelled (2).
class IDupDialogUi {
 public:
  virtual ~IDupDialogUi() = default;
  // Asks over owner (null: the active window) what to do with a contact
  // whose address is already in the group; text is the whole question.
  // Returns 50 replace, 51 replace all, 52 skip, 53 skip all or 2 cancel
  // (also Escape).
  virtual int ShowDupDialog(TWindowHandle owner, const std::string& text) = 0;
};

// Installs an implementation; null restores the headless default. The
// caller keeps ownership and must keep it alive while it is installed.
void SetMessageUi(IMessageUi* ui);
void SetProgressUi(IProgressUi* ui);
void SetReceiveTimer(IReceiveTimer* timer);
void SetPasswordPromptUi(IPasswordPromptUi* ui);
void SetSettingsDialogUi(ISettingsDialogUi* ui);
void SetLoginDialogUi(ILoginDialogUi* ui);
void SetReceiveNotices(IReceiveNotices* notices);
void SetDupDialogUi(IDupDialogUi* ui);

// The installed implementation (or the headless default); never null.
// MessageUi() answers through a counter in front of it (MessageDialogsOpen).
IMessageUi& MessageUi();
IProgressUi& ProgressUi();
IReceiveTimer& ReceiveTimer();
IPasswordPromptUi& PasswordPromptUi();
ISettingsDialogUi& SettingsDialogUi();
ILoginDialogUi& LoginDialogUi();
IReceiveNotices& ReceiveNotices();
IDupDialogUi& DupDialogUi();

// How many message dialogs shown through MessageUi() are open now (a
// dialog opened from inside another counts too).
int MessageDialogsOpen();

// Forwarders to the installed progress implementation.
void ShowProgress(TWindowHandle owner, bool show_bar, const std::string& title,
                  const std::string& status);
void HideProgress(TWindowHandle owner, bool keep);

// The program's TProgressProc: forwards to IProgressUi::ReportProgress with
// data as the bar.
void ProgressCallback(void* data, int64_t total, int64_t done);

// Disables the receive timer while it lives, when it was enabled, and
// enables it again on destruction.
class TReceiveTimerPause {
 public:
  TReceiveTimerPause();
  ~TReceiveTimerPause();
  TReceiveTimerPause(const TReceiveTimerPause&) = delete;
  TReceiveTimerPause& operator=(const TReceiveTimerPause&) = delete;
  bool WasEnabled() const { return was_enabled_; }

 private:
  bool was_enabled_;
};

}  // namespace qovra
