// TNewForm: the base of the compose windows. The main window's mail
// commands read any compose window through it: FillMessage fills the mail
// record, WriteMessage writes the mail container, GetTopFrame reaches the
// header frame.
//
// A compose window lives for one modal run; its result is 1 (sent), 4
// (saved to drafts) or 2 (cancelled). Closing by the close button, Escape
// or acCancel all go through reject(), which asks ConfirmClose() first; a
// result set by done() (sent, saved) closes without asking.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string_view>

#include "base/records.h"
#include "base/stream.h"

class QAction;
class QMenu;
class QMenuBar;
class TframeNewMailTop;

namespace qovra {
class TMailReader;
}

// The main window's commands a compose window binds its buttons to; any
// may be null.
struct TComposeCommands {
  QAction* Send = nullptr;
  QAction* SaveToDrafts = nullptr;
  QAction* ContactsBook = nullptr;
};

class TNewForm : public QDialog {
  Q_OBJECT

 public:
  explicit TNewForm(QWidget* parent = nullptr);

  // From the own address (cut to 63 characters), the recipients text split
  // at ";", the subject of the top frame (cut to 1023) and the flags ORed
  // into the record's flag word. No other field changes.
  virtual void FillMessage(qovra::TMailMessage* mail, std::string_view recipients, uint16_t flags);
  // Writes the mail container into stream; false in the base.
  [[nodiscard]] virtual bool WriteMessage(qovra::TStream& stream, std::string_view recipients,
                                          void* progress_data, qovra::TProgressProc progress);
  // The header frame; null in the base.
  virtual TframeNewMailTop* GetTopFrame();
  // Whether the window may close without a result (the close question);
  // true in the base.
  virtual bool ConfirmClose();

  // Parser over the file the window was opened on, or null (not owned).
  qovra::TMailReader* Reader = nullptr;
  // The record being composed (not owned; set before the window shows).
  qovra::TMailMessage* Mail = nullptr;
  // The open message file behind the window, or null (not owned).
  qovra::TStream* MailStream = nullptr;
  bool Modified = false;
  bool WriteContent = false;
  bool ContentPreset = false;
  // The widget that takes the focus when the window first shows; the
  // recipients field when null.
  QWidget* FirstFocus = nullptr;

  // The "Mail" main menu (BuildMailMenu).
  QMenuBar* TntMainMenu1 = nullptr;
  QMenu* mnuMail = nullptr;
  QMenu* mnuSendingMode = nullptr;
  QMenu* mnuPriority = nullptr;
  QMenu* mnuReport = nullptr;
  QAction* mnuMailSend = nullptr;
  QAction* mnuMailSaveToDrafts = nullptr;
  QAction* mnuSecureSend = nullptr;
  QAction* mnuFastSend = nullptr;
  QAction* mnuHighPriority = nullptr;
  QAction* mnuNormalPriority = nullptr;
  QAction* mnuLowPriority = nullptr;
  QAction* mnuReceiveReport = nullptr;
  QAction* mnuReadReport = nullptr;
  QAction* mnuCancel = nullptr;

 public slots:
  void reject() override;

 protected:
  // Clears Modified; the first time, hides the completion list (text set
  // before showing offers nothing), focuses FirstFocus (else the
  // recipients) and centres the window over its owner; places the
  // completion list.
  void showEvent(QShowEvent* event) override;
  // The window has no default button: Enter that a field leaves (the
  // subject, the recipients without a completion list) does nothing, and
  // Enter on a focused button clicks it.
  void keyPressEvent(QKeyEvent* event) override;
  // The main window's Send and Save to drafts (either may be null) work
  // from here by their shortcuts and from the menu's two items.
  void BindSendCommands(QAction* send, QAction* save_to_drafts);
  // Builds the "Mail" main menu: Send, Save to drafts, extra (when not
  // null), the sending mode, priority and report items kept in step with
  // top's buttons and pop-ups, and Cancel (reject). Send and Save to
  // drafts run nothing until the window binds them. Called once, at
  // creation, after top is built.
  void BuildMailMenu(TframeNewMailTop* top, QAction* extra);

 private:
  bool centred_ = false;
};
