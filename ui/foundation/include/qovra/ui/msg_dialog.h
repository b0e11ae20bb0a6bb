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
// The placement and the slide are TSlideDialog's (see slide_dialog.h).
//
// GUI thread only.
#pragma once

#include <QString>
#include <functional>

#include "qovra/ui/slide_dialog.h"
#include "seam/ui_seam.h"

class QLabel;
class QPushButton;
class QScrollArea;

// Class and object names are those the language files address.
class TfrmMsg : public TSlideDialog {
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

  // Plays the sound of flags, or beeps (see above).
  void PlaySound(int flags);

  // State for tests and the screenshot tool (the slide's is TSlideDialog's).
  int MinHeight() const { return min_height_; }
  int Flags() const { return flags_; }
  QString IconName() const { return icon_name_; }

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

 public slots:
  void reject() override;

 private:
  void LayoutText();
  void ApplyLook(int flags);
  void LayoutButtons() override;

  int min_height_ = 0;
  int flags_ = 0;
  int ok_result_ = qovra::kMsgResultOk;
  QString icon_name_;
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
