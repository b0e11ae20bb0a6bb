// The program's message dialog: every message, warning, error and question
// is shown by TfrmMsg.
//
// A frameless, slightly transparent panel that slides open downwards over
// the owner window's client area (as wide as it, at most the screen's work
// area), in 10-pixel steps every 15 ms. It shows a 48-pixel icon, the text
// (scrolling past 200 pixels) and up to three buttons at the bottom right;
// colours, icon and sound follow the flags:
//
//   flags bit  look (icon, frame, background)           sound
//   0x20       ico_confirm48, (162,162,0), (255,255,128)  102 unless 0x10
//   0x10       ico_error48, (162,0,0), (255,236,236)      103
//   0x40       ico_info48, (0,162,0), (236,255,236)       101 unless 0x10, 0x20
//   none       no icon, (0,64,128), (242,249,255)         101
//
// The looks apply in the order question, warning (0x30), error,
// information, the last match standing. Buttons: bit 8 gives Yes (6), No (7)
// and Cancel (2); bit 4 gives Yes (6) and No (7); otherwise OK (1) alone.
// Escape always gives 2.
//
// An owner that cannot carry the dialog (none, hidden, minimised or
// narrower than 300 pixels) is replaced by the screen: the dialog is then
// 450 pixels wide (at most the work area) and centred on the work area.
//
// The window gets its place and its full height before it is mapped, as a
// transient of the owner's window, and the slide only uncovers it (a mask
// that grows): a window manager sees one placed window and never a stream
// of resizes it might answer by moving it. Where no client can place a
// top-level window (Wayland), the dialog opens at once at full height as a
// pop-up of the owner's window, at the same place relative to it.
//
// GUI thread only.
#pragma once

#include <QColor>
#include <QDialog>
#include <QString>
#include <functional>

#include "seam/ui_seam.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;

// Class and object names are those the language files address.
class TfrmMsg : public QDialog {
  Q_OBJECT

 public:
  // Builds the form (hidden).
  explicit TfrmMsg(QWidget* parent = nullptr);

  // Prepares the dialog for owner, text and flags (sound, place, text,
  // captions, look, results) and runs it modally; returns the result.
  // While an answer hook is installed, the prepared dialog is shown without
  // a modal loop, opened fully and handed to the hook, whose result is
  // returned.
  int Execute(QWidget* owner, const QString& text, int flags, const QString& ok_caption,
              const QString& no_caption, const QString& cancel_caption);

  // Every step of Execute except showing the dialog.
  void Prepare(QWidget* owner, const QString& text, int flags, const QString& ok_caption,
               const QString& no_caption, const QString& cancel_caption);

  // How the dialog is put over its owner: a top-level window that places
  // itself, or a pop-up of the owner's window.
  enum class TPlacement { kTopLevel, kOwnerPopup };
  // The placement a platform plugin allows: kOwnerPopup for Wayland.
  static TPlacement PlacementFor(const QString& platform_name);
  // REQUIRES: called before Prepare. Default: PlacementFor(the running
  // platform's name).
  void SetPlacement(TPlacement placement) { placement_ = placement; }
  TPlacement Placement() const { return placement_; }

  // Places the dialog over owner's client area (below a main window's menu
  // bar) with a client height of 0, or on the screen when owner cannot
  // carry it, and makes it a transient (or a pop-up) of owner's window.
  void PlaceOverOwner(QWidget* owner);
  // Plays the sound of flags, or beeps (see above).
  void PlaySound(int flags);
  // One step of the slide.
  void Timer1Timer();
  // Runs the slide to its end at once.
  void FinishSlide();

  // State for tests and the screenshot tool.
  int TargetHeight() const { return target_height_; }
  int MinHeight() const { return min_height_; }
  // The height uncovered so far; the window itself has its full height.
  int ClientHeight() const { return client_height_; }
  int Flags() const { return flags_; }
  bool SlideDone() const { return slide_done_; }
  bool CentredOnScreen() const { return centred_on_screen_; }
  QString IconName() const { return icon_name_; }
  QColor BackColor() const { return back_color_; }
  QColor FrameColor() const { return frame_color_; }

  // Tests answer dialogs through this hook instead of a modal loop; null
  // restores the modal loop.
  using AnswerHook = std::function<int(TfrmMsg& dialog)>;
  static void SetAnswerHook(AnswerHook hook);

  QLabel* imgLogo;
  QScrollArea* sbMsg;
  QLabel* lblPrompt;
  QPushButton* btnOK;
  QPushButton* btnNo;
  QPushButton* btnCancel;
  QTimer* Timer1;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 public slots:
  void reject() override;

 private:
  void LayoutText();
  void ApplyLook(int flags);
  void LayoutButtons();
  void SetClientHeight(int height);
  void KeepPlace();

  TPlacement placement_ = TPlacement::kTopLevel;
  QPoint wanted_pos_;
  int target_height_ = 0;
  int min_height_ = 0;
  int flags_ = 0;
  int client_height_ = 0;
  int ok_result_ = qovra::kMsgResultOk;
  bool slide_done_ = false;
  bool centred_on_screen_ = false;
  QString icon_name_;
  QColor back_color_;
  QColor frame_color_;
};

// Creates a TfrmMsg, runs Execute and frees it; returns 1 OK, 2 cancel
// (also Escape), 6 yes or 7 no. Captions are final texts; an empty caption
// leaves its button out of view. owner may be null.
int ShowMsgDialog(QWidget* owner, const QString& text, int flags, const QString& ok_caption,
                  const QString& no_caption, const QString& cancel_caption);

namespace qovra::ui {

// The core's message seam served by the message dialog. Install it with
// qovra::SetMessageUi(&MessageDialogUi()) at start-up.
class TMsgDialogUi : public IMessageUi {
 public:
  int ShowMsgDialog(TWindowHandle owner, const std::string& text, int flags,
                    const std::string& ok_caption, const std::string& no_caption,
                    const std::string& cancel_caption) override;
  TWindowHandle ActiveWindow() override;
  TWindowHandle ActiveFormWindow() override;
};

TMsgDialogUi& MessageDialogUi();

// Tells through the message seam that the function named caption (a
// link's or an action's text) is not in this build: msgFunctionNotAvailable,
// information icon.
void ShowNotAvailable(QWidget* owner, const QString& caption);

}  // namespace qovra::ui
