// TWebLink: a hyperlink label with a hot colour and keyboard focus.
//
// The text is drawn in the normal colour, in HotFontColor while the mouse is
// over an enabled link. The link is a tab stop; Enter or Space clicks it. A
// mouse press first takes the focus and the click is dropped when it cannot.
// A one-pixel border in the background colour holds the focus rectangle.
#pragma once

#include <QColor>
#include <QWidget>

namespace qovra::ui {

class TWebLink : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)

 public:
  explicit TWebLink(QWidget* parent = nullptr);
  ~TWebLink() override;

  // The link sizes itself to the caption (unless a layout places it); with
  // right alignment its right edge stays where it was.
  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);

  QString Hint() const { return toolTip(); }
  void SetHint(const QString& hint) { setToolTip(hint); }

  // Initially RGB(0,101,213).
  QColor HotFontColor() const { return hot_color_; }
  void SetHotFontColor(const QColor& color);

  // The colour the text is drawn in now. Setting a colour other than
  // HotFontColor also makes it the normal colour (initially RGB(34,71,136)).
  QColor FontColor() const { return font_color_; }
  void SetFontColor(const QColor& color);
  QColor NormalFontColor() const { return normal_color_; }

  // Qt::AlignLeft (the default), Qt::AlignRight or Qt::AlignHCenter.
  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment alignment);

  bool IsHot() const { return hot_; }

  QSize sizeHint() const override;

 signals:
  void OnClick();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Takes the keyboard focus; false when it cannot be taken.
  bool TakeFocus();
  void AutoSize();

  QString caption_;
  QColor hot_color_{0, 101, 213};
  QColor normal_color_{34, 71, 136};
  QColor font_color_{34, 71, 136};
  Qt::Alignment alignment_ = Qt::AlignLeft;
  bool hot_ = false;
  bool pressed_ = false;
};

}  // namespace qovra::ui
