// TfrmDupMsg: what to do with a contact whose address is already in the
// group. Shown only through ShowDupDialog, which the address book's save and
// move operations reach through the core's window seam (IDupDialogUi).
//
// A frameless, slightly transparent yellow panel that opens downwards over
// the owner's client area (as wide as it) in 10-pixel steps every 15 ms,
// with the question sound; the five buttons appear at the bottom right in
// two columns and three rows once it is fully open. Results: 50 Replace
// (also Enter), 51 Replace all, 52 Skip, 53 Skip all, 2 Cancel (also
// Escape).
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

#include "seam/ui_seam.h"

class QLabel;
class QPushButton;
class QTimer;

class TfrmDupMsg : public QDialog {
  Q_OBJECT

 public:
  // FormCreate: transparency, logo and label places, the timer, the
  // minimum height, the language.
  explicit TfrmDupMsg(QWidget* parent = nullptr);

  // Sound, place over owner (the screen's centre when there is none), the
  // text, the target height; then shows the dialog modally and returns its
  // result.
  int Execute(QWidget* owner, const QString& text);
  // Every step of Execute except showing the dialog.
  void Prepare(QWidget* owner, const QString& text);

  // Places the dialog over owner's client area with a client height of 0.
  void PlaceOverOwner(QWidget* owner);
  // One step of the opening.
  void Timer1Timer();
  // Runs the opening to its end at once.
  void FinishOpening();

  int TargetHeight() const { return target_height_; }
  int MinHeight() const { return min_height_; }
  bool Opened() const { return opened_; }

  QLabel* imgLogo;
  QLabel* lblPrompt;
  QPushButton* btnReplace;
  QPushButton* btnReplaceAll;
  QPushButton* btnSkip;
  QPushButton* btnSkipAll;
  QPushButton* btnCancel;
  QTimer* Timer1;

 public slots:
  void reject() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void PlayQuestionSound();
  void LayoutButtons();

  int target_height_ = 0;
  int min_height_ = 0;
  bool opened_ = false;
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
