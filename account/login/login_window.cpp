// TfrmLogin: building the window, its texts, the fade-in and the shake, and
// the links. The login itself is in login_actions.cpp.
#include "qovra/account/login_window.h"

#include <QCheckBox>
#include <QEvent>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <string>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/records.h"
#include "base/text_utils.h"
#include "base/utf.h"
#include "base/version.h"
#include "net/session_setup.h"
#include "qovra/account/certificate_viewer.h"
#include "qovra/account/forget_window.h"
#include "qovra/account/register_window.h"
#include "qovra/account/us_keyboard.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/char_set.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/about_box.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/widgets.h"
#include "settings/settings.h"

using qovra::Options;
using qovra::ui::HandleOf;
using qovra::ui::TEditEx;
using qovra::ui::TWebLink;

namespace {

constexpr int kFadeIntervalMs = 4;
constexpr int kShakeIntervalMs = 50;
constexpr int kShakeTicks = 5;
constexpr int kShakeOffset = 5;
constexpr int kFadeStep = 25;
constexpr int kLinkRed = 34, kLinkGreen = 70, kLinkBlue = 136;
constexpr int kFieldWidth = 190;
// QLineEdit's own margin on each side of its text.
constexpr int kLineEditTextMargin = 2;

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

// The width at which edit shows text (a placeholder) whole: the text, the
// edit's margins and its frame as the style draws it.
int FieldWidthFor(QLineEdit* edit, const QString& text) {
  const QFontMetrics fm = edit->fontMetrics();
  const QMargins text_margins = edit->textMargins();
  const QMargins margins = edit->contentsMargins();
  const int inner = fm.horizontalAdvance(text) + std::max(0, -fm.minLeftBearing()) +
                    std::max(0, -fm.minRightBearing()) + 2 * kLineEditTextMargin +
                    text_margins.left() + text_margins.right() + margins.left() + margins.right();
  QStyleOptionFrame option;
  option.initFrom(edit);
  option.lineWidth = edit->hasFrame()
                         ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                         : 0;
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  return edit->style()
      ->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(inner, fm.height()), edit)
      .width();
}

}  // namespace

TfrmLogin::TfrmLogin(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmLogin"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                 Qt::WindowTitleHint);
  setWindowIcon(qovra::ui::MainIcon());
  BuildLayout();

  // FormCreate.
  eLogin->SetAcceptableChars(qovra::ui::LoginCharSet());
  eLogin->SetPasteErrorTitle(Msg("msgLoginPasteErrorTitle"));
  eLogin->SetPasteErrorText(Msg("msgLoginPasteErrorText"));
  eLogin->SetCharErrorTitle(Msg("msgLoginCharErrorTitle"));
  eLogin->SetCharErrorText(Msg("msgLoginCharErrorText"));
  for (TWebLink* link : {wlRegister, wlDomain, wlForgetPassword, wlSettings}) {
    link->SetFontColor(QColor(kLinkRed, kLinkGreen, kLinkBlue));
  }
  imgLogo->setFixedSize(48, 48);
  imgLogo->setPixmap(QPixmap::fromImage(qovra::ui::LoadPngResource(QStringLiteral("ico_lock48"))));
  ApplyTexts();
  qovra::ui::ApplyLanguageToForm(this);
  ApplyPlaceholders();
  login_failures_ = 0;

  us_layout_switch_ = [] { (void)qovra::account::SwitchToUsKeyboardLayout(); };

  // The fade-in starts at once; the first ticks may pass before the window shows.
  setWindowOpacity(alpha_blend_ / 255.0);
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kFadeIntervalMs);
  connect(Timer1, &QTimer::timeout, this, &TfrmLogin::Timer1Timer);
  Timer1->start();

  connect(btnOK, &QPushButton::clicked, this, &TfrmLogin::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmLogin::reject);
  connect(chkOfflineWork, &QCheckBox::clicked, this, &TfrmLogin::chkOfflineWorkClick);
  connect(wlSettings, &TWebLink::OnClick, this, &TfrmLogin::wlSettingsClick);
  connect(wlDomain, &TWebLink::OnClick, this, &TfrmLogin::wlDomainClick);
  connect(wlRegister, &TWebLink::OnClick, this, &TfrmLogin::wlRegisterClick);
  connect(wlForgetPassword, &TWebLink::OnClick, this, &TfrmLogin::wlForgetPasswordClick);
  for (QObject* clickable : {static_cast<QObject*>(imgLogo), static_cast<QObject*>(lblAbout),
                             static_cast<QObject*>(TntLabel2), static_cast<QObject*>(TntLabel3),
                             static_cast<QObject*>(eLogin)}) {
    clickable->installEventFilter(this);
  }
}

TfrmLogin::~TfrmLogin() {
  qovra::ui::WipeEditText(ePassword);
  // A balloon pointing into this window goes with it.
  if (const auto balloon = qovra::ui::CurrentBalloon()) {
    if (balloon->field && isAncestorOf(balloon->field)) qovra::ui::HideBalloon();
  }
}

void TfrmLogin::BuildLayout() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(16, 14, 16, 12);
  root->setSpacing(8);

  auto* head = new QHBoxLayout;
  imgLogo = new QLabel(this);
  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  imgLogo->setCursor(Qt::PointingHandCursor);
  head->addWidget(imgLogo, 0, Qt::AlignTop);
  auto* words = new QVBoxLayout;
  words->setSpacing(0);
  auto* title_row = new QHBoxLayout;
  lblAbout = new QLabel(QStringLiteral("Qovra"), this);
  lblAbout->setObjectName(QStringLiteral("lblAbout"));
  TntLabel2 = new QLabel(this);
  TntLabel2->setObjectName(QStringLiteral("TntLabel2"));
  QFont big = lblAbout->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.8);
  lblAbout->setFont(big);
  TntLabel2->setFont(big);
  const std::string_view version = qovra::ClientVersionString();
  TntLabel2->setText(QString::fromUtf8(version.data(), static_cast<qsizetype>(version.size()))
                         .section(QLatin1Char('.'), 0, 1));
  TntLabel2->setStyleSheet(QStringLiteral("color: rgb(34,70,136)"));
  title_row->setSpacing(6);
  title_row->addWidget(lblAbout);
  title_row->addWidget(TntLabel2);
  title_row->addStretch(1);
  TntLabel3 = new QLabel(this);
  TntLabel3->setObjectName(QStringLiteral("TntLabel3"));
  for (QLabel* l : {lblAbout, TntLabel2, TntLabel3}) l->setCursor(Qt::PointingHandCursor);
  words->addLayout(title_row);
  words->addWidget(TntLabel3);
  head->addLayout(words, 1);
  root->addLayout(head);

  auto* fields = new QGridLayout;
  fields->setHorizontalSpacing(6);
  eLogin = new TEditEx(this);
  eLogin->setObjectName(QStringLiteral("eLogin"));
  eLogin->setMaxLength(32);
  wlDomain = new TWebLink(this);
  wlDomain->setObjectName(QStringLiteral("wlDomain"));
  ePassword = new TEditEx(this);
  ePassword->setObjectName(QStringLiteral("ePassword"));
  ePassword->setEchoMode(QLineEdit::Password);
  ePassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 9679; }"));
  for (TEditEx* e : {eLogin, ePassword}) e->setMinimumWidth(kFieldWidth);
  fields->addWidget(eLogin, 0, 0);
  fields->addWidget(wlDomain, 0, 1, Qt::AlignVCenter | Qt::AlignLeft);
  fields->addWidget(ePassword, 1, 0);
  chkOfflineWork = new QCheckBox(this);
  chkOfflineWork->setObjectName(QStringLiteral("chkOfflineWork"));
  fields->addWidget(chkOfflineWork, 2, 0);
  fields->setColumnStretch(1, 1);
  root->addLayout(fields);

  auto* buttons = new QHBoxLayout;
  wlSettings = new TWebLink(this);
  wlSettings->setObjectName(QStringLiteral("wlSettings"));
  buttons->addWidget(wlSettings, 0, Qt::AlignVCenter);
  buttons->addStretch(1);
  btnOK = new QPushButton(this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  buttons->addWidget(btnOK);
  root->addLayout(buttons);

  auto* links = new QHBoxLayout;
  wlRegister = new TWebLink(this);
  wlRegister->setObjectName(QStringLiteral("wlRegister"));
  wlForgetPassword = new TWebLink(this);
  wlForgetPassword->setObjectName(QStringLiteral("wlForgetPassword"));
  links->addWidget(wlRegister);
  links->addStretch(1);
  links->addWidget(wlForgetPassword);
  root->addLayout(links);

  // Escape's button: out of sight and without size.
  btnCancel = new QPushButton(this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setAutoDefault(false);
  btnCancel->setFocusPolicy(Qt::NoFocus);
  btnCancel->setGeometry(-100, -100, 0, 0);

  setTabOrder(eLogin, ePassword);
  setTabOrder(ePassword, chkOfflineWork);
  setTabOrder(chkOfflineWork, btnOK);
  root->setSizeConstraint(QLayout::SetFixedSize);
}

void TfrmLogin::ApplyTexts() {
  // Built-in defaults; the language file replaces them.
  setWindowTitle(QStringLiteral("Log in"));
  TntLabel3->setText(QStringLiteral("protected mail"));
  btnOK->setText(QStringLiteral("Log in"));
  btnCancel->setText(QStringLiteral("Cancel"));
  chkOfflineWork->setText(QStringLiteral("Work offline"));
  wlRegister->SetCaption(QStringLiteral("Register"));
  wlForgetPassword->SetCaption(QStringLiteral("Forgot your password?"));
  wlSettings->SetCaption(QStringLiteral("Settings"));
}

void TfrmLogin::RefreshFromOptions(bool keep_login) {
  if (!keep_login && eLogin->text().isEmpty()) {
    eLogin->setText(QString::fromStdString(Options.Other.lastlgn));
  }
  const bool has_login = !eLogin->text().isEmpty();
  if (Options.Conn.srvaddr.empty()) {
    wlDomain->SetCaption(Msg("msgNotSpecified"));
    if (has_login) wlDomain->setFocus();
  } else {
    wlDomain->SetCaption(QLatin1Char('@') + QString::fromStdString(Options.Conn.srvaddr));
    if (has_login) ePassword->setFocus();
  }
}

void TfrmLogin::reject() {
  done(kResultCancelled);
}

bool TfrmLogin::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) TntFormActivate();
  return QDialog::event(e);
}

void TfrmLogin::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!(Timer1->isActive() && Timer1->interval() == kShakeIntervalMs)) home_left_ = x();
}

void TfrmLogin::TntFormActivate() {
  if (eLogin->hasFocus() && eLogin->text().isEmpty()) {
    eLogin->ShowBalloonTip(windowTitle(), Msg("msgLoginNotSpecified"), 1);
  }
  // A shake in progress keeps its home.
  if (!(Timer1->isActive() && Timer1->interval() == kShakeIntervalMs)) home_left_ = x();
}

bool TfrmLogin::eventFilter(QObject* watched, QEvent* e) {
  if (watched == eLogin && e->type() == QEvent::FocusIn) {
    eLoginEnter();
  } else if (e->type() == QEvent::MouseButtonRelease &&
             static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    if (watched == imgLogo) {
      imgLogoClick();
      return true;
    }
    if (watched == lblAbout || watched == TntLabel2 || watched == TntLabel3) {
      lblAboutClick();
      return true;
    }
  }
  return QDialog::eventFilter(watched, e);
}

void TfrmLogin::eLoginEnter() {
  if (us_layout_switch_) us_layout_switch_();
}

void TfrmLogin::Timer1Timer() {
  if (Timer1->interval() == kShakeIntervalMs) {
    const int left = x() < home_left_ ? home_left_ + kShakeOffset : home_left_ - kShakeOffset;
    move(left, y());
    ++shake_count_;
    if (shake_count_ >= kShakeTicks) {
      Timer1->stop();
      move(home_left_, y());
    }
    return;
  }
  alpha_blend_ += kFadeStep;
  if (alpha_blend_ > 254) {
    alpha_blend_ = 255;
    Timer1->stop();
  }
  setWindowOpacity(alpha_blend_ / 255.0);
}

void TfrmLogin::StartShake() {
  // A fade-in still running ends at full opacity.
  if (Timer1->isActive() && Timer1->interval() != kShakeIntervalMs) {
    alpha_blend_ = 255;
    setWindowOpacity(1.0);
  }
  if (!(Timer1->isActive() && Timer1->interval() == kShakeIntervalMs)) home_left_ = x();
  shake_count_ = 0;
  Timer1->setInterval(kShakeIntervalMs);
  Timer1->start();
}

void TfrmLogin::ApplyPlaceholders() {
  eLogin->SetPlaceHolder(Msg("msgLogin"));
  eLogin->setToolTip(Msg("msgLogin"));
  const char* key = !chkOfflineWork->isChecked() ? "msgPassword"
                    : Options.Keys.keyssrc == 1  ? "msgMurvexPassword"
                                                 : "msgOfflinePassword";
  ePassword->SetPlaceHolder(Msg(key));
  ePassword->setToolTip(Msg(key));
  // Room for the longest of the password's placeholders, whole.
  int width = kFieldWidth;
  for (const char* each : {"msgPassword", "msgOfflinePassword", "msgMurvexPassword"})
    width = std::max(width, FieldWidthFor(ePassword, Msg(each)));
  for (TEditEx* e : {eLogin, ePassword}) e->setMinimumWidth(width);
}

void TfrmLogin::chkOfflineWorkClick() {
  const bool offline = chkOfflineWork->isChecked();
  ApplyPlaceholders();
  QPalette palette = eLogin->palette();
  palette.setColor(QPalette::Base, offline ? this->palette().color(QPalette::Window)
                                           : this->palette().color(QPalette::Base));
  eLogin->setPalette(palette);
  eLogin->setReadOnly(offline);
  wlRegister->setEnabled(!offline);
  wlDomain->setEnabled(!offline);
}

bool TfrmLogin::ServerSettingsReady() {
  for (;;) {
    const int r = qovra::CheckServerSettings(HandleOf(this));
    // The settings dialog may have switched the language.
    ApplyPlaceholders();
    if (r == qovra::kCheckCorrected) continue;
    return r == qovra::kCheckOk;
  }
}

void TfrmLogin::wlSettingsClick() {
  const bool applied =
      qovra::ShowOptionsDialog(HandleOf(this), chkOfflineWork->isChecked() ? -2 : -1);
  ApplyPlaceholders();
  if (applied) RefreshFromOptions(true);
}

void TfrmLogin::wlDomainClick() {
  if (Options.Conn.srvaddr.empty()) {
    const bool applied = qovra::ShowOptionsDialog(HandleOf(this), 1);
    ApplyPlaceholders();
    if (applied) RefreshFromOptions(false);
    return;
  }
  if (wlDomain->Caption() == Msg("msgNotSpecified")) {
    RefreshFromOptions(true);
    return;
  }
  ConnectionTest();
}

void TfrmLogin::wlRegisterClick() {
  const std::string srvaddr = Options.Conn.srvaddr;
  if (!ServerSettingsReady()) return;
  if (!qovra::SameTextAscii(srvaddr, Options.Conn.srvaddr)) RefreshFromOptions(true);
  TfrmRegister form(this);
  form.eDomain->setText(QString::fromStdString(Options.Conn.srvaddr));
  if (form.exec() == TfrmRegister::kResultRegistered) {
    eLogin->setText(form.eLogin->text());
    ePassword->setFocus();
  }
}

void TfrmLogin::wlForgetPasswordClick() {
  if (chkOfflineWork->isChecked()) {
    qovra::ShowInfo(HandleOf(this), "msgOfflinePasswordRecovery");
    return;
  }
  if (!ServerSettingsReady()) return;
  TfrmForget form(this);
  form.eLogin->setText(eLogin->text());
  (void)form.exec();
}

void TfrmLogin::imgLogoClick() {
  if (Options.Keys.keyssrc != 0) return;
  const std::u16string& crtpath = Options.Keys.crtpath;
  if (crtpath.empty()) {
    qovra::ShowWarning(HandleOf(this), "msgCertificatePathNotSpecified");
    return;
  }
  const std::string cert = qovra::Utf16ToUtf8(crtpath);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(cert, ec)) {
    qovra::ShowWarning(HandleOf(this), "msgCertificatePathNotExists");
    return;
  }
  qovra::account::OpenCertificateViewer(this, cert);
}

void TfrmLogin::lblAboutClick() {
  qovra::ui::ShowAboutBox(this);
}

void TfrmLogin::FieldBalloon(QWidget* field, const char* key) {
  if (auto* edit = qobject_cast<TEditEx*>(field)) edit->ShowBalloonTip(windowTitle(), Msg(key), 2);
}
