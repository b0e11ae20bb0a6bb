// TfrmOptConnection: the server address, the HTTP client and the proxy.
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "base/records.h"
#include "options_page_helpers.h"
#include "platform/proxy_env.h"
#include "qovra/controls/edit_ex.h"

using qovra::account::Msg;
using qovra::account::NamedLabel;
using qovra::ui::TEditEx;

namespace {

constexpr int kProxyTextMax = 127;  // characters of the settings' proxy fields
constexpr int kClientOther = 2;     // useiewc of the second HTTP client

TEditEx* NamedEdit(QWidget* parent, const char* name) {
  auto* edit = new TEditEx(parent);
  edit->setObjectName(QString::fromLatin1(name));
  return edit;
}

}  // namespace

TfrmOptConnection::TfrmOptConnection(QWidget* parent) : TOptionsPage(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);

  eServerAddress = NamedEdit(this, "eServerAddress");
  lblServerAddress = NamedLabel(this, "lblServerAddress", eServerAddress);
  column->addWidget(lblServerAddress);
  column->addWidget(eServerAddress);

  lblHttpClient = NamedLabel(this, "lblHttpClient", nullptr);
  rbIDClient = new QRadioButton(this);
  rbIDClient->setObjectName(QStringLiteral("rbIDClient"));
  rbIEClient = new QRadioButton(this);
  rbIEClient->setObjectName(QStringLiteral("rbIEClient"));
  rbCURLClient = new QRadioButton(this);
  rbCURLClient->setObjectName(QStringLiteral("rbCURLClient"));
  rbCURLClient->hide();
  column->addSpacing(6);
  column->addWidget(lblHttpClient);
  column->addWidget(rbIDClient);
  column->addWidget(rbIEClient);

  gbProxy = new QCheckBox(this);
  gbProxy->setObjectName(QStringLiteral("gbProxy"));
  column->addSpacing(6);
  column->addWidget(gbProxy);

  pnlProxyAddress = new QWidget(this);
  pnlProxyAddress->setObjectName(QStringLiteral("pnlProxyAddress"));
  auto* address = new QGridLayout(pnlProxyAddress);
  address->setContentsMargins(20, 0, 0, 0);
  eProxyAddress = NamedEdit(pnlProxyAddress, "eProxyAddress");
  eProxyAddress->setMaxLength(kProxyTextMax);
  eProxyPort = NamedEdit(pnlProxyAddress, "eProxyPort");
  eProxyPort->SetNumbersOnly(true);
  eProxyPort->setMaxLength(5);
  eProxyPort->setText(QStringLiteral("8080"));
  eProxyPort->setFixedWidth(70);
  lblProxyAddress = NamedLabel(pnlProxyAddress, "lblProxyAddress", eProxyAddress);
  lblProxyPort = NamedLabel(pnlProxyAddress, "lblProxyPort", eProxyPort);
  btnFindProxy = new QPushButton(pnlProxyAddress);
  btnFindProxy->setObjectName(QStringLiteral("btnFindProxy"));
  address->addWidget(lblProxyAddress, 0, 0);
  address->addWidget(lblProxyPort, 0, 1);
  address->addWidget(eProxyAddress, 1, 0);
  address->addWidget(eProxyPort, 1, 1);
  address->addWidget(btnFindProxy, 1, 2);
  address->setColumnStretch(0, 1);
  column->addWidget(pnlProxyAddress);

  chkProxyAuth = new QCheckBox(this);
  chkProxyAuth->setObjectName(QStringLiteral("chkProxyAuth"));
  auto* auth_row = new QHBoxLayout;
  auth_row->setContentsMargins(20, 0, 0, 0);
  auth_row->addWidget(chkProxyAuth);
  column->addLayout(auth_row);

  pnlProxyAuth = new QWidget(this);
  pnlProxyAuth->setObjectName(QStringLiteral("pnlProxyAuth"));
  auto* auth = new QGridLayout(pnlProxyAuth);
  auth->setContentsMargins(40, 0, 0, 0);
  eProxyUserName = NamedEdit(pnlProxyAuth, "eProxyUserName");
  eProxyUserName->setMaxLength(kProxyTextMax);
  eProxyPassword = NamedEdit(pnlProxyAuth, "eProxyPassword");
  eProxyPassword->setMaxLength(kProxyTextMax);
  eProxyPassword->setEchoMode(QLineEdit::Password);
  eProxyPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 9679;"));  // U+25CF
  lblProxyUserName = NamedLabel(pnlProxyAuth, "lblProxyUserName", eProxyUserName);
  lblProxyPassword = NamedLabel(pnlProxyAuth, "lblProxyPassword", eProxyPassword);
  auth->addWidget(lblProxyUserName, 0, 0);
  auth->addWidget(lblProxyPassword, 0, 1);
  auth->addWidget(eProxyUserName, 1, 0);
  auth->addWidget(eProxyPassword, 1, 1);
  column->addWidget(pnlProxyAuth);
  column->addStretch(1);

  // TntFormCreate: after a login the server address stays as it is.
  if (qovra::Session.State == 1 || qovra::Session.State == 2) {
    eServerAddress->setReadOnly(true);
    QPalette palette = eServerAddress->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    eServerAddress->setPalette(palette);
    const QString locked = Msg("msgFieldLockedAfterLogin");
    eServerAddress->SetPasteErrorTitle(locked);
    eServerAddress->SetPasteErrorText(locked);
    eServerAddress->SetCharErrorTitle(locked);
    eServerAddress->SetCharErrorText(locked);
  }
  connect(gbProxy, &QCheckBox::clicked, this, &TfrmOptConnection::gbProxyClick);
  connect(chkProxyAuth, &QCheckBox::clicked, this, &TfrmOptConnection::chkProxyAuthClick);
  connect(btnFindProxy, &QPushButton::clicked, this, &TfrmOptConnection::btnFindProxyClick);
  gbProxyClick();
}

void TfrmOptConnection::gbProxyClick() {
  const bool on = gbProxy->isChecked();
  pnlProxyAddress->setEnabled(on);
  chkProxyAuth->setEnabled(on);
  pnlProxyAuth->setEnabled(on);
  if (on) chkProxyAuthClick();
}

void TfrmOptConnection::chkProxyAuthClick() {
  pnlProxyAuth->setEnabled(gbProxy->isChecked() && chkProxyAuth->isChecked());
}

void TfrmOptConnection::btnFindProxyClick() {
  qovra::TSystemProxy proxy;
  if (!qovra::ReadEnvironmentProxy(proxy)) return;
  gbProxy->setChecked(proxy.Enabled);
  eProxyAddress->setText(QString::fromStdString(proxy.Host));
  // A value without a port leaves the port field as it is.
  if (proxy.Port != 0) eProxyPort->setText(QString::number(proxy.Port));
  gbProxyClick();
}

void TfrmOptConnection::Load(const qovra::TOptions& options) {
  const qovra::TConnOpts& c = options.Conn;
  eServerAddress->setText(QString::fromStdString(c.srvaddr));
  rbIDClient->setChecked(c.useiewc < kClientOther);
  rbIEClient->setChecked(c.useiewc == kClientOther);
  if (c.useiewc > kClientOther) {
    // Neither: the pair is exclusive only while one of them is checked.
    rbIDClient->setAutoExclusive(false);
    rbIEClient->setAutoExclusive(false);
    rbIDClient->setChecked(false);
    rbIEClient->setChecked(false);
    rbIDClient->setAutoExclusive(true);
    rbIEClient->setAutoExclusive(true);
  }
  gbProxy->setChecked(c.useprxy != 0);
  eProxyAddress->setText(QString::fromStdString(c.prxaddr.str()));
  eProxyPort->setText(QString::number(c.prxport));
  chkProxyAuth->setChecked(c.prxauth != 0);
  eProxyUserName->setText(QString::fromStdString(c.prxuser.str()));
  eProxyPassword->setText(QString::fromStdString(c.prxpass.str()));
  gbProxyClick();
}

void TfrmOptConnection::Save(qovra::TOptions& options) {
  qovra::TConnOpts& c = options.Conn;
  if (qovra::Session.State != 1) {
    c.srvaddr = eServerAddress->text().toStdString();
    c.ServerUrl = "http://" + c.srvaddr + "/qovra4/";
  }
  c.useiewc = rbIEClient->isChecked() ? kClientOther : 0;
  c.useprxy = gbProxy->isChecked() ? 1 : 0;
  c.prxaddr = eProxyAddress->text().toStdString();
  bool number = false;
  const uint port = eProxyPort->text().toUInt(&number);
  c.prxport = number && port <= 0xFFFF ? static_cast<uint16_t>(port) : 0;
  c.prxauth = chkProxyAuth->isChecked() ? 1 : 0;
  c.prxuser = eProxyUserName->text().toStdString();
  c.prxpass = eProxyPassword->text().toStdString();
}

TEditEx* TfrmOptConnection::CheckFields(const char** message_key) {
  if (!gbProxy->isChecked()) return nullptr;
  bool number = false;
  const uint port = eProxyPort->text().toUInt(&number);
  if (number && port >= 1 && port <= 0xFFFF) return nullptr;
  *message_key = "msgProxyPortInvalid";
  return eProxyPort;
}
