// TfrmUserProfile: the modal dialog that changes the user's names, company
// and job title on the server (command 171).
//
// The caller fills the five fields (Preset) before showing it. OK checks
// that the first and the last name are not blank (a warning balloon on the
// field, titled with the window caption; the dialog stays). Texts equal to
// the session's own contact exactly close the dialog with 1 and send
// nothing; a difference in letter case alone is a change and is sent. The
// texts go as typed, untrimmed. After a successful request the session's
// OwnContact holds them (Email stays the own address) and an information
// box says so; the caller then renews its window titles. A failed request
// has been reported and leaves the dialog open and the session as it was.
//
// Results: 1 done, 2 cancelled (Cancel, Escape, the close button).
// GUI thread only.
#pragma once

#include <QDialog>

#include "base/records.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace qovra::ui {
class TEditEx;
}

class TfrmUserProfile : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResultDone = 1;
  static constexpr int kResultCancelled = 2;

  // Builds the dialog and applies the language.
  explicit TfrmUserProfile(QWidget* owner = nullptr);

  // Fills the five fields from contact.
  void Preset(const qovra::TContact& contact);

  QLabel* imgLogo = nullptr;
  QLabel* lblLastName = nullptr;
  QLabel* lblFirstName = nullptr;
  QLabel* lblMiddleName = nullptr;
  QLabel* lblCompany = nullptr;
  QLabel* lblJobTitle = nullptr;
  qovra::ui::TEditEx* eLastName = nullptr;
  qovra::ui::TEditEx* eFirstName = nullptr;
  QLineEdit* eMiddleName = nullptr;
  QLineEdit* eCompany = nullptr;
  QLineEdit* eJobTitle = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

 public slots:
  void btnOKClick();
  void reject() override;

 private:
  bool busy_ = false;
};
