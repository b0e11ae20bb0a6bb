// TfrmRegister: the registration of a new account on the mail server.
//
// The login window shows it modally with the server address in eDomain. It
// closes with 1 once the server took the account (after the handshake with
// the key-agreement value and command 167); the registered login is then
// in eLogin. Escape and Cancel close it with 2. Field checks are balloons
// on the fields (title: the window caption); the first failing check ends
// btnOKClick and the window stays open. After a successful registration
// the settings' offpass holds the signature of the new password (in
// memory; written at the next save of the settings).
//
// The login proposal (ProposedLogin) replaces eLogin on every change of the
// first or last name. While the login or a password field has the focus the
// keyboard switch holds the US layout and gives the user's layout back
// when the focus leaves.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qovra::ui {
class TEditEx;
class TWebLink;
}  // namespace qovra::ui

namespace qovra::account {
class TUsKeyboardSwitch;

// The login proposed for the typed names: nothing when both names are
// blank; otherwise the lower-cased transliteration of the last name, of the
// first name, or of the first character of the first name, "." and the last
// name. Only the characters a login field accepts ("-", ".", digits, Latin
// letters, "_") are kept, and both names are taken trimmed.
std::optional<QString> ProposedLogin(const QString& first_name, const QString& last_name);

// Splits a certificate owner's name into the three name fields: no blank,
// all of it is the first name; one blank, last name then first name; two
// or more, last, first and the rest, trimmed, as the middle name (empty
// when only blanks follow the second blank: the fill then keeps the middle
// name the user typed, as with one blank).
struct TSplitName {
  QString first, middle, last;
};
TSplitName SplitOwnerName(const QString& owner);

}  // namespace qovra::account

class TfrmRegister : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResultRegistered = 1;
  static constexpr int kResultCancelled = 2;

  // FormCreate: the login field's characters and refusal texts, the
  // images, the language texts, the password characters.
  explicit TfrmRegister(QWidget* owner = nullptr);
  ~TfrmRegister() override;

  // Handlers, public for tests and the screenshot tool.
  void eFirstNameChange();
  void wlCertificateClick();
  void wlFillFromCertificateClick();
  void btnOKClick();

  // Replaces the keyboard switch (tests); null leaves the layout alone.
  void SetKeyboardSwitch(std::unique_ptr<qovra::account::TUsKeyboardSwitch> keyboard);

  QLabel* imgLogo = nullptr;
  QLabel* lblTitle = nullptr;
  QLabel* lblFirstName = nullptr;
  QLabel* lblMiddleName = nullptr;
  QLabel* lblLastName = nullptr;
  QLabel* lblCompany = nullptr;
  QLabel* lblJobTitle = nullptr;
  QLabel* lblLogin = nullptr;
  QLabel* lblAt = nullptr;
  QLabel* lblPassword = nullptr;
  QLabel* lblConfirmPassword = nullptr;
  QLabel* lblSecurityQuestion = nullptr;
  QLabel* lblAnswer = nullptr;
  QLabel* imgCheckLogin = nullptr;
  QLabel* imgHelpSecurityQuestion = nullptr;
  qovra::ui::TEditEx* eFirstName = nullptr;
  qovra::ui::TEditEx* eMiddleName = nullptr;
  qovra::ui::TEditEx* eLastName = nullptr;
  qovra::ui::TEditEx* eCompany = nullptr;
  qovra::ui::TEditEx* eJobTitle = nullptr;
  qovra::ui::TEditEx* eLogin = nullptr;
  qovra::ui::TEditEx* eDomain = nullptr;
  qovra::ui::TEditEx* ePassword = nullptr;
  qovra::ui::TEditEx* eConfirmPassword = nullptr;
  QComboBox* cbSecurityQuestion = nullptr;
  qovra::ui::TEditEx* eAnswer = nullptr;
  qovra::ui::TWebLink* wlCertificate = nullptr;
  qovra::ui::TWebLink* wlFillFromCertificate = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

 public slots:
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void ApplyTexts();
  // The checks of btnOKClick in order; false after the first failing one
  // showed its balloon (or dropped down the question list).
  bool FieldsValid();
  void FieldBalloon(qovra::ui::TEditEx* field, const char* key);
  // The certificate path checks shared by the two links; the path's UTF-8
  // when the file exists, else nothing (a warning was shown).
  std::optional<std::string> CertificateFile();
  void StoreOfflineSignature(const std::string& password_utf8);

  std::unique_ptr<qovra::account::TUsKeyboardSwitch> keyboard_;
};
