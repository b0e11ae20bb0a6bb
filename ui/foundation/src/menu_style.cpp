#include "qovra/ui/menu_style.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionMenuItem>

#include "qovra/ui/drawing.h"
#include "qovra/ui/key_names.h"

namespace qovra::ui {

namespace {

constexpr int kIconStrip = 24;
constexpr int kTextLeft = 32;
constexpr int kTextTop = 4;
constexpr int kShortcutRightGap = 10;
constexpr int kItemHeight = 21;
constexpr int kSeparatorHeight = 3;

void DrawSelection(QPainter& painter, const QRect& rect) {
  GradientFillRect(painter, rect, MenuSelectionColor(), MenuSelectionColor(), clHighlight(), true,
                   true);
}

}  // namespace

QColor MenuSelectionColor() {
  return QColor(145, 175, 227);
}

void MeasureMenuItem(int& width, int& height, bool separator) {
  width += 39;
  if (width % 2 == 0) ++width;
  height = separator ? kSeparatorHeight : kItemHeight;
}

void DrawMenuBarItem(QPainter& painter, const QRect& rect, const QString& caption,
                     bool selected_or_hot) {
  if (selected_or_hot) {
    DrawSelection(painter, rect);
  } else {
    painter.fillRect(rect, clBtnFace());
  }
  painter.save();
  painter.setPen(clWindowText());
  painter.drawText(rect.adjusted(0, 2, 0, 0),
                   Qt::AlignHCenter | Qt::AlignTop | Qt::TextShowMnemonic, caption);
  painter.restore();
}

void DrawMenuItem(QPainter& painter, const QRect& rect, const QString& caption, bool selected,
                  bool enabled, bool separator) {
  if (selected && enabled && !separator) {
    DrawSelection(painter, rect);
  } else {
    painter.fillRect(rect, clWindow());
    painter.fillRect(QRect(rect.left(), rect.top(), kIconStrip, rect.height()), clBtnFace());
  }
  if (separator) {
    const int left = rect.left() + 30;
    const int right = rect.left() + rect.width();
    GradientFillRect(painter, QRect(left, rect.top() + 1, right - left, 1), cl3DDkShadow(),
                     Qt::white, QColor(), false, false);
    return;
  }
  const int tab = static_cast<int>(caption.indexOf(QLatin1Char('\t')));
  const QString text = tab < 0 ? caption : caption.left(tab);
  const QString shortcut = tab < 0 ? QString() : caption.mid(tab + 1);
  painter.save();
  painter.setPen(enabled ? clWindowText() : clGrayText());
  const QRect text_rect(QPoint(rect.left() + kTextLeft, rect.top() + kTextTop), rect.bottomRight());
  painter.drawText(text_rect,
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic, text);
  if (!shortcut.isEmpty()) {
    painter.drawText(text_rect.adjusted(0, 0, -kShortcutRightGap, 0),
                     Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine, shortcut);
  }
  painter.restore();
}

TMenuStyle::TMenuStyle(QStyle* base) : QProxyStyle(base) {}

void TMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const {
  const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
  if (item && element == CE_MenuBarItem) {
    const bool selected = (item->state & (State_Selected | State_Sunken)) != 0;
    DrawMenuBarItem(*painter, item->rect, item->text, selected);
    return;
  }
  if (element == CE_MenuBarEmptyArea) {
    painter->fillRect(option->rect, clBtnFace());
    return;
  }
  if (item && element == CE_MenuItem) {
    if (item->menuItemType == QStyleOptionMenuItem::EmptyArea) {
      painter->fillRect(item->rect, clWindow());
      painter->fillRect(QRect(item->rect.left(), item->rect.top(), kIconStrip, item->rect.height()),
                        clBtnFace());
      return;
    }
    const bool separator = item->menuItemType == QStyleOptionMenuItem::Separator;
    const bool enabled = (item->state & State_Enabled) != 0;
    const bool selected = (item->state & State_Selected) != 0;
    DrawMenuItem(*painter, item->rect, item->text, selected, enabled, separator);
    if (separator) return;
    // The strip shows the item's picture, or a mark when it is checked.
    const QRect strip(item->rect.left(), item->rect.top(), kIconStrip, item->rect.height());
    if (!item->icon.isNull()) {
      const QPixmap pixmap = item->icon.pixmap(16, enabled ? QIcon::Normal : QIcon::Disabled);
      painter->drawPixmap(strip.center().x() - 7, strip.center().y() - 7, pixmap);
    } else if (item->checked) {
      QStyleOptionMenuItem check = *item;
      check.rect = QRect(strip.center().x() - 6, strip.center().y() - 6, 13, 13);
      check.state = (item->state & State_Enabled) | State_On;
      QProxyStyle::drawPrimitive(item->checkType == QStyleOptionMenuItem::Exclusive
                                     ? PE_IndicatorRadioButton
                                     : PE_IndicatorItemViewItemCheck,
                                 &check, painter, widget);
    }
    if (item->menuItemType == QStyleOptionMenuItem::SubMenu) {
      QStyleOption arrow = *item;
      arrow.rect = QRect(item->rect.right() - 12, item->rect.top(), 9, item->rect.height());
      arrow.palette.setColor(QPalette::ButtonText, enabled ? clWindowText() : clGrayText());
      QProxyStyle::drawPrimitive(PE_IndicatorArrowRight, &arrow, painter, widget);
    }
    return;
  }
  QProxyStyle::drawControl(element, option, painter, widget);
}

QSize TMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                   const QWidget* widget) const {
  if (type == CT_MenuItem) {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    const bool separator = item && item->menuItemType == QStyleOptionMenuItem::Separator;
    int width = size.width();
    if (item && !separator) {
      // size holds the text alone; the menu adds its shortcut column after.
      if (item->text.contains(QLatin1Char('\t'))) width += kMenuShortcutGap;
      if (item->menuItemType == QStyleOptionMenuItem::SubMenu) width += kMenuSubMenuArrowRoom;
    }
    int height = size.height();
    MeasureMenuItem(width, height, separator);
    return QSize(width, height);
  }
  return QProxyStyle::sizeFromContents(type, option, size, widget);
}

int TMenuStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                            const QWidget* widget) const {
  switch (metric) {
    case PM_MenuHMargin:
    case PM_MenuVMargin:
      return 0;
    case PM_MenuPanelWidth:
      return 1;
    default:
      return QProxyStyle::pixelMetric(metric, option, widget);
  }
}

TMenuStyle* MenuStyle() {
  static QPointer<TMenuStyle> style;
  if (!style) {
    style = new TMenuStyle();
    style->setParent(qApp);
  }
  return style;
}

void ApplyMenuStyle(QWidget* widget) {
  if (!widget) return;
  InstallKeyNames();
  TMenuStyle* style = MenuStyle();
  widget->setStyle(style);
  for (QMenu* menu : widget->findChildren<QMenu*>()) menu->setStyle(style);
}

}  // namespace qovra::ui
