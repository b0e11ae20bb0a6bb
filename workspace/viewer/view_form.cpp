// TViewForm and its two frames.
#include "qovra/workspace/view_form.h"

#include <unistd.h>

#include <QAction>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QToolBar>
#include <QVBoxLayout>

#include "base/messages.h"
#include "base/secure_wipe.h"
#include "qovra/controls/size_grip.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/png_resources.h"

namespace {

QLabel* NamedLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

QLineEdit* ReadOnlyEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setReadOnly(true);
  return edit;
}

QString Msg(const std::string& key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

// Overwrites and removes a file.
void WipeFile(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (file.open(QIODevice::ReadWrite)) {
    const QByteArray zeros(16384, '\0');
    for (qint64 left = file.size(); left > 0; left -= zeros.size())
      file.write(zeros.constData(), std::min<qint64>(left, zeros.size()));
    file.close();
  }
  ::unlink(path.c_str());
}

}  // namespace

TframeViewMailTop::TframeViewMailTop(const TViewCommands& commands, QWidget* parent)
    : QFrame(parent) {
  setObjectName(QStringLiteral("frameViewMailTop1"));
  tbViewMail = new QToolBar(this);
  tbViewMail->setObjectName(QStringLiteral("tbViewMail"));
  tbViewMail->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  tbViewMail->setIconSize(QSize(32, 32));
  const auto add = [this](QAction* action) {
    return action ? (tbViewMail->addAction(action), action) : nullptr;
  };
  add(commands.Reply);
  add(commands.Forward);
  tbViewMail->addSeparator()->setObjectName(QStringLiteral("btnSep1"));
  add(commands.Print);
  add(commands.SaveAs);
  btnSaveAttachments = add(commands.SaveAttachments);
  tbViewMail->addSeparator()->setObjectName(QStringLiteral("btnSep2"));
  add(commands.SignDetails);

  pnlTop = new QFrame(this);
  pnlTop->setObjectName(QStringLiteral("pnlTop"));
  lblFrom = NamedLabel(pnlTop, "lblFrom");
  lblTo = NamedLabel(pnlTop, "lblTo");
  lblSubject = NamedLabel(pnlTop, "lblSubject");
  eFrom = ReadOnlyEdit(pnlTop, "eFrom");
  eTo = ReadOnlyEdit(pnlTop, "eTo");
  eSubject = ReadOnlyEdit(pnlTop, "eSubject");
  auto* grid = new QGridLayout(pnlTop);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->addWidget(lblFrom, 0, 0);
  grid->addWidget(eFrom, 0, 1);
  grid->addWidget(lblTo, 1, 0);
  grid->addWidget(eTo, 1, 1);
  grid->addWidget(lblSubject, 2, 0);
  grid->addWidget(eSubject, 2, 1);
  grid->setColumnStretch(1, 1);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(tbViewMail);
  column->addWidget(pnlTop);
}

TframeViewMailFooter::TframeViewMailFooter(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("frameViewMailFooter1"));
  setFixedHeight(18);
  pnlFooter = new QFrame(this);
  pnlFooter->setObjectName(QStringLiteral("pnlFooter"));
  lblStatus = NamedLabel(pnlFooter, "lblStatus");
  imgMode = NamedLabel(pnlFooter, "imgMode");
  imgMode->setFixedSize(16, 16);
  lblFAU = NamedLabel(pnlFooter, "lblFAU");
  wlSignature = new qovra::ui::TWebLink(pnlFooter);
  wlSignature->setObjectName(QStringLiteral("wlSignature"));
}

void TframeViewMailFooter::Arrange(int grip_width) {
  grip_width_ = grip_width;
  pnlFooter->setGeometry(rect());
  const int h = height();
  wlSignature->adjustSize();
  const int link_w = wlSignature->sizeHint().width();
  const int link_x = width() - grip_width_ - link_w;
  wlSignature->setGeometry(link_x, 0, link_w, h);
  imgMode->move(link_x - 25, (h - 16) / 2);
  lblFAU->adjustSize();
  const int fau_w = lblFAU->isHidden() ? 0 : lblFAU->sizeHint().width();
  lblFAU->setGeometry(imgMode->x() - 15 - fau_w + 8, 0, fau_w, h);
  const int status_right = (fau_w > 0 ? lblFAU->x() : imgMode->x()) - 6;
  lblStatus->setGeometry(4, 0, std::max(0, status_right - 4), h);
}

void TframeViewMailFooter::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Arrange(grip_width_);
}

TViewForm::TViewForm(QWidget* parent) : QDialog(parent) {}

TViewForm::~TViewForm() {
  Reader.reset();
  MailStream.reset();
  for (const std::string& file : WipeOnClose) WipeFile(file);
}

void TViewForm::showEvent(QShowEvent* event) {
  for (QLineEdit* edit : findChildren<QLineEdit*>())
    if (edit->isReadOnly()) edit->installEventFilter(this);
  for (QPlainTextEdit* edit : findChildren<QPlainTextEdit*>())
    if (edit->isReadOnly()) edit->installEventFilter(this);
  QDialog::showEvent(event);
}

bool TViewForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0 &&
        !key->matches(QKeySequence::Copy) && !key->matches(QKeySequence::SelectAll)) {
      // Not accepted: the shortcut map tries the window's shortcuts; a key
      // that none takes still reaches the field as a key press.
      event->ignore();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TViewForm::Busy(const std::string& key) {
  if (StatusBusy) StatusBusy(Msg(key));
}
void TViewForm::Ready() {
  if (StatusReady) StatusReady();
}

void TViewForm::ShowSignatureStatus() {
  TframeViewMailFooter* footer = GetFooterFrame();
  if (!footer) return;
  const int status = Check.Status;
  footer->wlSignature->SetCaption(Msg(qovra::ui::SignatureStatusKey(status)));
  if (status == qovra::kSignUnsignedFlag) {
    footer->wlSignature->SetFontColor(QColor(128, 128, 128));
    footer->wlSignature->SetHotFontColor(QColor(128, 128, 128));
  } else if (status != qovra::kSignValid) {
    footer->wlSignature->SetFontColor(QColor(255, 0, 0));
    footer->wlSignature->SetHotFontColor(QColor(255, 0, 0));
  }
  const bool admin = (Mail.Flags & qovra::mfAdminOnly) != 0;
  footer->lblFAU->setText(admin ? Msg("msgFAU") : QString());
  footer->lblFAU->setVisible(admin);
  const bool fast = Mail.SendMode == qovra::kSendModeFast;
  footer->imgMode->setPixmap(QPixmap::fromImage(qovra::ui::LoadPngResource(
      fast ? QStringLiteral("ico_send_fast16") : QStringLiteral("ico_send_secure16"))));
  footer->imgMode->setToolTip(Msg(fast ? "hintFastSended" : "hintSecureSended"));
  footer->Arrange(Grip ? qovra::ui::TSizeGrip::kSize : 0);
}

namespace qovra::ui {

std::string SignatureStatusKey(int status) {
  switch (status) {
    case kSignValid:
      return "msgAuthentic";
    case kSignNoContainer:
    case kSignUnsignedFlag:
      return "msgMailSignContentNotFound";
    default:
      return "msgUnauthentic";
  }
}

std::string SignatureDetailsKey(int status) {
  switch (status) {
    case kSignValid:
      return "msgAuthentic";
    case kSignWrong:
      return "msgUnauthentic";
    case kSignCertUnreadable:
      return "msgSignerCertInvalid";
    case kSignCertNotYetValid:
      return "msgSignerCertNotYetValid";
    case kSignCertExpired:
      return "msgSignerCertExpired";
    default:
      return {};
  }
}

}  // namespace qovra::ui
