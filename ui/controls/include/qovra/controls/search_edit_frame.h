// TframeSearchEdit: a search box with a magnifier and a clear button.
//
// The frame paints an edit field's background with the magnifier at its
// left and, while eSearch holds text, a clear cross in its right 20 pixels.
// A click on the cross empties the edit; Esc in the edit empties it and goes
// no further (a dialog behind it does not close). Forms that embed the frame
// connect their own handlers to eSearch()'s textChanged.
#pragma once

#include <QRect>
#include <QWidget>

class QLineEdit;

namespace qovra::ui {

class TframeSearchEdit : public QWidget {
  Q_OBJECT

 public:
  explicit TframeSearchEdit(QWidget* parent = nullptr);
  ~TframeSearchEdit() override;

  // The edit, owned by the frame; object name "eSearch".
  QLineEdit* eSearch() const { return edit_; }

  // The clear button: the right 20 pixels of the frame, 21 high.
  QRect ClearButtonRect() const { return clear_rect_; }

 public slots:
  // Repaints the clear button, so the cross is drawn or removed.
  void eSearchChange();

  QSize sizeHint() const override { return {312, 25}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* edit_ = nullptr;
  QRect clear_rect_;
};

}  // namespace qovra::ui
