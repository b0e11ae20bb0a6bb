#include "qovra/account/change_password.h"

#include <tevqa.h>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <array>
#include <string>

#include "base/cp1251.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/secure_wipe.h"
#include "base/text_utils.h"
#include "commands/account_commands.h"
#include "keys/crypto_binding.h"
#include "net/session_setup.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"
#include "settings/settings.h"

namespace {

constexpr uint8_t kStateOnline = 1;
constexpr uint8_t kStateOffline = 2;
constexpr size_t kOffpassSize = 160;
// The shortest password the login window sends (Windows-1251 bytes).
constexpr size_t kMinPasswordLength = 4;
constexpr int kButtonWidth = 80;
constexpr int kEditWidth = 200;
// Frame and inner margins of an edit around its text.
constexpr int kEditTextMargin = 16;

template <size_t N>
bool AllZero(const std::array<uint8_t, N>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

// A field's text as UTF-8 and as the Windows-1251 bytes that are hashed;
// both wiped when it goes.
struct TypedSecret {
  explicit TypedSecret(const QString& typed) {
    QByteArray bytes = typed.toUtf8();
    utf8.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    bytes.fill('\0');
    cp1251 = qovra::Utf8ToCp1251(utf8);
  }
  ~TypedSecret() {
    qovra::WipeString(utf8);
    qovra::WipeString(cp1251);
  }
  TypedSecret(const TypedSecret&) = delete;
  TypedSecret& operator=(const TypedSecret&) = delete;

  std::string utf8;
  std::string cp1251;
};

bool HashEquals(const std::string& password_bytes, const std::array<uint8_t, 32>& stored) {
  qovra::THashValue hash = qovra::HashString(password_bytes);
  const bool same = std::equal(hash.begin(), hash.end(), stored.begin());
  qovra::SecureWipe(hash.data(), hash.size());
  return same;
}

void StoreHash(const std::string& password_bytes, std::array<uint8_t, 32>& stored) {
  qovra::THashValue hash = qovra::HashString(password_bytes);
  std::copy(hash.begin(), hash.end(), stored.begin());
  qovra::SecureWipe(hash.data(), hash.size());
}

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

}  // namespace

TfrmChangePassword::TfrmChangePassword(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      imgLogo(new QLabel(this)),
      lblCurPassword(new QLabel(this)),
      lblNewPassword(new QLabel(this)),
      lblConfirmPassword(new QLabel(this)),
      eCurPassword(new qovra::ui::TEditEx(this)),
      eNewPassword(new qovra::ui::TEditEx(this)),
      eConfirmPassword(new qovra::ui::TEditEx(this)),
      btnOK(new QPushButton(QStringLiteral("OK"), this)),
      btnCancel(new QPushButton(Msg("btnCancel"), this)) {
  setObjectName(QStringLiteral("frmChangePassword"));
  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  lblCurPassword->setObjectName(QStringLiteral("lblCurPassword"));
  lblNewPassword->setObjectName(QStringLiteral("lblNewPassword"));
  lblConfirmPassword->setObjectName(QStringLiteral("lblConfirmPassword"));
  eCurPassword->setObjectName(QStringLiteral("eCurPassword"));
  eNewPassword->setObjectName(QStringLiteral("eNewPassword"));
  eConfirmPassword->setObjectName(QStringLiteral("eConfirmPassword"));
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnCancel->setObjectName(QStringLiteral("btnCancel"));

  const QImage logo = qovra::ui::LoadPngResource(QStringLiteral("ico_change_password32"));
  if (!logo.isNull()) imgLogo->setPixmap(QPixmap::fromImage(logo));
  imgLogo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(12, 12, 12, 12);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(8);
  grid->addWidget(imgLogo, 0, 0, 3, 1);
  const std::pair<QLabel*, qovra::ui::TEditEx*> rows[] = {{lblCurPassword, eCurPassword},
                                                          {lblNewPassword, eNewPassword},
                                                          {lblConfirmPassword, eConfirmPassword}};
  int row = 0;
  for (const auto& [label, edit] : rows) {
    label->setTextFormat(Qt::PlainText);
    label->setBuddy(edit);
    edit->setMinimumWidth(kEditWidth);
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 9679;"));  // U+25CF
    grid->addWidget(label, row, 1);
    grid->addWidget(edit, row, 2);
    ++row;
  }
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  buttons->addStretch(1);
  for (QPushButton* button : {btnOK, btnCancel}) button->setMinimumWidth(kButtonWidth);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  grid->addLayout(buttons, 3, 0, 1, 3);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &TfrmChangePassword::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmChangePassword::reject);

  qovra::ui::ApplyLanguageToForm(this);
  eCurPassword->clear();
  eNewPassword->clear();
  eConfirmPassword->clear();
  if (qovra::Session.State == kStateOffline) {
    if (AllZero(qovra::Session.OfflinePasswordHash)) {
      reset_offline_ = true;
      eCurPassword->setEchoMode(QLineEdit::Normal);
      eCurPassword->setText(Msg("msgResetOfflinePassword"));
      eCurPassword->setEnabled(false);
      // The whole text in view: the field grows to it, from its start.
      const int text_width = eCurPassword->fontMetrics().horizontalAdvance(eCurPassword->text());
      eCurPassword->setMinimumWidth(std::max(kEditWidth, text_width + kEditTextMargin));
      eCurPassword->setCursorPosition(0);
    }
    setWindowTitle(Msg("msgChangeOfflinePassword"));
  }
  (reset_offline_ ? eNewPassword : eCurPassword)->setFocus();
}

TfrmChangePassword::~TfrmChangePassword() {
  if (!reset_offline_) qovra::ui::WipeEditText(eCurPassword);
  qovra::ui::WipeEditText(eNewPassword);
  qovra::ui::WipeEditText(eConfirmPassword);
}

void TfrmChangePassword::reject() {
  if (busy_) return;
  done(kResultCancelled);
}

void TfrmChangePassword::FieldBalloon(qovra::ui::TEditEx* field, const char* key) {
  field->setFocus();
  field->ShowBalloonTip(windowTitle(), Msg(key),
                        static_cast<uint8_t>(qovra::ui::TBalloonIcon::Warning));
}

bool TfrmChangePassword::FieldsPass() {
  const TypedSecret current(reset_offline_ ? QString() : eCurPassword->text());
  const TypedSecret fresh(eNewPassword->text());
  const TypedSecret confirm(eConfirmPassword->text());
  // The reset state has no current password to check or to compare with.
  if (!reset_offline_) {
    if (current.cp1251.empty()) {
      FieldBalloon(eCurPassword, "msgEnterCurrentPassword");
      return false;
    }
    const auto& stored = qovra::Session.State == kStateOnline ? qovra::Session.OnlinePasswordHash
                                                              : qovra::Session.OfflinePasswordHash;
    const bool known_state =
        qovra::Session.State == kStateOnline || qovra::Session.State == kStateOffline;
    if (known_state && !AllZero(stored) && !HashEquals(current.cp1251, stored)) {
      FieldBalloon(eCurPassword, "msgCurrentPasswordIncorrect");
      return false;
    }
  }
  if (fresh.cp1251.empty()) {
    FieldBalloon(eNewPassword, "msgEnterNewPassword");
    return false;
  }
  // The login window refuses shorter passwords before it sends them: the
  // server's new password must be one it lets through.
  if (qovra::Session.State == kStateOnline && fresh.cp1251.size() < kMinPasswordLength) {
    FieldBalloon(eNewPassword, "msgPasswordLengthMismatch");
    return false;
  }
  if (!reset_offline_ && qovra::SameTextAscii(fresh.cp1251, current.cp1251)) {
    FieldBalloon(eNewPassword, "msgPasswordUnchanged");
    return false;
  }
  // Exactly: a confirmation that differs in letter case is a mistyped one.
  if (confirm.cp1251 != fresh.cp1251) {
    FieldBalloon(eConfirmPassword, "msgPasswordNotConfirmed");
    return false;
  }
  return true;
}

void TfrmChangePassword::btnOKClick() {
  if (busy_ || !FieldsPass()) return;
  busy_ = true;
  struct BusyEnd {
    bool& busy;
    ~BusyEnd() { busy = false; }
  } busy_end{busy_};
  if (qovra::Session.State == kStateOnline) {
    ChangeOnline();
  } else if (qovra::Session.State == kStateOffline) {
    ChangeOffline();
  }
}

void TfrmChangePassword::ChangeOnline() {
  const TypedSecret current(eCurPassword->text());
  const TypedSecret fresh(eNewPassword->text());
  const qovra::TCommandOwner owner{
      qovra::ui::HandleOf(this), "TfrmChangePassword",
      frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr};
  if (!qovra::ChangePassword(owner, qovra::Session.Login.view(), current.utf8, fresh.utf8)) return;
  StoreHash(fresh.cp1251, qovra::Session.OnlinePasswordHash);
  qovra::ShowInfo(qovra::ui::HandleOf(this), "msgPasswordChanged");
  done(kResultChanged);
}

void TfrmChangePassword::ChangeOffline() {
  // Key files or the key device, with their own prompts and messages.
  if (!qovra::LoadUserKeys(qovra::ui::HandleOf(this))) return;
  const TypedSecret fresh(eNewPassword->text());
  qovra::THashValue hash = qovra::HashString(fresh.cp1251);
  std::string signature(kOffpassSize, '\0');
  const bool signed_ok =
      UZDST_SIGNATURE_generate(hash.data(), qovra::Session.OwnPrivateKey.data(),
                               qovra::Session.OwnPublicKey.data(), signature.data()) == 1;
  if (!signed_ok) {
    qovra::SecureWipe(hash.data(), hash.size());
    return;
  }
  // A signature the file does not keep would be gone at the next start
  // while this session went on with it: without the file, nothing changes.
  std::string previous = std::move(qovra::Options.Keys.offpass);
  qovra::Options.Keys.offpass = signature;
  if (!qovra::SaveOptions()) {
    qovra::Options.Keys.offpass = std::move(previous);
    qovra::SecureWipe(hash.data(), hash.size());
    qovra::ShowWarning(qovra::ui::HandleOf(this), "msgOfflinePasswordNotSaved");
    return;
  }
  // The next change in this session checks against the password set now.
  std::copy(hash.begin(), hash.end(), qovra::Session.OfflinePasswordHash.begin());
  qovra::SecureWipe(hash.data(), hash.size());
  qovra::ShowInfo(qovra::ui::HandleOf(this), "msgOfflinePasswordChanged");
  done(kResultChanged);
}
