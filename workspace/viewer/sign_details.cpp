// TfrmSignDetails and the signature-details command of an open viewer.
#include "qovra/workspace/sign_details.h"

#include <QDateTime>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimeZone>
#include <QVBoxLayout>
#include <filesystem>

#include "base/messages.h"
#include "keys/random_text.h"
#include "platform/run_thread.h"
#include "platform/temp_files.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/attachment_rows.h"
#include "qovra/workspace/view_form.h"
#include "settings/settings.h"

namespace {

TfrmSignDetails::TCertificateOpener& CertificateOpener() {
  static TfrmSignDetails::TCertificateOpener opener;
  return opener;
}

void StartJorvik(QWidget* owner, const std::string& file) {
  const std::string viewer = qovra::ProgramDir + "jorvik";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(viewer, ec)) return;
  qovra::TRunThreadList& list =
      qovra::RunThreadList ? *qovra::RunThreadList : qovra::ui::MailWindowRunThreads();
  (void)list.Run(viewer, {"/h" + std::to_string(owner->winId()),
                          "/l" + std::to_string(qovra::Options.langid), file});
}

// A TDateTime in UTC as local time, "yyyy.MM.dd hh:mm:ss".
QString LocalTimeText(qovra::TDateTime utc) {
  const qint64 ms = static_cast<qint64>((utc - 25569.0) * 86400000.0 + 0.5);
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)
      .toLocalTime()
      .toString(QStringLiteral("yyyy.MM.dd hh:mm:ss"));
}

}  // namespace

void TfrmSignDetails::SetCertificateOpener(TCertificateOpener opener) {
  CertificateOpener() = std::move(opener);
}

TfrmSignDetails::TfrmSignDetails(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmSignDetails"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  imgLogo = new QLabel(this);
  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  imgLogo->setFixedSize(32, 32);
  imgLogo->setPixmap(
      QPixmap::fromImage(qovra::ui::LoadPngResource(QStringLiteral("ico_mail_sign32"))));
  const auto label = [this](const char* name) {
    auto* l = new QLabel(this);
    l->setObjectName(QString::fromLatin1(name));
    return l;
  };
  lblSignedBy = label("lblSignedBy");
  lblSignedDate = label("lblSignedDate");
  lblSignatureAuthencity = label("lblSignatureAuthencity");
  wlOpenCertificate = new qovra::ui::TWebLink(this);
  wlOpenCertificate->setObjectName(QStringLiteral("wlOpenCertificate"));
  btnOK = new QPushButton(this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, [this] { done(1); });
  connect(wlOpenCertificate, &qovra::ui::TWebLink::OnClick, this,
          [this] { wlOpenCertificateClick(); });

  auto* texts = new QVBoxLayout;
  texts->addWidget(lblSignedBy);
  texts->addWidget(lblSignedDate);
  texts->addWidget(lblSignatureAuthencity);
  texts->addWidget(wlOpenCertificate);
  auto* top = new QHBoxLayout;
  top->addWidget(imgLogo, 0, Qt::AlignTop);
  top->addLayout(texts, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(12, 12, 12, 12);
  column->addLayout(top);
  column->addLayout(buttons);
  column->setSizeConstraint(QLayout::SetFixedSize);
  qovra::ApplyLanguage(this);
  SignerCertificate.clear();
}

void TfrmSignDetails::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Enter closes the dialog: the focus starts on OK, not on the link that
  // comes first in the tab order.
  if (!event->spontaneous()) btnOK->setFocus(Qt::OtherFocusReason);
  if (parentWidget()) {
    const QRect owner = parentWidget()->window()->frameGeometry();
    move(owner.center() - rect().center());
  }
}

void TfrmSignDetails::wlOpenCertificateClick() {
  if (SignerCertificate.empty()) return;
  const std::string file = qovra::GetTempFolder() + qovra::RandomHexString(4) + ".cer";
  QFile out(QString::fromStdString(file));
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  const qint64 n = static_cast<qint64>(SignerCertificate.size());
  const bool written = out.write(SignerCertificate.data(), n) == n;
  out.close();
  if (!written) return;
  if (CertificateOpener())
    CertificateOpener()(this, file);
  else
    StartJorvik(this, file);
}

namespace qovra::ui {

void ShowSignatureDetails(TViewForm& viewer) {
  const std::string key = SignatureDetailsKey(viewer.Check.Status);
  if (!viewer.Signature.HasSignature || key.empty()) {
    ShowWarning(HandleOf(&viewer), "msgMailSignContentNotFound");
    return;
  }
  TfrmSignDetails dialog(&viewer);
  dialog.lblSignedDate->setText(dialog.lblSignedDate->text() +
                                LocalTimeText(viewer.Signature.SignedTime));
  dialog.lblSignedBy->setText(dialog.lblSignedBy->text() +
                              QString::fromStdU16String(viewer.Check.Signer.Name));
  dialog.lblSignatureAuthencity->setText(QString::fromStdString(GetMsg(key)));
  dialog.SignerCertificate = viewer.Signature.Certificate;
  dialog.exec();
}

}  // namespace qovra::ui
