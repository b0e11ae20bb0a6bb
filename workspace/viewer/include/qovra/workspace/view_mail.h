// TfrmViewMail: the text viewer: header frame, read-only body, the list of
// attachments (open, save one, save all) and the signature status line.
//
// Saving asks the chooser for a file or a folder (tests install one); an
// existing file is overwritten only after Yes (msgConfirmOverwrite); No on
// "save all" skips that file. A save that fails says so
// (msgCannotSaveAttachment), leaves no partial file and ends "save all".
// Attachment names are reduced to bare file names before anything is
// written (the reader's SaveAttachment).
//
// GUI thread only.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "qovra/workspace/view_form.h"

class QListWidget;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QSplitter;

class TfrmViewMail : public TViewForm {
  Q_OBJECT

 public:
  TfrmViewMail(const TViewCommands& commands, QWidget* parent = nullptr);
  ~TfrmViewMail() override;

  TframeViewMailTop* GetTopFrame() override { return frameViewMailTop1; }
  TframeViewMailFooter* GetFooterFrame() override { return frameViewMailFooter1; }

  // Body, attachment rows and header from Reader; the caption gets " " +
  // From.
  void FillFromReader() override;

  // Choosers: a file to save to (preset with the name) and a folder. Null
  // restores the dialogs.
  using TSaveChooser = std::function<std::optional<QString>(QWidget*, const QString& name)>;
  using TFolderChooser = std::function<std::optional<QString>(QWidget*)>;
  static void SetSaveChooser(TSaveChooser chooser);
  static void SetFolderChooser(TFolderChooser chooser);

  void acSaveSelectedExecute();
  void acSaveAllExecute();
  void acOpenExecute();
  void actionListNewMailUpdate();

  TframeViewMailTop* frameViewMailTop1;
  QWidget* pnlMailBody;
  QPlainTextEdit* eMailBody;
  QSplitter* splitMain;
  QListWidget* lvFileAttachments;
  TframeViewMailFooter* frameViewMailFooter1;
  QMenuBar* TntMainMenu1;
  QMenu* mnuMessage;
  QMenu* pmAttachments;
  QAction* mnuSaveAttachments = nullptr;
  QAction* acClose;
  QAction* acSaveSelected;
  QAction* acSaveAll;
  QAction* acOpen;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  enum class TSaveOutcome { Saved, Skipped, Failed };
  // Writes one attachment to path after the overwrite question; a failure
  // is told to the user (msgCannotSaveAttachment) and leaves no file.
  TSaveOutcome SaveTo(const qovra::TMailAttachmentInfo& info, const QString& path);

  TViewCommands commands_;
  bool centred_ = false;
};
