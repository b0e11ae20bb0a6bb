// TSizeGrip: the 13 x 13 grip in a status bar's corner that resizes its
// window from the bottom-right corner.
//
// A press hands the resize to the window system; where it offers none (the
// offscreen platform, some window managers) the grip resizes the window from
// its own mouse moves. A maximised window shows no grip and cannot be resized
// through it.
//
// The grip refuses mouse activation: it never takes the focus, and while the
// pointer is over the grip of an inactive window that window does not accept
// the focus, so that a click there resizes it without activating it.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>
#include <QWindow>

namespace qovra::ui {

class TSizeGrip : public QWidget {
  Q_OBJECT

 public:
  // The grip is owned by form (its first parent) until PlaceOnPanel moves it.
  explicit TSizeGrip(QWidget* form);
  ~TSizeGrip() override;

  // Parents the grip to a status panel at (panel width - 13, panel height -
  // 13, 13, 13) and keeps it on the panel's right edge, full height, when the
  // panel is resized.
  void PlaceOnPanel(QWidget* panel);

  // The window that the grip resizes, found by walking up the parents.
  QWidget* Form() const { return window(); }

  static constexpr int kSize = 13;

  QSize sizeHint() const override { return {kSize, kSize}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool FormMaximized() const;
  void StickToRightEdge();
  // Sets or clears Qt::WindowDoesNotAcceptFocus on the form's window.
  void RefuseActivation(bool refuse);

  QPointer<QWidget> panel_;
  bool dragging_ = false;
  QPoint drag_start_;
  QSize start_size_;
  // The window whose focus flag the grip set, to clear it again.
  QPointer<QWindow> refusing_;
};

}  // namespace qovra::ui
