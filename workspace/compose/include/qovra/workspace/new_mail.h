// TfrmNewMail: the text compose window: the header frame, a plain-text
// body and the list of attached files.
//
// Attaching (the file dialog, dropped files, AttachFiles) checks every
// path (compose_rules.h): too long, already attached, empty, forbidden;
// accepted files become rows, and one warning reports the refusals of the
// batch. Each row holds a TMailAttachmentInfo: a file on disk (DataOffset
// 0, FileName its full path) or an attachment of Reader (its DataOffset).
//
// Closing without a result while Modified and not empty asks
// msgSaveToDraftsPrompt: Cancel keeps the window, No closes; Yes runs the
// main window's Save-to-drafts command, which closes the window with 4
// when it saved and leaves it open when it refused or failed.
//
// GUI thread only.
#pragma once

#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

#include "qovra/workspace/new_form.h"
#include "store/mail_container_reader.h"

class QAction;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QSplitter;
class QToolButton;
class QWidget;

class TfrmNewMail : public TNewForm {
  Q_OBJECT

 public:
  // commands: the main window's commands the tool bar binds to.
  explicit TfrmNewMail(const TComposeCommands& commands, QWidget* parent = nullptr);
  ~TfrmNewMail() override;

  void FillMessage(qovra::TMailMessage* mail, std::string_view recipients, uint16_t flags) override;
  // The container: the headers, the body with every line ending in CR LF,
  // then the rows' files in list order.
  [[nodiscard]] bool WriteMessage(qovra::TStream& stream, std::string_view recipients,
                                  void* progress_data, qovra::TProgressProc progress) override;
  TframeNewMailTop* GetTopFrame() override { return frameNewMailTop1; }
  bool ConfirmClose() override;

  // The chooser of acAttachFile: the files to attach, or nothing when
  // cancelled. Tests install one; null restores the file dialog.
  using TAttachChooser = std::function<std::optional<QStringList>(QWidget* owner)>;
  static void SetAttachChooser(TAttachChooser chooser);

  // One batch of chosen or dropped paths (see above).
  void AttachFiles(const QStringList& paths);
  // A row for an attachment of Reader.
  void AddReaderAttachment(const qovra::TMailAttachmentInfo& info);
  // The rows' records in list order.
  std::vector<qovra::TMailAttachmentInfo> Attachments() const;
  int AttachmentCount() const;
  // The sum of the rows' sizes.
  int64_t AttachmentBytes() const;
  // Body, recipients and subject empty and no attachment.
  bool MailIsEmpty() const;

  // The main window's status line and its progress bar, for opening an
  // attachment of Reader (may be empty).
  std::function<void(const QString&)> StatusBusy;
  std::function<void()> StatusReady;
  void* ProgressBar = nullptr;

  void acAttachFileExecute();
  void acDeleteSelectedExecute();
  void acDeleteAllExecute();
  void acOpenExecute();
  // Enabling of the two pop-ups, as they open (at pos in the list for the
  // attachment pop-up).
  void pmEditPopup();
  void pmAttachmentsPopup(const QPoint& pos);

  TframeNewMailTop* frameNewMailTop1;
  QWidget* pnlMailBody;
  QPlainTextEdit* eMailBody;
  QSplitter* splitMain;
  QListWidget* lvFileAttachments;
  QMenu* pmEdit;
  QMenu* pmAttachments;
  QAction* acCancel;
  QAction* acAttachFile;
  QAction* acDeleteSelected;
  QAction* acDeleteAll;
  QAction* acOpen;
  QAction* mnuAddFile;
  QAction* mnuDeleteFile;
  QAction* mnuDeleteAll;
  QAction* mnuOpen;
  QAction* mnuEditUndo;
  QAction* mnuEditCut;
  QAction* mnuEditCopy;
  QAction* mnuEditPaste;
  QAction* mnuEditDelete;
  QAction* mnuEditSelectAll;
  QToolButton* btnAddressBook = nullptr;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void BuildMenus();
  void BindCommands();
  bool IsAlreadyAttached(const QString& path) const;
  void AddAttachmentItem(const qovra::TMailAttachmentInfo& info);
  void DeleteItems(const QList<QListWidgetItem*>& items);
  void ShowAttachments();
  void FitAttachmentList();

  TComposeCommands commands_;
};
