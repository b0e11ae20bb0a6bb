// TViewForm: the base of the message viewers, with the header frame
// (TframeViewMailTop) and the signature status line (TframeViewMailFooter).
//
// The opener (the main window's acMailOpen) fills the fields from the
// opened mail and its signature check, then shows the viewer modally. The
// viewer owns its copy of the mail record, the stream of the opened file
// and the reader over it; they die with the window.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QFrame>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/records.h"
#include "base/stream.h"
#include "mail/signature_check.h"
#include "store/mail_container_reader.h"

class QAction;
class QLabel;
class QLineEdit;
class QToolBar;

namespace qovra::ui {
class TSizeGrip;
class TWebLink;
}  // namespace qovra::ui

// The main window's commands the viewers bind to; any may be null.
struct TViewCommands {
  QAction* Reply = nullptr;
  QAction* Forward = nullptr;
  QAction* Print = nullptr;
  QAction* SaveAs = nullptr;
  QAction* SaveAttachments = nullptr;
  QAction* SignDetails = nullptr;
};

class TframeViewMailTop : public QFrame {
  Q_OBJECT

 public:
  TframeViewMailTop(const TViewCommands& commands, QWidget* parent);

  QFrame* pnlTop;
  QLabel* lblFrom;
  QLabel* lblTo;
  QLabel* lblSubject;
  QLineEdit* eFrom;
  QLineEdit* eTo;
  QLineEdit* eSubject;
  QToolBar* tbViewMail;
  // The tool bar's entries for the commands (null when not given).
  QAction* btnSaveAttachments = nullptr;
};

class TframeViewMailFooter : public QFrame {
  Q_OBJECT

 public:
  explicit TframeViewMailFooter(QWidget* parent);

  // Places imgMode 25 pixels left of wlSignature and lblFAU 15 pixels left
  // of imgMode, wlSignature directly left of the grip (of width grip_width
  // at the right edge).
  void Arrange(int grip_width);

  QFrame* pnlFooter;
  QLabel* lblStatus;
  QLabel* imgMode;
  QLabel* lblFAU;
  qovra::ui::TWebLink* wlSignature;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  int grip_width_ = 0;
};

class TViewForm : public QDialog {
  Q_OBJECT

 public:
  explicit TViewForm(QWidget* parent = nullptr);
  ~TViewForm() override;

  virtual TframeViewMailTop* GetTopFrame() { return nullptr; }
  virtual TframeViewMailFooter* GetFooterFrame() { return nullptr; }
  // Fills the window from Reader (header, caption, body or player).
  virtual void FillFromReader() {}

  // Shows the signature verdict in the footer: text and colour of the
  // status link (see SignatureStatusText), the FAU sign and the sending
  // mode picture with its hint.
  void ShowSignatureStatus();

  qovra::ui::TSizeGrip* Grip = nullptr;
  std::unique_ptr<qovra::TStream> MailStream;
  std::unique_ptr<qovra::TMailReader> Reader;
  qovra::TMailSignature Signature;  // HasSignature, signature, certificate, SignedTime
  qovra::TSignatureCheck Check;     // SignatureStatus, signer name, key, validity
  qovra::TMailMessage Mail;         // the viewer's own copy of the list record
  // Files to wipe when the viewer closes (extracted from an administrative
  // mail).
  std::vector<std::string> WipeOnClose;

  // The main window's status bar around attachment work.
  std::function<void(const QString&)> StatusBusy;
  std::function<void()> StatusReady;
  void* ProgressBar = nullptr;

 protected:
  // StatusBusy with a message key's text, and StatusReady, when set.
  void Busy(const std::string& key);
  void Ready();

  // Lets the window's Ctrl and Alt shortcuts pass the read-only fields,
  // whose edit bindings (Ctrl+E: end of line on X11) would take them; Copy
  // and Select all stay with the field.
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

namespace qovra::ui {

// The status link's message key for a verdict code.
std::string SignatureStatusKey(int status);
// The details dialog's message key for a verdict code; empty for the codes
// that show a warning instead (-3, -4).
std::string SignatureDetailsKey(int status);

}  // namespace qovra::ui
