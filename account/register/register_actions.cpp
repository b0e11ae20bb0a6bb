// TfrmRegister: the field checks and the registration (handshake with the
// key-agreement value, command 167, the offline password signature).
#include <tevqa.h>

#include <QComboBox>
#include <QPushButton>
#include <string>

#include "base/cp1251.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/secure_wipe.h"
#include "commands/account_commands.h"
#include "keys/crypto_binding.h"
#include "net/session_setup.h"
#include "qovra/account/register_window.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"

using qovra::Options;
using qovra::Session;
using qovra::ui::HandleOf;
using qovra::ui::TEditEx;

namespace {

constexpr int kMinLoginLength = 4;
constexpr int kMinPasswordLength = 4;
constexpr int kMinAnswerLength = 6;
constexpr size_t kOffpassSize = 160;
// The list's first entry asks the user to choose; it is not a question.
constexpr int kNoQuestionIndex = 0;

std::string Utf8(const QString& s) {
  return s.toStdString();
}

}  // namespace

void TfrmRegister::FieldBalloon(TEditEx* field, const char* key) {
  field->setFocus();
  field->ShowBalloonTip(windowTitle(), QString::fromStdString(qovra::GetMsg(key)), 2);
}

bool TfrmRegister::FieldsValid() {
  if (eFirstName->text().trimmed().isEmpty()) {
    FieldBalloon(eFirstName, "msgEnterFirstName");
    return false;
  }
  if (eLastName->text().trimmed().isEmpty()) {
    FieldBalloon(eLastName, "msgEnterLastName");
    return false;
  }
  const QString login = eLogin->text().trimmed();
  if (login.isEmpty()) {
    FieldBalloon(eLogin, "msgEnterLogin");
    return false;
  }
  if (login.size() < kMinLoginLength) {
    FieldBalloon(eLogin, "msgLoginLengthMustMoreThan4");
    return false;
  }
  if (ePassword->text().isEmpty()) {
    FieldBalloon(ePassword, "msgEnterPassword");
    return false;
  }
  if (ePassword->text().size() < kMinPasswordLength) {
    FieldBalloon(ePassword, "msgPasswordLengthMismatch");
    return false;
  }
  // Exact: a confirmation that differs in letter case is a mistyped password.
  if (eConfirmPassword->text() != ePassword->text()) {
    FieldBalloon(eConfirmPassword, "msgPasswordNotConfirmed");
    return false;
  }
  if (cbSecurityQuestion->currentIndex() == kNoQuestionIndex) {
    cbSecurityQuestion->setFocus();
    cbSecurityQuestion->showPopup();
    return false;
  }
  const QString answer = eAnswer->text().trimmed();
  if (answer.isEmpty()) {
    FieldBalloon(eAnswer, "msgEnterAnswer");
    return false;
  }
  if (answer.size() < kMinAnswerLength) {
    FieldBalloon(eAnswer, "msgAnswerLengthMustBeAtLeast6Symbols");
    return false;
  }
  return true;
}

void TfrmRegister::btnOKClick() {
  if (!FieldsValid()) return;
  if (!qovra::ServerHandshake(HandleOf(this), /*append_dh=*/true)) return;

  std::string password = Utf8(ePassword->text());
  const qovra::TCommandOwner owner{
      HandleOf(this), "TfrmRegister",
      frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr};
  const bool registered =
      qovra::RegisterUser(owner, eLogin->text().toLatin1().toStdString(), Options.Conn.srvaddr,
                          cbSecurityQuestion->currentIndex(), Utf8(eAnswer->text()),
                          Utf8(eJobTitle->text()), Utf8(eCompany->text()), Utf8(eLastName->text()),
                          Utf8(eMiddleName->text()), Utf8(eFirstName->text()), password);
  if (registered) StoreOfflineSignature(password);
  qovra::WipeString(password);
  if (!registered) return;

  qovra::ShowInfo(HandleOf(this), "msgSuccessfullyRegistered");
  done(kResultRegistered);
}

void TfrmRegister::StoreOfflineSignature(const std::string& password_utf8) {
  std::string bytes = qovra::Utf8ToCp1251(password_utf8);
  qovra::THashValue hash = qovra::HashString(bytes);
  qovra::WipeString(bytes);
  std::string signature(kOffpassSize, '\0');
  // A failed signature keeps the old offpass; the registration still stands.
  if (UZDST_SIGNATURE_generate(hash.data(), Session.OwnPrivateKey.data(),
                               Session.OwnPublicKey.data(), signature.data()) == 1) {
    Options.Keys.offpass = signature;
  }
  qovra::SecureWipe(hash.data(), hash.size());
}
