// TfrmChangePassword: the modal dialog that changes the user's password.
//
// Online (Session.State 1) OK changes the login password on the server
// (command 162); offline (State 2) it loads the user's keys and signs the
// hash of the new password as the settings' offline password signature
// (offpass), then saves the settings. In any other state OK does nothing
// after the field checks.
//
// Field checks run in order; the first failure shows a warning balloon on
// its field, titled with the window caption, and the dialog stays open:
// current password empty; its hash differs from the session's hash of the
// state (an all-zero hash skips this); new password empty; online, a new
// password under 4 characters (msgPasswordLengthMismatch: the login window
// would refuse it; the offline login takes any non-empty password, so
// offline it is accepted); new password the current one but for ASCII
// letter case; confirmation not exactly the new password. Passwords are
// compared and hashed as Windows-1251 bytes.
//
// Offline with an all-zero OfflinePasswordHash (a key-device login keeps no
// hash) the dialog resets the offline password: the current-password field
// shows msgResetOfflinePassword, is disabled and takes part in no check.
// Offline the caption is msgChangeOfflinePassword.
//
// After a change the session's hash of the state is the new password's, so
// a second change in the same session checks against the new password.
// Failures of the request, the key loading or the signature have been
// reported (or were cancelled by the user) and leave the settings and the
// session as they were. An offline change whose settings file cannot be
// written says so (msgOfflinePasswordNotSaved) and keeps the old offpass
// and hash: the dialog stays open.
//
// Results: 1 changed, 2 cancelled (Cancel, Escape, the close button).
// Secrets: the destructor wipes the three fields. GUI thread only.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace qovra::ui {
class TEditEx;
}

class TfrmChangePassword : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResultChanged = 1;
  static constexpr int kResultCancelled = 2;

  // FormCreate: builds the dialog, applies the language, clears the fields
  // and sets up the offline state from Session.
  explicit TfrmChangePassword(QWidget* owner = nullptr);
  ~TfrmChangePassword() override;

  // True in the offline reset state described above.
  bool ResetsOfflinePassword() const { return reset_offline_; }

  QLabel* imgLogo = nullptr;
  QLabel* lblCurPassword = nullptr;
  QLabel* lblNewPassword = nullptr;
  QLabel* lblConfirmPassword = nullptr;
  qovra::ui::TEditEx* eCurPassword = nullptr;
  qovra::ui::TEditEx* eNewPassword = nullptr;
  qovra::ui::TEditEx* eConfirmPassword = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

 public slots:
  void btnOKClick();
  void reject() override;

 private:
  // The checks in order; false after a balloon.
  bool FieldsPass();
  void ChangeOnline();
  void ChangeOffline();
  void FieldBalloon(qovra::ui::TEditEx* field, const char* key);

  bool reset_offline_ = false;
  bool busy_ = false;
};
