// TPanelEx: a panel with chosen border sides and inner margins.
//
// The area left for children (contentsRect(), which a layout set on the panel
// fills) is the panel less the four inner margins and less one pixel on every
// side that has a border. Put layouts on it with zero margins of their own.
#pragma once

#include <QColor>
#include <QWidget>

namespace qovra::ui {

// The sides of a border (TBevelEdges).
enum TBevelEdge : unsigned { beLeft = 1, beTop = 2, beRight = 4, beBottom = 8 };
using TBevelEdges = unsigned;
constexpr TBevelEdges kAllBevelEdges = beLeft | beTop | beRight | beBottom;

class TPanelEx : public QWidget {
  Q_OBJECT

 public:
  explicit TPanelEx(QWidget* parent = nullptr);
  ~TPanelEx() override;

  // Initially the button-shadow colour of the palette.
  QColor BorderColor() const { return border_color_; }
  void SetBorderColor(const QColor& color);

  // Fill colour; initially the button-face colour of the palette.
  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

  TBevelEdges Borders() const { return borders_; }
  void SetBorders(TBevelEdges borders);

  // Setting InnerMargin sets all four sides.
  void SetInnerMargin(int margin);
  int InnerMarginLeft() const { return margin_left_; }
  int InnerMarginTop() const { return margin_top_; }
  int InnerMarginRight() const { return margin_right_; }
  int InnerMarginBottom() const { return margin_bottom_; }
  void SetInnerMarginLeft(int margin);
  void SetInnerMarginTop(int margin);
  void SetInnerMarginRight(int margin);
  void SetInnerMarginBottom(int margin);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Realign();

  QColor border_color_;
  QColor color_;
  TBevelEdges borders_ = kAllBevelEdges;
  int margin_left_ = 1;
  int margin_top_ = 1;
  int margin_right_ = 1;
  int margin_bottom_ = 1;
};

}  // namespace qovra::ui
