// TfrmImport: brings mail files (.emz) from outside into the messages
// folder and the mail database, one file or every mail file of a folder
// (mail/mail_import.h does the work).
//
// Typing in a field checks its radio button; the fields' buttons choose a
// folder or a file. Import checks that the path exists (else the field
// gets the focus with its text selected), imports, and says how many mails
// were stored and which files were not; a single file whose signature
// container did not come along is warned about first. The dialog stays
// open for further imports. It ends with kResultImported when some run of
// it stored a mail (the owner then refreshes its folders), else with
// kResultClosed (Close, Esc).
//
// REQUIRES: MailDb open, MessagesDir and Session set (a logged-in user).
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QPushButton;
class QRadioButton;

namespace qovra::ui {
class TButtonEdit;
}

class TfrmImport : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResultImported = 1;
  static constexpr int kResultClosed = 2;

  explicit TfrmImport(QWidget* owner = nullptr);

  // Mails stored by this dialog so far.
  int StoredMails() const { return stored_; }

  void btnImportClick();
  void reject() override;

  // Tests: stand-ins for the folder and file choosers; they get the title
  // (folder) or the Qt name filter (file) and the field's text, and return
  // the chosen path or an empty text for "cancelled". Empty functions
  // restore the real dialogs.
  using TChooser =
      std::function<QString(QWidget* owner, const QString& title_or_filter, const QString& start)>;
  static void SetChoosersForTesting(TChooser folder, TChooser file);

  // Components.
  QRadioButton* rbImportFolder = nullptr;
  qovra::ui::TButtonEdit* eImportFolder = nullptr;
  QRadioButton* rbImportFile = nullptr;
  qovra::ui::TButtonEdit* eImportFile = nullptr;
  QPushButton* btnImport = nullptr;
  QPushButton* btnClose = nullptr;

 private:
  void eImportFolderButtonClick();
  void eImportFileButtonClick();
  // Focus to field with its text selected.
  static void Refocus(qovra::ui::TButtonEdit* field);

  QString file_filter_;
  int stored_ = 0;
};

// "Description (*.a)|*.a|..." as a Qt name filter list ("Description (*.a);;...").
QString QtNameFilter(const QString& pairs);
