// TProgressBarEx: a gradient progress bar with its percentage written over it.
//
// The gradient runs from AColor at the left edge to BColor at the right edge
// of the whole control, so a partly filled bar shows only its start. The
// percentage text is drawn pixel by pixel in black or white, whichever stands
// out from what lies under it, so it stays readable over the empty part and
// over every shade of the fill. A bar is drawn off-screen
// and copied in one step; setters repaint only when something visible
// changed, SetProgress only when the percentage changed.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

namespace qovra::ui {

enum class TBorderStyle { bsNone, bsSingle };

class TProgressBarEx : public QWidget {
  Q_OBJECT
  // Properties through which the progress window drives the bar.
  Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValueProperty)
  Q_PROPERTY(int Progress READ Progress WRITE SetProgress)
  Q_PROPERTY(QColor BackColor READ BackColor WRITE SetBackColor)
  Q_PROPERTY(QColor LTColor READ LTColor WRITE SetLTColor)
  Q_PROPERTY(QColor RBColor READ RBColor WRITE SetRBColor)
  Q_PROPERTY(QColor AColor READ AColor WRITE SetAColor)
  Q_PROPERTY(QColor BColor READ BColor WRITE SetBColor)

 public:
  explicit TProgressBarEx(QWidget* parent = nullptr);
  ~TProgressBarEx() override;

  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  int Progress() const { return progress_; }

  // Stores value clamped to MinValue..MaxValue.
  void SetProgress(int value);
  // Refuses a value above MaxValue: returns false, changes nothing and, when
  // error is given, fills it with "Value must be between -2147483647 and
  // <MaxValue - 1>". Otherwise stores the value and pulls Progress into the
  // new range.
  [[nodiscard]] bool SetMinValue(int value, QString* error = nullptr);
  // Refuses a value below MinValue the same way, with the range
  // <MinValue + 1> to 2147483647.
  [[nodiscard]] bool SetMaxValue(int value, QString* error = nullptr);
  // The property setter: a refused value leaves the bar as it was.
  void SetMaxValueProperty(int value) { (void)SetMaxValue(value); }

  // (Progress - MinValue) * 100 / (MaxValue - MinValue), truncated; 0 when
  // MaxValue equals MinValue.
  int Percentage() const;

  bool ShowText() const { return show_text_; }
  void SetShowText(bool show);
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle style);

  QColor AColor() const { return a_color_; }
  QColor BColor() const { return b_color_; }
  QColor LTColor() const { return lt_color_; }
  QColor RBColor() const { return rb_color_; }
  QColor BackColor() const { return back_color_; }
  void SetAColor(const QColor& color);
  void SetBColor(const QColor& color);
  void SetLTColor(const QColor& color);
  void SetRBColor(const QColor& color);
  void SetBackColor(const QColor& color);

  // The bar as it is painted, at the control's size.
  QImage Render() const;

  // Channel of the gradient at column x of a control `width` wide: a + x * (b
  // - a) / width, rounded to the nearest integer, halves to even.
  static int GradientChannel(int a, int b, int x, int width);
  // The colour of a text pixel over the pixel under: black over a light
  // one, white over a dark one.
  static QRgb TextColorOver(QRgb under);

  QSize sizeHint() const override { return {100, 18}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void SetColor(QColor& field, const QColor& color);

  int min_ = 0;
  int max_ = 100;
  int progress_ = 0;
  bool show_text_ = true;
  TBorderStyle border_style_ = TBorderStyle::bsSingle;
  QColor a_color_{0, 0, 128};
  QColor b_color_{255, 255, 255};
  QColor lt_color_;
  QColor rb_color_;
  QColor back_color_;
};

}  // namespace qovra::ui
