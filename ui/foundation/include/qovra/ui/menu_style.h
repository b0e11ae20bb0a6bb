// The look of the program's menus (the main window's menu bar and pop-up
// menus): a solid RGB(145,175,227) selection with a frame in the highlight
// colour, a 24-pixel icon strip in the button-face colour, separators that
// fade from the dark shadow colour to white, and items 21 pixels high with
// an odd width of at least the content plus 39. The content of an item with
// a shortcut is its text, a gap and the shortcut, so that the two never
// meet; shortcuts name their keys in the program's language (key_names.h).
//
// GUI thread only.
#pragma once

#include <QColor>
#include <QProxyStyle>

class QMenu;
class QPainter;
class QStyleOptionMenuItem;

namespace qovra::ui {

// The selection fill of menu items.
QColor MenuSelectionColor();

// Menu item measure: width + 39, one more when that sum is even; height 21,
// or 3 for a separator.
void MeasureMenuItem(int& width, int& height, bool separator);

// Added to an item's text width before MeasureMenuItem: the gap before its
// shortcut when it has one (of which MeasureMenuItem's 39 leaves all but 3
// pixels free, the text starting 32 pixels from the left and the shortcut
// ending 10 from the right), and room for a sub-menu's arrow. Qt adds the
// menu's widest shortcut to the width of every item.
constexpr int kMenuShortcutGap = 24;
constexpr int kMenuSubMenuArrowRoom = 16;

// Draws a top-level menu bar item into rect: the selection fill and frame
// when selected or hot, else the button face; the caption centred
// horizontally, 2 pixels below the top.
void DrawMenuBarItem(QPainter& painter, const QRect& rect, const QString& caption,
                     bool selected_or_hot);

// Draws a pop-up menu item into rect. caption may hold the shortcut text
// after a tab character; it is drawn right-aligned 10 pixels from the edge.
void DrawMenuItem(QPainter& painter, const QRect& rect, const QString& caption, bool selected,
                  bool enabled, bool separator);

// A proxy of the application's style that draws and measures menu items as
// above; every other element is the base style's.
class TMenuStyle : public QProxyStyle {
 public:
  // base: the style to draw everything else with (ownership passes to this
  // style); null takes the application's current style.
  explicit TMenuStyle(QStyle* base = nullptr);

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget = nullptr) const override;
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override;
  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
};

// The shared instance (owned by the application).
TMenuStyle* MenuStyle();

// Gives widget (a menu bar or a menu) and every menu below it the shared
// menu style, and makes shortcut texts use the language's key names
// (InstallKeyNames). Menus added later need a call of their own.
void ApplyMenuStyle(QWidget* widget);

}  // namespace qovra::ui
