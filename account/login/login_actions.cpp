// TfrmLogin: the login online and offline, the failure count and the
// connection test.
#include <tevqa.h>
#include <zarvo.h>

#include <QCheckBox>
#include <QString>
#include <climits>
#include <optional>
#include <string>

#include "base/cp1251.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/secure_wipe.h"
#include "base/stream.h"
#include "commands/login_command.h"
#include "keys/crypto_binding.h"
#include "net/id_http_client.h"
#include "net/ie_http_client.h"
#include "net/server_request.h"
#include "net/session_setup.h"
#include "net/url.h"
#include "platform/file_utils.h"
#include "qovra/account/login_window.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"
#include "settings/settings.h"

using qovra::Options;
using qovra::Session;
using qovra::ui::HandleOf;

namespace {

constexpr size_t kOffpassSize = 160;
// The server's refusal of a login: silent here, the window shakes.
constexpr int kLoginRefused = 3;
// The product's name that the server's page must hold.
constexpr std::string_view kProductName = "Qovra";
// How much of a wrong page the connection test shows.
constexpr qsizetype kShownBodyChars = 1024;

// A secret typed into a field, as 8-bit text, wiped when it goes.
struct SecretBytes {
  std::string bytes;
  explicit SecretBytes(const QString& typed) : bytes(qovra::Utf8ToCp1251(typed.toStdString())) {}
  ~SecretBytes() { qovra::WipeString(bytes); }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
};

}  // namespace

void TfrmLogin::btnOKClick() {
  Session.MaxUploadSize = 0;
  if (chkOfflineWork->isChecked()) {
    OfflineLogin();
  } else {
    OnlineLogin();
  }
}

void TfrmLogin::OnlineLogin() {
  if (!ServerSettingsReady()) return;

  const QString login = eLogin->text();
  if (login.isEmpty()) {
    FieldBalloon(eLogin, "msgLoginNotSpecified");
    return;
  }
  if (login.compare(QString::fromStdString(qovra::GetMsg("msgLogin")), Qt::CaseInsensitive) == 0) {
    eLogin->setFocus();
    FieldBalloon(eLogin, "msgLoginNotSpecified");
    return;
  }
  // No copy of the typed password outlives these checks, so the field's
  // own buffer can be wiped afterwards.
  std::string typed;
  {
    const QString password = ePassword->text();
    if (password.isEmpty()) {
      ePassword->setFocus();
      FieldBalloon(ePassword, "msgPasswordNotSpecified");
      return;
    }
    if (SecretBytes(password).bytes.size() <= 3) {
      ePassword->setFocus();
      FieldBalloon(ePassword, "msgPasswordLengthMismatch");
      return;
    }
    QByteArray utf8 = password.toUtf8();
    typed.assign(utf8.constData(), static_cast<size_t>(utf8.size()));
    utf8.fill('\0');
  }

  const qovra::TLoginRequestForm form{
      HandleOf(this), qovra::kLoginFormClass,
      frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr};
  const int result = qovra::LoginSession(login.toStdString(), typed, form);
  qovra::WipeString(typed);
  // No session could be agreed (or no request made): reported, not an attempt.
  if (result == qovra::kLoginNotSent) return;
  if (result == 1) {
    qovra::ui::WipeEditText(ePassword);
    done(kResultLoggedIn);
    return;
  }
  if (result == kLoginRefused) StartShake();
  FailureStep();
}

bool TfrmLogin::VerifyOfflinePassword(const std::string& password_bytes, bool keep_hash) {
  qovra::THashValue hash = qovra::HashString(password_bytes);
  int verdict = 0;
  const bool ok = UZDST_SIGNATURE_verify(hash.data(), Session.OwnPublicKey.data(),
                                         Options.Keys.offpass.data(), &verdict) == 1 &&
                  verdict == 1;
  if (ok && keep_hash) Session.OfflinePasswordHash = hash;
  qovra::SecureWipe(hash.data(), hash.size());
  return ok;
}

void TfrmLogin::OfflineLogin() {
  // The offline session's own address, which names the user's folder, is
  // the last online login at the server's host: the server settings must
  // give the host (the loop checks the key files too).
  if (!ServerSettingsReady()) return;
  if (ePassword->text().isEmpty()) {
    ePassword->setFocus();
    FieldBalloon(ePassword, "msgPasswordNotSpecified");
    return;
  }
  // Without the signature of an earlier online login, or without the name
  // of that login, there is nothing to log in offline to: an empty login
  // would make the own address "@host", a folder of no user.
  if (Options.Keys.offpass.size() != kOffpassSize || Options.Other.lastlgn.empty()) {
    qovra::ShowWarning(HandleOf(this), "msgOnlineLoginRequired");
    return;
  }
  const SecretBytes secret(ePassword->text());

  if (Options.Keys.keyssrc == 0) {
    const std::string cert = qovra::LoadFileToString(Options.Keys.crtpath);
    if (cert.empty() || cert.size() > INT32_MAX ||
        initBPb(cert.data(), static_cast<int32_t>(cert.size()), Session.OwnPublicKey.data()) == 0) {
      qovra::ShowWarning(HandleOf(this), "msgUserCertificateInvalid");
      return;
    }
    if (VerifyOfflinePassword(secret.bytes, true)) {
      OfflineSuccess();
      return;
    }
    StartShake();
    FailureStep();
    return;
  }

  // The key device.
  if (initDev() == 0) {
    qovra::ShowWarning(HandleOf(this), "msgMurvexNotFound");
    return;
  }
  if (Session.DevicePin.empty()) {
    std::optional<std::string> pin = qovra::PasswordPromptUi().AskSecret(
        HandleOf(this), qovra::GetMsg("msgMurvexPasswordCaption"),
        qovra::GetMsg("msgMurvexPasswordPrompt"), "ico_lock48");
    if (!pin) {
      closeDev();
      return;
    }
    Session.DevicePin = qovra::Utf8ToCp1251(*pin);
    qovra::WipeString(*pin);
  }
  const int read = initDPr(Session.DevicePin.c_str(), Session.OwnPrivateKey.data(),
                           Session.OwnDhKey.data(), Session.OwnPublicKey.data());
  const int error = getErr();
  // Nothing holds the device between uses; the records are read.
  closeDev();
  if (read == 0) {
    // A wrong PIN is said as such and forgotten, so the next attempt asks again.
    Session.ClearDevicePin();
    (void)qovra::ShowMessageText(
        HandleOf(this), qovra::GetMsg("msgMurvexPasswordIncorrect") + std::to_string(error),
        qovra::kMsgIconWarning);
    FailureStep();
    return;
  }
  if (VerifyOfflinePassword(secret.bytes, false)) {
    OfflineSuccess();
    return;
  }
  FailureStep();
}

void TfrmLogin::OfflineSuccess() {
  Session.State = 2;
  Session.Login = Options.Other.lastlgn;
  qovra::TUrlParts url;
  if (qovra::CrackUrl(Options.Conn.ServerUrl, url)) {
    Session.Host = url.HostName;
    Session.OwnContact.Email = Options.Other.lastlgn + "@" + url.HostName;
  }
  qovra::ui::WipeEditText(ePassword);
  done(kResultLoggedIn);
}

void TfrmLogin::FailureStep() {
  qovra::ui::WipeEditText(ePassword);
  ePassword->setFocus();
  const int before = login_failures_++;
  if (before == 2) done(kResultCancelled);
}

void TfrmLogin::ConnectionTest() {
  const uint8_t client = Options.Conn.useiewc;
  if (client > 2) return;
  qovra::ui::ShowProgress(
      this, false, QString::fromStdString(qovra::GetMsg("msgConnectingToServer")), QString());
  qovra::TMemoryStream body;
  bool downloaded = false;
  std::string failure;
  if (client < 2) {
    qovra::TIdHttpClient http(nullptr, nullptr, Options.Conn);
    downloaded = http.Download(Options.Conn.ServerUrl, body);
    if (!downloaded) failure = http.GetLastErrorText();
  } else {
    qovra::TIEHttpClient http(nullptr, nullptr, Options.Conn);
    downloaded = http.Download(Options.Conn.ServerUrl, body);
    if (!downloaded) failure = http.LastErrorText();
  }
  qovra::ui::HideProgress(this, false);

  if (!downloaded && client == 2) {
    (void)qovra::ShowMessageText(nullptr, failure, qovra::kMsgIconError);
    return;
  }
  const std::string& page = body.Data();
  if (downloaded && page.find(kProductName) != std::string::npos) {
    (void)qovra::ShowMessageText(HandleOf(this), qovra::GetMsg("msgConnectionOK"),
                                 qovra::kMsgIconInformation);
    return;
  }
  // The page, or the reason none came, under the error text; a page is cut
  // short and shown as text.
  const QString detail = downloaded
                             ? QString::fromUtf8(page.data(), static_cast<qsizetype>(page.size()))
                                   .left(kShownBodyChars)
                             : QString::fromStdString(failure);
  (void)qovra::ShowMessageText(HandleOf(this),
                               qovra::GetMsg("msgConnectionError") + "\n" + detail.toStdString(),
                               client == 2 ? qovra::kMsgIconError : qovra::kMsgIconWarning);
}
