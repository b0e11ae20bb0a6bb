// TfrmLogin: the modal window with which a session begins.
//
// It closes with result 1 once Session is online (State 1) or offline
// (State 2), and with 2 when the user gives up (Escape, the window's close
// button) or after the third failed attempt. Online it runs the
// server-settings loop, checks the fields and sends the login
// (LoginSession, login_command.h), which fills Session, makes the session
// key when none exists and writes the offline password signature once.
// Offline it checks the typed password against the settings' offpass with
// the public key of the certificate file or of the key device; the session's
// own address is then the settings' last login at the server's host, so an
// offline login needs the server settings and refuses an empty lastlgn.
//
// Messages go through the core's message seam, questions for the device PIN
// through the password-prompt seam, the settings dialog through
// ShowOptionsDialog; field checks are balloons on the fields (title: the
// window caption). The window shows itself with a fade-in and shakes after
// a refused password.
//
// GUI thread only. The window is meant to be created, shown modally and
// freed by ShowLoginDialog (through TLoginDialogUi).
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;

namespace qovra::ui {
class TEditEx;
class TWebLink;
}  // namespace qovra::ui

class TfrmLogin : public QDialog {
  Q_OBJECT

 public:
  // Results of the window.
  static constexpr int kResultLoggedIn = 1;
  static constexpr int kResultCancelled = 2;

  // Builds the window (FormCreate): the login field's acceptable
  // characters, the links' colour, the fade-in timer, the texts of the
  // language setting. The failure count starts at 0.
  explicit TfrmLogin(QWidget* owner = nullptr);
  ~TfrmLogin() override;

  // Unless keep_login, an empty login field takes the settings' last login
  // name. wlDomain shows "@" + server address, or the text of
  // "msgNotSpecified" when there is none; with a login present the focus
  // goes to the password (or, without a server, to wlDomain).
  void RefreshFromOptions(bool keep_login);

  // Handlers, public so that tests and the screenshot tool can drive them.
  void btnOKClick();
  void chkOfflineWorkClick();
  void wlSettingsClick();
  void wlDomainClick();
  void wlRegisterClick();
  void wlForgetPasswordClick();
  void imgLogoClick();
  void lblAboutClick();
  void eLoginEnter();
  void Timer1Timer();
  // Starts the shake: 5 ticks of 50 ms, ±5 pixels around HomeLeft.
  void StartShake();

  // Window state.
  int LoginFailures() const { return login_failures_; }
  int ShakeCount() const { return shake_count_; }
  int HomeLeft() const { return home_left_; }
  // The fade-in's blend value, 5 to 255 (the window's opacity * 255).
  int AlphaBlendValue() const { return alpha_blend_; }

  // The keyboard switch run when the login field takes the focus; by
  // default the X11 switch to the US layout. Tests put in their own.
  void SetUsLayoutSwitch(std::function<void()> fn) { us_layout_switch_ = std::move(fn); }

  QLabel* imgLogo;
  QLabel* lblAbout;
  QLabel* TntLabel2;
  QLabel* TntLabel3;
  qovra::ui::TEditEx* eLogin;
  qovra::ui::TEditEx* ePassword;
  QPushButton* btnOK;
  QPushButton* btnCancel;
  qovra::ui::TWebLink* wlRegister;
  qovra::ui::TWebLink* wlDomain;
  qovra::ui::TWebLink* wlForgetPassword;
  qovra::ui::TWebLink* wlSettings;
  QCheckBox* chkOfflineWork;
  QTimer* Timer1;

 public slots:
  // Escape and the close button end the window with 2.
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void BuildLayout();
  void ApplyTexts();
  // The fields' placeholders and hints in the current language (the
  // password's as the offline check box and the key source say), the
  // fields wide enough to show each password placeholder whole.
  void ApplyPlaceholders();
  void TntFormActivate();
  // The server-settings loop: true when the settings are usable.
  bool ServerSettingsReady();
  void OnlineLogin();
  void OfflineLogin();
  void OfflineSuccess();
  bool VerifyOfflinePassword(const std::string& password_bytes, bool keep_hash);
  void ConnectionTest();
  // Clears and focuses the password, counts the failure and closes the
  // window with 2 on the third.
  void FailureStep();
  // A field check's balloon (warning icon, the window caption as title).
  void FieldBalloon(QWidget* field, const char* key);

  int login_failures_ = 0;
  int shake_count_ = 0;
  int home_left_ = 0;
  int alpha_blend_ = 5;
  bool activated_ = false;
  std::function<void()> us_layout_switch_;
};
