// TPanelEx borders and client area; TSizeGrip pattern, drag and activation.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

#include "qovra/controls/panel_ex.h"
#include "qovra/controls/size_grip.h"
#include "qovra/ui/drawing.h"

namespace qovra::ui {
namespace {

TEST(PanelEx, BordersAndClientArea) {
  struct Case {
    const char* name;
    TBevelEdges borders;
    bool left, top, right, bottom;
  };
  const Case cases[] = {
      {"all", kAllBevelEdges, true, true, true, true},
      {"none", 0, false, false, false, false},
      {"bottom", beBottom, false, false, false, true},
      {"left and top", beLeft | beTop, true, true, false, false},
      {"right", beRight, false, false, true, false},
  };
  const QColor fill(250, 250, 250);
  const QColor line(20, 40, 60);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPanelEx panel;
    panel.resize(50, 30);
    panel.SetColor(fill);
    panel.SetBorderColor(line);
    panel.SetBorders(c.borders);
    panel.SetInnerMargin(0);
    auto* layout = new QVBoxLayout(&panel);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* child = new QWidget(&panel);
    layout->addWidget(child);
    layout->activate();
    EXPECT_EQ(child->geometry(),
              QRect(c.left, c.top, 50 - c.left - c.right, 30 - c.top - c.bottom));

    const QImage image = panel.grab().toImage();
    auto expect_side = [&](bool present, int x0, int y0, int x1, int y1) {
      for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
          // A side without a border shows the fill unless another side's
          // border runs along it.
          const bool on_line = (c.left && x == 0) || (c.top && y == 0) || (c.right && x == 49) ||
                               (c.bottom && y == 29);
          ASSERT_EQ(image.pixel(x, y), (present || on_line ? line : fill).rgb()) << x << "," << y;
        }
      }
    };
    expect_side(c.left, 0, 0, 0, 29);
    expect_side(c.top, 0, 0, 49, 0);
    expect_side(c.right, 49, 0, 49, 29);
    expect_side(c.bottom, 0, 29, 49, 29);
    EXPECT_EQ(image.pixel(25, 15), fill.rgb());
  }
}

TEST(PanelEx, MarginsShrinkTheClientArea) {
  TPanelEx panel;
  panel.resize(100, 40);
  EXPECT_EQ(panel.contentsRect(), QRect(2, 2, 96, 36));  // margin 1 + border 1
  panel.SetInnerMarginLeft(5);
  panel.SetInnerMarginBottom(0);
  panel.SetBorders(beTop);
  EXPECT_EQ(panel.contentsRect(), QRect(5, 2, 94, 38));
}

// A window with a status panel at the bottom and a grip on it.
struct GripWindow {
  GripWindow() {
    window.resize(300, 200);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch();
    status = new TPanelEx(&window);
    status->setFixedHeight(20);
    status->SetColor(QColor(255, 0, 0));
    layout->addWidget(status);
    grip = new TSizeGrip(&window);
    grip->PlaceOnPanel(status);
    window.show();
  }
  QWidget window;
  TPanelEx* status = nullptr;
  TSizeGrip* grip = nullptr;
};

TEST(SizeGrip, PaintsItsPattern) {
  GripWindow w;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window));
  const QRect client = w.status->contentsRect();
  EXPECT_EQ(w.grip->geometry(), QRect(client.right() - 12, client.top(), 13, client.height()));

  const char* pattern[13] = {
      ".............", ".........##..", ".........##+.", "..........++.", ".............",
      ".....##..##..", ".....##+.##+.", "......++..++.", ".............", ".##..##..##..",
      ".##+.##+.##+.", "..++..++..++.", ".............",
  };
  const QImage image = w.status->grab().toImage();
  const int left = w.grip->x() + w.grip->width() - 13;
  const int top = w.grip->y() + w.grip->height() - 13;
  for (int y = 0; y < 13; ++y) {
    for (int x = 0; x < 13; ++x) {
      const char c = pattern[y][x];
      const QColor expected = c == '#'   ? QColor(53, 119, 168)
                              : c == '+' ? w.grip->palette().color(QPalette::Light)
                                         : clBtnFace();
      ASSERT_EQ(image.pixel(left + x, top + y), expected.rgb()) << x << "," << y;
    }
  }
}

TEST(SizeGrip, MaximisedWindowShowsNoGrip) {
  GripWindow w;
  w.window.showMaximized();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.window.isMaximized(); }, 2000));
  QApplication::processEvents();
  const QImage image = w.status->grab().toImage();
  const QRect g = w.grip->geometry();
  for (int y = g.bottom() - 12; y <= g.bottom(); ++y) {
    for (int x = g.right() - 12; x <= g.right(); ++x) {
      ASSERT_EQ(image.pixel(x, y), qRgb(255, 0, 0)) << x << "," << y;
    }
  }
}

TEST(SizeGrip, DragResizesTheWindow) {
  GripWindow w;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.window));
  const QSize before = w.window.size();
  const QPoint local(6, w.grip->height() - 6);
  const QPoint global = w.grip->mapToGlobal(local);
  auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(w.grip->mapFromGlobal(at)), QPointF(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(w.grip, &event);
  };
  send(QEvent::MouseButtonPress, global, Qt::LeftButton);
  send(QEvent::MouseMove, global + QPoint(20, 10), Qt::LeftButton);
  send(QEvent::MouseMove, global + QPoint(40, 30), Qt::LeftButton);
  send(QEvent::MouseButtonRelease, global + QPoint(40, 30), Qt::NoButton);
  EXPECT_EQ(w.window.size(), before + QSize(40, 30));
  // The grip follows the panel's new corner.
  QApplication::processEvents();
  EXPECT_EQ(w.grip->geometry().right(), w.status->contentsRect().right());

  // Moves after the release change nothing.
  send(QEvent::MouseMove, global + QPoint(90, 90), Qt::NoButton);
  EXPECT_EQ(w.window.size(), before + QSize(40, 30));
}

// Over an inactive window the grip makes the window refuse the focus until
// the pointer leaves, so that a click resizes without activating; a press
// never moves the focus inside the window.
TEST(SizeGrip, RefusesMouseActivation) {
  QWidget other;
  other.resize(100, 100);
  other.show();
  GripWindow w;
  auto* field = new QLineEdit(&w.window);
  field->show();
  w.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w.window));
  field->setFocus();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  const auto refuses = [&] {
    return w.window.windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus);
  };
  QEnterEvent enter(QPointF(6, 6), QPointF(6, 6), QPointF(w.grip->mapToGlobal(QPoint(6, 6))));
  QApplication::sendEvent(w.grip, &enter);
  EXPECT_TRUE(refuses());
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(6, 6),
                    QPointF(w.grip->mapToGlobal(QPoint(6, 6))), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(w.grip, &press);
  EXPECT_EQ(w.window.focusWidget(), field);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(w.grip, &leave);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(60, 60),
                      QPointF(w.grip->mapToGlobal(QPoint(60, 60))), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(w.grip, &release);
  EXPECT_FALSE(refuses());
  EXPECT_TRUE(other.isActiveWindow());

  // Over the active window nothing changes.
  w.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w.window));
  QApplication::sendEvent(w.grip, &enter);
  EXPECT_FALSE(refuses());
  QApplication::sendEvent(w.grip, &leave);
}

}  // namespace
}  // namespace qovra::ui
