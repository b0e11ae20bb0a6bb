// TButtonEdit: a TEditEx with a button inside its right edge.
//
// The text never runs under the button. Ctrl+Enter clicks the button; Enter
// focuses the edit and, like Esc, goes on to the parent (a dialog's default
// and cancel buttons still work). A paste or drop of several lines brings in
// only the first line; the clipboard itself is left as it was.
#pragma once

#include <QPixmap>

#include "qovra/controls/edit_ex.h"

class QToolButton;

namespace qovra::ui {

class TButtonEdit : public TEditEx {
  Q_OBJECT

 public:
  explicit TButtonEdit(QWidget* parent = nullptr);
  ~TButtonEdit() override;

  // The button's picture. An empty pixmap selects the built-in glyph (an
  // ellipsis of three black 2 x 2 squares on an 11 x 6 transparent picture).
  const QPixmap& ButtonGlyph() const { return glyph_; }
  void SetButtonGlyph(const QPixmap& glyph);
  // True while the built-in glyph is shown.
  bool UseDefaultGlyph() const { return use_default_glyph_; }

  // Initially the style's vertical scroll-bar width.
  int ButtonWidth() const { return button_width_; }
  void SetButtonWidth(int width);

  // The embedded button (for layout checks and tests); owned by the edit.
  QToolButton* Button() const { return button_; }

  // The built-in glyph.
  static QPixmap DefaultGlyph();

 signals:
  // The button was clicked (or Ctrl+Enter pressed); the edit has the focus.
  void OnButtonClick();

 protected:
  QString AdjustPastedText(const QString& text) const override;
  int ExtraRightMargin() const override { return button_width_; }
  void MarginsChanged() override { PlaceButton(); }

  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ClickButton();
  void PlaceButton();

  QToolButton* button_ = nullptr;
  QPixmap glyph_;
  int button_width_ = 0;
  bool use_default_glyph_ = false;
};

}  // namespace qovra::ui
