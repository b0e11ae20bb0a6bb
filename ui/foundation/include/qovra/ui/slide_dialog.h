// TSlideDialog: the frameless panel that slides open downwards over its
// owner window's client area, shared by the message dialog and the
// address book's duplicate question.
//
// The panel is as wide as the owner (at most the screen's work area) and
// sits below a main window's menu bar. An owner that cannot carry it (none,
// hidden, minimised or narrower than the subclass allows) is replaced by
// the screen: the panel then has the subclass's screen width and is
// centred on the work area.
//
// The window gets its place and its full height before it is mapped, as a
// transient of the owner's window, and the slide only uncovers it (a mask
// that grows 10 pixels every 15 ms): a window manager sees one placed window
// and never a stream of resizes it might answer by moving it; should one
// move it anyway, each step puts it back. Where no client can place a
// top-level window (Wayland), the panel opens at once at full height as a
// pop-up of the owner's window, at the same place relative to it.
//
// A subclass calls PlaceOverOwner, lays out its text for width(), then
// StartSlide with the full height; LayoutButtons is called when the slide
// ends, with the whole height uncovered.
//
// GUI thread only.
#pragma once

#include <QColor>
#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QString>

class QTimer;

class TSlideDialog : public QDialog {
  Q_OBJECT

 public:
  // How the panel is put over its owner: a top-level window that places
  // itself, or a pop-up of the owner's window.
  enum class TPlacement { kTopLevel, kOwnerPopup };
  // The placement a platform plugin allows: kOwnerPopup for Wayland.
  static TPlacement PlacementFor(const QString& platform_name);
  // REQUIRES: called before PlaceOverOwner. Default: PlacementFor(the
  // running platform's name).
  void SetPlacement(TPlacement placement) { placement_ = placement; }
  TPlacement Placement() const { return placement_; }

  // Places the panel over owner's client area (below a main window's menu
  // bar) with a client height of 0, or on the screen when owner cannot
  // carry it, and makes it a transient (or a pop-up) of owner's window.
  void PlaceOverOwner(QWidget* owner);
  // One step of the slide.
  void Timer1Timer();
  // Runs the slide to its end at once.
  void FinishSlide();

  int TargetHeight() const { return target_height_; }
  // The height uncovered so far; the window itself has its full height.
  int ClientHeight() const { return client_height_; }
  bool SlideDone() const { return slide_done_; }
  bool CentredOnScreen() const { return centred_on_screen_; }
  QColor BackColor() const { return back_color_; }
  QColor FrameColor() const { return frame_color_; }

  // Steps the slide; owned by the dialog.
  QTimer* Timer1 = nullptr;

 protected:
  // Owners narrower than min_owner_width cannot carry the panel; on the
  // screen it is screen_width wide.
  struct TSlideSizes {
    int min_owner_width = 0;
    int screen_width = 450;
  };
  TSlideDialog(QWidget* parent, TSlideSizes sizes);

  // Gives the window its full height (and, on the screen, its vertical
  // place), covers it and starts the slide; a pop-up over an owner opens at
  // once. REQUIRES: PlaceOverOwner was called.
  void StartSlide(int target_height);
  // Colours of the background and of the frame around the uncovered part.
  void SetColors(QColor back, QColor frame);

  // Puts the buttons in view once the slide has ended.
  virtual void LayoutButtons() = 0;

  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void SetClientHeight(int height);
  void KeepPlace();

  TSlideSizes sizes_;
  TPlacement placement_ = TPlacement::kTopLevel;
  QPoint wanted_pos_;
  QRect screen_area_;
  int target_height_ = 0;
  int client_height_ = 0;
  bool slide_done_ = false;
  bool centred_on_screen_ = false;
  QColor back_color_;
  QColor frame_color_;
};
