#include "qovra/controls/panel_ex.h"

#include <QPainter>
#include <algorithm>

#include "qovra/ui/drawing.h"

namespace qovra::ui {

TPanelEx::TPanelEx(QWidget* parent)
    : QWidget(parent), border_color_(palette().color(QPalette::Dark)), color_(clBtnFace()) {
  Realign();
}

TPanelEx::~TPanelEx() = default;

void TPanelEx::SetBorderColor(const QColor& color) {
  if (color == border_color_) return;
  border_color_ = color;
  update();
}

void TPanelEx::SetColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

void TPanelEx::SetBorders(TBevelEdges borders) {
  borders &= kAllBevelEdges;
  if (borders == borders_) return;
  borders_ = borders;
  Realign();
}

void TPanelEx::SetInnerMargin(int margin) {
  margin_left_ = margin_top_ = margin_right_ = margin_bottom_ = margin;
  Realign();
}

void TPanelEx::SetInnerMarginLeft(int margin) {
  margin_left_ = margin;
  Realign();
}
void TPanelEx::SetInnerMarginTop(int margin) {
  margin_top_ = margin;
  Realign();
}
void TPanelEx::SetInnerMarginRight(int margin) {
  margin_right_ = margin;
  Realign();
}
void TPanelEx::SetInnerMarginBottom(int margin) {
  margin_bottom_ = margin;
  Realign();
}

void TPanelEx::Realign() {
  auto side = [this](TBevelEdge edge) { return (borders_ & edge) ? 1 : 0; };
  setContentsMargins(margin_left_ + side(beLeft), margin_top_ + side(beTop),
                     margin_right_ + side(beRight), margin_bottom_ + side(beBottom));
  update();
}

void TPanelEx::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), color_);
  // The outline runs through (x0,y0), (x0,y1), (x1,y1), (x1,y0) and back; a
  // side without a border lies one pixel outside the panel.
  const int x0 = (borders_ & beLeft) ? 0 : -1;
  const int y0 = (borders_ & beTop) ? 0 : -1;
  const int x1 = (borders_ & beRight) ? width() - 1 : width();
  const int y1 = (borders_ & beBottom) ? height() - 1 : height();
  auto segment = [&](int ax, int ay, int bx, int by) {
    p.fillRect(QRect(QPoint(std::min(ax, bx), std::min(ay, by)),
                     QPoint(std::max(ax, bx), std::max(ay, by))),
               border_color_);
  };
  segment(x0, y0, x0, y1);
  segment(x0, y1, x1, y1);
  segment(x1, y1, x1, y0);
  segment(x1, y0, x0, y0);
}

}  // namespace qovra::ui
