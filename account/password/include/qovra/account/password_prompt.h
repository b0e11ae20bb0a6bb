// The password prompt: a small modal window that asks for one secret text.
//
// Its mode decides what OK does once the text is not blank:
//   0      re-authentication: the window runs the short login
//          (ReauthenticateSession, login_command.h) with the typed password
//          and closes with 1 only when it succeeded; after the third failed
//          attempt it closes with 2.
//   other  plain asking (the callers pass 2: key-file password, key-device
//          PIN): the window closes with 1.
// A text of blanks only is refused with a balloon on ePassword; the window
// stays. The text is never trimmed. Cancel, Escape and the window's close
// button give 2.
//
// Secrets: the typed text lives in ePassword until the window is destroyed;
// the destructor wipes the edit's buffer (unless the caller still holds a
// copy of text(), which stays valid) and clears it. Callers read the text
// after Execute and before destroying the window, and wipe their own copy.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>

#include "seam/ui_seam.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace qovra::ui {
class TEditEx;
}

class TfrmPassword : public QDialog {
  Q_OBJECT

 public:
  // Builds the window, applies the language and sets the password character
  // U+25CF (TntFormCreate). owner may be null.
  explicit TfrmPassword(QWidget* owner = nullptr);
  // Wipes and clears ePassword.
  ~TfrmPassword() override;

  // Sets the caption, the prompt and the picture (the PNG resource
  // icon_name; none when there is no such resource), stores mode, shows the
  // window modally and returns its result: 1 accepted, 2 cancelled (or, in
  // mode 0, three failed attempts). The typed text stays in ePassword.
  int Execute(const QString& caption, const QString& prompt, uint8_t mode,
              const QString& icon_name);

  uint8_t Mode() const { return mode_; }
  // Failed re-authentication attempts of this window (its own count).
  int PasswordFailures() const { return password_failures_; }

  QLabel* imgLogo;
  QLabel* lblPassword;
  qovra::ui::TEditEx* ePassword;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 public slots:
  // Checks the text and runs the action of the mode.
  void btnOKClick();
  void reject() override;

 private:
  // Mode 0: the server-settings loop, then the login request.
  void Reauthenticate();

  uint8_t mode_ = 2;
  int password_failures_ = 0;
  bool busy_ = false;
};

namespace qovra::ui {

// The core's password-prompt seam served by TfrmPassword. Install it with
// qovra::SetPasswordPromptUi for as long as it lives.
class TPasswordPromptUi : public qovra::IPasswordPromptUi {
 public:
  // Mode 2 over owner (null: the active window); the typed text as UTF-8,
  // untrimmed, or nothing when cancelled.
  std::optional<std::string> AskSecret(qovra::TWindowHandle owner, const std::string& caption,
                                       const std::string& prompt,
                                       const std::string& icon_name) override;
  // Mode 0 over owner (null: the active window); the window's result. The
  // window holds a TLoginOpenMark while it runs, so an expired session
  // reported to its own request counts as one of its failures instead of
  // opening a prompt inside the prompt.
  int Reauthenticate(qovra::TWindowHandle owner, const std::string& caption,
                     const std::string& prompt, const std::string& icon_name) override;
};

}  // namespace qovra::ui
