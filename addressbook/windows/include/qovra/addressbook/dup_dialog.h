// TfrmDupMsg: what to do with a contact whose address is already in the
// group. Shown only through ShowDupDialog, which the address book's save and
// move operations reach through the core's window seam (IDupDialogUi).
//
// A frameless, slightly transparent yellow panel that slides open
// downwards over the owner's client area (as wide as it) as the message
// dialog does (TSlideDialog), with the question sound; without a visible
// owner it is 450 pixels wide in the screen's centre. The five buttons
// appear at the bottom right in two columns and three rows once it is fully
// open. Results: 50 Replace (also Enter), 51 Replace all, 52 Skip, 53 Skip
// all, 2 Cancel (also Escape).
//
// GUI thread only.
#pragma once

#include <QString>

#include "qovra/ui/slide_dialog.h"
#include "seam/ui_seam.h"

class QLabel;
class QPushButton;

class TfrmDupMsg : public TSlideDialog {
  Q_OBJECT

 public:
  // FormCreate: logo and label places, the minimum height, the language.
  explicit TfrmDupMsg(QWidget* parent = nullptr);

  // Sound, place over owner (the screen's centre when there is none), the
  // text, the full height; then shows the dialog modally and returns its
  // result.
  int Execute(QWidget* owner, const QString& text);
  // Every step of Execute except showing the dialog.
  void Prepare(QWidget* owner, const QString& text);

  int MinHeight() const { return min_height_; }

  QLabel* imgLogo;
  QLabel* lblPrompt;
  QPushButton* btnReplace;
  QPushButton* btnReplaceAll;
  QPushButton* btnSkip;
  QPushButton* btnSkipAll;
  QPushButton* btnCancel;

 public slots:
  void reject() override;

 private:
  void PlayQuestionSound();
  void LayoutButtons() override;

  int min_height_ = 0;
};

// Creates a TfrmDupMsg, runs it over owner (null: the active window) and
// frees it; returns 50, 51, 52, 53 or 2.
int ShowDupDialog(QWidget* owner, const QString& text);

namespace qovra::addressbook {

// The core's duplicate-question seam served by TfrmDupMsg. Install it with
// qovra::SetDupDialogUi(&DupDialogWindowUi()) while the windows run.
class TDupDialogUi : public IDupDialogUi {
 public:
  int ShowDupDialog(TWindowHandle owner, const std::string& text) override;
};

TDupDialogUi& DupDialogWindowUi();

}  // namespace qovra::addressbook
