// Drawing helpers: MulDiv, the gradient fill, the PNG drawing modes, the
// compiled-in resources, the menu style and DisableChildControls.
#include <gtest/gtest.h>

#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QStyleOptionMenuItem>
#include <QTextStream>
#include <QWidget>

#include "qovra/ui/drawing.h"
#include "qovra/ui/menu_style.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/widgets.h"

using namespace qovra::ui;

namespace {

QImage WhiteImage(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::white);
  return image;
}

QColor At(const QImage& image, int x, int y) {
  return QColor(image.pixel(x, y));
}

// A 2 x 1 true-colour image with alpha: (r, g, b, a) at x = 0, a fully
// transparent pixel at x = 1.
QImage TwoPixels(QRgb first) {
  QImage image(2, 1, QImage::Format_ARGB32);
  image.setPixel(0, 0, first);
  image.setPixel(1, 0, qRgba(0, 0, 0, 0));
  return image;
}

}  // namespace

TEST(MulDiv, RoundsHalvesAwayFromZeroAndAnswersMinusOneForZeroDivisor) {
  struct Case {
    int a, b, c, expected;
  } cases[] = {
      {5, 3, 2, 8}, {-5, 3, 2, -8}, {1, 10, 3, 3},  {2, 10, 3, 7},
      {7, 7, 7, 7}, {1, 1, 0, -1},  {0, 100, 9, 0}, {2000000000, 2, 4, 1000000000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
  }
}

TEST(GradientFillRect, BandsStepFromStartToEndColour) {
  // Horizontal, five columns from black to (100, 200, 40): band i is
  // start + MulDiv(i, delta, 4).
  QImage image = WhiteImage(7, 3);
  {
    QPainter p(&image);
    GradientFillRect(p, QRect(1, 0, 5, 3), QColor(0, 0, 0), QColor(100, 200, 40), QColor(), false,
                     false);
  }
  const QColor expected[] = {{0, 0, 0}, {25, 50, 10}, {50, 100, 20}, {75, 150, 30}, {100, 200, 40}};
  for (int i = 0; i < 5; ++i) {
    for (int y = 0; y < 3; ++y) EXPECT_EQ(At(image, 1 + i, y), expected[i]) << i << "," << y;
  }
  EXPECT_EQ(At(image, 0, 1), QColor(Qt::white));
  EXPECT_EQ(At(image, 6, 1), QColor(Qt::white));

  // Vertical, rounding: 0..10 over four rows gives 0, 3, 7, 10.
  QImage vertical = WhiteImage(2, 4);
  {
    QPainter p(&vertical);
    GradientFillRect(p, QRect(0, 0, 2, 4), QColor(0, 0, 0), QColor(10, 10, 10), QColor(), true,
                     false);
  }
  const int rows[] = {0, 3, 7, 10};
  for (int y = 0; y < 4; ++y) EXPECT_EQ(At(vertical, 1, y).red(), rows[y]) << y;
}

TEST(GradientFillRect, ExtentOneDrawsStartColourAndEqualColoursFillSolid) {
  QImage one = WhiteImage(3, 3);
  {
    QPainter p(&one);
    GradientFillRect(p, QRect(1, 0, 1, 3), QColor(40, 80, 120), QColor(200, 10, 10), QColor(),
                     false, false);
  }
  EXPECT_EQ(At(one, 1, 1), QColor(40, 80, 120));

  QImage solid = WhiteImage(4, 4);
  {
    QPainter p(&solid);
    GradientFillRect(p, QRect(0, 0, 4, 4), MenuSelectionColor(), MenuSelectionColor(), QColor(),
                     true, false);
  }
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(At(solid, x, y), QColor(145, 175, 227));
  }
}

TEST(GradientFillRect, FrameLeavesBottomOpenUnlessClosed) {
  const QColor fill(10, 20, 30);
  const QColor red(255, 0, 0);
  for (bool closed : {false, true}) {
    QImage image = WhiteImage(8, 6);
    {
      QPainter p(&image);
      GradientFillRect(p, QRect(1, 1, 6, 4), fill, fill, red, true, closed);
    }
    // Left column, top row and right column down to above the last row.
    for (int y = 1; y <= 4; ++y) EXPECT_EQ(At(image, 1, y), red) << "left " << y;
    for (int x = 1; x <= 6; ++x) EXPECT_EQ(At(image, x, 1), red) << "top " << x;
    for (int y = 1; y <= 3; ++y) EXPECT_EQ(At(image, 6, y), red) << "right " << y;
    for (int x = 2; x <= 6; ++x) EXPECT_EQ(At(image, x, 4), closed ? red : fill) << "bottom " << x;
    EXPECT_EQ(At(image, 3, 2), fill);
    EXPECT_EQ(At(image, 7, 1), QColor(Qt::white));
  }
}

TEST(PngDrawing, ModesBlendByTheIntegerFormulas) {
  const QImage opaque = TwoPixels(qRgba(200, 100, 0, 255));
  // Plain keeps an opaque pixel; a transparent pixel leaves white.
  QImage plain = RenderOnWhite(opaque, kPngPlain);
  EXPECT_EQ(At(plain, 0, 0), QColor(200, 100, 0));
  EXPECT_EQ(At(plain, 1, 0), QColor(Qt::white));

  // Faded: opacity (255 * 128) >> 8 = 127, halfway to white:
  // (127 * 200 + 128 * 255 + 255) >> 8 = 227.
  QImage faded = RenderOnWhite(opaque, kPngFaded);
  EXPECT_EQ(At(faded, 0, 0), QColor(227, 178, 128));
  EXPECT_EQ(At(faded, 1, 0), QColor(Qt::white));
  EXPECT_NEAR(At(faded, 0, 0).red(), (200 + 255) / 2.0, 1.0);
  EXPECT_NEAR(At(faded, 0, 0).green(), (100 + 255) / 2.0, 1.0);
  EXPECT_NEAR(At(faded, 0, 0).blue(), (0 + 255) / 2.0, 1.0);

  // Grey and faded: mean (200 + 100 + 0) / 3 = 100 on all channels, then
  // (127 * 100 + 128 * 255 + 255) >> 8 = 178.
  QImage grey = RenderOnWhite(opaque, kPngGreyFaded);
  EXPECT_EQ(At(grey, 0, 0), QColor(178, 178, 178));

  // Half-transparent black drawn plainly: (128 * 0 + 127 * 255 + 255) >> 8.
  QImage half = RenderOnWhite(TwoPixels(qRgba(0, 0, 0, 128)), kPngPlain);
  EXPECT_EQ(At(half, 0, 0), QColor(127, 127, 127));

  // Any other mode leaves the bitmap white.
  QImage other = RenderOnWhite(opaque, 3);
  EXPECT_EQ(At(other, 0, 0), QColor(Qt::white));
}

TEST(PngDrawing, ImagesWithoutTrueColourAlphaAreDrawnPlainlyInEveryMode) {
  QImage palette(2, 1, QImage::Format_Indexed8);
  palette.setColorCount(2);
  palette.setColor(0, qRgb(10, 120, 240));
  palette.setColor(1, qRgb(0, 0, 0));
  palette.fill(0);
  QImage opaque(1, 1, QImage::Format_RGB32);
  opaque.fill(QColor(10, 120, 240));
  for (const QImage& image : {palette, opaque}) {
    for (int mode : {kPngPlain, kPngFaded, kPngGreyFaded}) {
      EXPECT_EQ(At(RenderOnWhite(image, mode), 0, 0), QColor(10, 120, 240))
          << "format " << image.format() << " mode " << mode;
    }
  }
}

TEST(PngDrawing, BrightenAndDarkenAdjustTheSource) {
  QImage dest = WhiteImage(1, 1);
  BlendPng(dest, 0, 0, TwoPixels(qRgba(250, 100, 5, 255)), 0, false, 10, 20);
  // max(min(10 + c, 255) - 20, 0): 235, 90, 0.
  EXPECT_EQ(At(dest, 0, 0), QColor(235, 90, 0));
}

TEST(PngDrawing, ImageListMasksWhite) {
  TImageList list;
  QImage bitmap = WhiteImage(2, 1);
  bitmap.setPixel(0, 0, qRgb(1, 2, 3));
  EXPECT_EQ(list.Add(bitmap), 0);
  const QImage stored = list.Pixmap(0).toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(qAlpha(stored.pixel(0, 0)), 255);
  EXPECT_EQ(qAlpha(stored.pixel(1, 0)), 0);
  EXPECT_TRUE(list.Pixmap(1).isNull());
  EXPECT_TRUE(list.Pixmap(-1).isNull());
}

// Every entry of the icon map is compiled in at its size, and the routines
// that take a resource name accept them; a missing name draws nothing.
TEST(PngResources, EveryMappedIconIsCompiledInAtItsSize) {
  QFile map(QStringLiteral(QOVRA_ICON_MAP));
  ASSERT_TRUE(map.open(QIODevice::ReadOnly | QIODevice::Text));
  QTextStream in(&map);
  const QRegularExpression entry(QStringLiteral("^(\\w+)\\s+(\\d+)\\s+\\S+$"));
  int count = 0;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    const auto m = entry.match(line);
    if (line.startsWith('#') || !m.hasMatch()) continue;
    ++count;
    const QString name = m.captured(1);
    const int size = m.captured(2).toInt();
    const QImage image = LoadPngResource(name);
    ASSERT_FALSE(image.isNull()) << name.toStdString();
    EXPECT_EQ(image.size(), QSize(size, size)) << name.toStdString();
    EXPECT_TRUE(image.hasAlphaChannel()) << name.toStdString();
  }
  EXPECT_GT(count, 60);
  EXPECT_EQ(PngResourceNames().size(), count);
  for (const QString& name : ReplyFamilyIcons32() + FolderIcons24()) {
    EXPECT_TRUE(HasPngResource(name)) << name.toStdString();
  }
  EXPECT_EQ(MainIcon().availableSizes().size(), 3);
}

TEST(PngResources, DrawFillsBackColourFirstAndMissingNamesDrawNothing) {
  QImage canvas = WhiteImage(40, 40);
  {
    QPainter p(&canvas);
    EXPECT_TRUE(DrawPngResource(p, 2, 2, QStringLiteral("ico_mail_inbox16"), QColor(0, 0, 255)));
    EXPECT_FALSE(DrawPngResource(p, 20, 20, QStringLiteral("no_such_icon"), QColor(255, 0, 0)));
  }
  // Tango icons leave their corner pixel transparent: the back colour shows.
  EXPECT_EQ(At(canvas, 2, 2), QColor(0, 0, 255));
  EXPECT_EQ(At(canvas, 1, 1), QColor(Qt::white));
  EXPECT_EQ(At(canvas, 25, 25), QColor(Qt::white));

  TImageList list;
  EXPECT_TRUE(AddPngResourceToImageList(list, QStringLiteral("ico_mail_new32"), kPngGreyFaded));
  EXPECT_FALSE(AddPngResourceToImageList(list, QStringLiteral("no_such_icon"), kPngPlain));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Pixmap(0).size(), QSize(32, 32));
  EXPECT_EQ(AssignPngResource(QStringLiteral("ico_error48")).size(), QSize(48, 48));
  EXPECT_TRUE(AssignPngResource(QStringLiteral("no_such_icon")).isNull());
}

TEST(MenuStyle, MeasuresOddWidthsAndFixedHeights) {
  struct Case {
    int width;
    bool separator;
    int expected_width, expected_height;
  } cases[] = {{40, false, 79, 21}, {41, false, 81, 21}, {0, false, 39, 21}, {40, true, 79, 3}};
  for (const Case& c : cases) {
    int w = c.width;
    int h = 99;
    MeasureMenuItem(w, h, c.separator);
    EXPECT_EQ(w, c.expected_width) << c.width;
    EXPECT_EQ(h, c.expected_height) << c.width;

    QStyleOptionMenuItem option;
    option.menuItemType =
        c.separator ? QStyleOptionMenuItem::Separator : QStyleOptionMenuItem::Normal;
    EXPECT_EQ(
        MenuStyle()->sizeFromContents(QStyle::CT_MenuItem, &option, QSize(c.width, 15), nullptr),
        QSize(c.expected_width, c.expected_height));
  }

  QMenu menu;
  menu.addAction(QStringLiteral("Open"));
  menu.addSeparator();
  menu.addAction(QStringLiteral("Delete"));
  ApplyMenuStyle(&menu);
  menu.ensurePolished();
  menu.adjustSize();
  const auto actions = menu.actions();
  EXPECT_EQ(menu.actionGeometry(actions[0]).height(), 21);
  EXPECT_EQ(menu.actionGeometry(actions[1]).height(), 3);
  EXPECT_EQ(menu.actionGeometry(actions[2]).height(), 21);
}

TEST(MenuStyle, ItemsDrawSelectionStripAndSeparator) {
  const QRect item(0, 0, 120, 21);
  QImage selected = WhiteImage(120, 21);
  {
    QPainter p(&selected);
    DrawMenuItem(p, item, QStringLiteral("Open\tCtrl+O"), true, true, false);
  }
  EXPECT_EQ(At(selected, 60, 1), MenuSelectionColor());
  EXPECT_EQ(At(selected, 0, 10), QColor(clHighlight().rgb()));
  EXPECT_EQ(At(selected, 119, 20), QColor(clHighlight().rgb()));

  // A selected but disabled item is drawn as an unselected one.
  QImage plain = WhiteImage(120, 21);
  {
    QPainter p(&plain);
    DrawMenuItem(p, item, QStringLiteral("Open"), true, false, false);
  }
  EXPECT_EQ(At(plain, 10, 1), QColor(clBtnFace().rgb()));
  EXPECT_EQ(At(plain, 100, 1), QColor(clWindow().rgb()));

  QImage separator = WhiteImage(120, 3);
  {
    QPainter p(&separator);
    DrawMenuItem(p, QRect(0, 0, 120, 3), QString(), false, true, true);
  }
  EXPECT_EQ(At(separator, 30, 1), QColor(cl3DDkShadow().rgb()));
  EXPECT_EQ(At(separator, 119, 1), QColor(Qt::white));
  EXPECT_EQ(At(separator, 60, 0), QColor(clWindow().rgb()));
  EXPECT_EQ(At(separator, 10, 1), QColor(clBtnFace().rgb()));

  QImage bar = WhiteImage(60, 20);
  {
    QPainter p(&bar);
    DrawMenuBarItem(p, QRect(0, 0, 60, 20), QStringLiteral("&Mail"), false);
  }
  EXPECT_EQ(At(bar, 1, 1), QColor(clBtnFace().rgb()));
  {
    QPainter p(&bar);
    DrawMenuBarItem(p, QRect(0, 0, 60, 20), QStringLiteral("&Mail"), true);
  }
  EXPECT_EQ(At(bar, 2, 2), MenuSelectionColor());
}

TEST(DisableChildControls, SetsEveryDescendantButNotTheContainer) {
  QWidget container;
  auto* a = new QWidget(&container);
  auto* a1 = new QWidget(a);
  auto* b = new QWidget(&container);
  DisableChildControls(&container, true);
  EXPECT_TRUE(container.isEnabled());
  for (QWidget* w : {a, a1, b}) EXPECT_TRUE(w->testAttribute(Qt::WA_Disabled));
  DisableChildControls(&container, false);
  for (QWidget* w : {a, a1, b}) EXPECT_TRUE(w->isEnabled());
  DisableChildControls(nullptr, true);
}
