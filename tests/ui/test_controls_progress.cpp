// TProgressBarEx: the percentage, the range errors, repaints and the pixels
// of the bar.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QTest>
#include <cmath>
#include <memory>

#include "qovra/controls/progress_bar_ex.h"
#include "qovra/ui/progress.h"
#include "seam/ui_seam.h"

namespace qovra::ui {
namespace {

class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// A bar of the default size with fixed colours and no text.
std::unique_ptr<TProgressBarEx> PlainBar() {
  auto bar = std::make_unique<TProgressBarEx>();
  bar->SetShowText(false);
  bar->SetLTColor(QColor(10, 20, 30));
  bar->SetRBColor(QColor(200, 210, 220));
  bar->SetBackColor(QColor(240, 240, 240));
  return bar;
}

TEST(ProgressBar, GradientRoundsHalvesToEven) {
  // a + x * (b - a) / 100 for a 100-pixel bar from RGB(0,0,128) to white.
  struct Row {
    int a, b, x, expected;
  };
  const Row rows[] = {
      {0, 255, 1, 3},       // 2.55
      {0, 255, 2, 5},       // 5.1
      {0, 255, 10, 26},     // 25.5, even
      {0, 255, 30, 76},     // 76.5, even
      {0, 255, 50, 128},    // 127.5, even
      {128, 255, 1, 129},   // 129.27
      {128, 255, 50, 192},  // 191.5, even
      {128, 255, 98, 252},  // 252.46
      {255, 0, 50, 128},    // 127.5, even
      {255, 0, 10, 230},    // 229.5, even
  };
  for (const Row& r : rows) {
    EXPECT_EQ(TProgressBarEx::GradientChannel(r.a, r.b, r.x, 100), r.expected)
        << r.a << " -> " << r.b << " at " << r.x;
  }
}

TEST(ProgressBar, PixelTable) {
  // Inner area 98 x 16 at (1,1); fill width n = 99 * percentage / 100 and the
  // columns 1 .. n - 1 hold the gradient.
  struct Row {
    int progress;
    int last_filled;  // 0: nothing filled
  };
  const Row rows[] = {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {50, 48}, {99, 97}, {100, 98}};
  auto bar = PlainBar();
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "progress " << r.progress);
    bar->SetProgress(r.progress);
    const QImage image = bar->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(image.size(), QSize(100, 18));
    EXPECT_EQ(image, bar->Render());
    // Border: left and top in LTColor, right and bottom (with both corners
    // they share) in RBColor.
    for (int y = 0; y < 17; ++y) EXPECT_EQ(image.pixel(0, y), qRgb(10, 20, 30)) << y;
    for (int x = 0; x < 99; ++x) EXPECT_EQ(image.pixel(x, 0), qRgb(10, 20, 30)) << x;
    for (int y = 0; y < 18; ++y) EXPECT_EQ(image.pixel(99, y), qRgb(200, 210, 220)) << y;
    for (int x = 0; x < 100; ++x) EXPECT_EQ(image.pixel(x, 17), qRgb(200, 210, 220)) << x;
    for (int x = 1; x <= 98; ++x) {
      const QRgb expected = x <= r.last_filled
                                ? qRgb(TProgressBarEx::GradientChannel(0, 255, x, 100),
                                       TProgressBarEx::GradientChannel(0, 255, x, 100),
                                       TProgressBarEx::GradientChannel(128, 255, x, 100))
                                : qRgb(240, 240, 240);
      for (int y : {1, 8, 16}) {
        ASSERT_EQ(image.pixel(x, y), expected) << "x " << x << " y " << y;
      }
    }
  }
  bar->SetProgress(50);
  const QImage half = bar->Render();
  EXPECT_EQ(half.pixel(1, 1), qRgb(3, 3, 129));
  EXPECT_EQ(half.pixel(10, 5), qRgb(26, 26, 141));
  EXPECT_EQ(half.pixel(30, 5), qRgb(76, 76, 166));
  EXPECT_EQ(half.pixel(48, 16), qRgb(122, 122, 189));
  EXPECT_EQ(half.pixel(49, 16), qRgb(240, 240, 240));
}

TEST(ProgressBar, WithoutBorderTheFillStartsAtColumnOne) {
  auto bar = PlainBar();
  bar->SetBorderStyle(TBorderStyle::bsNone);
  bar->SetProgress(100);
  const QImage image = bar->Render();
  EXPECT_EQ(image.pixel(0, 5), qRgb(240, 240, 240));
  EXPECT_EQ(image.pixel(5, 0), qRgb(240, 240, 240));
  EXPECT_EQ(image.pixel(5, 17), qRgb(240, 240, 240));
  EXPECT_EQ(image.pixel(99, 5), qRgb(252, 252, 254));
}

TEST(ProgressBar, RangeAndPercentage) {
  TProgressBarEx bar;
  EXPECT_EQ(bar.size(), QSize(100, 18));
  bar.SetProgress(150);
  EXPECT_EQ(bar.Progress(), 100);
  EXPECT_EQ(bar.Percentage(), 100);
  bar.SetProgress(-3);
  EXPECT_EQ(bar.Progress(), 0);

  QString error;
  EXPECT_FALSE(bar.SetMinValue(101, &error));
  EXPECT_EQ(error, "Value must be between -2147483647 and 99");
  EXPECT_EQ(bar.MinValue(), 0);
  EXPECT_FALSE(bar.SetMaxValue(-1, &error));
  EXPECT_EQ(error, "Value must be between 1 and 2147483647");
  EXPECT_EQ(bar.MaxValue(), 100);

  bar.SetProgress(80);
  ASSERT_TRUE(bar.SetMaxValue(50));
  EXPECT_EQ(bar.Progress(), 50);
  ASSERT_TRUE(bar.SetMinValue(50));
  EXPECT_EQ(bar.Percentage(), 0);  // MaxValue = MinValue

  ASSERT_TRUE(bar.SetMinValue(-2147483647 - 1));
  ASSERT_TRUE(bar.SetMaxValue(2147483647));
  bar.SetProgress(0);
  EXPECT_EQ(bar.Percentage(), 50);
}

TEST(ProgressBar, EqualBoundsShowZeroAndNoFill) {
  auto bar = PlainBar();
  ASSERT_TRUE(bar->SetMaxValue(0));
  bar->SetProgress(5);
  EXPECT_EQ(bar->Percentage(), 0);
  const QImage image = bar->Render();
  for (int x = 1; x <= 98; ++x) EXPECT_EQ(image.pixel(x, 8), qRgb(240, 240, 240)) << x;
}

TEST(ProgressBar, RepaintsOnlyWhenThePercentageChanges) {
  TProgressBarEx bar;
  PaintCounter counter;
  bar.installEventFilter(&counter);
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  ASSERT_TRUE(bar.SetMaxValue(1000));
  bar.SetProgress(500);
  QApplication::processEvents();
  counter.paints = 0;

  bar.SetProgress(501);
  QApplication::processEvents();
  EXPECT_EQ(bar.Progress(), 501);
  EXPECT_EQ(counter.paints, 0);

  bar.SetProgress(510);
  QApplication::processEvents();
  EXPECT_EQ(counter.paints, 1);

  counter.paints = 0;
  bar.SetAColor(bar.AColor());
  bar.SetShowText(bar.ShowText());
  QApplication::processEvents();
  EXPECT_EQ(counter.paints, 0);
}

// Perceived lightness 0..255 (ITU-R BT.601 weights).
double Lightness(QRgb c) {
  return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
}

TEST(ProgressBar, TextStandsOutOverTheFillAndTheEmptyPart) {
  // The bars of the program: the default (the voice windows' position bar
  // and the progress window) and the status bar's.
  const struct {
    const char* what;
    QColor a, b;
  } rows[] = {
      {"default", QColor(0, 0, 128), QColor(255, 255, 255)},
      {"status bar", QColor(158, 180, 194), QColor(92, 124, 148)},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    auto bar = PlainBar();
    bar->SetAColor(r.a);
    bar->SetBColor(r.b);
    bar->resize(200, 18);
    bar->SetProgress(50);
    const QImage plain = bar->Render();
    bar->SetShowText(true);
    const QImage text = bar->Render();
    // The text, centred, changes pixels over both parts, and each of them
    // stands well apart from the pixel it covers.
    int over_fill = 0;
    int over_back = 0;
    for (int y = 0; y < 18; ++y) {
      for (int x = 0; x < 200; ++x) {
        const QRgb under = plain.pixel(x, y);
        const QRgb drawn = text.pixel(x, y);
        const bool inner = x >= 1 && x <= 198 && y >= 1 && y <= 16;
        if (!inner) {
          ASSERT_EQ(drawn, under) << x << "," << y;
          continue;
        }
        if (drawn == under) continue;
        (x <= 98 ? over_fill : over_back)++;
        ASSERT_GE(std::abs(Lightness(drawn) - Lightness(under)), 110.0)
            << x << "," << y << ": " << std::hex << drawn << " over " << under;
      }
    }
    EXPECT_GT(over_fill, 0);
    EXPECT_GT(over_back, 0);
  }
}

TEST(ProgressBar, ProgressWindowDrivesItThroughTheCallback) {
  TfrmProgress::SetProgressBarFactory(
      [](QWidget* parent) -> QWidget* { return new TProgressBarEx(parent); });
  TProgressDisplay display;
  qovra::SetProgressUi(&display);
  TfrmProgress window;
  auto* bar = qobject_cast<TProgressBarEx*>(window.progBar);
  ASSERT_NE(bar, nullptr);
  // The display scales done/total onto the bar's own range.
  qovra::ProgressCallback(bar, 4000, 0);
  EXPECT_EQ(bar->Percentage(), 0);
  qovra::ProgressCallback(bar, 4000, 1000);
  EXPECT_EQ(bar->Percentage(), 25);
  qovra::ProgressCallback(bar, 4000, 4000);
  EXPECT_EQ(bar->Progress(), bar->MaxValue());
  qovra::SetProgressUi(nullptr);
  TfrmProgress::SetProgressBarFactory(nullptr);
}

}  // namespace
}  // namespace qovra::ui
