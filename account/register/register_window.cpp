// TfrmRegister: the window, its texts, the login proposal, the keyboard
// switch and the certificate links. The registration is in
// register_actions.cpp.
#include "qovra/account/register_window.h"

#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>

#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "keys/cert_owner.h"
#include "qovra/account/certificate_viewer.h"
#include "qovra/account/us_keyboard.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/char_set.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/widgets.h"
#include "settings/translit.h"

using qovra::Options;
using qovra::ui::HandleOf;
using qovra::ui::TEditEx;
using qovra::ui::TWebLink;

namespace {

constexpr int kNameMaxLength = 32;
constexpr int kLoginMaxLength = 32;
constexpr int kPasswordMaxLength = 64;
constexpr int kAnswerMaxLength = 32;
constexpr int kOwnerNameMaxLength = 128;
constexpr int kLinkRed = 34, kLinkGreen = 70, kLinkBlue = 136;

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

QString Translit(const QString& s) {
  return QString::fromStdU16String(qovra::CyrToLat(s.toStdU16String()));
}

// A PNG resource painted on the form's colour.
QPixmap OnFormColour(const QString& name, const QColor& back) {
  const QImage png = qovra::ui::LoadPngResource(name);
  QImage canvas(png.size(), QImage::Format_RGB32);
  canvas.fill(back);
  QPainter painter(&canvas);
  painter.drawImage(0, 0, png);
  painter.end();
  return QPixmap::fromImage(canvas);
}

}  // namespace

namespace qovra::account {

std::optional<QString> ProposedLogin(const QString& first_name, const QString& last_name) {
  const QString first = first_name.trimmed();
  const QString last = last_name.trimmed();
  if (first.isEmpty() && last.isEmpty()) return std::nullopt;
  QString latin;
  if (first.isEmpty()) {
    latin = Translit(last);
  } else if (!last.isEmpty()) {
    latin = Translit(first.left(1) + QLatin1Char('.') + last);
  } else {
    latin = Translit(first);
  }
  latin = latin.toLower();
  const qovra::ui::TCharSet login_chars = qovra::ui::LoginCharSet();
  QString login;
  for (const QChar c : latin) {
    // The set's control codes (backspace) are no part of a login.
    if (c.unicode() > 0x20 && qovra::ui::IsAcceptableChar(login_chars, c)) login += c;
  }
  return login;
}

TSplitName SplitOwnerName(const QString& owner) {
  TSplitName s;
  s.first = owner;
  const qsizetype blank1 = owner.indexOf(QLatin1Char(' '));
  if (blank1 < 0) return s;
  s.last = owner.left(blank1);
  const qsizetype blank2 = owner.indexOf(QLatin1Char(' '), blank1 + 1);
  if (blank2 < 0) {
    s.first = owner.mid(blank1 + 1);
    return s;
  }
  s.first = owner.mid(blank1 + 1, blank2 - blank1 - 1);
  // Blanks after the second one are no middle name.
  s.middle = owner.mid(blank2 + 1).trimmed();
  return s;
}

}  // namespace qovra::account

TfrmRegister::TfrmRegister(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmRegister"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                 Qt::WindowTitleHint);
  setWindowIcon(qovra::ui::MainIcon());
  BuildLayout();
  keyboard_ = std::make_unique<qovra::account::TUsKeyboardSwitch>();

  // FormCreate.
  eLogin->SetAcceptableChars(qovra::ui::LoginCharSet());
  eLogin->SetPasteErrorTitle(Msg("msgLoginPasteErrorTitle"));
  eLogin->SetPasteErrorText(Msg("msgLoginPasteErrorText"));
  eLogin->SetCharErrorTitle(Msg("msgLoginCharErrorTitle"));
  eLogin->SetCharErrorText(Msg("msgLoginCharErrorText"));
  const QColor back = palette().color(QPalette::Window);
  imgLogo->setPixmap(OnFormColour(QStringLiteral("ico_user32"), back));
  imgCheckLogin->setPixmap(OnFormColour(QStringLiteral("ico_check21"), back));
  imgHelpSecurityQuestion->setPixmap(OnFormColour(QStringLiteral("ico_help21"), back));
  imgCheckLogin->hide();
  imgHelpSecurityQuestion->hide();
  ApplyTexts();
  qovra::ui::ApplyLanguageToForm(this);
  for (TEditEx* e : {ePassword, eConfirmPassword}) {
    e->setEchoMode(QLineEdit::Password);
    e->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 9679; }"));
  }
  btnOK->setDefault(true);

  connect(eFirstName, &QLineEdit::textChanged, this, &TfrmRegister::eFirstNameChange);
  connect(eLastName, &QLineEdit::textChanged, this, &TfrmRegister::eFirstNameChange);
  connect(wlCertificate, &TWebLink::OnClick, this, &TfrmRegister::wlCertificateClick);
  connect(wlFillFromCertificate, &TWebLink::OnClick, this,
          &TfrmRegister::wlFillFromCertificateClick);
  connect(btnOK, &QPushButton::clicked, this, &TfrmRegister::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmRegister::reject);
  for (TEditEx* e : {ePassword, eConfirmPassword, eLogin}) e->installEventFilter(this);
}

TfrmRegister::~TfrmRegister() {
  if (keyboard_) keyboard_->Leave();
  for (TEditEx* e : {ePassword, eConfirmPassword}) qovra::ui::WipeEditText(e);
  if (const auto balloon = qovra::ui::CurrentBalloon()) {
    if (balloon->field && isAncestorOf(balloon->field)) qovra::ui::HideBalloon();
  }
}

void TfrmRegister::SetKeyboardSwitch(std::unique_ptr<qovra::account::TUsKeyboardSwitch> keyboard) {
  keyboard_ = std::move(keyboard);
}

void TfrmRegister::BuildLayout() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(16, 14, 16, 12);
  root->setSpacing(10);

  auto* head = new QHBoxLayout;
  imgLogo = new QLabel(this);
  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  imgLogo->setFixedSize(32, 32);
  lblTitle = new QLabel(this);
  lblTitle->setObjectName(QStringLiteral("lblTitle"));
  QFont big = lblTitle->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.3);
  lblTitle->setFont(big);
  head->addWidget(imgLogo);
  head->addWidget(lblTitle, 1);
  root->addLayout(head);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(6);
  int row = 0;
  auto label = [this](const char* name) {
    auto* l = new QLabel(this);
    l->setObjectName(QLatin1String(name));
    return l;
  };
  auto edit = [this](const char* name, int max_length) {
    auto* e = new TEditEx(this);
    e->setObjectName(QLatin1String(name));
    if (max_length > 0) e->setMaxLength(max_length);
    return e;
  };
  auto add_row = [&](QLabel* l, QWidget* field) {
    grid->addWidget(l, row, 0);
    grid->addWidget(field, row, 1, 1, 3);
    ++row;
  };
  lblLastName = label("lblLastName");
  eLastName = edit("eLastName", kNameMaxLength);
  add_row(lblLastName, eLastName);
  lblFirstName = label("lblFirstName");
  eFirstName = edit("eFirstName", kNameMaxLength);
  add_row(lblFirstName, eFirstName);
  lblMiddleName = label("lblMiddleName");
  eMiddleName = edit("eMiddleName", 0);
  add_row(lblMiddleName, eMiddleName);
  lblCompany = label("lblCompany");
  eCompany = edit("eCompany", 0);
  add_row(lblCompany, eCompany);
  lblJobTitle = label("lblJobTitle");
  eJobTitle = edit("eJobTitle", 0);
  add_row(lblJobTitle, eJobTitle);

  lblLogin = label("lblLogin");
  eLogin = edit("eLogin", kLoginMaxLength);
  lblAt = label("lblAt");
  lblAt->setText(QStringLiteral("@"));
  eDomain = edit("eDomain", 0);
  eDomain->setReadOnly(true);
  eDomain->setFocusPolicy(Qt::ClickFocus);
  imgCheckLogin = label("imgCheckLogin");
  imgCheckLogin->setFixedSize(21, 21);
  grid->addWidget(lblLogin, row, 0);
  grid->addWidget(eLogin, row, 1);
  auto* at_row = new QHBoxLayout;
  at_row->setSpacing(4);
  at_row->addWidget(lblAt);
  at_row->addWidget(eDomain, 1);
  grid->addLayout(at_row, row, 2);
  grid->addWidget(imgCheckLogin, row, 3);
  ++row;

  lblPassword = label("lblPassword");
  ePassword = edit("ePassword", kPasswordMaxLength);
  add_row(lblPassword, ePassword);
  lblConfirmPassword = label("lblConfirmPassword");
  eConfirmPassword = edit("eConfirmPassword", kPasswordMaxLength);
  add_row(lblConfirmPassword, eConfirmPassword);

  lblSecurityQuestion = label("lblSecurityQuestion");
  cbSecurityQuestion = new QComboBox(this);
  cbSecurityQuestion->setObjectName(QStringLiteral("cbSecurityQuestion"));
  cbSecurityQuestion->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  imgHelpSecurityQuestion = label("imgHelpSecurityQuestion");
  imgHelpSecurityQuestion->setFixedSize(21, 21);
  grid->addWidget(lblSecurityQuestion, row, 0);
  grid->addWidget(cbSecurityQuestion, row, 1, 1, 2);
  grid->addWidget(imgHelpSecurityQuestion, row, 3);
  ++row;
  lblAnswer = label("lblAnswer");
  eAnswer = edit("eAnswer", kAnswerMaxLength);
  add_row(lblAnswer, eAnswer);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(2, 1);
  grid->setColumnMinimumWidth(1, 170);
  grid->setColumnMinimumWidth(2, 170);
  root->addLayout(grid);

  auto* links = new QHBoxLayout;
  wlCertificate = new TWebLink(this);
  wlCertificate->setObjectName(QStringLiteral("wlCertificate"));
  wlFillFromCertificate = new TWebLink(this);
  wlFillFromCertificate->setObjectName(QStringLiteral("wlFillFromCertificate"));
  for (TWebLink* link : {wlCertificate, wlFillFromCertificate}) {
    link->SetFontColor(QColor(kLinkRed, kLinkGreen, kLinkBlue));
  }
  links->addWidget(wlCertificate);
  links->addSpacing(16);
  links->addWidget(wlFillFromCertificate);
  links->addStretch(1);
  root->addLayout(links);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  btnOK = new QPushButton(this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnCancel = new QPushButton(this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setAutoDefault(false);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  root->addLayout(buttons);

  setTabOrder(eLastName, eFirstName);
  setTabOrder(eFirstName, eMiddleName);
  setTabOrder(eMiddleName, eCompany);
  setTabOrder(eCompany, eJobTitle);
  setTabOrder(eJobTitle, eLogin);
  setTabOrder(eLogin, ePassword);
  setTabOrder(ePassword, eConfirmPassword);
  setTabOrder(eConfirmPassword, cbSecurityQuestion);
  setTabOrder(cbSecurityQuestion, eAnswer);
  setTabOrder(eAnswer, btnOK);
  setTabOrder(btnOK, btnCancel);
  root->setSizeConstraint(QLayout::SetFixedSize);
}

void TfrmRegister::ApplyTexts() {
  // Built-in defaults; the language file replaces them.
  setWindowTitle(QStringLiteral("Registration"));
  lblTitle->setText(QStringLiteral("New account"));
  lblFirstName->setText(QStringLiteral("First name"));
  lblMiddleName->setText(QStringLiteral("Middle name"));
  lblLastName->setText(QStringLiteral("Last name"));
  lblCompany->setText(QStringLiteral("Company"));
  lblJobTitle->setText(QStringLiteral("Job title"));
  lblLogin->setText(QStringLiteral("Login"));
  lblPassword->setText(QStringLiteral("Password"));
  lblConfirmPassword->setText(QStringLiteral("Confirm password"));
  lblSecurityQuestion->setText(QStringLiteral("Security question"));
  lblAnswer->setText(QStringLiteral("Answer"));
  wlCertificate->SetCaption(QStringLiteral("Certificate"));
  wlFillFromCertificate->SetCaption(QStringLiteral("Fill from certificate"));
  btnOK->setText(QStringLiteral("OK"));
  btnCancel->setText(QStringLiteral("Cancel"));
}

void TfrmRegister::reject() {
  done(kResultCancelled);
}

bool TfrmRegister::eventFilter(QObject* watched, QEvent* e) {
  auto* field = qobject_cast<TEditEx*>(watched);
  const bool focus_event = e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut;
  // A menu or list popping up over the field does not count; leaving the
  // window (another program, a message box) gives the user's layout back.
  const bool counts = focus_event && static_cast<QFocusEvent*>(e)->reason() != Qt::PopupFocusReason;
  if (counts && field && keyboard_ &&
      (field == ePassword || field == eConfirmPassword || field == eLogin)) {
    if (e->type() == QEvent::FocusIn) {
      if (keyboard_->Enter()) {
        // After this event: a balloon's own filter on the field must not
        // join the dispatch that is running.
        QTimer::singleShot(0, field, [this, field] {
          if (field->hasFocus()) {
            field->ShowBalloonTip(windowTitle(), Msg("msgENKeyboardLayoutActivated"), 1);
          }
        });
      }
    } else if (e->type() == QEvent::FocusOut) {
      keyboard_->Leave();
    }
  }
  return QDialog::eventFilter(watched, e);
}

void TfrmRegister::eFirstNameChange() {
  if (const auto login = qovra::account::ProposedLogin(eFirstName->text(), eLastName->text())) {
    eLogin->setText(*login);
  }
}

std::optional<std::string> TfrmRegister::CertificateFile() {
  const std::u16string& crtpath = Options.Keys.crtpath;
  if (crtpath.empty()) {
    qovra::ShowWarning(HandleOf(this), "msgCertificatePathNotSpecified");
    return std::nullopt;
  }
  std::string cert = qovra::Utf16ToUtf8(crtpath);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(cert, ec)) {
    qovra::ShowWarning(HandleOf(this), "msgCertificatePathNotExists");
    return std::nullopt;
  }
  return cert;
}

void TfrmRegister::wlCertificateClick() {
  if (const auto cert = CertificateFile()) qovra::account::OpenCertificateViewer(this, *cert);
}

void TfrmRegister::wlFillFromCertificateClick() {
  const auto cert = CertificateFile();
  if (!cert) return;
  qovra::TCertificateOwner owner;
  if (!qovra::ReadCertificateOwner(std::string_view(*cert), &owner)) return;
  const QString name = QString::fromStdU16String(owner.Name()).left(kOwnerNameMaxLength);
  const qovra::account::TSplitName split = qovra::account::SplitOwnerName(name);
  eFirstName->setText(split.first);
  if (name.contains(QLatin1Char(' '))) {
    eLastName->setText(split.last);
    if (!split.middle.isEmpty()) eMiddleName->setText(split.middle);
  }
  eCompany->setText(QString::fromStdU16String(owner.Company()));
  eJobTitle->setText(QString::fromStdU16String(owner.JobTitle()));
}
