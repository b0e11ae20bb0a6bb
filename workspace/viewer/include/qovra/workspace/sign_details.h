// TfrmSignDetails: who signed the opened mail, when, and the verdict, with
// a link that opens the signer's certificate in the certificate viewer
// (jorvik, started with an argument vector). The focus starts on OK, the
// default button: Enter closes the dialog; the link is reached with Tab.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QPushButton;
class TViewForm;

namespace qovra::ui {
class TWebLink;
}

class TfrmSignDetails : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmSignDetails(QWidget* parent = nullptr);

  // Starts the viewer on a written certificate file; tests install one,
  // null restores jorvik.
  using TCertificateOpener = std::function<void(QWidget* owner, const std::string& file)>;
  static void SetCertificateOpener(TCertificateOpener opener);

  // Writes SignerCertificate to TempDir + 8 random hex digits + ".cer" and
  // opens it; nothing when SignerCertificate is empty.
  void wlOpenCertificateClick();

  std::string SignerCertificate;

  QLabel* imgLogo;
  QLabel* lblSignedBy;
  QLabel* lblSignedDate;
  QLabel* lblSignatureAuthencity;
  qovra::ui::TWebLink* wlOpenCertificate;
  QPushButton* btnOK;

 protected:
  void showEvent(QShowEvent* event) override;
};

namespace qovra::ui {

// The signature details of an open viewer: warning msgMailSignContentNotFound
// (owner the viewer) when it has no signature or the mail is flagged
// unsigned; otherwise the dialog, filled and shown modally.
void ShowSignatureDetails(TViewForm& viewer);

}  // namespace qovra::ui
