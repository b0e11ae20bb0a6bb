#include "addr_book_tree.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QStyle>
#include <QStyleOptionViewItem>

#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"

namespace qovra::addressbook {

void TAddrBookTree::CellParts(const QModelIndex& index, QRect& icon, QRect& text) const {
  const QRect cell = visualRect(index);
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = cell;
  option.index = index;
  option.features |= QStyleOptionViewItem::HasDisplay;
  option.text = index.data(Qt::DisplayRole).toString();
  if (index.data(Qt::DecorationRole).isValid()) {
    option.features |= QStyleOptionViewItem::HasDecoration;
    option.decorationSize = iconSize();
  }
  const QWidget* port = viewport();
  icon = QRect();
  text = QRect(port->mapToGlobal(cell.topLeft()), cell.size());
  if (!(option.features & QStyleOptionViewItem::HasDecoration)) return;
  const QRect decoration =
      style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this);
  const QRect label = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
  icon = QRect(port->mapToGlobal(decoration.topLeft()), decoration.size());
  const int left = std::max(label.left(), decoration.right() + 1);
  text = QRect(port->mapToGlobal(QPoint(left, cell.top())),
               QSize(cell.right() + 1 - left, cell.height()));
}

bool TAddrBookTree::Accepts(QDropEvent* event) {
  if (!event->mimeData()->hasFormat(QString::fromLatin1(kAddrBookMime))) return false;
  if (dropIndicatorPosition() != QAbstractItemView::OnItem) return false;
  auto* book_model = static_cast<TAddrBookModel*>(model());
  return form_->CanDrop(book_model->NodeOf(indexAt(event->position().toPoint())));
}

void TAddrBookTree::dragMoveEvent(QDragMoveEvent* event) {
  QTreeView::dragMoveEvent(event);
  if (Accepts(event)) {
    event->setDropAction(Qt::MoveAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void TAddrBookTree::dropEvent(QDropEvent* event) {
  // The indicator position of the last move event is the one to judge.
  if (!Accepts(event)) {
    event->ignore();
    stopAutoScroll();
    setState(NoState);
    viewport()->update();
    return;
  }
  auto* book_model = static_cast<TAddrBookModel*>(model());
  TContactNode* target = book_model->NodeOf(indexAt(event->position().toPoint()));
  // The model is changed here, not by the view after the drag.
  event->setDropAction(Qt::CopyAction);
  event->accept();
  setState(NoState);
  form_->DragDrop(target);
  viewport()->update();
}

}  // namespace qovra::addressbook
