#include "qovra/account/password_prompt.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <optional>

#include "base/messages.h"
#include "commands/login_command.h"
#include "net/session_setup.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"

namespace {

constexpr int kClientWidth = 360;
constexpr int kClientHeight = 124;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 25;
constexpr int kResultAccepted = 1;
constexpr int kResultCancelled = 2;
constexpr uint8_t kModeReauthenticate = 0;
constexpr int kMaxFailures = 3;

bool IsBlank(const QString& text) {
  return text.trimmed().isEmpty();
}

}  // namespace

TfrmPassword::TfrmPassword(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      imgLogo(new QLabel(this)),
      lblPassword(new QLabel(this)),
      ePassword(new qovra::ui::TEditEx(this)),
      btnOK(new QPushButton(QStringLiteral("OK"), this)),
      btnCancel(new QPushButton(QString::fromStdString(qovra::GetMsg("btnCancel")), this)) {
  setObjectName(QStringLiteral("frmPassword"));
  setFixedSize(kClientWidth, kClientHeight);

  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  lblPassword->setObjectName(QStringLiteral("lblPassword"));
  ePassword->setObjectName(QStringLiteral("ePassword"));
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnCancel->setObjectName(QStringLiteral("btnCancel"));

  imgLogo->setGeometry(12, 12, 48, 48);
  lblPassword->setGeometry(72, 10, kClientWidth - 84, 36);
  lblPassword->setTextFormat(Qt::PlainText);
  lblPassword->setWordWrap(true);
  lblPassword->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
  ePassword->setGeometry(72, 50, kClientWidth - 84, 22);
  lblPassword->setBuddy(ePassword);

  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &TfrmPassword::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmPassword::reject);
  setTabOrder(ePassword, btnOK);
  setTabOrder(btnOK, btnCancel);

  // TntFormCreate: the language, the password character, the count.
  qovra::ui::ApplyLanguageToForm(this);
  // Both buttons as wide as the longer caption needs, right-aligned.
  const int button_width =
      std::max({kButtonWidth, btnOK->sizeHint().width(), btnCancel->sizeHint().width()});
  const int buttons_top = kClientHeight - 12 - kButtonHeight;
  btnCancel->setGeometry(kClientWidth - 12 - button_width, buttons_top, button_width,
                         kButtonHeight);
  btnOK->setGeometry(kClientWidth - 12 - 2 * button_width - 8, buttons_top, button_width,
                     kButtonHeight);
  ePassword->setEchoMode(QLineEdit::Password);
  ePassword->setStyleSheet(QStringLiteral("lineedit-password-character: 9679;"));  // U+25CF
  password_failures_ = 0;
}

TfrmPassword::~TfrmPassword() {
  qovra::ui::WipeEditText(ePassword);
}

int TfrmPassword::Execute(const QString& caption, const QString& prompt, uint8_t mode,
                          const QString& icon_name) {
  setWindowTitle(caption);
  lblPassword->setText(prompt);
  const QImage icon = qovra::ui::LoadPngResource(icon_name);
  if (icon.isNull()) {
    imgLogo->clear();
  } else {
    imgLogo->setPixmap(QPixmap::fromImage(icon));
  }
  mode_ = mode;
  std::optional<qovra::TLoginOpenMark> mark;
  if (mode == kModeReauthenticate) mark.emplace();
  ePassword->setFocus();
  return exec();
}

void TfrmPassword::reject() {
  if (busy_) return;
  done(kResultCancelled);
}

void TfrmPassword::btnOKClick() {
  if (busy_) return;
  if (IsBlank(ePassword->text())) {
    ePassword->ShowBalloonTip(windowTitle(),
                              QString::fromStdString(qovra::GetMsg("msgPasswordNotSpecified")),
                              static_cast<uint8_t>(qovra::ui::TBalloonIcon::Warning));
    return;
  }
  if (mode_ == kModeReauthenticate) {
    Reauthenticate();
  } else {
    done(kResultAccepted);
  }
}

void TfrmPassword::Reauthenticate() {
  busy_ = true;
  struct BusyEnd {
    bool& busy;
    ~BusyEnd() { busy = false; }
  } busy_end{busy_};

  // The server-settings loop: the settings dialog may be confirmed with
  // settings that still fail, so check again until they pass or the user
  // gives up.
  qovra::TWindowHandle self = qovra::ui::HandleOf(this);
  int check = qovra::kCheckCorrected;
  while (check == qovra::kCheckCorrected) check = qovra::CheckServerSettings(self);
  if (check != qovra::kCheckOk) return;

  // The login name, handshake, request and session update are the core's;
  // the password goes as typed, untrimmed.
  QByteArray password = ePassword->text().toUtf8();
  const qovra::TLoginRequestForm form{
      self, "TfrmPassword", frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr};
  const int result = qovra::ReauthenticateSession(
      std::string_view(password.constData(), static_cast<size_t>(password.size())), form);
  password.fill('\0');

  // No session could be agreed (or no request made): reported, not an attempt.
  if (result == qovra::kLoginNotSent) return;
  if (result == 1) {
    done(kResultAccepted);
    return;
  }
  // Every failure has been shown already; the text stays for correction.
  ePassword->setFocus();
  ePassword->selectAll();
  ++password_failures_;
  if (password_failures_ >= kMaxFailures) done(kResultCancelled);
}
